#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/console.h"
#include "platform/directory.h"
#include "platform/page_buffer.h"
#include "platform/platform.h"
#include "platform/reader.h"
#include "select/select.h"
#include "select/two_threads.h"
#include "sha1/sha1_lanes.h"

namespace {

// Shared out among the pass's readers.
constexpr std::size_t read_buffer_size = 4194304;
// Most files a reader reads side by side: each takes a share of the read
// buffer and a descriptor, so more would make every read small.
constexpr std::size_t most_side_by_side = 256;
// Descriptors left to the rest of the run when the readers' share is sized:
// the standard streams, the held directory, a ring each, the two files read
// again before a deletion, and a margin for the C library.
constexpr std::size_t descriptors_kept_back = 16;
// The readers the descriptors are shared out among, at most.
constexpr std::size_t most_readers = 2;

enum class outcome : unsigned char {
  waiting,
  reading,
  hashed,
  open_failed,
  read_failed
};

// One file being read, through its own slice of the read buffer, side by
// side with the other files of its batch.
struct lane {
  std::size_t job = 0;   ///< Its record's place in the list.
  std::size_t file = 0;  ///< Its number with the pass's reader.
  sha1_context context;
  read_result read;
  unsigned char* slice = nullptr;
};

// Files read side by side: a run of pass_state::order.
struct batch {
  std::uint32_t first = 0;
  std::uint32_t end = 0;
  /// Most files read side by side while this batch's files are.
  std::uint32_t most_lanes = 0;
};

// What the pass's readers share. A record is read by one reader, which
// fills it in and then sets its outcome; the reporter looks at a record only
// once its outcome is set.
struct pass_plan {
  const scanned_directory* scanned = nullptr;
  file_list* files = nullptr;
  /// One per record, in list order.
  std::unique_ptr<std::atomic<outcome>[]> outcomes;
  /// Every job once, those of one batch side by side: by size, then in list
  /// order.
  std::vector<std::uint32_t> order;
  /// Jobs of one size each, in the order they are read.
  std::vector<batch> batches;
  /// Most files one reader reads side by side.
  std::size_t side_by_side = most_side_by_side;
  std::mutex admitting;  ///< Guards next_batch.
  std::size_t next_batch = 0;
  /// Set when a reader fails: the others stop after their round.
  std::atomic<bool> stopping{false};
  /// The reader that does not report counts its rounds in `changes`, and
  /// sets `second_done` when it ends, so that the reporter, its own files
  /// read, can wait for news instead of for the end.
  std::mutex changing;  ///< Guards changes and second_done.
  std::condition_variable changed;
  std::uint64_t changes = 0;
  bool second_done = false;
};

// What the reporting thread has written so far.
struct progress {
  /// The first file in list order whose line is not yet complete.
  std::size_t next = 0;
  /// Its "Calculating sha1 for" text is written already.
  bool next_begun = false;
  /// A terminal shows every write at once; elsewhere lines gather.
  bool at_once = false;
  std::chrono::steady_clock::time_point flushed;
};

// One reader of the pass, with its own files, lanes and share of the buffer.
// The buffer is declared before the reader, so that it outlives every read
// the reader may still have in flight when a failure unwinds the pass.
struct pass_state {
  pass_plan* plan = nullptr;
  page_buffer buffer;
  std::size_t buffer_size = 0;
  batch_reader_handle reader;
  std::vector<lane> lanes;
  /// Most lanes the batches being read allow.
  std::uint32_t most_lanes = 0;
};

std::string hex_digest(const sha1_digest& digest) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : digest) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0f];
  }
  return text;
}

// The kernel's cost of a read is paid per call and per page: reading large
// files in many short slices, side by side, costs it several times what a
// plain reader pays for the same bytes in long reads. So files of `size`
// are read no more side by side than leaves each a slice of this length, or
// of the whole file where it is shorter; small files still share one batch.
constexpr std::size_t shortest_slice = 131072;

std::uint32_t most_lanes_for(std::uint64_t size, std::size_t side_by_side) {
  const std::uint64_t pages = (size + page_alignment - 1) / page_alignment;
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(
      std::max<std::uint64_t>(pages, 1) * page_alignment, shortest_slice));
  return static_cast<std::uint32_t>(std::clamp<std::size_t>(
      read_buffer_size / most_readers / wanted, 1, side_by_side));
}

