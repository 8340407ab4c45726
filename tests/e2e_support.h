// Runs the built program in temporary directories and reads back what it did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

/// A fresh directory for one test, removed with its contents at the end. The
/// program scans `path`; `root` (its parent) holds what must stay outside
/// the scanned directory.
struct temp_dir {
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  std::string root;  ///< Absolute, with every link resolved.
  std::string path;  ///< `root` joined with "d"; the directory to scan.
};

/// What one run of the program left behind.
struct run_result {
  std::string out;     ///< Standard output, with CR LF read as LF.
  std::string err;     ///< Standard error, byte for byte.
  int exit_code = -2;  ///< As the shell sees it (0 to 255 on POSIX).
};

/// How to start the program.
struct run_options {
  /// Empty: a fresh temporary directory, so that a relative argument can
  /// never name anything outside the test's own folders.
  std::string working_directory;
  /// Words put before the program, e.g. to drop privileges.
  std::vector<std::string> prefix;
};

/// Runs the program with `arguments` and waits for it to end.
run_result run_program(const std::vector<std::string>& arguments,
                       const run_options& options = {});

/// The program's path, as the build gives it.
std::string program_path();

/// The program's exit code after its usage text, as the shell sees it.
int usage_exit_code();

/// `text` with every '/' written as the platform's separator, for path texts
/// that must mean the same on every system.
std::string native_separators(std::string text);

/// Writes `contents` to `name` in `dir.path` and sets its last-write time to
/// `write_time` seconds after 1970.
void write_file(const temp_dir& dir, const std::string& name,
                const std::string& contents, std::int64_t write_time);

/// `name` in `dir.path`, joined with the platform's separator.
std::string full_name(const temp_dir& dir, const std::string& name);

/// The names of all entries in `dir.path`, sorted.
std::vector<std::string> sorted_file_names(const temp_dir& dir);

/// `names` (entries of `dir.path`) in the order the system lists them, which
/// is the order in which the program reports them.
std::vector<std::string> in_listing_order(
    const temp_dir& dir, const std::vector<std::string>& names);

/// The contents of `path`.
std::string read_file(const std::string& path);

/// The standard output of a run that scanned `dir` and then wrote `rest`.
std::string working_in(const temp_dir& dir, const std::string& rest);

/// The digests of "hello", "world" and the empty file.
extern const char hello_digest[];
extern const char world_digest[];
extern const char empty_digest[];

/// The ending of a progress line for a file read whole.
std::string done_with(const std::string& digest);

/// The progress line of `name` in `dir.path`, ended by `ending`.
std::string digest_line(const temp_dir& dir, const std::string& name,
                        const std::string& ending);

/// "Calculating sha1 ..." and the progress lines of `digests` (name to
/// digest), in listing order.
std::string digest_lines(const temp_dir& dir,
                         const std::map<std::string, std::string>& digests);

/// The line that announces the deletion of `name` in `dir.path`.
std::string erasing(const temp_dir& dir, const std::string& name);

/// The lines of a marked file `name` in `dir.path` that stays: its
/// "Erasing : " line, then "Kept : " with `why`.
std::string kept(const temp_dir& dir, const std::string& name,
                 const std::string& why);

/// The lines that announce the deletion of `names`, in listing order; they
/// must still be there.
std::string erasing_lines(const temp_dir& dir,
                          const std::vector<std::string>& names);

/// The lines of `out` that start with `start`, counted; `out` starts with
/// an empty line, as every run's output does.
std::size_t lines_starting(const std::string& out, const std::string& start);

/// While it lives, the file at `path` is one whose deletion the system
/// refuses (read-only on Windows, immutable on POSIX). The destructor gives
/// the file back, also when a failed assertion ends the test early, so that
/// its temporary directory can still be removed.
struct undeletable_file {
  explicit undeletable_file(const std::string& path);
  ~undeletable_file();
  undeletable_file(const undeletable_file&) = delete;
  undeletable_file& operator=(const undeletable_file&) = delete;

  std::string path;
  bool made = false;  ///< False when this system or file system cannot.
};

/// Options that run the program as a user without privileges: as nobody
/// through setpriv when the tests run as root, as they are otherwise. POSIX
/// builds only.
run_options as_unprivileged_user();

/// While it lives, tests/lying_fs.py, a FUSE file system, is mounted on
/// `dir.path` and serves the files that were there: each reports a size of at
/// most `size` bytes whatever it holds, and every read of it gives at most
/// `piece` bytes. It is unmounted when the object goes, also when a failed
/// assertion ends the test early, and by the file system itself should the
/// test process end without it. POSIX builds only.
struct lying_mount {
  lying_mount(const temp_dir& dir, std::uint64_t size, std::size_t piece);
  ~lying_mount();
  lying_mount(const lying_mount&) = delete;
  lying_mount& operator=(const lying_mount&) = delete;

  std::string skipped;  ///< Why it is not mounted; empty when it is.
  std::string mount_point;
  int daemon = -1;  ///< The file system's process.
};

/// Throws std::system_error naming `what` and errno's meaning when `ok` is
/// false: a set-up step that failed would leave a test checking less than
/// it claims.
void require(bool ok, const std::string& what);

/// The notice of an abnormal end, byte for byte.
extern const char termination_notice[];

/// The contents of `name` in the tests' own data folder.
std::string test_data(const std::string& name);

/// Gives the file `existing` the second name `name`; false when the system
/// or file system cannot.
bool make_hard_link(const std::string& existing, const std::string& name);
