// Cases that need POSIX file kinds and rights: links, pipes, unreadable files
// and a directory that refuses deletion.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <boost/algorithm/string/replace.hpp>
#include <gtest/gtest.h>

#include "e2e_support.h"

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

TEST(PosixRun, KeepsFilesThatCannotBeOpenedAndComparesTheirPartners) {
  temp_dir dir;
  write_file(dir, "locked", "hello", 3000);  // newest, but unreadable
  write_file(dir, "old", "hello", 1000);
  write_file(dir, "new", "hello", 2000);
  ASSERT_EQ(0, chmod(full_name(dir, "locked").c_str(), 0));
  // The program runs unprivileged: root reads every file whatever its mode.
  // It may still delete, since the directory is open to all.
  ASSERT_EQ(0, chmod(dir.root.c_str(), 0777));
  ASSERT_EQ(0, chmod(dir.path.c_str(), 0777));

  std::string expected = "Calculating sha1 ...\n";
  for (const std::string& name :
       in_listing_order(dir, {"locked", "old", "new"}))
    expected +=
        digest_line(dir, name,
                    name == "locked" ? "Error opening : " + full_name(dir, name)
                                     : done_with(hello_digest));
  expected += erasing(dir, "old");

  const run_result run = run_program({dir.path}, as_unprivileged_user());

  EXPECT_EQ(working_in(dir, expected), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"locked", "new"}),
            sorted_file_names(dir));
}

TEST(PosixRun, ReadsEveryFileToItsTrueEndOnAFileSystemThatMisreportsSizes) {
  // A FUSE file system whose files report sizes other than where their bytes
  // end (0, as for generated files; 100 for 3 MB; 4096 while answering in
  // pieces of 4096). Files that differ only past the reported size both
  // stay; copies are found, and the digests are those of the whole files.
  struct lying_case {
    std::uint64_t size;
    std::size_t piece;
    std::string shared;  // the bytes every file of the case starts with
    std::map<std::string, std::pair<std::string, std::string>> ends;
  };
  const std::string rs(3000000, 'r');
  const std::string ps(4096, 'p');
  const std::vector<lying_case> cases = {
      {0,
       1048576,
       "",
       {{"differ.old",
         {"the only copy of the report",
          "fd3b822d593f5d92e8a9769c69b66a90d2da769a"}},
        {"differ.new",
         {"a different text entirely, longer",
          "a707d6dc8a9a55666420039a4764236bc1eb44cb"}},
        {"same.old",
         {"copied, and reported as nothing",
          "8dec1b0dd11b41a9b9a15e0c5a4f4f563adabffe"}}}},
      {100,
       1048576,
       rs,
       {{"differ.old", {"x", "eb50e6f05045c18640f76821fffa592bed4f7111"}},
        {"differ.new", {"y", "aaf9d9c59c10a7fd1adef5f92aa03eaa3641d1bc"}},
        {"same.old", {"z", "98250ade70e173bfe24c1997e9e0376771d69eb6"}}}},
      {4096,
       4096,
       ps,
       {{"differ.old",
         {std::string(4096, 'a'), "10438af3645ea225e69f2aedf46924d5517b7c65"}},
        {"differ.new",
         {std::string(4096, 'b'), "3bc55cae40a59b6169a05afcd230053d213902d5"}},
        {"same.old",
         {std::string(4096, 'c'),
          "38fb53b7460974bf133dc3355240612bae47bbba"}}}}};

  for (const lying_case& test : cases) {
    SCOPED_TRACE(test.size);
    temp_dir dir;
    std::map<std::string, std::string> digests;
    for (const auto& [name, end] : test.ends) {
      write_file(dir, name, test.shared + end.first,
                 name.find(".old") != std::string::npos ? 1000 : 2000);
      digests[name] = end.second;
    }
    write_file(dir, "same.new", test.shared + test.ends.at("same.old").first,
               2000);
    digests["same.new"] = digests["same.old"];
    const lying_mount mounted(dir, test.size, test.piece);
    if (!mounted.skipped.empty()) GTEST_SKIP() << mounted.skipped;
    const std::string expected =
        digest_lines(dir, digests) + erasing(dir, "same.old");

    const run_result run = run_program({dir.path});

    EXPECT_EQ(working_in(dir, expected), run.out);
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(
        (std::vector<std::string>{"differ.new", "differ.old", "same.new"}),
        sorted_file_names(dir));
  }
}