// Adds the batches of one size group, at most most_lanes_for jobs each.
void add_batches(pass_plan* state, batch group) {
  const std::uint32_t most_lanes =
      most_lanes_for((*state->files)[state->order[group.first]].state.size,
                     state->side_by_side);
  for (std::uint32_t at = group.first; at < group.end;) {
    const std::uint32_t end = std::min(group.end, at + most_lanes);
    state->batches.push_back({at, end, most_lanes});
    at = end;
  }
}

// Size groups in the order of their first file in the list, so that the
// progress lines, which follow the list, are held back as little as may be.
// One sort of the jobs by size finds the groups, at 4 bytes a file.
void plan_batches(pass_plan* state) {
  const file_list& files = *state->files;
  std::vector<std::uint32_t>& order = state->order;
  order.resize(files.size());
  for (std::uint32_t job = 0; job < order.size(); ++job) order[job] = job;
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    if (files[a].state.size != files[b].state.size)
      return files[a].state.size < files[b].state.size;
    return a < b;
  });
  std::vector<batch> groups;
  for (std::uint32_t at = 0; at < order.size();) {
    std::uint32_t end = at + 1;
    while (end < order.size() &&
           files[order[end]].state.size == files[order[at]].state.size)
      ++end;
    groups.push_back({at, end});
    at = end;
  }
  std::sort(groups.begin(), groups.end(),
            [&](batch a, batch b) { return order[a.first] < order[b.first]; });
  for (const batch& group : groups) add_batches(state, group);
}

// Every file read side by side holds a descriptor: the readers share what
// the system allows, so that no file fails to open for want of one.
std::size_t side_by_side_allowed() {
  const std::size_t limit = raise_open_file_limit();
  const std::size_t spare =
      limit > descriptors_kept_back ? limit - descriptors_kept_back : 0;
  return std::clamp<std::size_t>(spare / most_readers, 1, most_side_by_side);
}

void start_plan(pass_plan* plan, const scanned_directory& scanned,
                file_list* files) {
  plan->scanned = &scanned;
  plan->files = files;
  plan->side_by_side = side_by_side_allowed();
  plan->outcomes.reset(new std::atomic<outcome>[files->size()]);
  for (std::size_t job = 0; job < files->size(); ++job)
    plan->outcomes[job] = outcome::waiting;
  plan_batches(plan);
}

// The record keeps the state of the file as opened: what it read is what
// that state describes. A file that is no longer the one listed, or was
// changed since, is read all the same but can be neither erased nor kept
// for another.
void start_job(pass_state* state, std::size_t job,
               const std::optional<opened_file>& opened) {
  if (!opened) {
    state->plan->outcomes[job] = outcome::open_failed;
    return;
  }
  file_record& record = (*state->plan->files)[job];
  if (!same_unchanged_file(record.state, opened->state)) record.changed = true;
  record.state = opened->state;
  state->plan->outcomes[job] = outcome::reading;
  lane added;
  added.job = job;
  added.file = opened->number;
  sha1_start(&added.context);
  state->lanes.push_back(std::move(added));
}

// A batch's files are opened together, and start their lanes in its order.
// The reader is made for the first batch: a run with no file to read has no
// directory to read from.
void open_batch(pass_state* state, batch opening) {
  const pass_plan& plan = *state->plan;
  if (!state->reader) state->reader = make_reader(*plan.scanned->held);
  std::vector<const char*> entries;
  entries.reserve(opening.end - opening.first);
  for (std::uint32_t at = opening.first; at < opening.end; ++at)
    entries.push_back((*plan.files)[plan.order[at]].entry);
  const std::vector<std::optional<opened_file>> opened =
      open_entries(state->reader.get(), entries);
  for (std::uint32_t at = opening.first; at < opening.end; ++at)
    start_job(state, plan.order[at], opened[at - opening.first]);
}

