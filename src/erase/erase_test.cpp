#include "erase/erase.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

file_record record_for(const temp_dir& dir, const std::string& name,
                       bool marked) {
  file_record record;
  record.name = full_name(dir, name);
  record.erase_mark = marked;
  return record;
}

}  // namespace

TEST(EraseMarked, DeletesMarkedFilesInListOrderAndPassesOverGoneOnes) {
  temp_dir dir;
  write_file(dir, "first", "1", 1000);
  write_file(dir, "kept", "2", 1000);
  write_file(dir, "third", "3", 1000);
  const file_list files = {
      record_for(dir, "third", true), record_for(dir, "gone", true),
      record_for(dir, "kept", false), record_for(dir, "first", true)};

  testing::internal::CaptureStdout();
  erase_marked(files);
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ("Erasing : " + full_name(dir, "third") +
                "\n"
                "Erasing : " +
                full_name(dir, "gone") +
                "\n"
                "Erasing : " +
                full_name(dir, "first") + "\n",
            out);
  EXPECT_EQ(std::vector<std::string>{"kept"}, sorted_file_names(dir));
}

TEST(EraseMarked, ReportsWhenNothingIsMarked) {
  temp_dir dir;
  write_file(dir, "kept", "2", 1000);
  const file_list files = {record_for(dir, "kept", false)};

  testing::internal::CaptureStdout();
  erase_marked(files);
  erase_marked(file_list{});
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(
      "Nothing to erase (no duplicate found).\n"
      "Nothing to erase (no duplicate found).\n",
      out);
  EXPECT_EQ(std::vector<std::string>{"kept"}, sorted_file_names(dir));
}
