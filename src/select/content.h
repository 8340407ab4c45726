// The content pass: every candidate file read once and hashed, with a
// progress line each in list order.
#pragma once

#include "scan/scan.h"
#include "select/held_reads.h"
#include "select/select.h"

/// Hashes every record's file, printing one progress line each, and removes
/// the records whose file cannot be opened or read. Files of one size are
/// read side by side; from a size on, with every other writer kept out of
/// them from before their first byte where the system can, and compared as
/// they are read. Returns those found equal to another, to their ends,
/// still open and excluded (as many as the descriptors allow). Throws
/// std::system_error when the system fails the reading as a whole or has
/// no descriptor left to give.
held_reads content_pass(const scanned_directory& scanned, file_list* files);
