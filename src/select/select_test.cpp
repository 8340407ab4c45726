#include "select/select.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

file_record test_record(const std::string& name, std::uint64_t size,
                        std::uint64_t time) {
  file_record record;
  record.name = name;
  record.size = size;
  record.write_time = time;
  return record;
}

std::vector<std::string> names_of(const file_list& files) {
  std::vector<std::string> names;
  for (const file_record& record : files) names.push_back(record.name);
  return names;
}

std::vector<std::string> marked_names(const file_list& files) {
  std::vector<std::string> names;
  for (const file_record& record : files)
    if (record.erase_mark) names.push_back(record.name);
  return names;
}

}  // namespace

TEST(AgeRule, MarksTheOlderOrTheNameThatSortsFirst) {
  file_record older = test_record("d/b", 4, 6);
  file_record newer = test_record("d/a", 4, 7);
  apply_age_rule(&newer, &older);
  EXPECT_TRUE(older.erase_mark);
  EXPECT_FALSE(newer.erase_mark);

  // Times compare as unsigned 64-bit values, high half first.
  file_record high = test_record("d/a", 4, 0x100000000);
  file_record low = test_record("d/b", 4, 0xFFFFFFFF);
  apply_age_rule(&low, &high);
  EXPECT_TRUE(low.erase_mark);
  EXPECT_FALSE(high.erase_mark);

  // 0xE9 sorts after 'z' as an unsigned byte; a signed char comparison would
  // keep the wrong file.
  file_record accented = test_record("d/\xE9", 4, 7);
  file_record plain = test_record("d/z", 4, 7);
  apply_age_rule(&accented, &plain);
  EXPECT_TRUE(plain.erase_mark);
  EXPECT_FALSE(accented.erase_mark);

  // A proper prefix sorts first.
  file_record prefix = test_record("d/ab", 4, 7);
  file_record longer = test_record("d/abc", 4, 7);
  apply_age_rule(&prefix, &longer);
  EXPECT_TRUE(prefix.erase_mark);
  EXPECT_FALSE(longer.erase_mark);
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
}

TEST(BuildFileList, LeavesOutOnlyTheNamesThatAreNotRegularFiles) {
  temp_dir dir;
  write_file(dir, "a", "abc", 1000);
  write_file(dir, "c", "12345", 3000);
  write_file(dir, "sub/x", "", 1000);

  // A name gone since the listing must not hide the names after it.
  const file_list files =
      build_file_list({full_name(dir, "a"), full_name(dir, "gone"),
                       full_name(dir, "sub"), full_name(dir, "c")});

  EXPECT_EQ(
      (std::vector<std::string>{full_name(dir, "a"), full_name(dir, "c")}),
      names_of(files));
  EXPECT_EQ(3u, files.front().size);
  EXPECT_EQ(5u, files.back().size);
  EXPECT_LT(files.front().write_time, files.back().write_time);
}
