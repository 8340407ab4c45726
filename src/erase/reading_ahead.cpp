#include "erase/reading_ahead.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "select/content_plan.h"
#include "select/two_threads.h"

namespace {

// A pair's way through the reading ahead. The deletions do not wait for the
// reader: a pair it has not begun by the time of its deletion is proved
// there, as any other. One it is reading then is waited for, the few
// microseconds that takes, so that the two never read one file at once.
enum class slot : unsigned char { waiting, reading, read, passed };

}  // namespace

struct reading_ahead {
  const scanned_directory* scanned = nullptr;
  const file_list* files = nullptr;
  /// The places of the records read ahead, in list order, and for each its
  /// slot and, once its slot says `read`, what its reading found.
  std::vector<std::uint32_t> places;
  std::unique_ptr<std::atomic<slot>[]> slots;
  std::vector<std::optional<pair_read_ahead>> found;
  std::size_t most_pairs = 0;
  /// The index of the pair the deletions are at.
  std::atomic<std::size_t> deleting{0};
  std::atomic<bool> stopping{false};
  /// Last, so that it is joined before the rest goes.
  second_thread reader;
};

namespace {

bool worth_reading_ahead(const file_list& files, std::uint32_t place,
                         const held_reads& pass,
                         const std::vector<bool>& named_twice) {
  const file_record& marked = files[place];
  return marked.erase_mark && marked.state.size < compare_as_read_from &&
         !named_twice[place] && !named_twice[marked.keeper] &&
         pass.count(marked.entry) == 0 &&
         pass.count(files[marked.keeper].entry) == 0;
}

// Waits while the reader is as far ahead of the deletions as its
// descriptors allow; the first pair it may read then, never one the
// deletions have reached.
std::size_t next_to_read(reading_ahead* ahead, std::size_t at) {
  for (;;) {
    const std::size_t deleting = ahead->deleting;
    if (at <= deleting) at = deleting + 1;
    if (ahead->stopping || at < deleting + ahead->most_pairs) return at;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// A failure of the reading ahead (no descriptor left, most often) is left
// to the proofs at the deletions, which meet it again and end the run.
void read_ahead(reading_ahead* ahead) {
  compare_buffer buffer;
  for (std::size_t at = 0;; ++at) {
    at = next_to_read(ahead, at);
    if (ahead->stopping || at >= ahead->places.size()) return;
    slot expected = slot::waiting;
    if (!ahead->slots[at].compare_exchange_strong(expected, slot::reading))
      continue;
    std::optional<pair_read_ahead> pair;
    try {
      const file_record& marked = (*ahead->files)[ahead->places[at]];
      pair = read_pair_ahead(*ahead->scanned, marked,
                             (*ahead->files)[marked.keeper], &buffer);
    } catch (...) {
      ahead->stopping = true;
    }
    ahead->found[at] = std::move(pair);
    ahead->slots[at] = slot::read;
  }
}

}  // namespace

void reading_ahead_closer::operator()(reading_ahead* ahead) const {
  ahead->stopping = true;
  if (ahead->reader.thread.joinable()) ahead->reader.thread.join();
  delete ahead;
}

reading_ahead_handle start_reading_ahead(const scanned_directory& scanned,
                                         const file_list& files,
                                         const held_reads& pass,
                                         const std::vector<bool>& named_twice,
                                         std::size_t most_pairs) {
  if (most_pairs == 0 || !has_second_core()) return nullptr;
  reading_ahead_handle ahead(new reading_ahead);
  ahead->scanned = &scanned;
  ahead->files = &files;
  ahead->most_pairs = most_pairs;
  for (std::uint32_t place = 0; place < files.size(); ++place)
    if (worth_reading_ahead(files, place, pass, named_twice))
      ahead->places.push_back(place);
  if (ahead->places.empty()) return nullptr;
  ahead->slots.reset(new std::atomic<slot>[ahead->places.size()]);
  for (std::size_t at = 0; at < ahead->places.size(); ++at)
    ahead->slots[at] = slot::waiting;
  ahead->found.resize(ahead->places.size());
  reading_ahead* const shared = ahead.get();
  if (!start_second(&ahead->reader, [shared] { read_ahead(shared); }))
    return nullptr;
  return ahead;
}

std::optional<pair_read_ahead> take_read_ahead(reading_ahead* ahead,
                                               std::uint32_t place) {
  std::size_t at = ahead->deleting;
  while (at < ahead->places.size() && ahead->places[at] < place) ++at;
  if (at == ahead->places.size() || ahead->places[at] != place)
    return std::nullopt;
  ahead->deleting = at;
  slot expected = slot::waiting;
  if (ahead->slots[at].compare_exchange_strong(expected, slot::passed))
    return std::nullopt;
  while (ahead->slots[at] != slot::read) std::this_thread::yield();
  ahead->slots[at] = slot::passed;
  return std::move(ahead->found[at]);
}
