// Runs under faults: files that change at exact points of a run, read errors,
// missing rights, sizes beyond 32 bits, very large directories, the longest
// names and a directory reached through a link. Nothing may be lost in any.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include <boost/algorithm/string/replace.hpp>
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

// In the sanitizer build the shim may come before the sanitizer's runtime,
// and the leak check cannot run under strace; neither changes what is tested.
const char sanitizer_options[] =
    "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0";

// How the fault shim changes the scanned directory, on the `count`th `call`
// for the file `name`.
struct fault {
  std::string call;
  int count = 1;
  std::string name;
  std::string action = "move";
  std::string target;  // the file acted on; `name` when empty
};

// The program with the fault shim preloaded. A file the shim moves goes to
// "moved" beside the scanned directory; the directory itself, when swapped
// for a link to "other", to "moved.d".
run_options with_fault(const temp_dir& dir, const fault& injected,
                       const std::vector<std::string>& settings = {}) {
  run_options options;
  // A pipe opened for reading would block; the run must end without one.
  options.prefix = {"timeout",
                    "60",
                    "env",
                    sanitizer_options,
                    std::string("LD_PRELOAD=") + DUPSWEEP_FAULT_SHIM,
                    "DUPSWEEP_FAULT_CALL=" + injected.call,
                    "DUPSWEEP_FAULT_COUNT=" + std::to_string(injected.count),
                    "DUPSWEEP_FAULT_NAME=" + injected.name,
                    "DUPSWEEP_FAULT_DIR=" + dir.path,
                    "DUPSWEEP_FAULT_ACTION=" + injected.action,
                    "DUPSWEEP_FAULT_TARGET=" + injected.target,
                    "DUPSWEEP_FAULT_BYTES=HELLO",
                    "DUPSWEEP_FAULT_LINK_TO=other"};
  options.prefix.insert(options.prefix.end(), settings.begin(), settings.end());
  options.prefix.push_back("DUPSWEEP_FAULT_MOVE_TO=" + dir.root +
                           (injected.action == "swap" ? "/moved.d" : "/moved"));
  return options;
}

bool make_sparse(const std::string& path, std::uint64_t size,
                 std::int64_t write_time) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  const bool sized = ftruncate(fd, static_cast<off_t>(size)) == 0;
  close(fd);
  const timespec times[2] = {{write_time, 0}, {write_time, 0}};
  return sized && utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

// A small file system of `kind` mounted on `dir.path` for one test: "exfat"
// and "fat" through FUSE, as camera cards and USB sticks are read here,
// "ext4-128", ext4 with 128-byte inodes, which stamps whole seconds, and
// "tmpfs", where a store through a fresh shared mapping moves no time stamp,
// "bindfs", a folder beside it passed through FUSE with the page cache kept
// across opens (kernel_cache), as sshfs and bindfs set-ups often do. Empty
// `kind`: the test's own folder as it is. Mounting needs root.
struct mounted_medium {
  mounted_medium(const temp_dir& dir, const std::string& kind);
  ~mounted_medium();
  std::string skipped;  ///< Why it is not mounted; empty when it is.
  std::string mount_point;
  std::string loop;  ///< The loop device the exFAT driver needs.
  /// Where the files of a bindfs mount really are; empty for the others.
  std::string backing;
};

bool shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string shell_output(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) out += line;
    pclose(pipe);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

mounted_medium::mounted_medium(const temp_dir& dir, const std::string& kind) {
  if (kind.empty()) return;
  if (geteuid() != 0) {
    skipped = "mounting " + kind + " needs root";
    return;
  }
  const std::string image = dir.root + "/image";
  bool mounted = shell("truncate -s 16M " + image);
  if (kind == "tmpfs") {
    mounted = shell("mount -t tmpfs -o size=16m tmpfs " + dir.path);
  } else if (kind == "exfat") {
    loop = mounted && shell("mkfs.exfat " + image)
               ? shell_output("losetup -f --show " + image)
               : "";
    mounted =
        !loop.empty() && shell("mount.exfat-fuse " + loop + " " + dir.path);
  } else if (kind == "bindfs") {
    backing = dir.root + "/backing";
    mounted = shell("mkdir " + backing) &&
              shell("bindfs -o kernel_cache " + backing + " " + dir.path);
  } else if (kind == "fat") {
    mounted = mounted && shell("mkfs.vfat " + image) &&
              shell("fusefat -o rw+ " + image + " " + dir.path);
  } else {
    mounted = mounted && shell("mkfs.ext4 -q -I 128 " + image) &&
              shell("mount -o loop " + image + " " + dir.path) &&
              shell("rmdir " + dir.path + "/lost+found");
  }
  if (mounted)
    mount_point = dir.path;
  else
    skipped =
        "cannot mount " + kind + " here (FUSE, bindfs or loop devices missing)";
}

mounted_medium::~mounted_medium() {
  if (!mount_point.empty()) shell("umount " + mount_point);
  if (!loop.empty()) shell("losetup -d " + loop);
}