// The next batch for this reader, if it should take one now: whole batches
// join while too few files are being read to keep every lane of the engine
// busy, as long as no batch being read gets shorter slices than it allows.
std::optional<batch> take_batch(pass_state* state) {
  pass_plan& plan = *state->plan;
  const std::lock_guard<std::mutex> lock(plan.admitting);
  if (plan.next_batch == plan.batches.size()) return std::nullopt;
  const batch next = plan.batches[plan.next_batch];
  if (state->lanes.empty()) state->most_lanes = next.most_lanes;
  const std::uint32_t most_lanes = std::min(state->most_lanes, next.most_lanes);
  if (!state->lanes.empty() &&
      (state->lanes.size() >= sha1_lane_count() ||
       state->lanes.size() + (next.end - next.first) > most_lanes))
    return std::nullopt;
  state->most_lanes = most_lanes;
  ++plan.next_batch;
  return next;
}

void admit_batches(pass_state* state) {
  while (const std::optional<batch> next = take_batch(state))
    open_batch(state, *next);
}

// Every reader's share of the buffer holds a page for each file it reads.
static_assert(read_buffer_size / most_readers >=
                  most_side_by_side * page_alignment,
              "slices smaller than a page");

// Slices of whole pages: every read lands on a page boundary, where the
// kernel copies fastest, and, being whole blocks, keeps every lane's pending
// block empty between reads, so no bytes are copied but a file's last few.
// Every lane's slice is read in one batch.
void read_round(pass_state* state) {
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

// The part of a round's slices hashed at a time, by every lane together.
constexpr std::size_t cache_step = 32768;

void hash_step(pass_state* state, std::size_t offset) {
  const std::size_t width = sha1_lane_count();
  sha1_lane_input inputs[sha1_max_lanes];
  std::size_t count = 0;
  for (lane& lane : state->lanes) {
    if (lane.read.count <= offset) continue;
    const std::size_t length = std::min(cache_step, lane.read.count - offset);
    inputs[count++] = {&lane.context, lane.slice + offset,
                       static_cast<std::uint32_t>(length)};
    if (count == width) {
      sha1_update_lanes(inputs, count);
      count = 0;
    }
  }
  sha1_update_lanes(inputs, count);
}

void hash_round(pass_state* state) {
  std::size_t longest = 0;
  for (const lane& lane : state->lanes)
    longest = std::max(longest, lane.read.count);
  for (std::size_t offset = 0; offset < longest; offset += cache_step)
    hash_step(state, offset);
}

void end_lane(pass_state* state, lane* lane) {
  file_record& record = (*state->plan->files)[lane->job];
  if (lane->read.failed) {
    state->plan->outcomes[lane->job] = outcome::read_failed;
    return;
  }
  sha1_finish(&lane->context, record.digest.data());
  state->plan->outcomes[lane->job] = outcome::hashed;
}

void end_files(pass_state* state) {
  for (lane& lane : state->lanes) {
    if (!lane.read.end) continue;
    end_lane(state, &lane);
    close_file(state->reader.get(), lane.file);
  }
  state->lanes.erase(
      std::remove_if(state->lanes.begin(), state->lanes.end(),
                     [](const lane& lane) { return lane.read.end; }),
      state->lanes.end());
}

void write_begun(const scanned_directory& scanned, const file_record& record) {
  write_text("Calculating sha1 for " + full_name_of(scanned, record.entry) +
             " ...");
}

void write_settled(const scanned_directory& scanned, const file_record& record,
                   outcome result) {
  if (result == outcome::open_failed)
    write_line("Error opening : " + full_name_of(scanned, record.entry));
  else if (result == outcome::read_failed)
    write_line("Error reading : " + full_name_of(scanned, record.entry));
  else
    write_line(" ( " + hex_digest(record.digest) + " ) done.");
}

// Lines gathered for a file or a pipe wait no more than this for their
// reader; one clock read per round keeps that off the cost of each line.
constexpr std::chrono::seconds longest_hold{1};

void flush_when_due(progress* shown) {
  const auto now = std::chrono::steady_clock::now();
  if (now - shown->flushed < longest_hold) return;
  flush_output();
  shown->flushed = now;
}

// Reports the files at the head of the list whose outcome is known. On a
// terminal the next file's line starts as soon as it is being read, so
// that a long read shows which file it is; elsewhere each line is written
// whole, so that a run that ends abnormally leaves no part of one.
void report_settled(const pass_plan& plan, progress* shown) {
  const file_list& files = *plan.files;
  for (; shown->next < files.size(); ++shown->next, shown->next_begun = false) {
    const outcome result = plan.outcomes[shown->next];
    if (result == outcome::waiting ||
        (result == outcome::reading && !shown->at_once))
      break;
    if (!shown->next_begun) write_begun(*plan.scanned, files[shown->next]);
    shown->next_begun = true;
    if (result == outcome::reading) break;
    write_settled(*plan.scanned, files[shown->next], result);
  }
  flush_when_due(shown);
}

// A file that could not be opened or read leaves the run.
void remove_unread(const pass_plan& plan) {
  file_list& files = *plan.files;
  std::size_t kept = 0;
  for (std::size_t job = 0; job < files.size(); ++job)
    if (plan.outcomes[job] == outcome::hashed) files[kept++] = files[job];
  files.resize(kept);
}

// Tells the reporter what this reader started or ended: the reporting
// reader writes it itself, the other wakes the reporter if it waits.
void tell_reporter(pass_plan* plan, progress* shown) {
  if (shown != nullptr) {
    report_settled(*plan, shown);
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(plan->changing);
    ++plan->changes;
  }
  plan->changed.notify_one();
}

// Reads batches until none is left or another reader failed. The reader
// that reports (`shown` set) does so between its rounds.
void read_batches(pass_plan* plan, std::size_t buffer_size, progress* shown) {
  pass_state state;
  state.plan = plan;
  state.buffer = make_page_buffer(buffer_size);
  state.buffer_size = buffer_size;
  try {
    for (;;) {
      admit_batches(&state);
      tell_reporter(plan, shown);
      if (state.lanes.empty() || plan->stopping) return;
      read_round(&state);
      hash_round(&state);
      end_files(&state);
      tell_reporter(plan, shown);
    }
  } catch (...) {
    plan->stopping = true;
    throw;
  }
}

void end_second(pass_plan* plan) {
  {
    const std::lock_guard<std::mutex> lock(plan->changing);
    plan->second_done = true;
  }
  plan->changed.notify_one();
}

void read_as_second(pass_plan* plan, std::size_t buffer_size) {
  try {
    read_batches(plan, buffer_size, nullptr);
  } catch (...) {
    end_second(plan);
    throw;
  }
  end_second(plan);
}

// Its own files read, the reporter goes on reporting those of the second
// reader until it ends, waking for each of its rounds and, so that no
// gathered line waits longer, when the next flush is due.
void report_until_second_ends(pass_plan* plan, progress* shown) {
  std::unique_lock<std::mutex> lock(plan->changing);
  for (;;) {
    const std::uint64_t seen = plan->changes;
    const bool ended = plan->second_done;
    lock.unlock();
    try {
      report_settled(*plan, shown);
    } catch (...) {
      // Output failed: the second reader's remaining files are of no use.
      plan->stopping = true;
      throw;
    }
    if (ended) return;
    lock.lock();
    plan->changed.wait_until(lock, shown->flushed + longest_hold, [&] {
      return plan->changes != seen || plan->second_done;
    });
  }
}

// The pass's own memory is released before the marking, which takes some of
// its own: a run's peak is the records and the larger of the two.
void read_every_file(const scanned_directory& scanned, file_list* files) {
  pass_plan plan;
  start_plan(&plan, scanned, files);
  progress shown;
  shown.at_once = writes_show_at_once();
  // The lines before the pass go out as it starts.
  shown.flushed = std::chrono::steady_clock::now() - longest_hold;
  {
    // A second reader, where there is a second core, reads batches
    // alongside the calling thread: most of a small file's cost is the
    // system's work of opening and reading it, which the two cores share.
    second_thread second;
    const bool shared =
        plan.batches.size() >= 2 && start_second(&second, [&plan] {
          read_as_second(&plan, read_buffer_size / most_readers);
        });
    read_batches(&plan,
                 shared ? read_buffer_size / most_readers : read_buffer_size,
                 &shown);
    if (shared) report_until_second_ends(&plan, &shown);
    finish_second(&second);
  }
  report_settled(plan, &shown);
  remove_unread(plan);
}

}  // namespace

// Files of one size are read side by side, one slice each per round, and
// hashed together, several lanes of the engine at once.
void content_pass(const scanned_directory& scanned, file_list* files) {
  write_line("Calculating sha1 ...");
  read_every_file(scanned, files);
  mark_equal_digests(files);
}
