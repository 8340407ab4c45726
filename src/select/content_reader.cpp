#include "select/content_reader.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_state.h"
#include "platform/open_file.h"
#include "platform/page_buffer.h"
#include "platform/reader.h"
#include "select/equal_slices.h"
#include "sha1/sha1_lanes.h"

namespace {

// One file being read, through its own slice of the read buffer, side by
// side with the other files of its batch.
struct lane {
  std::size_t job = 0;   ///< Its record's place in the list.
  std::size_t file = 0;  ///< Its number with the reader.
  sha1_context context;
  read_result read;
  unsigned char* slice = nullptr;
  /// Other writers kept out since the open; empty for a small file or
  /// where the system gives no exclusion.
  exclusion_handle excluded;
  /// Files of its batch in one group have given the same bytes so far.
  std::uint32_t group = 0;
  /// The lane whose digest state this one takes after the round: the first
  /// of its group, which alone hashes the bytes they all gave. Set for each
  /// round.
  std::size_t hashed_by = 0;
  /// It hashes its own slices: it is the first of its group, or has not
  /// been compared yet.
  bool hashes_own = true;
  /// Large enough to be compared with the others of its batch as read.
  bool compared_as_read = false;
};

// One reader with its own files, lanes and buffer. The buffer is declared
// before the reader, so that it outlives every read the reader may still
// have in flight when a failure unwinds the pass.
struct reader_state {
  shared_reading* shared = nullptr;
  page_buffer buffer;
  std::size_t buffer_size = 0;
  batch_reader_handle reader;
  std::vector<lane> lanes;
  /// Most lanes the batches being read allow.
  std::uint32_t most_lanes = 0;
};

// The record keeps the state of the file as opened: what it read is what
// that state describes. A file that is no longer the one listed, or was
// changed since, is read all the same but can be neither erased nor kept
// for another.
void start_job(reader_state* state, std::size_t job,
               const std::optional<opened_file>& opened, std::uint32_t group) {
  if (!opened) {
    state->shared->outcomes[job] = outcome::open_failed;
    return;
  }
  file_record& record = (*state->shared->files)[job];
  if (!same_unchanged_file(record.state, opened->state)) record.changed = true;
  record.state = opened->state;
  state->shared->outcomes[job] = outcome::reading;
  lane added;
  added.job = job;
  added.file = opened->number;
  added.group = group;
  // Before the first byte is read: what is compared must be what is there
  // at the deletion.
  added.compared_as_read = record.state.size >= compare_as_read_from;
  if (added.compared_as_read) {
    exclusion_attempt attempt =
        exclude_writers(state->reader.get(), opened->number);
    added.excluded = std::move(attempt.held);
  }
  sha1_start(&added.context);
  state->lanes.push_back(std::move(added));
}

// A batch's files are opened together, and start their lanes in its order.
// The reader is made for the first batch: a run with no file to read has no
// directory to read from.
void open_batch(reader_state* state, batch opening) {
  const shared_reading& shared = *state->shared;
  if (!state->reader) state->reader = make_reader(*shared.held);
  std::vector<const char*> entries;
  entries.reserve(opening.end - opening.first);
  for (std::uint32_t at = opening.first; at < opening.end; ++at)
    entries.push_back((*shared.files)[shared.plan.order[at]].entry);
  const std::vector<std::optional<opened_file>> opened =
      open_entries(state->reader.get(), entries);
  const std::uint32_t group = state->shared->next_group++;
  for (std::uint32_t at = opening.first; at < opening.end; ++at)
    start_job(state, shared.plan.order[at], opened[at - opening.first], group);
}

// Lanes that hash their own slices: the first of each group, and those not
// yet compared.
std::size_t hashing_lanes(const reader_state& state) {
  return static_cast<std::size_t>(
      std::count_if(state.lanes.begin(), state.lanes.end(),
                    [](const lane& lane) { return lane.hashes_own; }));
}

// The next batch for this reader, if it should take one now: whole batches
// join while too few files hash their own slices to keep every lane of the
// engine busy, as long as no batch being read gets shorter slices than it
// allows.
std::optional<batch> take_batch(reader_state* state) {
  shared_reading& shared = *state->shared;
  const std::lock_guard<std::mutex> lock(shared.admitting);
  if (shared.next_batch == shared.plan.batches.size()) return std::nullopt;
  const batch next = shared.plan.batches[shared.next_batch];
  if (state->lanes.empty()) state->most_lanes = next.most_lanes;
  const std::uint32_t most_lanes = std::min(state->most_lanes, next.most_lanes);
  if (!state->lanes.empty() &&
      (hashing_lanes(*state) >= sha1_lane_count() ||
       state->lanes.size() + (next.end - next.first) > most_lanes))
    return std::nullopt;
  state->most_lanes = most_lanes;
  ++shared.next_batch;
  return next;
}

void admit_batches(reader_state* state) {
  while (const std::optional<batch> next = take_batch(state))
    open_batch(state, *next);
}

// Slices of whole pages: every read lands on a page boundary, where the
// kernel copies fastest, and, being whole blocks, keeps every lane's pending
// block empty between reads, so no bytes are copied but a file's last few.
// Every lane's slice is read in one batch.
void read_round(reader_state* state) {
  const std::size_t slice_size = state->buffer_size / state->lanes.size() /
                                 page_alignment * page_alignment;
  std::vector<read_request> requests;
  requests.reserve(state->lanes.size());
  for (std::size_t i = 0; i < state->lanes.size(); ++i) {
    lane& lane = state->lanes[i];
    lane.slice = state->buffer.get() + i * slice_size;
    requests.push_back({lane.file, lane.slice, slice_size});
  }
  const std::vector<read_result> reads =
      read_files(state->reader.get(), requests);
  for (std::size_t i = 0; i < state->lanes.size(); ++i)
    state->lanes[i].read = reads[i];
}

// The large files of one batch are compared slice by slice as they are
// read, in step: the first of each group hashes for all of them, and those
// kept out of other writers' reach may be proved copies by it. Small files
// are not: comparing each with every other of its size would cost more
// than the hashing of the few copies among them. A file whose read failed
// is no longer compared: it leaves the run.
bool compared(const lane& lane) {
  return lane.compared_as_read && !lane.read.failed;
}

void split_by_slices(reader_state* state) {
  std::vector<slice_read> reads;
  for (const lane& lane : state->lanes)
    if (compared(lane))
      reads.push_back({lane.group, lane.slice, lane.read.count, lane.read.end});
  if (reads.size() < 2) return;
  std::uint32_t next = state->shared->next_group.load();
  const std::uint32_t first_new = next;
  split_groups(&reads, &next);
  // Numbers taken from the shared count only if the split needed any.
  std::uint32_t offset = 0;
  if (next != first_new)
    offset = state->shared->next_group.fetch_add(next - first_new) - first_new;
  std::size_t i = 0;
  for (lane& lane : state->lanes) {
    if (!compared(lane)) continue;
    const std::uint32_t group = reads[i++].group;
    lane.group = group >= first_new ? group + offset : group;
  }
}

// Every file of a group has hashed the same bytes before this round, so its
// digest state is its first file's, which alone needs to hash this round's.
void compare_round(reader_state* state) {
  split_by_slices(state);
  std::unordered_map<std::uint32_t, std::size_t> first_of_group;
  for (std::size_t i = 0; i < state->lanes.size(); ++i) {
    lane& lane = state->lanes[i];
    lane.hashed_by = i;
    if (compared(lane))
      lane.hashed_by = first_of_group.emplace(lane.group, i).first->second;
    lane.hashes_own = lane.hashed_by == i;
  }
}

// The part of a round's slices hashed at a time, by every lane together.
constexpr std::size_t cache_step = 32768;

void hash_step(reader_state* state, std::size_t offset) {
  const std::size_t width = sha1_lane_count();
  sha1_lane_input inputs[sha1_max_lanes];
  std::size_t count = 0;
  for (lane& lane : state->lanes) {
    if (lane.read.count <= offset || !lane.hashes_own) continue;
    const std::size_t length = std::min(cache_step, lane.read.count - offset);
    inputs[count++] = {&lane.context, lane.slice + offset, length};
    if (count == width) {
      sha1_update_lanes(inputs, count);
      count = 0;
    }
  }
  sha1_update_lanes(inputs, count);
}

void hash_round(reader_state* state) {
  std::size_t longest = 0;
  for (const lane& lane : state->lanes)
    longest = std::max(longest, lane.read.count);
  for (std::size_t offset = 0; offset < longest; offset += cache_step)
    hash_step(state, offset);
  for (lane& lane : state->lanes)
    if (!lane.hashes_own) lane.context = state->lanes[lane.hashed_by].context;
}

void end_lane(reader_state* state, lane* lane) {
  file_record& record = (*state->shared->files)[lane->job];
  if (lane->read.failed) {
    state->shared->outcomes[lane->job] = outcome::read_failed;
    return;
  }
  sha1_finish(&lane->context, record.digest.data());
  state->shared->outcomes[lane->job] = outcome::hashed;
}

// A file found equal to another, to their ends, with writers kept out of
// it all along, stays open for the erase phase, if the budget allows: its
// reading is the proof.
bool hold_for_erasing(reader_state* state, lane* lane) {
  if (!lane->excluded || lane->read.failed ||
      !writers_still_excluded(*lane->excluded))
    return false;
  shared_reading& shared = *state->shared;
  {
    const std::lock_guard<std::mutex> lock(shared.holding);
    if (shared.hold_budget == 0) return false;
    --shared.hold_budget;
  }
  held_read held;
  held.file = take_file(state->reader.get(), lane->file);
  held.excluded = std::move(lane->excluded);
  held.group = lane->group;
  const char* entry = (*shared.files)[lane->job].entry;
  const std::lock_guard<std::mutex> lock(shared.holding);
  (*shared.kept_open)[entry] = std::move(held);
  return true;
}

void end_files(reader_state* state) {
  // Groups of more than one file that all end now: the others have split off.
  std::map<std::uint32_t, std::size_t> ending;
  for (const lane& lane : state->lanes)
    if (lane.read.end && lane.excluded && compared(lane)) ++ending[lane.group];
  for (lane& lane : state->lanes) {
    if (!lane.read.end) continue;
    end_lane(state, &lane);
    if (lane.excluded && compared(lane) && ending[lane.group] > 1 &&
        hold_for_erasing(state, &lane))
      continue;
    lane.excluded.reset();  // Given up before the file closes.
    close_file(state->reader.get(), lane.file);
  }
  state->lanes.erase(
      std::remove_if(state->lanes.begin(), state->lanes.end(),
                     [](const lane& lane) { return lane.read.end; }),
      state->lanes.end());
}

}  // namespace

void read_batches(shared_reading* shared, std::size_t buffer_size,
                  const std::function<void()>& tell) {
  reader_state state;
  state.shared = shared;
  state.buffer = make_page_buffer(buffer_size);
  state.buffer_size = buffer_size;
  try {
    for (;;) {
      admit_batches(&state);
      tell();
      if (state.lanes.empty() || shared->stopping) return;
      read_round(&state);
      compare_round(&state);
      hash_round(&state);
      end_files(&state);
      tell();
    }
  } catch (...) {
    shared->stopping = true;
    throw;
  }
}