// Writes "hello" to `path`, its write time `write_time`.
void write_at(const std::string& path, std::int64_t write_time) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, file) << path;
  std::fputs("hello", file);
  std::fclose(file);
  const timespec times[2] = {{write_time, 0}, {write_time, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
}

// `out` with each reason for keeping a file that changed, or whose keeper
// `c` did, written "not a copy": which of them a change gives depends on
// the medium's stamps.
std::string with_reasons_as_not_a_copy(const temp_dir& dir, std::string out) {
  for (const std::string& reason :
       {std::string("it changed during the run"),
        full_name(dir, "c") + " changed during the run or is gone",
        "its contents differ from " + full_name(dir, "c")})
    for (std::size_t at;
         (at = out.find("(" + reason + ")")) != std::string::npos;)
      out.replace(at, reason.size() + 2, "(not a copy)");
  return out;
}

std::set<std::string> names_in(const temp_dir& dir) {
  const std::vector<std::string> names = sorted_file_names(dir);
  return std::set<std::string>(names.begin(), names.end());
}

// One file written by tests/watching_writer.cpp: its name in the scanned
// directory, when the write comes and how it is made.
struct watched_write {
  std::string name;
  std::string trigger;
  std::string how;
};

// What the watching writer reported of each of its files, in their order:
// reads and closes seen, whether it wrote (1), the file's names when its
// open for writing returned, and how many milliseconds that open took.
struct write_report {
  long reads = 0;
  long closes = 0;
  int written = 0;
  long links_at_open = -1;
  long open_milliseconds = -1;
};

// The program started by the watching writer, which writes `writes` and
// reports to `report`.
run_options with_watching_writer(const temp_dir& dir, const std::string& report,
                                 const std::vector<watched_write>& writes) {
  run_options options;
  options.prefix = {DUPSWEEP_WATCHING_WRITER, report};
  for (const watched_write& write : writes)
    options.prefix.insert(options.prefix.end(), {full_name(dir, write.name),
                                                 write.trigger, write.how});
  options.prefix.push_back("--");
  return options;
}

std::vector<write_report> read_write_reports(const std::string& report) {
  std::vector<write_report> reports;
  std::FILE* file = std::fopen(report.c_str(), "r");
  if (file == nullptr) return reports;
  write_report line;
  while (std::fscanf(file, "%ld %ld %d %ld %ld", &line.reads, &line.closes,
                     &line.written, &line.links_at_open,
                     &line.open_milliseconds) == 5)
    reports.push_back(line);
  std::fclose(file);
  return reports;
}

}  // namespace

TEST(FaultRun, DeletesOnlyWhatIsStillAProvenCopy) {
  // Three copies, `c` the newest and so the keeper of `a` and `b`. Each case
  // changes one file at one point: after the listing (its first fstatat),
  // at its opening for the digest (openat), right before it is read again
  // to prove a copy (the second openat of `a`, or of the keeper `c`) and
  // inside the deletion (between the last checks and the unlinkat).
  struct fault_case {
    fault injected;
    std::vector<std::string> digests;  // endings for a, b, c
    std::vector<std::string> erasing;  // endings for a, b: "" is erased
    std::set<std::string> left;
    std::string moved;  // what the moved file holds
  };
  const std::string ok = done_with(hello_digest);
  const std::string changed = "it changed during the run";
  const std::string keeper_gone = "{c} changed during the run or is gone";
  const fault_case cases[] = {
      {{"fstatat", 1, "c", "move", ""},
       {ok, ok, "-"},
       {"", "-"},
       {"b"},
       "hello"},
      {{"fstatat", 1, "c", "pipe", ""},
       {ok, ok, "-"},
       {"", "-"},
       {"b", "c"},
       "hello"},
      {{"openat", 1, "c", "move", ""},
       {ok, ok, "!"},
       {"", "-"},
       {"b"},
       "hello"},
      {{"openat", 1, "c", "pipe", ""},
       {ok, ok, "!"},
       {"", "-"},
       {"b", "c"},
       "hello"},
      {{"openat", 2, "a", "move", ""},
       {ok, ok, ok},
       {changed, ""},
       {"c"},
       "hello"},
      {{"unlinkat", 1, "a", "move", ""},
       {ok, ok, ok},
       {"", ""},
       {"c"},
       "hello"},
      {{"openat", 2, "a", "rewrite", ""},
       {ok, ok, ok},
       {changed, ""},
       {"a", "c"},
       ""},
      {{"openat", 2, "a", "directory", ""},
       {ok, ok, ok},
       {changed, ""},
       {"a", "c"},
       "hello"},
      {{"openat", 2, "c", "move", ""},
       {ok, ok, ok},
       {keeper_gone, keeper_gone},
       {"a", "b"},
       "hello"},
      {{"openat", 2, "c", "rewrite", ""},
       {ok, ok, ok},
       {keeper_gone, keeper_gone},
       {"a", "b", "c"},
       ""},
  };
  for (const fault_case& test : cases) {
    const fault& injected = test.injected;
    SCOPED_TRACE(injected.call + " " + std::to_string(injected.count) + " " +
                 injected.name + " " + injected.action + " " + injected.target);
    temp_dir dir;
    write_file(dir, "a", "hello", 1000);
    write_file(dir, "b", "hello", 2000);
    write_file(dir, "c", "hello", 3000);
    std::string expected = "Calculating sha1 ...\n";
    for (const std::string& name : in_listing_order(dir, {"a", "b", "c"})) {
      const std::string& ending = test.digests[name[0] - 'a'];
      if (ending == "!")
        expected +=
            digest_line(dir, name, "Error opening : " + full_name(dir, name));
      else if (ending != "-")
        expected += digest_line(dir, name, ending);
    }
    for (const std::string& name : in_listing_order(dir, {"a", "b"})) {
      std::string ending = test.erasing[name[0] - 'a'];
      if (ending == "-") continue;
      if (ending.empty()) {
        expected += erasing(dir, name);
        continue;
      }
      if (ending.find("{c}") == 0) ending.replace(0, 3, full_name(dir, "c"));
      expected += kept(dir, name, ending);
    }

    const run_result run = run_program({dir.path}, with_fault(dir, injected));

    EXPECT_EQ(working_in(dir, expected), run.out);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(test.left, names_in(dir));
    if (!test.moved.empty()) {
      EXPECT_EQ(test.moved, read_file(dir.root + "/moved"));
    }
    const std::string rewritten = full_name(
        dir, injected.target.empty() ? injected.name : injected.target);
    if (injected.action == "rewrite") {
      EXPECT_EQ("HELLO", read_file(rewritten));
    }
  }
}

