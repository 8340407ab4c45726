#include "scan/scan.h"

#include <optional>
#include <system_error>

#include <boost/filesystem.hpp>

#include "console/console.h"
#include "platform/platform.h"

namespace fs = boost::filesystem;

namespace {

void report_not_found(const std::string& name) {
  write_line("");
  write_line("Not found: " + name);
}

void scan_resolved(const std::string& directory_text,
                   scanned_directory* scanned) {
  const std::optional<resolved_directory> directory =
      resolve_directory(directory_text);
  if (!directory) return;
  if (!directory->found) return report_not_found(directory->name);
  if (!fs::is_directory(fs::path(directory->name))) return;
  scanned->held = open_directory(directory->name);
  // Gone, or replaced by something else, since it was resolved.
  if (!scanned->held) return report_not_found(directory->name);
  write_line("");
  write_line("Working in directory: " + directory->name);
  write_line("");
  try {
    list_directory(scanned);
  } catch (const std::system_error&) {
    // The entries listed before the failure still take part; a directory
    // that may be searched but not listed has none.
  }
}

}  // namespace

scanned_directory scan_directory(const std::string& directory_text) {
  scanned_directory scanned;
  try {
    scan_resolved(directory_text, &scanned);
  } catch (const fs::filesystem_error&) {
    // The directory test failed: there is nothing to work in.
  }
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
