#include "scan/scan.h"

#include <optional>

#include <boost/filesystem.hpp>

#include "console/console.h"
#include "platform/platform.h"

namespace fs = boost::filesystem;

namespace {

void report_not_found(const std::string& name) {
  write_line("");
  write_line("Not found: " + name);
}

bool is_directory(const std::string& name) {
  try {
    return fs::is_directory(fs::path(name));
  } catch (const fs::filesystem_error&) {
    return false;  // The test itself failed: there is nothing to work in.
  }
}

}  // namespace

// A listing that fails is not an empty directory: the run ends on its
// failure path rather than report that no duplicate was found.
scanned_directory scan_directory(const std::string& directory_text) {
  scanned_directory scanned;
  const std::optional<resolved_directory> directory =
      resolve_directory(directory_text);
  if (!directory) return scanned;
  if (!directory->found) {
    report_not_found(directory->name);
    return scanned;
  }
  if (!is_directory(directory->name)) return scanned;
  scanned.held = open_directory(directory->name);
  // Gone, or replaced by something else, since it was resolved.
  if (!scanned.held) {
    report_not_found(directory->name);
    return scanned;
  }
  write_line("");
  write_line("Working in directory: " + directory->name);
  write_line("");
  list_directory(&scanned);
  return scanned;
}

void list_directory(scanned_directory* scanned) {
  list_entries(*scanned->held, [scanned](const char* entry) {
    keep_name(&scanned->entries, entry);
  });
}

std::string full_name_of(const scanned_directory& scanned, const char* entry) {
  return join_name(directory_name(*scanned.held), entry, path_separator());
}
