#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "platform/deletion.h"
#include "platform/directory.h"
#include "platform/exclusion.h"
#include "platform/file_state.h"
#include "platform/open_file.h"
#include "platform/platform.h"

namespace {

directory_handle held_directory(const temp_dir& dir) {
  directory_handle held = open_directory(dir.path);
  EXPECT_TRUE(held);
  return held;
}

}  // namespace

TEST(PosixDirectory, GivesStatesOfRegularFilesOnly) {
  temp_dir dir;
  write_file(dir, "early", "abc", 1000);
  write_file(dir, "late", "", 2000);
  write_file(dir, "sub/x", "", 1000);
  ASSERT_EQ(0, symlink("early", full_name(dir, "link").c_str()));
  ASSERT_EQ(0, mkfifo(full_name(dir, "pipe").c_str(), 0600));
  const directory_handle held = held_directory(dir);

  std::vector<std::string> names;
  list_entries(*held, [&names](const char* name) { names.push_back(name); });
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"early", "late", "link", "pipe"}), names);
  const std::optional<file_state> early = query_entry(*held, "early");
  const std::optional<file_state> late = query_entry(*held, "late");
  ASSERT_TRUE(early && late && early->has_identity && late->has_identity);
  EXPECT_EQ(3u, early->size);
  EXPECT_EQ(0u, late->size);
  EXPECT_LT(early->write_time, late->write_time);
  EXPECT_FALSE(early->identity == late->identity);
  for (const char* name : {"link", "pipe", "sub", "gone"})
    EXPECT_FALSE(query_entry(*held, name)) << name;
}

TEST(PosixDirectory, OrdersTimesBeyondTheNanosecondRange) {
  // Nanoseconds since 1970 overflow 64 bits after 2262 and before 1677; a
  // wrapped or saturated time made a newer file look older or equal, so the
  // name decided and the older version could be the one kept.
  temp_dir dir;
  const std::pair<const char*, std::time_t> files[] = {{"past", -11676096000},
                                                       {"present", 1577836800},
                                                       {"future", 13569465600},
                                                       {"later", 13569465601}};
  for (const auto& [name, seconds] : files) {
    write_file(dir, name, "", 1000);
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, full_name(dir, name).c_str(), times, 0));
  }
  const directory_handle held = held_directory(dir);
  std::vector<file_time> times;
  for (const auto& file : files) {
    const std::optional<file_state> state = query_entry(*held, file.first);
    ASSERT_TRUE(state) << file.first;
    times.push_back(state->write_time);
  }
  EXPECT_LT(times[0], times[1]);
  EXPECT_LT(times[1], times[2]);
  EXPECT_LT(times[2], times[3]);
}

TEST(PosixDirectory, ReadsSizesBeyondFourGibibytes) {
  temp_dir dir;
  const std::string name = full_name(dir, "sparse");
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_LE(0, fd);
  const bool sized = ftruncate(fd, 0x100000003LL) == 0;
  close(fd);
  if (!sized) GTEST_SKIP() << "no sparse files here";
  const std::optional<file_state> state =
      query_entry(*held_directory(dir), "sparse");
  ASSERT_TRUE(state);
  EXPECT_EQ(0x100000003u, state->size);
}

TEST(PosixResolveDirectory, ResolvesLinksAndFoldsMissingNamesByText) {
  temp_dir dir;
  write_file(dir, "real/x", "", 1000);
  ASSERT_EQ(0, symlink("real", full_name(dir, "alias").c_str()));

  std::optional<resolved_directory> resolved =
      resolve_directory(full_name(dir, "alias") + "/");
  ASSERT_TRUE(resolved);
  EXPECT_TRUE(resolved->found);
  EXPECT_EQ(full_name(dir, "real"), resolved->name);

  resolved = resolve_directory(dir.path + "/./missing/../gone/");
  ASSERT_TRUE(resolved);
  EXPECT_FALSE(resolved->found);
  EXPECT_EQ(full_name(dir, "gone"), resolved->name);

  resolved = resolve_directory("/");
  ASSERT_TRUE(resolved);
  EXPECT_TRUE(resolved->found);
  EXPECT_EQ("/", resolved->name);
}