TEST(FaultRun, DeletesNothingOutsideADirectorySwappedForALink) {
  // Mid-run the scanned directory moves away and a link to another directory
  // with files of the same names takes its place: the deletions stay in the
  // directory that was scanned, wherever it now is.
  temp_dir dir;
  for (const char* name : {"a", "b", "c"}) {
    write_file(dir, name, "hello", 1000 * (name[0] - 'a' + 1));
    write_file(dir, std::string("../other/") + name, "hello", 1000);
  }
  std::string expected = "Calculating sha1 ...\n";
  for (const std::string& name : in_listing_order(dir, {"a", "b", "c"}))
    expected += digest_line(dir, name, done_with(hello_digest));
  for (const std::string& name : in_listing_order(dir, {"a", "b"}))
    expected += erasing(dir, name);

  const run_result run =
      run_program({dir.path}, with_fault(dir, {"openat", 2, "a", "swap", ""}));

  EXPECT_EQ(working_in(dir, expected), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}),
            sorted_file_names(dir));  // through the link: the other directory
  struct stat st;
  EXPECT_NE(0, lstat((dir.root + "/moved.d/a").c_str(), &st));
  EXPECT_NE(0, lstat((dir.root + "/moved.d/b").c_str(), &st));
  EXPECT_EQ("hello", read_file(dir.root + "/moved.d/c"));
}

TEST(FaultRun, KeepsAFileWhoseReadFailsMidway) {
  // strace makes the second read of the newest copy fail, after its first
  // read: a digest of that part must not make it a duplicate, and it must not
  // be erased. A real failing disk would be harder to arrange. strace can
  // fail only plain read calls, so io_uring is refused here; the reader's
  // own tests fail reads through io_uring.
  temp_dir dir;
  // Its log goes beside the scanned directory: strace creates whatever path
  // it is given.
  run_options traced;
  traced.prefix = {DUPSWEEP_NO_RING,
                   "env",
                   sanitizer_options,
                   "strace",
                   "-f",
                   "-qq",
                   "-o",
                   dir.root + "/strace.log"};
  if (run_program({"--nosha1", dir.path}, traced).exit_code != 0)
    GTEST_SKIP() << "strace cannot trace here";
  const std::string contents(4194304 + 5, 'x');
  write_file(dir, "a", contents, 1000);
  write_file(dir, "b", contents, 2000);
  write_file(dir, "c", contents, 3000);
  run_options injected = traced;
  injected.prefix.insert(
      injected.prefix.end(),
      {"-P", full_name(dir, "c"), "-e", "inject=read:error=EIO:when=2"});
  std::string expected = "Calculating sha1 ...\n";
  for (const std::string& name : in_listing_order(dir, {"a", "b", "c"}))
    expected += digest_line(
        dir, name,
        name == "c" ? "Error reading : " + full_name(dir, name)
                    : " ( 85d31feca035a122f52421df8ad08afbdb109f36 ) done.");
  expected += erasing(dir, "a");

  const run_result run = run_program({dir.path}, injected);

  EXPECT_EQ(working_in(dir, expected), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::set<std::string>{"b", "c"}), names_in(dir));
  EXPECT_EQ(contents, read_file(full_name(dir, "c")));
}

TEST(FaultRun, ChecksTheMarkedFileLastBeforeItsDeletion) {
  // `a` is rewritten while its keeper is checked for the last time, after
  // the "Erasing : " line: only a check of `a` after the keeper's sees it.
  // On FUSE, where no exclusion keeps the writer waiting until the deletion
  // is done, as it would wait here, in the program's own thread, for the
  // kernel's lease-break time.
  temp_dir dir;
  const mounted_medium mounted(dir, "bindfs");
  if (!mounted.skipped.empty()) GTEST_SKIP() << mounted.skipped;
  write_file(dir, "a", "hello", 1000);
  write_file(dir, "c", "hello", 3000);
  std::string expected = "Calculating sha1 ...\n";
  for (const std::string& name : in_listing_order(dir, {"a", "c"}))
    expected += digest_line(dir, name, done_with(hello_digest));
  expected += kept(dir, "a", "it changed during the run");

  const run_result run = run_program(
      {dir.path}, with_fault(dir, {"statx", 1, "c", "rewrite", "a"}));

  EXPECT_EQ(working_in(dir, expected), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::set<std::string>{"a", "c"}), names_in(dir));
  EXPECT_EQ("HELLO", read_file(full_name(dir, "a")));
}

TEST(FaultRun, KeepsFilesChangedWhileTheirStampsStayAsTheyWere) {
  // A same-size rewrite after the digests that leaves every time stamp as
  // it was: set back on purpose, stamped in whole seconds or 2-second steps
  // (FAT, exFAT, small ext4), or written through a shared mapping that was
  // dirty before the run. It comes right before the file is read again, or
  // while the "Erasing : " line of `a` (or, for the keeper `c`, the first
  // such line) is written: a line can take any time to be written. Whether the
  // stamps show it depends on the medium; either way the changed file,
  // marked or kept, must stay.
  struct medium_case {
    std::string medium;
    fault injected;
  };
  const medium_case cases[] = {
      {"", {"openat", 2, "a", "mapped-write", ""}},
      {"", {"openat", 2, "c", "mapped-write", ""}},
      {"", {"announce", 1, "a", "mapped-write", ""}},
      {"", {"announce", 1, "", "mapped-write", "c"}},
      {"bindfs", {"announce", 1, "a", "mapped-write", ""}},
      {"bindfs", {"announce", 1, "", "mapped-write", "c"}},
      {"fat", {"announce", 1, "a", "rewrite-in-place", ""}},
      {"fat", {"announce", 1, "", "rewrite-in-place", "c"}},
      {"exfat", {"openat", 2, "a", "rewrite-in-place", ""}},
      {"exfat", {"openat", 2, "c", "rewrite-in-place", ""}},
      {"fat", {"openat", 2, "a", "rewrite-in-place", ""}},
      {"fat", {"openat", 2, "c", "rewrite-in-place", ""}},
      {"ext4-128", {"openat", 2, "a", "rewrite-in-place", ""}},
      {"ext4-128", {"openat", 2, "c", "rewrite-in-place", ""}},
  };
  for (const medium_case& test : cases) {
    SCOPED_TRACE(test.medium + " " + test.injected.call + " " +
                 test.injected.name + " " + test.injected.action + " " +
                 test.injected.target);
    temp_dir dir;
    const mounted_medium medium(dir, test.medium);
    if (!medium.skipped.empty()) {
      std::printf("Skipped %s: %s\n", test.medium.c_str(),
                  medium.skipped.c_str());
      continue;
    }
    // Times a FAT directory entry can hold: after 1980, in even seconds.
    const std::int64_t base = 1600000000;
    // On bindfs, as where another machine wrote them: beneath the mount.
    for (const char* name : {"a", "b", "c"})
      write_at(medium.backing.empty() ? full_name(dir, name)
                                      : medium.backing + "/" + name,
               base + 10 * (name[0] - 'a'));
    const std::string changed = test.injected.target.empty()
                                    ? test.injected.name
                                    : test.injected.target;
    std::string expected = "Calculating sha1 ...\n";
    for (const std::string& name : in_listing_order(dir, {"a", "b", "c"}))
      expected += digest_line(dir, name, done_with(hello_digest));
    for (const std::string& name : in_listing_order(dir, {"a", "b"}))
      expected += name == "b" && changed == "a" ? erasing(dir, name)
                                                : kept(dir, name, "not a copy");

    // On bindfs the change is made to the files underneath, which the
    // pages cached of the mount do not show.
    const run_result run = run_program(
        {dir.path},
        with_fault(dir, test.injected,
                   medium.backing.empty()
                       ? std::vector<std::string>{}
                       : std::vector<std::string>{"DUPSWEEP_FAULT_DIR=" +
                                                  medium.backing}));

    EXPECT_EQ(working_in(dir, expected),
              with_reasons_as_not_a_copy(dir, run.out));
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ((changed == "a" ? std::set<std::string>{"a", "c"}
                              : std::set<std::string>{"a", "b", "c"}),
              names_in(dir));
    EXPECT_EQ("HELLO", read_file(medium.backing.empty()
                                     ? full_name(dir, changed)
                                     : medium.backing + "/" + changed));
  }
}

