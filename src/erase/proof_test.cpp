#include "erase/proof.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "platform/directory.h"
#include "platform/file_state.h"

namespace {

// What happens to the two files between their records and the proof.
enum class change { none, marked_rewritten, keeper_rewritten, marked_gone };

struct verify_case {
  const char* what;
  std::string marked_bytes;
  std::string keeper_bytes;
  bool keeper_is_a_link = false;  // another name of the marked file
  change after = change::none;
  verdict in_content_mode = verdict::copy;
  verdict in_size_only_mode = verdict::copy;
};

// Records as the phases leave them: states as found, the keeper at place 1.
file_record record_of(const scanned_directory& scanned, const char* entry) {
  file_record record;
  record.entry = entry;
  const std::optional<file_state> state = inspect_entry(*scanned.held, entry);
  EXPECT_TRUE(state) << entry;
  if (state) record.state = *state;
  return record;
}

// The proof's verdict, with the line it announced the marked file with.
struct proof_run {
  verdict found = verdict::copy;
  std::string out;
};

proof_run prove(const scanned_directory& scanned, const file_record& marked,
                const file_record& keeper, run_mode mode) {
  compare_buffer buffer;
  testing::internal::CaptureStdout();
  const verdict found = prove_and_erase(scanned, marked, keeper, mode, &buffer);
  return {found, testing::internal::GetCapturedStdout()};
}

}  // namespace

TEST(ProveAndErase, ReadsBothFilesInContentModeAndTrustsStatesOnlyBySize) {
  // Records are taken from the files as they are now, so equal states say
  // nothing of equal bytes: only reading tells a copy in content mode.
  const std::string big(600000, 'x');  // read in several chunks
  const verify_case cases[] = {
      {"copies", "hello", "hello"},
      {"large copies", big, big},
      {"empty copies", "", ""},
      {"same size, other bytes", "hello", "HELLO", false, change::none,
       verdict::contents_differ, verdict::copy},
      {"other bytes past the first chunk", big + "a", big + "b", false,
       change::none, verdict::contents_differ, verdict::copy},
      {"a longer keeper that begins with the same bytes", "hello",
       "hello, world", false, change::none, verdict::contents_differ,
       verdict::copy},
      {"two names of one file", "hello", "", true, change::none,
       verdict::same_file, verdict::same_file},
      {"marked file rewritten", "hello", "hello", false,
       change::marked_rewritten, verdict::changed, verdict::changed},
      {"keeper rewritten", "hello", "hello", false, change::keeper_rewritten,
       verdict::keeper_changed, verdict::keeper_changed},
      {"marked file gone", "hello", "hello", false, change::marked_gone,
       verdict::changed, verdict::changed},
  };
  for (const verify_case& test : cases) {
    for (const run_mode mode : {run_mode::content_mode, run_mode::size_only}) {
      SCOPED_TRACE(std::string(test.what) +
                   (mode == run_mode::size_only ? ", size only" : ""));
      temp_dir dir;
      write_file(dir, "marked", test.marked_bytes, 1000);
      if (test.keeper_is_a_link) {
        ASSERT_TRUE(
            make_hard_link(full_name(dir, "marked"), full_name(dir, "keeper")));
      } else {
        write_file(dir, "keeper", test.keeper_bytes, 2000);
      }
      scanned_directory scanned;
      scanned.held = open_directory(dir.path);
      ASSERT_TRUE(scanned.held);
      const file_record marked = record_of(scanned, "marked");
      const file_record keeper = record_of(scanned, "keeper");
      if (test.after == change::marked_rewritten)
        write_file(dir, "marked", "HELLO", 1500);
      if (test.after == change::keeper_rewritten)
        write_file(dir, "keeper", "HELLO", 2500);
      if (test.after == change::marked_gone) {
        ASSERT_EQ(0, std::remove(full_name(dir, "marked").c_str()));
      }

      const proof_run run = prove(scanned, marked, keeper, mode);

      const verdict expected = mode == run_mode::size_only
                                   ? test.in_size_only_mode
                                   : test.in_content_mode;
      EXPECT_EQ(expected, run.found);
      // Announced before the proof, whatever it finds.
      EXPECT_EQ("Erasing : " + full_name(dir, "marked") + "\n", run.out);
      const bool left =
          expected != verdict::copy && test.after != change::marked_gone;
      const std::vector<std::string> expected_left =
          left ? std::vector<std::string>{"keeper", "marked"}
               : std::vector<std::string>{"keeper"};
      EXPECT_EQ(expected_left, sorted_file_names(dir));
    }
  }
}

// FUSE, and with it a file system that misreports sizes, is POSIX's alone.
#ifndef _WIN32
TEST(ProveAndErase, ReadsPastTheReportedSizeToTheTrueEnds) {
  // Both files report 5 bytes and are equal that far: only reading on to
  // where a read finds nothing tells them apart.
  for (const std::size_t piece : {std::size_t{1} << 20, std::size_t{2}}) {
    SCOPED_TRACE(piece);
    temp_dir dir;
    write_file(dir, "marked", "hello, world", 1000);
    write_file(dir, "keeper", "hello, WORLD", 2000);
    const lying_mount mounted(dir, 5, piece);
    if (!mounted.skipped.empty()) GTEST_SKIP() << mounted.skipped;
    scanned_directory scanned;
    scanned.held = open_directory(dir.path);
    ASSERT_TRUE(scanned.held);
    const file_record marked = record_of(scanned, "marked");
    const file_record keeper = record_of(scanned, "keeper");
    ASSERT_EQ(5u, marked.state.size);

    EXPECT_EQ(verdict::contents_differ,
              prove(scanned, marked, keeper, run_mode::content_mode).found);
    EXPECT_EQ((std::vector<std::string>{"keeper", "marked"}),
              sorted_file_names(dir));
  }
}
#endif
