// Opens and reads many files of one held directory at once: where the
// system can batch the calls (io_uring on Linux), one submission opens,
// reads or closes a whole batch; elsewhere the same work is done by plain
// calls, with the same results. This header is the same on every system;
// reader_posix.cpp or reader_win32.cpp implements it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory.h"
#include "platform/exclusion.h"
#include "platform/file_state.h"
#include "platform/open_file.h"

struct batch_reader;
struct batch_reader_closer {
  void operator()(batch_reader* reader) const;
};
/// A reader of one directory's files; closes every file it still has open
/// when released. The directory must stay held as long as the reader lives.
using batch_reader_handle = std::unique_ptr<batch_reader, batch_reader_closer>;

/// A reader that batches the calls where the system allows it, and uses
/// plain calls where it does not (the batched interface is missing, disabled
/// or refused).
batch_reader_handle make_reader(const directory& held);

/// A file a reader opened: its number with that reader, and its state taken
/// right after it was opened, as state_of gives it for open_entry's files.
struct opened_file {
  std::size_t number = 0;
  file_state state;
};

/// Opens each of `entries` (entry names of the directory) as open_entry
/// would: one result per entry, in order, empty when it cannot be opened or
/// is not a regular file (a link, pipe or device in its place is refused
/// without waiting on it). Throws std::system_error when the system fails
/// the batch as a whole.
std::vector<std::optional<opened_file>> open_entries(
    batch_reader* reader, const std::vector<const char*>& entries);

/// One read: up to `size` bytes of the open file `number`, from where its
/// last read ended, into `buffer`.
struct read_request {
  std::size_t number = 0;
  unsigned char* buffer = nullptr;
  std::size_t size = 0;
};

/// Does every request, all at once; one result per request, in order, as
/// read_from gives it: fewer bytes than asked come back only when a read
/// found no more (`end`) or on an error (`failed`), never because the file's
/// size as opened was reached. Files on a file system that cuts batched
/// reads short at that size (FUSE) are read by plain calls. Throws
/// std::system_error when the system fails the batch as a whole. Each file
/// may appear once in `requests`.
std::vector<read_result> read_files(batch_reader* reader,
                                    const std::vector<read_request>& requests);

/// Keeps other writers out of the open file `number` from now on, as
/// exclude_writers does for a file open_entry opened. The exclusion must be
/// released before the file is closed or taken out.
exclusion_attempt exclude_writers(batch_reader* reader, std::size_t number);

/// Takes the open file `number` out of the reader, open as open_entry opens
/// a file, to be read further by read_at; its number may then be given to
/// another file.
open_file_handle take_file(batch_reader* reader, std::size_t number);

/// Closes the open file `number`; its number may then be given to another
/// file. A batching reader closes it with its next batch.
void close_file(batch_reader* reader, std::size_t number);
