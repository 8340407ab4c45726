#include "e2e_support.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

// Between fork and exec only calls that are safe in a child are made; a
// failure shows as exit code 126, as a shell reports a command it could not
// start.
[[noreturn]] void run_child(char* const* argv,
                            const std::string& working_directory, int out,
                            int err) {
  if (chdir(working_directory.c_str()) != 0 || dup2(out, STDOUT_FILENO) < 0 ||
      dup2(err, STDERR_FILENO) < 0)
    _exit(126);
  execvp(argv[0], argv);
  _exit(127);
}

int output_file(const std::string& name) {
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  require(fd >= 0, "creating " + name);
  return fd;
}

int wait_for(pid_t child) {
  int status = 0;
  pid_t waited;
  while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  require(waited == child, "waiting for the program");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The immutable flag makes even root's unlink fail. Only a process with
// CAP_LINUX_IMMUTABLE may set it, and not every file system has it.
bool set_immutable(const std::string& path, bool on) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return done;
}

bool is_fuse_mount(const std::string& path) {
  struct statfs found;
  return statfs(path.c_str(), &found) == 0 && found.f_type == FUSE_SUPER_MAGIC;
}

// The last line the file system wrote before it ended: why it did not mount.
std::string last_line(const std::string& text) {
  std::string line = text;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return line.substr(line.rfind('\n') + 1);
}

}  // namespace

int usage_exit_code() { return 255; }

std::string native_separators(std::string text) { return text; }

run_result run_program(const std::vector<std::string>& arguments,
                       const run_options& options) {
  // The output goes to files in a directory of its own, never into the
  // directory the program scans; that directory's empty "d" is where the
  // program runs unless told otherwise.
  temp_dir capture;
  const std::string out_name = capture.root + "/out";
  const std::string err_name = capture.root + "/err";
  const std::string& working_directory = options.working_directory.empty()
                                             ? capture.path
                                             : options.working_directory;
  // The suite's second run starts every program through a launcher.
  std::vector<std::string> words;
  if (const char* launcher = std::getenv("DUPSWEEP_TEST_LAUNCHER"))
    words.push_back(launcher);
  words.insert(words.end(), options.prefix.begin(), options.prefix.end());
  words.push_back(program_path());
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const int out = output_file(out_name);
  const int err = output_file(err_name);
  const pid_t child = fork();
  if (child == 0) run_child(argv.data(), working_directory, out, err);
  const int fork_error = errno;
  close(out);
  close(err);
  errno = fork_error;
  require(child > 0, "starting the program");

  run_result result;
  result.exit_code = wait_for(child);
  result.out = read_file(out_name);
  result.err = read_file(err_name);
  return result;
}

undeletable_file::undeletable_file(const std::string& path)
    : path(path), made(set_immutable(path, true)) {}

undeletable_file::~undeletable_file() {
  // A file the run deleted after all has nothing to give back.
  struct stat st;
  if (made && lstat(path.c_str(), &st) == 0 && !set_immutable(path, false))
    std::fprintf(stderr, "%s stays immutable: remove it with chattr -i\n",
                 path.c_str());
}

run_options as_unprivileged_user() {
  run_options options;
  if (geteuid() == 0)
    options.prefix = {"setpriv", "--reuid=65534", "--regid=65534",
                      "--clear-groups"};
  return options;
}

bool make_hard_link(const std::string& existing, const std::string& name) {
  return link(existing.c_str(), name.c_str()) == 0;
}

lying_mount::lying_mount(const temp_dir& dir, std::uint64_t size,
                         std::size_t piece) {
  if (access("/dev/fuse", R_OK | W_OK) != 0) {
    skipped = "/dev/fuse is missing or closed to this user";
    return;
  }
  // Debian's python3-fusepy is a module of Debian's own Python.
  std::vector<std::string> words = {
      "/usr/bin/python3", DUPSWEEP_LYING_FS,     "--size", std::to_string(size),
      "--piece",          std::to_string(piece), dir.path, dir.path};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string log_name = dir.root + "/lying_fs.log";
  const int log = output_file(log_name);
  const pid_t child = fork();
  if (child == 0) run_child(argv.data(), "/", log, log);
  close(log);
  require(child > 0, "starting the FUSE file system");
  daemon = child;
  for (int waited = 0; waited < 200; ++waited) {
    if (is_fuse_mount(dir.path)) {
      mount_point = dir.path;
      return;
    }
    if (waitpid(child, nullptr, WNOHANG) == child) {
      daemon = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  skipped = "cannot mount a FUSE file system here (" +
            last_line(read_file(log_name)) + ")";
}

lying_mount::~lying_mount() {
  const std::string unmount =
      "fusermount -u -z " + mount_point + " 2>/dev/null || fusermount3 -u -z " +
      mount_point + " 2>/dev/null || umount -l " + mount_point;
  if (!mount_point.empty() && std::system(unmount.c_str()) != 0)
    std::fprintf(stderr, "%s stays mounted: unmount it with umount -l\n",
                 mount_point.c_str());
  if (daemon < 0) return;
  // Unmounted, it ends by itself; one that hangs is ended.
  for (int waited = 0; waited < 100; ++waited) {
    if (waitpid(daemon, nullptr, WNOHANG) == daemon) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(daemon, SIGKILL);
  waitpid(daemon, nullptr, 0);
}