TEST(FaultRun, KeepsWritersOutFromTheComparisonToTheDeletion) {
  // A writer that has a file open all along, or mapped shared and writable
  // with its descriptor closed, keeps it from being deleted (or kept in
  // place of a copy). One that opens a file during its deletion, as
  // a watcher of the directory may the instant the proof's last read ends,
  // waits for the deletion to end, and not long: a file is never deleted
  // while bytes of it exist that were not compared. Stamps need not show
  // the write (a store through a mapping dirtied earlier moves none).
  struct writer_case {
    std::string writer;   // held open for writing from the start
    std::string target;   // opened for writing at the unlinkat of `a`
    bool mapped = false;  // the writer holds a mapping, not a descriptor
  };
  const writer_case cases[] = {{"a", "", false}, {"c", "", false},
                               {"a", "", true},  {"c", "", true},
                               {"", "a", false}, {"", "c", false}};
  for (const std::string medium : {"", "tmpfs"}) {
    for (const writer_case& test : cases) {
      SCOPED_TRACE(medium + " writer " + test.writer +
                   (test.mapped ? " mapped" : "") + " at unlinkat of a " +
                   test.target);
      temp_dir dir;
      const mounted_medium mounted(dir, medium);
      if (!mounted.skipped.empty()) {
        std::printf("Skipped %s: %s\n", medium.c_str(),
                    mounted.skipped.c_str());
        break;
      }
      write_file(dir, "a", "hello", 1000);
      write_file(dir, "b", "hello", 2000);
      write_file(dir, "c", "hello", 3000);
      const std::string report = dir.root + "/report";
      const std::vector<std::string> order = in_listing_order(dir, {"a", "b"});
      std::string expected = digest_lines(
          dir, {{"a", hello_digest}, {"b", hello_digest}, {"c", hello_digest}});
      std::set<std::string> left = {"c"};
      bool keeper_written = false;
      for (const std::string& name : order) {
        if (test.writer == "a" && name == "a") {
          expected += kept(dir, name, "it is open for writing");
          left.insert(name);
        } else if (test.writer == "c") {
          expected +=
              kept(dir, name, full_name(dir, "c") + " is open for writing");
          left.insert(name);
        } else if (keeper_written) {
          expected += kept(dir, name, "not a copy");
          left.insert(name);
        } else {
          expected += erasing(dir, name);
        }
        if (name == "a" && test.target == "c") keeper_written = true;
      }

      std::vector<std::string> settings = {
          "DUPSWEEP_FAULT_WRITER=" + test.writer,
          "DUPSWEEP_FAULT_REPORT=" + report};
      if (test.mapped) settings.push_back("DUPSWEEP_FAULT_WRITER_MAPS=1");

      const run_result run = run_program(
          {dir.path},
          with_fault(dir, {"unlinkat", 1, "a", "writer", test.target},
                     settings));

      EXPECT_EQ(working_in(dir, expected),
                with_reasons_as_not_a_copy(dir, run.out));
      EXPECT_EQ(0, run.exit_code);
      EXPECT_EQ(left, names_in(dir));
      if (test.target.empty()) continue;
      std::string written;
      for (int tries = 0; tries < 500 && written.empty(); ++tries) {
        written = shell_output("cat " + report + " 2>/dev/null");
        if (written.empty()) usleep(10000);
      }
      long names = -1, waited = -1;
      ASSERT_EQ(2, std::sscanf(written.c_str(), "%ld %ld", &names, &waited))
          << written;
      // The writer's open returned only once `a` was gone, and soon.
      EXPECT_EQ(test.target == "a" ? 0 : 1, names);
      EXPECT_GT(10000, waited);
      if (test.target == "c") {
        EXPECT_EQ("HELLO", read_file(full_name(dir, "c")));
      }
    }
  }
}

