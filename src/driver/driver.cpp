#include "driver/driver.h"

#include <optional>

#include "console/console.h"
#include "erase/erase.h"
#include "platform/platform.h"
#include "scan/scan.h"
#include "select/content.h"
#include "select/select.h"

const char termination_notice[] =
    "\r\nThis application has requested the Runtime to terminate it in an "
    "unusual way.\nPlease contact the application's support team for more "
    "information.\r\n";

namespace {

struct arguments {
  run_mode mode = run_mode::content_mode;
  std::string directory;
};

// Empty when the directory is missing. An empty directory argument counts as
// missing: an unset shell variable must not start a run.
std::optional<arguments> parse_arguments(int argc, const char* const* argv) {
  arguments parsed;
  int directory_index = 1;
  if (argc > 1 && std::string(argv[1]) == "--nosha1") {
    parsed.mode = run_mode::size_only;
    directory_index = 2;
  }
  if (argc <= directory_index || argv[directory_index][0] == '\0')
    return std::nullopt;
  parsed.directory = argv[directory_index];
  return parsed;
}

}  // namespace

void print_usage(const std::string& program) {
  write_line("Usage : " + program + " [--nosha1] <directory>");
  write_line("Examples : ");
  write_line("   " + program + " --nosha1 c:\\temp");
  write_line(
      "  --> Removes files with the same size (except the newest one) from "
      "c:\\temp.");
  write_line("   " + program + " .\\");
  write_line(
      "  --> Removes files with the same size and the same sha1 (only true "
      "duplicates) from the current directory.");
  write_line(
      "There is _always_ a version (the latest) of duplicates remaining on the "
      "system, so there is no loss of data.");
}

int run_dupsweep(int argc, const char* const* argv) {
  const std::optional<arguments> parsed = parse_arguments(argc, argv);
  if (!parsed) {
    print_usage(argc > 0 && argv[0] != nullptr ? argv[0] : "");
    flush_output();
    return exit_usage;
  }
  std::string directory_text = parsed->directory;
  if (directory_text.back() != path_separator())
    directory_text += path_separator();
  // Declared in this order so that they are released in the reverse one.
  scanned_directory scanned = scan_directory(directory_text, parsed->directory);
  file_list files = build_file_list(scanned.held.get(), scanned.entries);
  remove_unique_sizes(&files);
  held_reads read_alone;
  if (parsed->mode == run_mode::content_mode)
    read_alone = content_pass(scanned, &files);
  mark_by_age(&files, parsed->mode);
  erase_marked(scanned, &files, parsed->mode, &read_alone);
  flush_output();
  return exit_success;
}
