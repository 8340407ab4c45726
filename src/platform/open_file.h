// A regular file of the held directory open for reading, and the one rule
// for where its reading ends. The end is found by reading, never taken from
// the size: FUSE and network file systems report sizes that are not where
// their bytes end, and a proof that stopped at the reported size could call
// two different files equal. This header is the same on every system;
// open_file_posix.cpp or directory_win32.cpp implements it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/directory.h"
#include "platform/file_state.h"

struct open_file;
struct open_file_closer {
  void operator()(open_file* file) const;
};
/// A regular file of the directory open for reading; closed when released.
using open_file_handle = std::unique_ptr<open_file, open_file_closer>;

/// Opens the entry `entry` for reading if it is a regular file; null when it
/// cannot be opened or is anything else (a link, pipe or device put in its
/// place is refused without waiting on it). Throws std::system_error when
/// the process or the system has no more files to give: that is no property
/// of the file, and the run cannot go on as if it were.
open_file_handle open_entry(const directory& held, const char* entry);

/// The state of an open file, identity and change time included; empty when
/// the system cannot tell it.
std::optional<file_state> state_of(const open_file& file);

/// Makes the reads of `file` that follow ask the file system for its bytes
/// where pages this system cached of it earlier may not hold them: on FUSE
/// and network file systems a file can change without this system knowing.
/// Elsewhere it does nothing.
void read_afresh(const open_file& file);

/// What one read gave. A file ends where a read of it returns no bytes, and
/// nowhere else: a read may return fewer bytes than asked and more follow
/// (FUSE and network file systems answer in pieces), and a file system may
/// report a size that is not where its bytes end (0 for generated files, a
/// stale size from a cache), so the size a file had when it was opened
/// tells nothing of where its reading ends.
struct read_result {
  std::size_t count = 0;  ///< Bytes placed in the buffer.
  bool end = false;       ///< The file ended within this read.
  /// The system reported an error (`end` is then set too); `count` is valid.
  bool failed = false;
};

/// Reads up to `size` bytes from the current position. Fewer bytes than asked
/// are returned only when a read found no more (`end`) or on an error
/// (`failed`), wherever that falls against the file's size as opened.
read_result read_from(open_file* file, unsigned char* buffer, std::size_t size);

/// Reads up to `size` bytes from `offset` on, without moving the current
/// position; fewer only at the end of the file or on an error, as read_from.
/// Reads of one file from several threads at once are safe.
read_result read_at(const open_file& file, std::uint64_t offset,
                    unsigned char* buffer, std::size_t size);
