#include "scan/scan.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

TEST(JoinName, AddsOneSeparatorUnlessTheDirectoryIsARoot) {
  EXPECT_EQ("/a/b", join_name("/a", "b", '/'));
  EXPECT_EQ("/b", join_name("/", "b", '/'));
  EXPECT_EQ("Y:\\a.txt", join_name("Y:\\", "a.txt", '\\'));
  EXPECT_EQ("Y:\\d\\a.txt", join_name("Y:\\d", "a.txt", '\\'));
}

TEST(EntryNames, KeepsEveryNameInPlaceAndInOrder) {
  // Enough names to fill several blocks, and one longer than a block.
  entry_names names;
  std::vector<std::string> expected;
  std::vector<const char*> kept;
  for (int i = 0; i < 20000; ++i) {
    expected.push_back(i == 7000 ? std::string(70000, 'x')
                                 : "name" + std::to_string(i));
    kept.push_back(keep_name(&names, expected.back()));
  }
  std::vector<std::string> walked;
  for_each_name(names, [&walked](const char* name) { walked.push_back(name); });
  EXPECT_EQ(expected, walked);
  EXPECT_EQ(expected.size(), names.count);
  for (std::size_t i = 0; i < kept.size(); ++i)
    ASSERT_EQ(expected[i], kept[i]) << i;
}

TEST(ScanDirectory, ListsEveryEntryButDirectories) {
  temp_dir dir;
  write_file(dir, "a.txt", "1", 1000);
  write_file(dir, ".hidden", "", 1000);
  write_file(dir, "sub/inner", "2", 1000);

  testing::internal::CaptureStdout();
  const scanned_directory scanned = scan_directory(dir.path + "/", dir.path);
  const std::string out = testing::internal::GetCapturedStdout();

  std::vector<std::string> names;
  for_each_name(scanned.entries,
                [&names](const char* name) { names.push_back(name); });
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{".hidden", "a.txt"}), names);
  EXPECT_EQ(full_name(dir, "a.txt"), full_name_of(scanned, "a.txt"));
  EXPECT_EQ("\nWorking in directory: " + dir.path + "\n\n", out);
}

TEST(ScanDirectory, ReportsMissingNamesAndPlainFilesAsNotFound) {
  temp_dir dir;
  write_file(dir, "plain", "1", 1000);

  testing::internal::CaptureStdout();
  for (const char* name : {"gone", "plain"}) {
    const scanned_directory scanned =
        scan_directory(full_name(dir, name) + "/", full_name(dir, name));
    EXPECT_FALSE(scanned.held) << name;
    EXPECT_EQ(0u, scanned.entries.count) << name;
  }
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ("\nNot found: " + full_name(dir, "gone") +
                "\n\nNot found: " + full_name(dir, "plain") + "\n",
            out);
}
