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
/// directory: " framed by empty lines, and lists it. Whatever is no
/// directory (nothing is there, a plain file, a text the path syntax refuses)
/// is reported only, after an empty line, as "Not found: " and its absolute
/// name, or `as_given`, the text as the user gave it, when it has none.
/// Throws std::runtime_error when the directory is there but cannot be
/// resolved, queried or opened, std::system_error when it cannot be listed,
/// or its listing fails midway.
scanned_directory scan_directory(const std::string& directory_text,
                                 const std::string& as_given);

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
