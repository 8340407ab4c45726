// Resolves the directory text, reports it and lists its files.
#pragma once

#include <string>
#include <vector>

/// Resolves `directory_text`, prints "Working in directory: " (or "Not found:
/// ") framed by empty lines, and returns the full names of the entries that
/// are not directories, in listing order. Never throws for a file-system
/// failure: it returns what it collected so far, possibly nothing.
std::vector<std::string> scan_directory(const std::string& directory_text);

/// `directory` and `entry` joined by `separator`, which is left out when
/// `directory` already ends in one (a root).
std::string join_name(const std::string& directory, const std::string& entry,
                      char separator);
