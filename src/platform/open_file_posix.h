// What an open file is on POSIX, for the parts of the platform layer that
// open and read files through descriptors of their own (the io_uring
// reader): how a file is opened, described and read by its descriptor, the
// same way open_entry does it. Only POSIX sources include it.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/file_state.h"
#include "platform/open_file.h"

/// The descriptor of an open file.
int descriptor_of(const open_file& file);

/// The file open as `fd`, whose state is `state` (empty when it cannot be
/// told), as open_entry gives it; it closes `fd` when released.
open_file_handle adopt_descriptor(int fd,
                                  const std::optional<file_state>& state);

/// Flags every file is opened with for reading. O_NONBLOCK keeps a pipe put
/// in a file's place from blocking the open (it does not change how a
/// regular file is read); O_NOFOLLOW refuses a link; O_NOATIME spares a
/// write of the access time per file, but only the file's owner (or root)
/// may ask for it.
constexpr int read_open_flags =
    O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOATIME | O_CLOEXEC;

/// The flags of the second open of a file that refused O_NOATIME.
constexpr int reopen_flags = read_open_flags & ~O_NOATIME;

/// True when an open with read_open_flags failed with `error` because the
/// file is another owner's, who alone may ask for O_NOATIME: it is opened
/// once more with reopen_flags.
bool refused_noatime(int error);

/// The state of the file open as `fd`; empty when it is not a regular file or
/// cannot be queried.
std::optional<file_state> state_of_descriptor(int fd);

/// Throws std::system_error when `error`, of an open, says the process or the
/// system has no descriptor left to give: that is no property of the file,
/// and the run cannot go on as if it were.
void throw_if_out_of_descriptors(int error);

/// Reads on from where `read` stands: bytes `read->count` up to `size` of
/// those from `offset` on, of the file open as `fd`, into the same places of
/// `buffer`. Stops short only at the end of the file or on an error, as
/// read_at.
void read_on_at(int fd, std::uint64_t offset, unsigned char* buffer,
                std::size_t size, read_result* read);

/// Asks for a larger read-ahead when the file opened as `fd` is large, since
/// it is read from start to end.
void advise_sequential(int fd, std::uint64_t size);