TEST(FaultRun, ProvesLargeCopiesByOneReadingWhileWritersAreKeptOut) {
  // Files large enough to be read with writers kept out are proved copies
  // by the pass's reading alone: none is read again (no pread). A writer
  // that opens one after the pass breaks that proof, and the file is kept. With
  // too few descriptors to keep every copy open, the rest are read again, and
  // every copy is still deleted. On FUSE (bindfs) no lease keeps out the
  // daemon's writers, nor those beneath it: every copy is read again after
  // its "Erasing : " line (the pass reads by pread there too).
  const std::string large(300000, 'L');
  for (const std::string medium : {"", "tmpfs", "bindfs"}) {
    SCOPED_TRACE(medium);
    for (const bool written : {false, true}) {
      temp_dir dir;
      const mounted_medium mounted(dir, medium);
      if (!mounted.skipped.empty()) break;
      write_file(dir, "a", large, 1000);
      write_file(dir, "b", large, 2000);
      write_file(dir, "c", large, 3000);
      const std::string tally = dir.root + "/tally";
      const fault injected = written ? fault{"announce", 1, "a", "writer", ""}
                                     : fault{"none", 1, "", "move", ""};

      const run_result run = run_program(
          {dir.path},
          with_fault(dir, injected,
                     {"DUPSWEEP_FAULT_TALLY=" + tally,
                      "DUPSWEEP_FAULT_REPORT=" + dir.root + "/report"}));

      long statx_calls = 0, pread_calls = -1, later_pread_calls = -1;
      ASSERT_EQ(3, std::sscanf(read_file(tally).c_str(), "%ld %ld %ld",
                               &statx_calls, &pread_calls, &later_pread_calls));
      EXPECT_EQ(0, run.exit_code);
      EXPECT_EQ(std::size_t{2}, lines_starting(run.out, "Erasing : "));
      if (!written) {
        if (medium == "bindfs") {
          EXPECT_LT(0, later_pread_calls);
        } else {
          EXPECT_EQ(0, pread_calls);
        }
        EXPECT_EQ(std::set<std::string>{"c"}, names_in(dir));
        continue;
      }
      EXPECT_EQ(std::size_t{1}, lines_starting(run.out, "Kept : "));
      EXPECT_EQ((std::set<std::string>{"a", "c"}), names_in(dir));
      EXPECT_EQ("HELLO", read_file(full_name(dir, "a")).substr(0, 5));
    }
  }

  temp_dir dir;
  constexpr int copies = 60;
  for (int i = 0; i < copies; ++i)
    write_file(dir, "f" + std::to_string(i), large, 1000 + i);
  const std::string tally = dir.root + "/tally";
  run_options limited = with_fault(dir, {"none", 1, "", "move", ""},
                                   {"DUPSWEEP_FAULT_TALLY=" + tally});
  limited.prefix.insert(limited.prefix.begin(),
                        {"sh", "-c", "ulimit -n 600 && exec \"$@\"", "sh"});

  const run_result run = run_program({dir.path}, limited);

  long statx_calls = 0, pread_calls = 0;
  ASSERT_EQ(2, std::sscanf(read_file(tally).c_str(), "%ld %ld", &statx_calls,
                           &pread_calls));
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(std::size_t{copies - 1}, lines_starting(run.out, "Erasing : "));
  EXPECT_EQ(std::set<std::string>{"f" + std::to_string(copies - 1)},
            names_in(dir));
  EXPECT_LT(0, pread_calls);
}

TEST(FaultRun, KeepsEveryFileWrittenTheMomentItsReadingEnds) {
  // Another program watches the marked files and writes one the instant
  // inotify shows the program's last read of it (for a small copy the
  // reading again before its deletion, for a large one the pass's, which
  // proves it), or, for a large copy, which nothing reads after that, the
  // instant its "Erasing : " line comes: through a fresh shared mapping or
  // by pwrite. A file whose open for writing returned while it still had
  // its name must stay, with the byte written: a file open for writing is
  // never deleted. A writer whose open returned only once the file was gone
  // wrote into a file no longer there, and lost nothing; it waited for the
  // deletion, and not long. Runs left alone count the pass's reads of a
  // large file first; their number varies a little (inotify may report two
  // reads as one), so the fewest seen is taken, and a run that reads fewer
  // leaves the file unwritten.
  constexpr int smalls = 6, larges = 4, runs = 30;
  std::vector<std::string> names, bytes;
  for (int i = 0; i < smalls + larges; ++i) {
    names.push_back((i < smalls ? "s" : "l") + std::to_string(i));
    // Small copies of a few bytes and of 200,000, which take a while to
    // read again and compare.
    const std::size_t size = i >= smalls ? 300000 : i % 2 == 1 ? 200000 : 6;
    bytes.push_back(std::to_string(i) + std::string(size - 1, 'c'));
  }
  for (const std::string medium : {"", "tmpfs", "ext4-128"}) {
    SCOPED_TRACE(medium);
    temp_dir dir;
    const mounted_medium mounted(dir, medium);
    if (!mounted.skipped.empty()) {
      std::printf("Skipped %s: %s\n", medium.c_str(), mounted.skipped.c_str());
      continue;
    }
    const std::string report = dir.root + "/report";
    const auto lay_out = [&] {
      for (const std::string& name : sorted_file_names(dir))
        ASSERT_EQ(0, unlink(full_name(dir, name).c_str()));
      // Stamped now: in whole seconds (ext4-128) a write in the same second
      // shows in no stamp. The copy kept is the one whose name sorts last.
      const std::int64_t now = std::time(nullptr);
      for (std::size_t i = 0; i < names.size(); ++i) {
        write_file(dir, names[i] + ".a", bytes[i], now);
        write_file(dir, names[i] + ".b", bytes[i], now);
      }
    };
    std::vector<watched_write> counted;
    for (const std::string& name : names)
      counted.push_back({name + ".a", "0", "map"});
    std::vector<long> reads(names.size(), 0);
    for (int counting = 0; counting < 3; ++counting) {
      lay_out();
      ASSERT_EQ(
          0, run_program({dir.path}, with_watching_writer(dir, report, counted))
                 .exit_code);
      const std::vector<write_report> counts = read_write_reports(report);
      ASSERT_EQ(names.size(), counts.size());
      for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_LT(0, counts[i].reads);
        if (reads[i] == 0 || counts[i].reads < reads[i])
          reads[i] = counts[i].reads;
      }
    }

    int tries = 0, written = 0, before_deletion = 0, lost = 0;
    for (int round = 0; round < runs; ++round) {
      std::vector<watched_write> writes;
      for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t turn = i + round;
        const std::string trigger = i < smalls ? "reread"
                                    : turn / 2 % 2 == 0
                                        ? std::to_string(reads[i])
                                        : "erasing";
        writes.push_back(
            {names[i] + ".a", trigger, turn % 2 == 0 ? "map" : "pwrite"});
      }
      lay_out();

      const run_result run =
          run_program({dir.path}, with_watching_writer(dir, report, writes));

      EXPECT_EQ("", run.err);
      EXPECT_EQ(0, run.exit_code);
      const std::vector<write_report> wrote = read_write_reports(report);
      ASSERT_EQ(names.size(), wrote.size());
      for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(bytes[i], read_file(full_name(dir, names[i] + ".b")));
        ++tries;
        if (wrote[i].written != 1) continue;
        ++written;
        // A writer waits for a deletion under way, not for the system's
        // lease-break time.
        EXPECT_GT(10000, wrote[i].open_milliseconds);
        if (wrote[i].links_at_open == 0) continue;
        ++before_deletion;
        const std::string name = full_name(dir, names[i] + ".a");
        struct stat st;
        std::string now = lstat(name.c_str(), &st) == 0 ? read_file(name) : "";
        const std::size_t at = writes[i].how == "map" ? 0 : bytes[i].size() - 1;
        if (now.size() != bytes[i].size() || now[at] != 'X') {
          ++lost;
          ADD_FAILURE() << name << " lost, written by " << writes[i].how
                        << " at " << writes[i].trigger;
        }
      }
    }
    std::printf(
        "%s: %d tries, %d written, %d of them before the deletion, "
        "%d files lost\n",
        medium.empty() ? "test folder" : medium.c_str(), tries, written,
        before_deletion, lost);
    EXPECT_EQ(0, lost);
    EXPECT_LT(tries / 2, written);
    EXPECT_LT(0, before_deletion);
  }
}

