// Cases that only the Windows program has: drive roots, both separators, the
// name rules of Windows, long names, sizes past 32 bits, and the read-only
// attribute.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace fs = boost::filesystem;

namespace {

// Drive Y: maps to an otherwise unused folder (see scripts/wine_run.sh); the
// test leaves it as empty as it found it.
struct drive_y {
  drive_y() : usable(fs::is_directory("Y:\\") && fs::is_empty("Y:\\")) {}
  ~drive_y() {
    if (!usable) return;
    boost::system::error_code ignored;
    for (fs::directory_iterator it("Y:\\"), end; it != end; ++it)
      fs::remove_all(it->path(), ignored);
  }

  void write(const std::string& name, const std::string& contents,
             std::time_t write_time) const {
    const std::string path = "Y:\\" + name;
    std::ofstream(path, std::ios::binary) << contents;
    fs::last_write_time(path, write_time);
  }

  bool usable;
};

std::string with_slashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

}  // namespace

TEST(WindowsRun, ListsADriveRootWithASingleBackslash) {
  drive_y drive;
  if (!drive.usable) GTEST_SKIP() << "drive Y: is not an empty test folder";
  fs::create_directory("Y:\\sub");

  for (const char* text : {"Y:", "Y:\\", "Y:/sub/..\\"}) {
    drive.write("old.txt", "abc", 1000);
    drive.write("new.txt", "xyz", 2000);

    const run_result run = run_program({"--nosha1", text});

    EXPECT_EQ(
        "\nWorking in directory: Y:\\\n\n"
        "Erasing : Y:\\old.txt\n",
        run.out)
        << text;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(0, run.exit_code);
    EXPECT_FALSE(fs::exists("Y:\\old.txt"));
    EXPECT_TRUE(fs::exists("Y:\\new.txt"));
  }
}

TEST(WindowsRun, PrintsTheResolvedNameWithBackslashesOnly) {
  temp_dir dir;
  write_file(dir, "one", "a", 1000);
  const std::string nothing = "Nothing to erase (no duplicate found).\n";

  for (const std::string& text :
       {dir.path, dir.path + "\\", with_slashes(dir.path),
        with_slashes(dir.path) + "/.\\", dir.path + "\\sub\\..",
        dir.root + "\\x\\..\\.\\d\\"}) {
    const run_result run = run_program({"--nosha1", text});
    EXPECT_EQ(working_in(dir, nothing), run.out) << text;
    EXPECT_EQ(0, run.exit_code) << text;
  }
  run_options in_root;
  in_root.working_directory = dir.root;
  EXPECT_EQ(working_in(dir, nothing),
            run_program({"--nosha1", "d"}, in_root).out);
  EXPECT_EQ(working_in(dir, nothing),
            run_program({"--nosha1", ".\\d\\..\\d"}, in_root).out);
}

TEST(WindowsRun, RefusesDirectoryTextsThatBreakTheNameRules) {
  // Were the rules not applied, the full-path service would strip the dot or
  // blank and the run would erase in "old".
  temp_dir dir;
  write_file(dir, "old/x", "abc", 1000);
  write_file(dir, "old/y", "xyz", 2000);
  const std::string old = full_name(dir, "old");

  for (const std::string& text :
       {old + ".\\", old + " \\", old + ". ", old + "/", old + "\\\\",
        dir.path + "\\a:b", dir.path + "\\a|b", dir.path + "\\\x01",
        dir.path + "\\<old>"}) {
    const run_result run = run_program({"--nosha1", text});
    EXPECT_EQ("Nothing to erase (no duplicate found).\n", run.out) << text;
    EXPECT_EQ("", run.err) << text;
    EXPECT_EQ(0, run.exit_code) << text;
  }
  EXPECT_TRUE(fs::exists(full_name(dir, "old\\x")));
  EXPECT_TRUE(fs::exists(full_name(dir, "old\\y")));
}

