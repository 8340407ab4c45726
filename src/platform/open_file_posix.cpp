// Opening and reading a file of the held directory by a descriptor.
#include "platform/open_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <system_error>

#include "platform/directory.h"
#include "platform/directory_posix.h"
#include "platform/file_state.h"
#include "platform/file_system_posix.h"
#include "platform/open_file_posix.h"

struct open_file {
  int fd = -1;
  std::optional<file_state> state;
};

namespace {

// Files from this size on are read with a larger read-ahead.
constexpr std::uint64_t sequential_size = 1048576;

}  // namespace

bool refused_noatime(int error) { return error == EPERM; }

void throw_if_out_of_descriptors(int error) {
  if (error == EMFILE || error == ENFILE)
    throw std::system_error(error, std::generic_category(), "openat");
}

void advise_sequential(int fd, std::uint64_t size) {
  if (size >= sequential_size) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void open_file_closer::operator()(open_file* file) const {
  if (file->fd >= 0) close(file->fd);
  delete file;
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
