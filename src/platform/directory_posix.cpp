#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/directory_posix.h"
#include "platform/file_system_posix.h"

struct open_file {
  int fd = -1;
  std::optional<file_state> state;
};

struct held_file {
  const directory* parent = nullptr;
  std::string entry;
};

namespace {

// Files from this size on are read with a larger read-ahead.
constexpr std::uint64_t sequential_size = 1048576;

std::system_error system_failure(const char* what) {
  return std::system_error(errno, std::generic_category(), what);
}

bool is_directory_entry(int dir_fd, const dirent& entry) {
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return false;
  // A link to a directory is passed over like the directory itself.
  struct stat st;
  return fstatat(dir_fd, entry.d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

bool is_dot_or_dot_dot(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

}  // namespace

bool refused_noatime(int error) { return error == EPERM; }

void throw_if_out_of_descriptors(int error) {
  if (error == EMFILE || error == ENFILE)
    throw std::system_error(error, std::generic_category(), "openat");
}

void advise_sequential(int fd, std::uint64_t size) {
  if (size >= sequential_size) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void directory_closer::operator()(directory* held) const {
  if (held->fd >= 0) close(held->fd);
  delete held;
}

void open_file_closer::operator()(open_file* file) const {
  if (file->fd >= 0) close(file->fd);
  delete file;
}

void held_file_closer::operator()(held_file* file) const { delete file; }

directory_handle open_directory(const std::string& name) {
  // O_PATH: a directory that may be searched but not listed still serves
  // every operation on its entries; only the listing then fails.
  const int fd =
      open(name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return directory_handle(new directory{name, fd});
}

const std::string& directory_name(const directory& held) { return held.name; }

void list_entries(const directory& held,
                  const std::function<void(const char* entry)>& take) {
  // A descriptor of its own for the listing, opened through the held one.
  const int fd = openat(held.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw system_failure("openat");
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    close(fd);
    throw system_failure("fdopendir");
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(listing, closedir);
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing);
    if (entry == nullptr) break;
    if (is_dot_or_dot_dot(entry->d_name) || is_directory_entry(held.fd, *entry))
      continue;
    take(entry->d_name);
  }
  if (errno != 0) throw system_failure("readdir");
}

open_file_handle open_entry(const directory& held, const char* entry) {
  int fd = openat(held.fd, entry, read_open_flags);
  if (fd < 0 && refused_noatime(errno))
    fd = openat(held.fd, entry, reopen_flags);
  if (fd < 0) {
    throw_if_out_of_descriptors(errno);
    return nullptr;
  }
  open_file_handle file(new open_file{fd, std::nullopt});
  file->state = state_of_descriptor(fd);
  if (!file->state) return nullptr;
  advise_sequential(fd, file->state->size);
  return file;
}

std::optional<file_state> state_of(const open_file& file) { return file.state; }

int descriptor_of(const open_file& file) { return file.fd; }

open_file_handle adopt_descriptor(int fd,
                                  const std::optional<file_state>& state) {
  return open_file_handle(new open_file{fd, state});
}

namespace {

std::optional<std::uint64_t> volume_of(const open_file& file) {
  if (!file.state || !file.state->has_identity) return std::nullopt;
  return file.state->identity.volume;
}

}  // namespace

void read_afresh(const open_file& file) {
  // Dropping the file's clean pages makes the next reads ask the file system
  // (a FUSE daemon, a server) again; on FUSE it drops what kernel_cache kept.
  if (!writes_pass_this_kernel(file.fd, volume_of(file)))
    posix_fadvise(file.fd, 0, 0, POSIX_FADV_DONTNEED);
}

read_result read_from(open_file* file, unsigned char* buffer,
                      std::size_t size) {
  read_result read;
  while (read.count < size) {
    const ssize_t got =
        ::read(file->fd, buffer + read.count, size - read.count);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      read.end = read.failed = true;
      break;
    }
    if (got == 0) {
      read.end = true;
      break;
    }
    read.count += static_cast<std::size_t>(got);
  }
  return read;
}

void read_on_at(int fd, std::uint64_t offset, unsigned char* buffer,
                std::size_t size, read_result* read) {
  while (read->count < size) {
    const std::uint64_t at = offset + read->count;
    const ssize_t got = pread(fd, buffer + read->count, size - read->count,
                              static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      read->end = read->failed = true;
      return;
    }
    if (got == 0) {
      read->end = true;
      return;
    }
    read->count += static_cast<std::size_t>(got);
  }
}

read_result read_at(const open_file& file, std::uint64_t offset,
                    unsigned char* buffer, std::size_t size) {
  read_result read;
  read_on_at(file.fd, offset, buffer, size, &read);
  return read;
}

hold_result hold_entry(const directory& held, const char* entry, hold_purpose,
                       held_handle* result) {
  // Only the name can be held: unlinkat deletes by name, so every check asks
  // the name again rather than a descriptor opened earlier.
  result->reset(new held_file{&held, entry});
  return hold_result::held;
}

std::optional<file_state> state_of(const held_file& file) {
  return inspect_entry(*file.parent, file.entry.c_str());
}

void delete_held(held_file* file) {
  // Flags 0: a directory put in the file's place is refused, never removed.
  if (unlinkat(file->parent->fd, file->entry.c_str(), 0) == 0) return;
  // Gone in the instant since its check: nothing of it is lost.
  if (errno == ENOENT) return;
  throw system_failure("unlinkat");
}
