#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

TEST(SizeOnlyRun, ErasesAllButTheNewestOfEachSize) {
  temp_dir dir;
  write_file(dir, "old.txt", "abc", 1000);
  write_file(dir, "new.txt", "xyz", 3000);
  write_file(dir, "mid.txt", "123", 2000);
  write_file(dir, "solo.txt", "four", 1000);
  write_file(dir, "empty1", "", 1000);
  write_file(dir, "empty2", "", 1000);

  // Equal times are decided by the name that sorts last: empty2 stays.
  const std::string erased =
      erasing_lines(dir, {"old.txt", "mid.txt", "empty1"});

  const run_result run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, erased), run.out);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(0, run.exit_code);
  const std::vector<std::string> kept = {"empty2", "new.txt", "solo.txt"};
  EXPECT_EQ(kept, sorted_file_names(dir));
}

TEST(SizeOnlyRun, NeverEntersOrErasesSubdirectories) {
  temp_dir dir;
  write_file(dir, "a", "abc", 1000);
  write_file(dir, "sub/b", "xyz", 500);
  write_file(dir, "sub/c", "123", 2000);

  const run_result run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, "Nothing to erase (no duplicate found).\n"),
            run.out);
  EXPECT_EQ(0, run.exit_code);
  const std::vector<std::string> kept = {"a", "sub"};
  EXPECT_EQ(kept, sorted_file_names(dir));
  EXPECT_EQ("xyz", read_file(full_name(dir, "sub/b")));
}

TEST(SizeOnlyRun, EndsAbnormallyWhenADeletionIsRefused) {
  temp_dir dir;
  write_file(dir, "a", "abc", 1000);
  write_file(dir, "b", "abc", 1000);
  write_file(dir, "c", "abc", 1000);
  write_file(dir, "keep", "abc", 2000);
  const std::vector<std::string> marked =
      in_listing_order(dir, {"a", "b", "c"});
  const undeletable_file refused(full_name(dir, marked[1]));
  if (!refused.made) GTEST_SKIP() << "no file here can be made undeletable";

  const run_result run = run_program({"--nosha1", dir.path});

  // The last line names the file still there; the one after it is untouched.
  EXPECT_EQ(working_in(dir, erasing(dir, marked[0]) + erasing(dir, marked[1])),
            run.out);
  EXPECT_EQ(termination_notice, run.err);
  EXPECT_EQ(3, run.exit_code);
  std::vector<std::string> kept = {marked[1], marked[2], "keep"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, sorted_file_names(dir));
}