TEST(FaultRun, ComparesCopiesAsTheyAreReadInASizeGroupOfManyBatches) {
  // 20 pairs of one size, more files than one batch holds: each copy must
  // share a batch with its keeper to be proved by the one reading.
  temp_dir dir;
  constexpr int pairs = 20;
  for (int i = 0; i < pairs; ++i) {
    const std::string bytes =
        std::to_string(100 + i) + std::string(299997, 'P');
    write_file(dir, "old" + std::to_string(i), bytes, 1000);
    write_file(dir, "new" + std::to_string(i), bytes, 2000);
  }
  const std::string tally = dir.root + "/tally";

  const run_result run =
      run_program({dir.path}, with_fault(dir, {"none", 1, "", "move", ""},
                                         {"DUPSWEEP_FAULT_TALLY=" + tally}));

  long statx_calls = 0, pread_calls = -1;
  ASSERT_EQ(2, std::sscanf(read_file(tally).c_str(), "%ld %ld", &statx_calls,
                           &pread_calls));
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(std::size_t{pairs}, lines_starting(run.out, "Erasing : "));
  EXPECT_EQ(std::size_t{pairs}, names_in(dir).size());
  // Each file's first page is read once to order the group, and no more.
  EXPECT_GE(2 * pairs, pread_calls);
}

TEST(FaultRun, KeepsFilesWhoseReadsEndEarly) {
  // The pass's reads of both end, without an error, after the 8 KiB the files
  // share: that is where their bytes end as read then, before the sizes they
  // report, so both show the digest of those 8 KiB. The reading again before
  // a deletion, which the shim leaves whole, finds them different: both stay.
  temp_dir dir;
  const std::string shared(8192, 's');
  write_file(dir, "a", shared + std::string(8192, 'a'), 1000);
  write_file(dir, "c", shared + std::string(8192, 'c'), 3000);
  run_options options =
      with_fault(dir, {"none", 1, "", "move", ""},
                 {"DUPSWEEP_FAULT_SHORT=a,c", "DUPSWEEP_FAULT_SHORT_AT=8192"});
  options.prefix.insert(options.prefix.begin(), DUPSWEEP_NO_RING);
  const std::string shared_digest = "1da101264c05319d91624f1b5235f9d7cbe113d5";
  const std::string expected =
      digest_lines(dir, {{"a", shared_digest}, {"c", shared_digest}}) +
      kept(dir, "a", "its contents differ from " + full_name(dir, "c"));

  const run_result run = run_program({dir.path}, options);

  EXPECT_EQ(working_in(dir, expected), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::set<std::string>{"a", "c"}), names_in(dir));
}

TEST(FaultRun, ReadsIntoWholePages) {
  // Every read of a file, in the pass and again before a deletion, lands on
  // a page boundary, or the shim fails it: a copy into a destination a few
  // bytes off one costs the kernel several times as much, which shows in no
  // output. Sizes: a slice of its own, several slices, and many files side
  // by side sharing the buffer.
  temp_dir dir;
  const std::string large(3 * 1048576 + 5, 'x');
  write_file(dir, "large.old", large, 1000);
  write_file(dir, "large.new", large, 2000);
  for (int i = 0; i < 40; ++i)
    write_file(dir, "s" + std::to_string(i), std::to_string(i % 20 + 10),
               1000 + i);

  const run_result run = run_program(
      {dir.path},
      with_fault(dir, {"none", 1, "", "move", ""}, {"DUPSWEEP_FAULT_PAGES=1"}));

  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(std::string::npos, run.out.find("Error"));
  EXPECT_EQ(std::size_t{21}, lines_starting(run.out, "Erasing : "));
  EXPECT_EQ(std::size_t{21}, names_in(dir).size());
}

