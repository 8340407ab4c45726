#include "select/select.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

// `name` must outlive the record: the tests give string literals.
file_record test_record(const char* name, std::uint64_t size,
                        std::int64_t seconds, std::uint32_t fraction = 0) {
  file_record record;
  record.entry = name;
  record.state.size = size;
  record.state.write_time = file_time{seconds, fraction};
  return record;
}

std::vector<std::string> names_of(const file_list& files) {
  std::vector<std::string> names;
  for (const file_record& record : files) names.push_back(record.entry);
  return names;
}

std::vector<std::string> marked_names(const file_list& files) {
  std::vector<std::string> names;
  for (const file_record& record : files)
    if (record.erase_mark) names.push_back(record.entry);
  return names;
}

}  // namespace

TEST(AgeRule, KeepsTheNewerOrTheNameThatSortsLast) {
  EXPECT_TRUE(is_kept_over(test_record("d/a", 4, 7), test_record("d/b", 4, 6)));
  EXPECT_FALSE(
      is_kept_over(test_record("d/b", 4, 6), test_record("d/a", 4, 7)));

  // Seconds first, then the fraction; times before 1970 are older.
  EXPECT_TRUE(is_kept_over(test_record("d/a", 4, 1, 0),
                           test_record("d/b", 4, 0, 999999999)));
  EXPECT_TRUE(is_kept_over(test_record("d/b", 4, 0, 999999999),
                           test_record("d/c", 4, -1, 5)));

  // 0xE9 sorts after 'z' as an unsigned byte; a signed char comparison would
  // keep the wrong file.
  EXPECT_TRUE(
      is_kept_over(test_record("d/\xE9", 4, 7), test_record("d/z", 4, 7)));
  EXPECT_FALSE(
      is_kept_over(test_record("d/z", 4, 7), test_record("d/\xE9", 4, 7)));

  // A proper prefix sorts first.
  EXPECT_TRUE(
      is_kept_over(test_record("d/abc", 4, 7), test_record("d/ab", 4, 7)));
}

TEST(SizePass, KeepsOnlySharedSizesAndMarksAllButTheNewest) {
  file_list files = {test_record("d/x5", 10, 5), test_record("d/solo", 11, 9),
                     test_record("d/y5", 10, 5), test_record("d/z3", 10, 3),
                     test_record("d/e1", 0, 1),  test_record("d/e2", 0, 1)};
  size_pass(&files, run_mode::size_only);

  EXPECT_EQ((std::vector<std::string>{"d/x5", "d/y5", "d/z3", "d/e1", "d/e2"}),
            names_of(files));
  EXPECT_EQ((std::vector<std::string>{"d/x5", "d/z3", "d/e1"}),
            marked_names(files));
}

TEST(SizePass, ComparesBothHalvesOfTheSizeAndMarksNothingByContent) {
  file_list files = {test_record("d/a", 0x100000005, 1),
                     test_record("d/b", 0x200000005, 2),
                     test_record("d/c", 5, 3)};
  size_pass(&files, run_mode::size_only);
  EXPECT_TRUE(files.empty());

  files = {test_record("d/a", 0x100000005, 1),
           test_record("d/b", 0x100000005, 2)};
  size_pass(&files, run_mode::content_mode);
  EXPECT_EQ((std::vector<std::string>{"d/a", "d/b"}), names_of(files));
  EXPECT_TRUE(marked_names(files).empty());
}

TEST(EqualDigests, MarkAllButTheNewestOfEachDigest) {
  file_list files = {test_record("d/a", 3, 1), test_record("d/b", 3, 2),
                     test_record("d/c", 3, 9), test_record("d/d", 3, 2)};
  auto it = files.begin();
  (it++)->digest[0] = 1;
  (it++)->digest[0] = 2;
  (it++)->digest[0] = 3;
  it->digest[0] = 1;
  mark_equal_digests(&files);
  EXPECT_EQ((std::vector<std::string>{"d/a"}), marked_names(files));
  EXPECT_STREQ("d/d", files[files.front().keeper].entry);
}