TEST(WindowsRun, ReachesNamesOutsideTheSystemCodePage) {
  // Greek alpha has no byte in the Western code pages; under one of them the
  // listing spells it "?", whose query fails, and the file is passed over.
  // With UTF-8 as the code page (the manifest) every name has its bytes.
  temp_dir dir;
  const std::string alpha = "\xCE\xB1";
  write_file(dir, alpha, "abc", 1000);
  write_file(dir, "b", "abc", 2000);
  ASSERT_TRUE(fs::exists(fs::path(dir.path) / L"\u03B1"));

  const run_result run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, "Erasing : " + full_name(dir, alpha) + "\n"),
            run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(std::vector<std::string>{"b"}, sorted_file_names(dir));
}

TEST(WindowsRun, PassesOverNamesTheServicesWouldShorten) {
  // "x." can only be made through a "\\?\" name; every other name of it
  // loses the dot and so names "x". Taken as a candidate, it would be hashed
  // and deleted as "x": "x" would go as its own duplicate, "x." would stay.
  temp_dir dir;
  write_file(dir, "x", "abc", 2000);
  const std::string dotted = "\\\\?\\" + dir.path + "\\x.";
  std::ofstream(dotted, std::ios::binary) << "xyz";
  ASSERT_TRUE(fs::exists(dotted));
  fs::last_write_time(dotted, 1000);

  const run_result run = run_program({dir.path});
  const bool dotted_kept = fs::exists(dotted);
  fs::remove(dotted);

  EXPECT_EQ(working_in(dir,
                       "Calculating sha1 ...\n"
                       "Nothing to erase (no duplicate found).\n"),
            run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_TRUE(dotted_kept);
  EXPECT_EQ("abc", read_file(full_name(dir, "x")));
}

TEST(WindowsRun, WorksInALongDirectoryOrSaysItIsNotFound) {
  // Past MAX_PATH (260 bytes) the ANSI services the program uses take a name
  // only where the manifest's longPathAware and the system's policy allow
  // it (not under Wine). Either way the run must not pass for one in an
  // empty directory.
  temp_dir dir;
  write_file(dir, "old", "abc", 1000);
  write_file(dir, "new", "xyz", 2000);
  const std::string parent =
      dir.root + "\\" + std::string(120, 'l') + "\\" + std::string(120, 'm');
  fs::create_directories(parent);
  const std::string deep = parent + "\\d";
  fs::rename(dir.path, deep);
  ASSERT_GT(deep.size(), std::size_t{MAX_PATH});
  // The tests carry the program's manifest, so the system answers them alike.
  const bool reachable =
      GetFileAttributesA((deep + "\\old").c_str()) != INVALID_FILE_ATTRIBUTES;

  const run_result run = run_program({"--nosha1", deep});

  if (reachable) {
    EXPECT_EQ(
        "\nWorking in directory: " + deep + "\n\nErasing : " + deep + "\\old\n",
        run.out);
    EXPECT_FALSE(fs::exists(deep + "\\old"));
  } else {
    EXPECT_EQ(
        "\nNot found: " + deep + "\nNothing to erase (no duplicate found).\n",
        run.out);
    EXPECT_TRUE(fs::exists(deep + "\\old"));
  }
  EXPECT_EQ("", run.err);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_TRUE(fs::exists(deep + "\\new"));
}

TEST(WindowsRun, ComparesSizesBeyondFourGibibytesInFull) {
  // Sizes come from the system in two 32-bit halves; taken from the low half
  // alone, "small" would share its size with the other two and be erased.
  // Made by setting the end of file, so they take no space on a sparse file
  // system (and no time to write anywhere).
  temp_dir dir;
  const std::uintmax_t low = 12345;
  const std::uintmax_t big = (std::uintmax_t{1} << 32) + low;
  const std::vector<std::pair<std::string, std::time_t>> files = {
      {"big.old", 1000}, {"big.new", 2000}, {"small", 500}};
  for (const auto& [name, write_time] : files) {
    write_file(dir, name, "", write_time);
    fs::resize_file(full_name(dir, name), name == "small" ? low : big);
    fs::last_write_time(full_name(dir, name), write_time);
  }

  const run_result run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, "Erasing : " + full_name(dir, "big.old") + "\n"),
            run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"big.new", "small"}),
            sorted_file_names(dir));
  EXPECT_EQ(big, fs::file_size(full_name(dir, "big.new")));
  EXPECT_EQ(low, fs::file_size(full_name(dir, "small")));
}
