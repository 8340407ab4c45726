#include "erase/erase.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "platform/directory.h"

namespace {

// The directory listed and its records marked as a size_only run marks them.
struct marked_run {
  scanned_directory scanned;
  file_list files;
};

marked_run mark_by_size(const temp_dir& dir) {
  marked_run run;
  run.scanned.held = open_directory(dir.path);
  list_directory(&run.scanned);
  run.files = build_file_list(run.scanned.held.get(), run.scanned.entries);
  remove_unique_sizes(&run.files);
  mark_by_age(&run.files, run_mode::size_only);
  return run;
}

// The lines erase_marked wrote, sorted: their order follows the listing.
std::vector<std::string> erase_lines(marked_run* run, run_mode mode) {
  testing::internal::CaptureStdout();
  held_reads none;
  erase_marked(run->scanned, &run->files, mode, &none);
  std::istringstream out(testing::internal::GetCapturedStdout());
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace

TEST(EraseMarked, DeletesOnlyFilesUnchangedSinceTheyWereListed) {
  temp_dir dir;
  write_file(dir, "old", "abc", 1000);
  write_file(dir, "mid", "abd", 2000);
  write_file(dir, "new", "abe", 3000);
  write_file(dir, "gone", "abf", 1500);
  marked_run run = mark_by_size(dir);
  // Where the listing gives a change time (POSIX), the same size and write
  // time as listed must not hide a change; elsewhere the write time tells.
  const bool change_times = run.files.front().state.has_change_time;
  write_file(dir, "mid", "xyz", change_times ? 2000 : 2500);
  ASSERT_EQ(0, std::remove(full_name(dir, "gone").c_str()));

  EXPECT_EQ(
      (std::vector<std::string>{
          "Erasing : " + full_name(dir, "gone"),
          "Erasing : " + full_name(dir, "mid"),
          "Erasing : " + full_name(dir, "old"),
          "Kept : " + full_name(dir, "gone") + " (it changed during the run)",
          "Kept : " + full_name(dir, "mid") + " (it changed during the run)"}),
      erase_lines(&run, run_mode::size_only));
  EXPECT_EQ((std::vector<std::string>{"mid", "new"}), sorted_file_names(dir));
  EXPECT_EQ("xyz", read_file(full_name(dir, "mid")));
}

TEST(EraseMarked, KeepsEveryCopyOfAKeeperThatChanged) {
  temp_dir dir;
  write_file(dir, "a", "abc", 1000);
  write_file(dir, "b", "abc", 2000);
  write_file(dir, "keeper", "abc", 3000);
  marked_run run = mark_by_size(dir);
  write_file(dir, "keeper", "xyz", 3500);

  const std::string why =
      " (" + full_name(dir, "keeper") + " changed during the run or is gone)";
  EXPECT_EQ((std::vector<std::string>{"Erasing : " + full_name(dir, "a"),
                                      "Erasing : " + full_name(dir, "b"),
                                      "Kept : " + full_name(dir, "a") + why,
                                      "Kept : " + full_name(dir, "b") + why}),
            erase_lines(&run, run_mode::size_only));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "keeper"}),
            sorted_file_names(dir));
}

TEST(EraseMarked, ReportsWhenNothingIsMarked) {
  temp_dir dir;
  write_file(dir, "kept", "2", 1000);
  marked_run run = mark_by_size(dir);

  EXPECT_EQ(std::vector<std::string>{"Nothing to erase (no duplicate found)."},
            erase_lines(&run, run_mode::size_only));
  EXPECT_EQ(std::vector<std::string>{"kept"}, sorted_file_names(dir));
}
