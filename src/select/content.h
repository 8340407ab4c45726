// The content pass: every candidate file read once and hashed, with a
// progress line each in list order.
#pragma once

#include "scan/scan.h"
#include "select/select.h"

/// Hashes every record's file, printing one progress line each, and removes
/// the records whose file cannot be opened or read. Files of one size are
/// read side by side. Throws std::system_error when the system fails the
/// reading as a whole or has no descriptor left to give.
void content_pass(const scanned_directory& scanned, file_list* files);