TEST(BuildFileList, LeavesOutOnlyTheNamesThatAreNotRegularFiles) {
  temp_dir dir;
  write_file(dir, "a", "abc", 1000);
  write_file(dir, "c", "12345", 3000);
  write_file(dir, "sub/x", "", 1000);
  scanned_directory scanned;
  scanned.held = open_directory(dir.path);
  ASSERT_TRUE(scanned.held);
  // A name gone since the listing must not hide the names after it.
  for (const char* name : {"a", "gone", "sub", "c"})
    keep_name(&scanned.entries, name);

  const file_list files = build_file_list(scanned);

  EXPECT_EQ((std::vector<std::string>{"a", "c"}), names_of(files));
  EXPECT_EQ(3u, files.front().state.size);
  EXPECT_EQ(5u, files.back().state.size);
  EXPECT_LT(files.front().state.write_time, files.back().state.write_time);
}

// Long enough to be shared out between two threads; each file's size is
// its place, so a state given to the wrong entry shows.
TEST(BuildFileList, GivesEachRecordItsOwnStateOnTwoThreads) {
  temp_dir dir;
  scanned_directory scanned;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < 600; ++i) {
    names.push_back("f" + std::to_string(i));
    write_file(dir, names.back(), std::string(i, 'x'), 1000);
  }
  write_file(dir, "sub/x", "", 1000);
  scanned.held = open_directory(dir.path);
  ASSERT_TRUE(scanned.held);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i == 3 || i == 597) {
      keep_name(&scanned.entries, "sub");
      keep_name(&scanned.entries, "gone");
    }
    keep_name(&scanned.entries, names[i].c_str());
  }

  const file_list files = build_file_list(scanned);

  EXPECT_EQ(names, names_of(files));
  for (const file_record& record : files)
    EXPECT_EQ(std::stoul(std::string(record.entry).substr(1)),
              record.state.size)
        << record.entry;
}

TEST(ContentPass, MarksByDigestAcrossBatches) {
  // Two files with one digest but other bytes, and a copy of the first: the
  // digest groups all three (the deletion's own reading tells them apart).
  // 300 small files of one size besides: more than are read side by side,
  // so they are read in several batches, pairs split between them.
  temp_dir dir;
  write_file(dir, "m1", test_data("sha-mbles-1.bin"), 1000);
  write_file(dir, "m2", test_data("sha-mbles-2.bin"), 2000);
  write_file(dir, "m1.copy", test_data("sha-mbles-1.bin"), 3000);
  for (int i = 0; i < 300; ++i)
    write_file(dir, "s" + std::to_string(i), std::to_string(1000 + i / 2) + "x",
               1000);
  scanned_directory scanned;
  scanned.held = open_directory(dir.path);
  ASSERT_TRUE(scanned.held);
  list_directory(&scanned);
  file_list files = build_file_list(scanned);

  testing::internal::CaptureStdout();
  content_pass(scanned, &files);
  testing::internal::GetCapturedStdout();

  std::map<std::string, const file_record*> by_name;
  for (const file_record& record : files) by_name[record.entry] = &record;
  ASSERT_EQ(303u, by_name.size());
  EXPECT_EQ(by_name["m1"]->digest, by_name["m2"]->digest);
  EXPECT_TRUE(by_name["m1"]->erase_mark && by_name["m2"]->erase_mark);
  EXPECT_STREQ("m1.copy", files[by_name["m2"]->keeper].entry);
  for (int i = 0; i < 300; i += 2) {
    // Equal times: the name that sorts last is kept.
    const file_record& first = *by_name["s" + std::to_string(i)];
    const file_record& second = *by_name["s" + std::to_string(i + 1)];
    EXPECT_TRUE(first.erase_mark) << i;
    EXPECT_FALSE(second.erase_mark) << i;
    EXPECT_EQ(&second, &files[first.keeper]) << i;
  }
}