TEST(PosixDirectory, OpensRegularFilesOnlyWithoutWaiting) {
  temp_dir dir;
  write_file(dir, "file", "abc", 1000);
  ASSERT_EQ(0, symlink("file", full_name(dir, "link").c_str()));
  ASSERT_EQ(0, mkfifo(full_name(dir, "pipe").c_str(), 0600));
  const directory_handle held = held_directory(dir);

  const open_file_handle file = open_entry(*held, "file");
  ASSERT_TRUE(file);
  unsigned char bytes[8] = {};
  const read_result read = read_from(file.get(), bytes, sizeof bytes);
  EXPECT_EQ(3u, read.count);
  EXPECT_TRUE(read.end);
  EXPECT_FALSE(read.failed);
  EXPECT_EQ(std::string("abc"), reinterpret_cast<const char*>(bytes));
  for (const char* name : {"pipe", "link", "gone"})
    EXPECT_FALSE(open_entry(*held, name)) << name;
}

TEST(PosixDirectory, WorksThroughTheHeldDirectoryAfterItsNameMoves) {
  temp_dir dir;
  write_file(dir, "a", "abc", 1000);
  write_file(dir, "../other/a", "xyz", 1000);
  const directory_handle held = held_directory(dir);
  // The scanned name now leads to another directory.
  ASSERT_EQ(0, rename(dir.path.c_str(), (dir.root + "/moved").c_str()));
  ASSERT_EQ(0, symlink("other", dir.path.c_str()));

  claimed_handle file;
  ASSERT_EQ(claim_result::claimed,
            claim_entry(*held, "a", claim_purpose::deleting, &file));
  delete_claimed(file.get());
  EXPECT_EQ("xyz", read_file(dir.root + "/other/a"));
  EXPECT_FALSE(query_entry(*held, "a"));

  // A directory put in a file's place is never removed.
  ASSERT_EQ(0, mkdir((dir.root + "/moved/e").c_str(), 0700));
  ASSERT_EQ(claim_result::claimed,
            claim_entry(*held, "e", claim_purpose::deleting, &file));
  EXPECT_FALSE(state_of(*file));
  EXPECT_THROW(delete_claimed(file.get()), std::system_error);
}

TEST(PosixExclusion, RefusesAFileOpenForWritingAndLetsALaterWriterInAtOnce) {
  if (geteuid() != 0) GTEST_SKIP() << "a lease on a test file needs its owner";
  temp_dir dir;
  write_file(dir, "f", "hello", 1000);
  directory_handle held = held_directory(dir);
  const std::string path = full_name(dir, "f");

  {
    const int writer = open(path.c_str(), O_WRONLY);
    ASSERT_LE(0, writer);
    const open_file_handle file = open_entry(*held, "f");
    ASSERT_TRUE(file);
    EXPECT_EQ(exclusion_outcome::open_for_writing,
              exclude_writers(*file).outcome);
    close(writer);
  }

  // Taken here, or on a thread that has ended since: the kernel signals the
  // break to the thread that took the lease.
  for (const bool on_ended_thread : {false, true}) {
    SCOPED_TRACE(on_ended_thread);
    const open_file_handle file = open_entry(*held, "f");
    ASSERT_TRUE(file);
    exclusion_attempt attempt;
    if (on_ended_thread)
      std::thread([&] { attempt = exclude_writers(*file); }).join();
    else
      attempt = exclude_writers(*file);
    ASSERT_EQ(exclusion_outcome::held, attempt.outcome);
    EXPECT_TRUE(writers_still_excluded(*attempt.held));
    // A writer in another process waits only for the break to be noted, far
    // less than the kernel's lease-break time (45 s by default).
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) _exit(open(path.c_str(), O_WRONLY) >= 0 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_GT(std::chrono::seconds(10),
              std::chrono::steady_clock::now() - start);
    EXPECT_FALSE(writers_still_excluded(*attempt.held));
  }
}
