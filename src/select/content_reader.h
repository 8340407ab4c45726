// One reader of the content pass: it takes batches of files of one size,
// reads them side by side, a slice each per round, and hashes the slices on
// several lanes of the engine at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/directory.h"
#include "select/content_plan.h"
#include "select/held_reads.h"
#include "select/select.h"

enum class outcome : unsigned char {
  waiting,
  reading,
  hashed,
  open_failed,
  read_failed
};

/// What the pass's readers share with each other and with the thread that
/// reports. A record is written only by the reader that took its batch: its
/// state as opened and `changed` before its outcome becomes `reading`, its
/// digest before it becomes `hashed`. The reporter reads a record's name at
/// any time and its digest only once its outcome says `hashed`; the outcome,
/// atomic, is what hands the record over.
struct shared_reading {
  const directory* held = nullptr;
  file_list* files = nullptr;
  content_plan plan;
  /// One per record, in list order.
  std::unique_ptr<std::atomic<outcome>[]> outcomes;
  std::mutex admitting;  ///< Guards next_batch.
  std::size_t next_batch = 0;
  /// Set when a reader fails: the others stop after their round.
  std::atomic<bool> stopping{false};
  /// Numbers of groups of files found equal as they are read; each batch
  /// starts as one.
  std::atomic<std::uint32_t> next_group{1};
  std::mutex holding;  ///< Guards kept_open and hold_budget.
  held_reads* kept_open = nullptr;
  /// Files that may still be added to kept_open: each keeps a descriptor.
  std::size_t hold_budget = 0;
};

/// Reads batches with a buffer of `buffer_size` bytes until none is left or
/// another reader failed, calling `tell` whenever records changed outcome.
/// Throws std::system_error when the system fails the reading as a whole or
/// has no descriptor left; `shared->stopping` is then set.
void read_batches(shared_reading* shared, std::size_t buffer_size,
                  const std::function<void()>& tell);
