// The order in which the content pass reads the files: size groups cut into
// batches of files read side by side, and how many of them fit at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "select/select.h"

/// The read buffer, shared out among the pass's readers.
constexpr std::size_t read_buffer_size = 4194304;
/// The readers the buffer and the descriptors are shared out among, at most.
constexpr std::size_t most_readers = 2;
/// Most files a reader reads side by side: each takes a share of the read
/// buffer and a descriptor, so more would make every read small.
constexpr std::size_t most_side_by_side = 256;

/// Files read side by side: a run of content_plan::order, of one size.
struct batch {
  std::uint32_t first = 0;
  std::uint32_t end = 0;
  /// Most files read side by side while this batch's files are; more than
  /// the batch has only while files that gave the same bytes so far are
  /// hashed as one.
  std::uint32_t most_lanes = 0;
};

struct content_plan {
  /// Every record's place in the list once, those of one batch side by
  /// side: by size, then in list order.
  std::vector<std::uint32_t> order;
  /// In the order they are read: size groups by the place of their first
  /// file in the list, so that progress, which follows the list, is held
  /// back as little as may be.
  std::vector<batch> batches;
};

/// The batches for `files`, none longer than `side_by_side` files, and none
/// of large files so long that a file's slice of a reader's share of the
/// buffer would be short. Within a size group files are ordered by
/// `first_bytes` (one key per record, by place; none when empty), so that
/// files whose first bytes are alike, copies among them, share a batch and
/// are compared as they are read.
content_plan plan_content(const file_list& files, std::size_t side_by_side,
                          const std::vector<std::uint64_t>& first_bytes = {});

/// Whether the files of the size group of `group_size` files of `size` bytes
/// are worth ordering by their first bytes: they are compared as they are
/// read, and more of them than one batch holds.
bool orders_by_first_bytes(std::uint64_t size, std::size_t group_size,
                           std::size_t side_by_side);

/// Files a reader may read side by side when the process may hold
/// `descriptor_limit` descriptors: the readers share what the rest of the
/// run leaves, so that no file fails to open for want of one.
std::size_t side_by_side_allowed(std::size_t descriptor_limit);

/// Files from this size on are compared as they are read, and read with
/// every other writer kept out, where the system can, so that the pass's
/// reading alone proves a copy: below it, taking and giving up the
/// exclusion costs more than reading a copy and its keeper again before the
/// deletion.
constexpr std::uint64_t compare_as_read_from = 262144;

/// Files the pass may keep open for the erase phase when the process may
/// hold `descriptor_limit` descriptors, beside its readers' and the proof's.
std::size_t hold_budget_allowed(std::size_t descriptor_limit);
