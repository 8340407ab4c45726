#include "select/select.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "platform/directory.h"
#include "platform/file_state.h"

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
  remove_unique_sizes(&files);
  mark_by_age(&files, run_mode::size_only);

  EXPECT_EQ((std::vector<std::string>{"d/x5", "d/y5", "d/z3", "d/e1", "d/e2"}),
            names_of(files));
  EXPECT_EQ((std::vector<std::string>{"d/x5", "d/z3", "d/e1"}),
            marked_names(files));
}

TEST(SizePass, ComparesBothHalvesOfTheSize) {
  file_list files = {test_record("d/a", 0x100000005, 1),
                     test_record("d/b", 0x200000005, 2),
                     test_record("d/c", 5, 3)};
  remove_unique_sizes(&files);
  EXPECT_TRUE(files.empty());

  files = {test_record("d/a", 0x100000005, 1),
           test_record("d/b", 0x100000005, 2)};
  remove_unique_sizes(&files);
  EXPECT_EQ((std::vector<std::string>{"d/a", "d/b"}), names_of(files));
}

TEST(EqualDigests, MarkAllButTheNewestOfEachDigest) {
  file_list files = {test_record("d/a", 3, 1), test_record("d/b", 3, 2),
                     test_record("d/c", 3, 9), test_record("d/d", 3, 2)};
  auto it = files.begin();
  (it++)->digest[0] = 1;
  (it++)->digest[0] = 2;
  (it++)->digest[0] = 3;
  it->digest[0] = 1;
  mark_by_age(&files, run_mode::content_mode);
  EXPECT_EQ((std::vector<std::string>{"d/a"}), marked_names(files));
  EXPECT_STREQ("d/d", files[files.front().keeper].entry);
}

TEST(BuildFileList, LeavesOutOnlyTheNamesThatAreNotRegularFiles) {
  temp_dir dir;
  write_file(dir, "a", "abc", 1000);
  write_file(dir, "c", "12345", 3000);
  write_file(dir, "sub/x", "", 1000);
  const directory_handle held = open_directory(dir.path);
  ASSERT_TRUE(held);
  entry_names entries;
  // A name gone since the listing must not hide the names after it.
  for (const char* name : {"a", "gone", "sub", "c"}) keep_name(&entries, name);

  const file_list files = build_file_list(held.get(), entries);

  EXPECT_EQ((std::vector<std::string>{"a", "c"}), names_of(files));
  EXPECT_EQ(3u, files.front().state.size);
  EXPECT_EQ(5u, files.back().state.size);
  EXPECT_LT(files.front().state.write_time, files.back().state.write_time);
}

// Long enough to be shared out between two threads; each file's size is
// its place, so a state given to the wrong entry shows.
TEST(BuildFileList, GivesEachRecordItsOwnStateOnTwoThreads) {
  temp_dir dir;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < 600; ++i) {
    names.push_back("f" + std::to_string(i));
    write_file(dir, names.back(), std::string(i, 'x'), 1000);
  }
  write_file(dir, "sub/x", "", 1000);
  const directory_handle held = open_directory(dir.path);
  ASSERT_TRUE(held);
  entry_names entries;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i == 3 || i == 597) {
      keep_name(&entries, "sub");
      keep_name(&entries, "gone");
    }
    keep_name(&entries, names[i].c_str());
  }

  const file_list files = build_file_list(held.get(), entries);

  EXPECT_EQ(names, names_of(files));
  for (const file_record& record : files)
    EXPECT_EQ(std::stoul(std::string(record.entry).substr(1)),
              record.state.size)
        << record.entry;
}