TEST(FaultRun, EndsWhenTheRingOrTheListingFails) {
  // The ring fails its second submission, the first read of the contents,
  // with the reads taken: the run waits for them, then ends on its failure
  // path. A listing that fails midway ends the run before any file is read.
  // On a terminal the first file's line has begun by then: a long read
  // shows which file it is before it ends.
  for (const char* call : {"io_uring_submit_and_wait", "readdir"}) {
    SCOPED_TRACE(call);
    temp_dir dir;
    for (int i = 0; i < 20; ++i)
      write_file(dir, "f" + std::to_string(i), std::string(65536, 'x'),
                 1000 + i);

    const run_result run =
        run_program({dir.path}, with_fault(dir, {call, 2, "", "fail", ""}));

    if (run.exit_code == 0 && std::string(call) != "readdir") {
      std::printf("Skipped %s: the program has no io_uring here\n", call);
      continue;
    }
    const std::string read_started =
        std::string(call) == "readdir" ? "" : "Calculating sha1 ...\n";
    EXPECT_EQ(working_in(dir, read_started), run.out);
    EXPECT_EQ(termination_notice, run.err);
    EXPECT_EQ(3, run.exit_code);
    EXPECT_EQ(std::size_t{20}, names_in(dir).size());
    if (read_started.empty()) continue;

    run_options terminal = with_fault(dir, {call, 2, "", "fail", ""});
    // script runs the program on a pseudo-terminal, where standard error
    // goes too, and copies what it shows, each line feed as CR LF.
    terminal.prefix.insert(
        terminal.prefix.begin(),
        {"bash", "-c", "exec script -qec \"${*@Q}\" /dev/null", "bash"});
    const std::string first = in_listing_order(dir, sorted_file_names(dir))[0];
    std::string expected = working_in(
        dir, read_started + "Calculating sha1 for " + full_name(dir, first) +
                 " ..." + termination_notice);
    boost::replace_all(expected, "\n", "\r\n");

    const run_result shown = run_program({dir.path}, terminal);

    EXPECT_EQ(expected, shown.out);
    EXPECT_EQ(3, shown.exit_code);
  }
}

TEST(FaultRun, StaysWithinTheDescriptorLimit) {
  // 300 copies read side by side with 64 descriptors allowed: the program
  // must share out what it has, not fail to open readable files. With three
  // more than it inherits it cannot read a file beside its rings: running
  // out is a failure of the run, never a file that "cannot be opened".
  for (const char* limit : {"64", "$(($(ls /proc/$$/fd | wc -l) + 3))"}) {
    SCOPED_TRACE(limit);
    temp_dir dir;
    for (int i = 0; i < 300; ++i)
      write_file(dir, "f" + std::to_string(i), "same", 1000 + i);
    run_options limited;
    limited.prefix = {"sh", "-c",
                      std::string("ulimit -n ") + limit + " && exec \"$@\"",
                      "sh"};

    const run_result run = run_program({dir.path}, limited);

    EXPECT_EQ(std::size_t{0}, lines_starting(run.out, "Error opening"));
    if (run.exit_code == 0) {
      EXPECT_EQ(std::size_t{299}, lines_starting(run.out, "Erasing : "));
      EXPECT_EQ((std::set<std::string>{"f299"}), names_in(dir));
    } else {
      EXPECT_NE("64", std::string(limit));
      EXPECT_EQ(3, run.exit_code);
      EXPECT_EQ(termination_notice, run.err);
    }
  }
}

TEST(UnprivilegedRun, KeepsEverythingWhereItMayNotListOrDelete) {
  temp_dir dir;
  write_file(dir, "old", "abc", 1000);
  write_file(dir, "new", "xyz", 2000);
  ASSERT_EQ(0, chmod(dir.root.c_str(), 0755));
  ASSERT_EQ(0, chmod(dir.path.c_str(), 0555));  // listable, not writable

  run_result run = run_program({"--nosha1", dir.path}, as_unprivileged_user());

  EXPECT_EQ(working_in(dir, erasing(dir, "old")), run.out);
  EXPECT_EQ(termination_notice, run.err);
  EXPECT_EQ(3, run.exit_code);
  EXPECT_EQ((std::set<std::string>{"new", "old"}), names_in(dir));

  // A directory that cannot be listed is no empty directory: the run fails.
  for (const mode_t mode : {0311, 0000}) {
    ASSERT_EQ(0, chmod(dir.path.c_str(), mode));
    run = run_program({"--nosha1", dir.path}, as_unprivileged_user());

    EXPECT_EQ(working_in(dir, ""), run.out) << mode;
    EXPECT_EQ(termination_notice, run.err);
    EXPECT_EQ(3, run.exit_code);
  }
  ASSERT_EQ(0, chmod(dir.path.c_str(), 0755));
  EXPECT_EQ((std::set<std::string>{"new", "old"}), names_in(dir));
}

TEST(UnprivilegedRun, ProvesByASecondReadingWhereNoLeaseCanBeHad) {
  // Only a file's owner (or a holder of CAP_LEASE) may lease it: another
  // user's copies are read again before their deletion.
  if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
  temp_dir dir;
  const std::string large(300000, 'U');
  write_file(dir, "old", large, 1000);
  write_file(dir, "new", large, 2000);
  const std::string counts = dir.root + "/counts";
  ASSERT_EQ(0, chmod(dir.root.c_str(), 0755));
  ASSERT_EQ(0, mkdir(counts.c_str(), 0777));
  ASSERT_EQ(0, chmod(counts.c_str(), 0777));
  ASSERT_EQ(0, chown(dir.path.c_str(), 65534, 65534));
  run_options options = with_fault(dir, {"none", 1, "", "move", ""},
                                   {"DUPSWEEP_FAULT_TALLY=" + counts + "/t"});
  const run_options user = as_unprivileged_user();
  options.prefix.insert(options.prefix.begin(), user.prefix.begin(),
                        user.prefix.end());

  const run_result run = run_program({dir.path}, options);

  long statx_calls = 0, pread_calls = 0;
  ASSERT_EQ(2, std::sscanf(read_file(counts + "/t").c_str(), "%ld %ld",
                           &statx_calls, &pread_calls));
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(std::set<std::string>{"new"}, names_in(dir));
  EXPECT_LT(0, pread_calls);
}

