// The only phase that changes the file system.
#pragma once

#include "scan/scan.h"
#include "select/held_reads.h"
#include "select/select.h"

/// Walks the records in list order and, for every marked one, announces it
/// with an "Erasing : " line and deletes its file if it is, right then, a
/// proven copy of its keeper; a marked file that is not stays, with a
/// "Kept : " line right after that says why. Reports when nothing was
/// marked. A deletion the system refuses throws std::system_error, leaving
/// the files after it in place. The record of the next other name of a
/// deleted file takes the file's new change time. `pass` holds the files the
/// content pass proved copies of others by its reading alone; a marked
/// file's is released once it is proved.
void erase_marked(const scanned_directory& scanned, file_list* files,
                  run_mode mode, held_reads* pass);