TEST(PosixRun, EndsAbnormallyWhereTheDirectoryRefusesDeletion) {
  // Without write permission on the directory no user but root may delete
  // in it: the first deletion fails, and every file stays as it was.
  temp_dir dir;
  write_file(dir, "old", "hello", 1000);
  write_file(dir, "new", "hello", 2000);
  write_file(dir, "other", "world", 1000);
  ASSERT_EQ(0, chmod(dir.root.c_str(), 0755));
  ASSERT_EQ(0, chmod(dir.path.c_str(), 0555));

  const std::string expected = digest_lines(dir, {{"old", hello_digest},
                                                  {"new", hello_digest},
                                                  {"other", world_digest}}) +
                               erasing(dir, "old");

  const run_result run = run_program({dir.path}, as_unprivileged_user());

  EXPECT_EQ(working_in(dir, expected), run.out);
  EXPECT_EQ(termination_notice, run.err);
  EXPECT_EQ(3, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"new", "old", "other"}),
            sorted_file_names(dir));
  EXPECT_EQ("hello", read_file(full_name(dir, "old")));
  EXPECT_EQ("hello", read_file(full_name(dir, "new")));
}

TEST(PosixRun, EndsBeforeAnyDeletionWhenOutputFails) {
  // Deletions that no line records must not happen: the run ends at the
  // first line that cannot be written.
  temp_dir dir;
  write_file(dir, "old", "abc", 1000);
  write_file(dir, "new", "abc", 2000);
  // Enough files of enough sizes that the output fails while files are
  // still being read, on two threads where there are two cores.
  for (int i = 0; i < 400; ++i)
    write_file(dir, "f" + std::to_string(i), std::string(10 + i / 2, 'x'),
               1000 + i % 2);
  run_options full;
  full.prefix = {"sh", "-c", "exec \"$0\" \"$@\" >/dev/full"};

  for (const char* mode : {"--nosha1", ""}) {
    std::vector<std::string> arguments = {dir.path};
    if (*mode != '\0') arguments.insert(arguments.begin(), mode);
    const run_result run = run_program(arguments, full);
    EXPECT_EQ(termination_notice, run.err);
    EXPECT_EQ(3, run.exit_code);
  }
  EXPECT_EQ(402u, sorted_file_names(dir).size());
}

TEST(PosixRun, EndsAbnormallyInADirectoryDeeperThanThePathLimit) {
  // Twenty names of 250 bytes: past PATH_MAX, where realpath and getcwd
  // fail. Its copies are out of reach, and it must not pass for a directory
  // without any. The shell goes in one name at a time.
  temp_dir dir;
  const std::string name(250, 'n');
  std::string make = "cd '" + dir.path + "'";
  std::string enter = make;
  for (int i = 0; i < 20; ++i) {
    make += " && mkdir " + name + " && cd -P " + name;
    enter += " && cd -P " + name;
  }
  make += " && printf abc >old && printf abc >new && touch -d @1000 old";
  ASSERT_EQ(0, std::system(make.c_str()));
  run_options inside;
  inside.prefix = {"sh", "-c", enter + " && exec \"$0\" \"$@\""};

  for (const char* mode : {"--nosha1", ""}) {
    std::vector<std::string> arguments = {"."};
    if (*mode != '\0') arguments.insert(arguments.begin(), mode);
    const run_result run = run_program(arguments, inside);
    EXPECT_EQ("", run.out) << mode;
    EXPECT_EQ(termination_notice, run.err);
    EXPECT_EQ(3, run.exit_code);
  }
  EXPECT_EQ(0, std::system((enter + " && test -f old && test -f new").c_str()));
  // rm, unlike the temporary directory's own removal, goes that deep.
  std::system(("rm -rf '" + dir.path + "/" + name + "'").c_str());
}

TEST(PosixRun, EscapesControlCharactersOnlyOnATerminal) {
  // On a terminal the first name would print a forged last line, the second
  // would blank its own line, and the third acts as ESC [ does where the
  // terminal reads UTF-8. Scripts read files and pipes: they get every byte.
  const std::map<std::string, std::string> shown = {
      {"x\nNothing to erase (no duplicate found).",
       "x\\x0ANothing to erase (no duplicate found)."},
      {"y\x1B[2K\r", "y\\x1B[2K\\x0D"},
      {"z\xC2\x9B"
       "2K",
       "z\\xC2\\x9B2K"}};
  run_options terminal;
  // script gives the program a pseudo-terminal and copies what it shows,
  // each line feed as CR LF.
  terminal.prefix = {"bash", "-c", "exec script -qec \"${*@Q}\" /dev/null",
                     "bash"};

  for (const bool on_terminal : {false, true}) {
    temp_dir dir;
    std::vector<std::string> names;
    for (const auto& [name, escaped] : shown) {
      write_file(dir, name, "abc", 1000);
      names.push_back(name);
    }
    write_file(dir, "new", "abc", 2000);
    std::string erasing;
    for (const std::string& name : in_listing_order(dir, names))
      erasing += "Erasing : " + dir.path + "/" +
                 (on_terminal ? shown.at(name) : name) + "\n";
    std::string expected = working_in(dir, erasing);
    if (on_terminal) boost::replace_all(expected, "\n", "\r\n");

    const run_result run = run_program({"--nosha1", dir.path},
                                       on_terminal ? terminal : run_options{});

    EXPECT_EQ(expected, run.out) << on_terminal;
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(std::vector<std::string>{"new"}, sorted_file_names(dir));
  }
}
