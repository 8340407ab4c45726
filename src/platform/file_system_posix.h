// What the kind of file system a file lies on tells about it. Only POSIX
// sources include it.
#pragma once

#include <cstdint>
#include <optional>

/// True when every write to the file open as `fd` passes through this
/// kernel, so that the pages it caches of the file are the file's current
/// bytes: the local file systems it knows (ext2/3/4, XFS, Btrfs, tmpfs,
/// F2FS, FAT, exFAT, NTFS, ...). False for FUSE, network and every other
/// file system, whose files another machine or a daemon may change without
/// this kernel's knowing, and when the kind cannot be told. `device`, where
/// given, is the file's device: the answer for it is asked once.
bool writes_pass_this_kernel(int fd, std::optional<std::uint64_t> device);
