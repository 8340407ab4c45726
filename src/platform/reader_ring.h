// The io_uring half of the POSIX reader: one submission opens, reads or
// closes a whole batch of one held directory's files. Only reader_posix.cpp
// uses it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "platform/directory.h"
#include "platform/exclusion.h"
#include "platform/open_file.h"
#include "platform/reader.h"

struct ring_files;
struct ring_files_closer {
  void operator()(ring_files* files) const;
};
/// A ring and the files opened through it; closes the files it still has
/// open, and then the ring, when released. The directory must stay held as
/// long as it lives.
using ring_files_handle = std::unique_ptr<ring_files, ring_files_closer>;

/// A ring for the files of `held`; null where io_uring is missing, disabled
/// or refused, or lacks an operation the reader needs.
ring_files_handle make_ring_files(const directory& held);

/// Opens the entries in a batch, as open_entries promises.
std::vector<std::optional<opened_file>> ring_open_all(
    ring_files* files, const std::vector<const char*>& entries);

/// Does the reads in batches, as read_files promises.
std::vector<read_result> ring_read_all(
    ring_files* files, const std::vector<read_request>& requests);

/// Frees the number `number`; its file is closed with the next batch.
void ring_close(ring_files* files, std::size_t number);

exclusion_attempt ring_exclude(ring_files* files, std::size_t number);

open_file_handle ring_take(ring_files* files, std::size_t number);
