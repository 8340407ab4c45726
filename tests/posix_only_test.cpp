// Cases that need POSIX file kinds and tools: links, pipes, immutable files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

bool set_immutable(const std::string& path, bool on) {
  const std::string command =
      std::string("chattr ") + (on ? "+i '" : "-i '") + path + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

}  // namespace

TEST(PosixRun, PassesOverLinksAndPipes) {
  temp_dir dir;
  write_file(dir, "target", "abc", 1000);
  // Newer than the target and, in size, its equal: were links candidates,
  // the link would be kept and the only copy of the data deleted.
  ASSERT_EQ(0, symlink("target", full_name(dir, "zlink").c_str()));
  ASSERT_EQ(0, symlink("abc", full_name(dir, "zzlink").c_str()));
  ASSERT_EQ(0, mkfifo(full_name(dir, "pipe").c_str(), 0600));

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--nosha1", dir.path},
        std::vector<std::string>{dir.path}}) {
    run_options bounded;
    bounded.prefix = {"timeout", "60"};  // An opened pipe would block.
    const run_result run = run_program(arguments, bounded);
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(std::string::npos, run.out.find("Erasing"));
  }
  const std::vector<std::string> kept = {"pipe", "target", "zlink", "zzlink"};
  EXPECT_EQ(kept, sorted_file_names(dir));
  EXPECT_EQ("abc", read_file(full_name(dir, "target")));
}

TEST(PosixRun, EndsAbnormallyWhenADeletionIsRefused) {
  temp_dir dir;
  write_file(dir, "a", "abc", 1000);
  write_file(dir, "b", "abc", 1000);
  write_file(dir, "c", "abc", 1000);
  write_file(dir, "keep", "abc", 2000);
  const std::vector<std::string> marked =
      in_listing_order(dir, {"a", "b", "c"});
  if (!set_immutable(full_name(dir, marked[1]), true))
    GTEST_SKIP() << "chattr +i is not available here";

  const run_result run = run_program({"--nosha1", dir.path});
  set_immutable(full_name(dir, marked[1]), false);

  EXPECT_EQ(
      working_in(dir, "Erasing : " + full_name(dir, marked[0]) +
                          "\nErasing : " + full_name(dir, marked[1]) + "\n"),
      run.out);
  EXPECT_EQ(termination_notice, run.err);
  EXPECT_EQ(3, run.exit_code);
  std::vector<std::string> kept = {marked[1], marked[2], "keep"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, sorted_file_names(dir));
}

TEST(PosixRun, KeepsFilesThatCannotBeOpenedAndComparesTheirPartners) {
  temp_dir dir;
  write_file(dir, "locked", "hello", 3000);  // newest, but unreadable
  write_file(dir, "old", "hello", 1000);
  write_file(dir, "new", "hello", 2000);
  chmod(full_name(dir, "locked").c_str(), 0);
  // The program runs unprivileged: root reads every file whatever its mode.
  // It may still delete, since the directory is open to all.
  chmod(dir.root.c_str(), 0777);
  chmod(dir.path.c_str(), 0777);
  run_options unprivileged;
  unprivileged.prefix = {"setpriv", "--reuid=65534", "--regid=65534",
                         "--clear-groups"};

  std::string expected = "Calculating sha1 ...\n";
  for (const std::string& name :
       in_listing_order(dir, {"locked", "old", "new"}))
    expected += "Calculating sha1 for " + full_name(dir, name) + " ..." +
                (name == "locked"
                     ? "Error opening : " + full_name(dir, name)
                     : " ( aaf4c61ddcc5e8a2dabede0f3b482cd9aea9434d ) done.") +
                "\n";
  expected += "Erasing : " + full_name(dir, "old") + "\n";

  const run_result run = run_program({dir.path}, unprivileged);

  EXPECT_EQ(working_in(dir, expected), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"locked", "new"}),
            sorted_file_names(dir));
}
