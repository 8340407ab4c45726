#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix_path_rules.h"

namespace {

// Flipping the sign bit maps signed order onto unsigned order, so a time
// before 1970 still sorts as older.
std::uint64_t ordered_time(const timespec& t) {
  const std::int64_t ns = std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
  return static_cast<std::uint64_t>(ns) ^ (std::uint64_t{1} << 63);
}

std::optional<std::string> current_directory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return std::nullopt;
  return std::string(buffer);
}

}  // namespace

std::optional<file_info> query_file_info(const std::string& name) {
  struct stat st;
  // lstat, not stat: a symbolic link is never a candidate, whatever it names.
  if (lstat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  return file_info{static_cast<std::uint64_t>(st.st_size),
                   ordered_time(st.st_mtim)};
}

std::FILE* open_regular_file(const std::string& name) {
  // O_NONBLOCK keeps a pipe put in the file's place from blocking the open;
  // it does not change how a regular file is read. O_NOFOLLOW refuses a link.
  const int fd =
      open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  std::FILE* file = nullptr;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

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
  if (!path.empty() && path.front() == '/')
    return resolved_directory{fold_dot_components(path), false};
  std::optional<std::string> cwd = current_directory();
  if (!cwd) return std::nullopt;
  return resolved_directory{fold_dot_components(*cwd + "/" + path), false};
}

void write_error_bytes(std::string_view bytes) {
  const char* next = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = write(STDERR_FILENO, next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    next += written;
    left -= static_cast<std::size_t>(written);
  }
}