TEST(UnprivilegedRun, KeepsACopyWhoseKeeperIsAnotherUsers) {
  // In a shared directory another user can put a newer copy of one's file
  // there, and delete it once the run has deleted the original.
  if (geteuid() != 0)
    GTEST_SKIP() << "giving a file to another user needs root";
  temp_dir dir;
  ASSERT_EQ(0, chmod(dir.path.c_str(), 01777));
  write_file(dir, "mine", "hello", 1000);
  write_file(dir, "theirs", "hello", 2000);
  ASSERT_EQ(0, chown(full_name(dir, "theirs").c_str(), 65534, 65534));
  const std::string kept_mine =
      kept(dir, "mine", full_name(dir, "theirs") + " belongs to another user");

  run_result run = run_program({dir.path});

  EXPECT_EQ(working_in(dir, digest_lines(dir, {{"mine", hello_digest},
                                               {"theirs", hello_digest}}) +
                                kept_mine),
            run.out);
  EXPECT_EQ(0, run.exit_code);

  run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, kept_mine), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::set<std::string>{"mine", "theirs"}), names_in(dir));
}

TEST(LargeFileRun, ComparesSizesBeyondFourGibibytesByAllBits) {
  // Sparse, so nothing is written; only the size-only runs meet the big
  // partners, since hashing 4 GiB twice would cost seconds.
  temp_dir dir;
  const std::uint64_t big = (std::uint64_t{1} << 32) + 5;
  if (!make_sparse(full_name(dir, "big.old"), big, 1000))
    GTEST_SKIP() << "no sparse files here";
  write_file(dir, "small", "hello", 2000);  // equal in the low 32 bits

  for (const char* mode : {"", "--nosha1"}) {
    std::vector<std::string> arguments = {dir.path};
    if (*mode != '\0') arguments.insert(arguments.begin(), mode);
    const run_result run = run_program(arguments);
    EXPECT_EQ(
        working_in(dir, std::string(*mode ? "" : "Calculating sha1 ...\n") +
                            "Nothing to erase (no duplicate found).\n"),
        run.out);
  }
  ASSERT_TRUE(make_sparse(full_name(dir, "big.new"), big, 3000));
  const run_result run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, erasing(dir, "big.old")), run.out);
  EXPECT_EQ((std::set<std::string>{"big.new", "small"}), names_in(dir));
}

TEST(LargeDirectoryRun, HandlesMoreEntriesThanOneQueryOrReadBatch) {
  // 100 sizes with two contents each, 25 copies of every pair: more entries
  // than are queried together (4,096), and size groups, of 50 files, that
  // share read batches of up to 256 files.
  temp_dir dir;
  constexpr int count = 5000;
  for (int i = 0; i < count; ++i)
    write_file(dir, "f" + std::to_string(i),
               std::string(1 + i % 100, i / 100 % 2 == 0 ? 'a' : 'b'), 1000);

  run_result run = run_program({dir.path});

  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(std::size_t{count},
            lines_starting(run.out, "Calculating sha1 for "));
  EXPECT_EQ(std::size_t{count - 200}, lines_starting(run.out, "Erasing : "));
  std::set<std::string> contents;
  for (const std::string& name : sorted_file_names(dir))
    contents.insert(read_file(full_name(dir, name)));
  EXPECT_EQ(std::size_t{200}, sorted_file_names(dir).size());
  EXPECT_EQ(std::size_t{200}, contents.size());

  run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(std::size_t{100}, lines_starting(run.out, "Erasing : "));
  EXPECT_EQ(std::size_t{100}, sorted_file_names(dir).size());
}

TEST(LargeDirectoryRun, AsksAFixedNumberOfQueriesADeletionOfManyNames) {
  // One file with many names and a newer copy: every name is deleted, and
  // each deletion moves the change time the other names share. Asking
  // every other name again after each deletion costs time squared in the
  // names (hours for the 65,000 names ext4 allows).
  constexpr int names = 1000;
  for (const std::string mode : {"", "--nosha1"}) {
    SCOPED_TRACE(mode);
    temp_dir dir;
    write_file(dir, "n0", "hello", 1000);
    for (int i = 1; i < names; ++i)
      ASSERT_TRUE(make_hard_link(full_name(dir, "n0"),
                                 full_name(dir, "n" + std::to_string(i))));
    write_file(dir, "newer", "hello", 2000);
    const std::string tally = dir.root + "/tally";
    std::vector<std::string> arguments = {dir.path};
    if (!mode.empty()) arguments.insert(arguments.begin(), mode);

    const run_result run =
        run_program(arguments, with_fault(dir, {"none", 1, "", "move", ""},
                                          {"DUPSWEEP_FAULT_TALLY=" + tally}));

    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(std::size_t{names}, lines_starting(run.out, "Erasing : "));
    EXPECT_EQ(0u, lines_starting(run.out, "Kept : "));
    EXPECT_EQ(std::vector<std::string>{"newer"}, sorted_file_names(dir));
    EXPECT_GE(4 * names, std::atoi(read_file(tally).c_str()));
  }
}

TEST(LongNameRun, HandlesNamesOfTheLongestLength) {
  temp_dir dir;
  const std::string stem(254, 'n');
  write_file(dir, stem + "a", "hello", 1000);
  write_file(dir, stem + "\xe9", "hello", 1000);  // sorts last: kept
  write_file(dir, stem + "z", "world", 2000);

  run_result run = run_program({dir.path});

  EXPECT_NE(std::string::npos, run.out.find(erasing(dir, stem + "a")));
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::set<std::string>{stem + "z", stem + "\xe9"}), names_in(dir));

  run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, erasing(dir, stem + "\xe9")), run.out);
  EXPECT_EQ((std::set<std::string>{stem + "z"}), names_in(dir));
}

TEST(LinkedDirectoryRun, WorksInTheTargetAndLeavesTheLinkAlone) {
  temp_dir dir;
  write_file(dir, "old", "abc", 1000);
  write_file(dir, "new", "xyz", 2000);
  write_file(dir, "../outside", "abc", 500);
  ASSERT_EQ(0, symlink("d", (dir.root + "/link").c_str()));
  run_options from_root;
  from_root.working_directory = dir.root;

  const run_result run = run_program({"--nosha1", "link/"}, from_root);

  EXPECT_EQ(working_in(dir, erasing(dir, "old")), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::set<std::string>{"new"}), names_in(dir));
  struct stat st;
  ASSERT_EQ(0, lstat((dir.root + "/link").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ("abc", read_file(dir.root + "/outside"));
}
