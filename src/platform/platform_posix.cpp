#include "platform/platform.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/posix_path_rules.h"

namespace {

// Inside a directory deeper than PATH_MAX getcwd fails, and the directory
// a relative text names is then out of reach too.
std::string current_directory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr)
    throw std::system_error(errno, std::generic_category(), "getcwd");
  return std::string(buffer);
}

// The answers that mean nothing is there: ENOTDIR when a name on the way is
// no directory.
bool names_nothing(int error) { return error == ENOENT || error == ENOTDIR; }

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

char path_separator() { return '/'; }

std::optional<resolved_directory> resolve_directory(const std::string& text) {
  const std::string path = drop_final_separator(text);
  // realpath resolves links too, so the directory named in the report is the
  // one that is listed and whose files are deleted.
  if (char* real = realpath(path.c_str(), nullptr)) {
    resolved_directory found{real, true};
    free(real);
    return found;
  }
  if (!names_nothing(errno))
    throw std::system_error(errno, std::generic_category(), "realpath");
  if (!path.empty() && path.front() == '/')
    return resolved_directory{fold_dot_components(path), false};
  return resolved_directory{
      fold_dot_components(current_directory() + "/" + path), false};
}

bool name_exists(const std::string& name) {
  struct stat st;
  if (lstat(name.c_str(), &st) == 0) return true;
  if (names_nothing(errno)) return false;
  throw std::system_error(errno, std::generic_category(), "lstat");
}

bool output_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

bool write_terminal_text(std::string_view text) {
  return write_all(STDOUT_FILENO, text);
}

void write_error_bytes(std::string_view bytes) {
  write_all(STDERR_FILENO, bytes);
}

// The soft limit is often far below the hard one (1,024 against 524,288 on
// Debian), and reading many files side by side needs a descriptor each.
std::size_t raise_open_file_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
    throw std::system_error(errno, std::generic_category(), "getrlimit");
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    // Refused when the hard limit is unlimited: the kernel caps it lower.
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur >= SIZE_MAX) return SIZE_MAX;
  return static_cast<std::size_t>(limit.rlim_cur);
}
