// The held directory on POSIX: its descriptor, its listing, and the entries
// a deletion rests on. A claimed entry is nothing but its name in the held
// directory here (deletion.h), so it lives beside the directory's other
// operations by name; the states of entries are file_state_posix.cpp.
#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "platform/deletion.h"
#include "platform/directory_posix.h"
#include "platform/file_state.h"

struct claimed_file {
  const directory* parent = nullptr;
  std::string entry;
};

namespace {

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

void directory_closer::operator()(directory* held) const {
  if (held->fd >= 0) close(held->fd);
  delete held;
}

void claimed_file_closer::operator()(claimed_file* file) const { delete file; }

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

claim_result claim_entry(const directory& held, const char* entry,
                         claim_purpose, claimed_handle* result) {
  // Only the name can be claimed: unlinkat deletes by name, so every check asks
  // the name again rather than a descriptor opened earlier.
  result->reset(new claimed_file{&held, entry});
  return claim_result::claimed;
}

std::optional<file_state> state_of(const claimed_file& file) {
  return inspect_entry(*file.parent, file.entry.c_str());
}

void delete_claimed(claimed_file* file) {
  // Flags 0: a directory put in the file's place is refused, never removed.
  if (unlinkat(file->parent->fd, file->entry.c_str(), 0) == 0) return;
  // Gone in the instant since its check: nothing of it is lost.
  if (errno == ENOENT) return;
  throw system_failure("unlinkat");
}
