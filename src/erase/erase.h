// The only phase that changes the file system.
#pragma once

#include "scan/scan.h"
#include "select/select.h"

/// Walks the records in list order and deletes the file of every marked one
/// that is, right then, a proven copy of its keeper, announcing it with an
/// "Erasing : " line first; a marked file that is not is kept, with a
/// "Kept : " line that says why. Reports when nothing was marked. A deletion
/// the system refuses throws std::system_error, leaving the files after it
/// in place. Records of other names of a deleted file take its new change
/// time.
void erase_marked(const scanned_directory& scanned, file_list* files,
                  run_mode mode);
