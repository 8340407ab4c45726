// A file's state as the system tells it, by entry name or by descriptor.
#include "platform/file_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>

#include <cstdint>
#include <optional>

#include "platform/directory.h"
#include "platform/directory_posix.h"
#include "platform/open_file_posix.h"

namespace {

file_time time_of(const timespec& t) {
  return file_time{static_cast<std::int64_t>(t.tv_sec),
                   static_cast<std::uint32_t>(t.tv_nsec)};
}

file_state state_from(const struct stat& st) {
  file_state state;
  state.has_identity = true;
  state.has_other_names = st.st_nlink > 1;
  state.has_owner = true;
  state.owner = st.st_uid;
  state.identity = file_identity{static_cast<std::uint64_t>(st.st_dev),
                                 static_cast<std::uint64_t>(st.st_ino)};
  state.size = static_cast<std::uint64_t>(st.st_size);
  state.write_time = time_of(st.st_mtim);
  state.has_change_time = true;
  state.change_time = time_of(st.st_ctim);
  return state;
}

// statx rather than fstat: AT_STATX_FORCE_SYNC makes a network or FUSE file
// system ask its server instead of answering from attributes it cached,
// which can hide a change made since. Local file systems ignore it. (The C
// library answers through fstatat where the kernel has no statx.)
std::optional<file_state> synced_state(int dir_fd, const char* entry) {
  struct statx st;
  if (statx(dir_fd, entry, AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC,
            STATX_BASIC_STATS, &st) != 0 ||
      !S_ISREG(st.stx_mode))
    return std::nullopt;
  file_state state;
  state.has_identity = true;
  state.has_other_names = st.stx_nlink > 1;
  state.has_owner = true;
  state.owner = st.stx_uid;
  state.identity = file_identity{
      static_cast<std::uint64_t>(makedev(st.stx_dev_major, st.stx_dev_minor)),
      st.stx_ino};
  state.size = st.stx_size;
  state.write_time = file_time{st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec};
  state.has_change_time = true;
  state.change_time = file_time{st.stx_ctime.tv_sec, st.stx_ctime.tv_nsec};
  return state;
}

}  // namespace

// A plain fstat: an open file's state is what its reading is checked
// against, and every check that decides a deletion asks the file system
// again by name.
std::optional<file_state> state_of_descriptor(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return state_from(st);
}

std::optional<file_state> query_entry(const directory& held,
                                      const char* entry) {
  struct stat st;
  if (fstatat(held.fd, entry, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode))
    return std::nullopt;
  return state_from(st);
}

std::optional<file_state> inspect_entry(const directory& held,
                                        const char* entry) {
  return synced_state(held.fd, entry);
}
