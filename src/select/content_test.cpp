#include "select/content.h"

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "platform/directory.h"

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
  file_list files = build_file_list(scanned.held.get(), scanned.entries);

  testing::internal::CaptureStdout();
  content_pass(scanned, &files);
  testing::internal::GetCapturedStdout();
  mark_by_age(&files, run_mode::content_mode);

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
