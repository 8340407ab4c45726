#include "platform/file_system_posix.h"

#include <linux/magic.h>
#include <sys/vfs.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// Types statfs gives (linux/magic.h, or the file systems' own sources where
// that header has none). A kind not listed is taken as one whose files may
// change elsewhere: the cost is a read from the file system, not a loss.
constexpr unsigned long local_kinds[] = {
    EXT4_SUPER_MAGIC,  // also ext2 and ext3
    XFS_SUPER_MAGIC,      BTRFS_SUPER_MAGIC, TMPFS_MAGIC,
    RAMFS_MAGIC,          F2FS_SUPER_MAGIC,  MSDOS_SUPER_MAGIC,  // also vfat
    EXFAT_SUPER_MAGIC,
    0x5346544e,  // ntfs
    0x7366746e,  // ntfs3
    0x3153464a,  // jfs
    REISERFS_SUPER_MAGIC,
    0xca451a4e,  // bcachefs
};

bool asked_of_file_system(int fd) {
  struct statfs kind;
  if (fstatfs(fd, &kind) != 0) return false;
  const auto type = static_cast<unsigned long>(kind.f_type);
  return std::find(std::begin(local_kinds), std::end(local_kinds), type) !=
         std::end(local_kinds);
}

// Answers by device, asked once each: every deletion asks of two files,
// nearly always on one device.
std::mutex knowing;
std::vector<std::pair<std::uint64_t, bool>> known;

}  // namespace

bool writes_pass_this_kernel(int fd, std::optional<std::uint64_t> device) {
  if (!device) return asked_of_file_system(fd);
  {
    const std::lock_guard<std::mutex> lock(knowing);
    for (const auto& [volume, local] : known)
      if (volume == *device) return local;
  }
  const bool local = asked_of_file_system(fd);
  const std::lock_guard<std::mutex> lock(knowing);
  known.emplace_back(*device, local);
  return local;
}
