#include "platform/platform.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/posix_path_rules.h"

namespace {

// Nanoseconds since 1970 span the years 1677 to 2262 in 64 bits. File systems
// store times beyond that (ext4 up to 2446, tmpfs any), and a wrapped product
// would make such a file the oldest one, so it would be erased in favour of
// an older version. Saturating keeps every such time newer than any time in
// range; times beyond the range compare as equal and fall back to the name.
std::int64_t nanoseconds_since_1970(const timespec& t) {
  constexpr std::int64_t per_second = 1000000000;
  constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  if (t.tv_sec > (max - t.tv_nsec) / per_second) return max;
  if (t.tv_sec < min / per_second) return min;
  return std::int64_t{t.tv_sec} * per_second + t.tv_nsec;
}

// Flipping the sign bit maps signed order onto unsigned order, so a time
// before 1970 still sorts as older.
std::uint64_t ordered_time(const timespec& t) {
  return static_cast<std::uint64_t>(nanoseconds_since_1970(t)) ^
         (std::uint64_t{1} << 63);
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
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  // Reads go straight into the caller's large buffer; a stream buffer of its
  // own would cost an allocation and one more query per file.
  std::setvbuf(file, nullptr, _IONBF, 0);
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
