#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

std::string usage_text(const std::string& program) {
  return "Usage : " + program +
         " [--nosha1] <directory>\n"
         "Examples : \n"
         "   " +
         program +
         " --nosha1 c:\\temp\n"
         "  --> Removes files with the same size (except the newest one) from "
         "c:\\temp.\n"
         "   " +
         program +
         " .\\\n"
         "  --> Removes files with the same size and the same sha1 (only true "
         "duplicates) from the current directory.\n"
         "There is _always_ a version (the latest) of duplicates remaining on "
         "the system, so there is no loss of data.\n";
}

void expect_usage(const std::vector<std::string>& arguments) {
  const run_result run = run_program(arguments);
  EXPECT_EQ(usage_text(program_path()), run.out);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(usage_exit_code(), run.exit_code);
}

}  // namespace

TEST(CommandLine, PrintsUsageWhenTheDirectoryIsMissingOrEmpty) {
  expect_usage({});
  expect_usage({"--nosha1"});
  // An unset shell variable must not start a run, nor end it abnormally.
  expect_usage({""});
  expect_usage({"--nosha1", ""});
}

TEST(CommandLine, RecognisesTheOptionOnlyFirstAndExactly) {
  temp_dir dir;
  write_file(dir, "old", "abc", 1000);
  write_file(dir, "new", "xyz", 2000);
  const std::string digests =
      digest_lines(dir, {{"old", "a9993e364706816aba3e25717850c26c9cd0d89d"},
                         {"new", "66b27417d37e024c46526c2f6d358a754fc552f3"}});

  // After the directory the option is an ignored extra argument, so the run
  // compares contents and keeps both files.
  run_result run = run_program({dir.path, "--nosha1", "more"});
  EXPECT_EQ(
      working_in(dir, digests + "Nothing to erase (no duplicate found).\n"),
      run.out);
  EXPECT_EQ(0, run.exit_code);

  // A differently spelled option is taken as the directory.
  run = run_program({"--NOSHA1", dir.path});
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(0u, run.out.find("\nNot found: "));
  const std::vector<std::string> kept = {"new", "old"};
  EXPECT_EQ(kept, sorted_file_names(dir));
}

TEST(CommandLine, ReportsTheResolvedDirectoryOrThatItIsMissing) {
  temp_dir dir;
  // Relative, with a trailing separator, with "." and "..": all name the
  // directory itself.
  run_options in_root;
  in_root.working_directory = dir.root;
  for (const std::string& text : {std::string("d"), native_separators("d/"),
                                  native_separators("./d/../d/.")}) {
    const run_result run = run_program({"--nosha1", text}, in_root);
    EXPECT_EQ(working_in(dir, "Nothing to erase (no duplicate found).\n"),
              run.out)
        << text;
  }

  run_result run = run_program(
      {"--nosha1", dir.path + native_separators("/missing/../gone/")});
  EXPECT_EQ("\nNot found: " + full_name(dir, "gone") +
                "\nNothing to erase (no duplicate found).\n",
            run.out);
  EXPECT_EQ(0, run.exit_code);

  // A plain file names no directory either: the run must not read as one
  // that listed a directory and found nothing.
  write_file(dir, "plain", "abc", 1000);
  run = run_program({full_name(dir, "plain")});
  EXPECT_EQ("\nNot found: " + full_name(dir, "plain") +
                "\nCalculating sha1 ...\n"
                "Nothing to erase (no duplicate found).\n",
            run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ("abc", read_file(full_name(dir, "plain")));
}
