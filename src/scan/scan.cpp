#include "scan/scan.h"

#include <optional>
#include <stdexcept>

#include <boost/filesystem.hpp>

#include "console/console.h"
#include "platform/directory.h"
#include "platform/platform.h"

namespace fs = boost::filesystem;

namespace {

void report_not_found(const std::string& name) {
  write_line("");
  write_line("Not found: " + name);
}

}  // namespace

// Whatever names no directory to work in is reported as not found, so that
// "no duplicate found" never follows a directory that was not read. One
// that is there but cannot be resolved, opened or listed is no empty
// directory either: the run ends on its failure path.
scanned_directory scan_directory(const std::string& directory_text,
                                 const std::string& as_given) {
  scanned_directory scanned;
  const std::optional<resolved_directory> directory =
      resolve_directory(directory_text);
  if (!directory) {
    report_not_found(as_given);  // It has no absolute name to show.
    return scanned;
  }
  if (!directory->found || !fs::is_directory(fs::path(directory->name))) {
    report_not_found(directory->name);
    return scanned;
  }
  scanned.held = open_directory(directory->name);
  if (!scanned.held) {
    if (name_exists(directory->name))
      throw std::runtime_error("cannot open " + directory->name);
    report_not_found(directory->name);  // Gone since it was resolved.
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
