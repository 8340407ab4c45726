#include "scan/scan.h"

#include <optional>

#include <boost/filesystem.hpp>
#include <boost/system/system_error.hpp>

#include "console/console.h"
#include "platform/platform.h"

namespace fs = boost::filesystem;

namespace {

// An entry that vanishes or cannot be queried is left out alone; only a
// failure to advance the listing ends it. Only the file system's errors are
// caught here (a name that cannot be converted is one of them): running out
// of memory ends the run like any other failure.
void list_entries(const std::string& directory,
                  std::vector<std::string>* names) {
  const char separator = path_separator();
  for (fs::directory_iterator it(directory), end; it != end; ++it) {
    try {
      // Asked of the entry rather than of its name: where the listing gives
      // the attributes with each entry (Windows), this spares a query.
      if (fs::is_directory(it->status())) continue;
      names->push_back(
          join_name(directory, it->path().filename().string(), separator));
    } catch (const boost::system::system_error&) {
    }
  }
}

void scan_resolved(const std::string& directory_text,
                   std::vector<std::string>* names) {
  const std::optional<resolved_directory> directory =
      resolve_directory(directory_text);
  if (!directory) return;
  if (!directory->found) {
    write_line("");
    write_line("Not found: " + directory->name);
    return;
  }
  if (!fs::is_directory(fs::path(directory->name))) return;
  write_line("");
  write_line("Working in directory: " + directory->name);
  write_line("");
  list_entries(directory->name, names);
}

}  // namespace

std::vector<std::string> scan_directory(const std::string& directory_text) {
  std::vector<std::string> names;
  try {
    scan_resolved(directory_text, &names);
  } catch (const fs::filesystem_error&) {
    // The names collected before the listing failed still take part.
  }
  return names;
}
