// Resolves the directory text, reports it and lists its files.
#pragma once

#include <string>
#include <vector>

#include "platform/directory.h"
#include "scan/entry_names.h"

/// The directory a run works in, held open, and what its listing gave.
struct scanned_directory {
  directory_handle held;  ///< Null when there is no directory to work in.
  /// Names of the entries that are not directories, in listing order; the
  /// records of the run point into it.
  entry_names entries;
};

/// Resolves `directory_text`, opens the directory, prints "Working in
/// directory: " (or "Not found: ") framed by empty lines, and lists it.
/// Throws std::system_error when the directory cannot be listed, or its
/// listing fails midway; a directory that does not exist is reported only.
scanned_directory scan_directory(const std::string& directory_text);

/// Keeps the names of the held directory's entries that are not directories
/// in `scanned->entries`. Throws std::system_error as list_entries does.
void list_directory(scanned_directory* scanned);

/// The full name of `entry` of the scanned directory, as every line prints
/// it.
std::string full_name_of(const scanned_directory& scanned, const char* entry);

/// `directory` and `entry` joined by `separator`, which is left out when
/// `directory` already ends in one (a root).
std::string join_name(const std::string& directory, const std::string& entry,
                      char separator);
