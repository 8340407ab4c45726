#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "console/console.h"
#include "platform/directory.h"
#include "platform/reader.h"
#include "select/select.h"
#include "sha1/sha1_lanes.h"

namespace {

// Shared out among the pass's readers.
constexpr std::size_t read_buffer_size = 4194304;
// Most files read side by side: each takes a share of the read buffer and a
// descriptor, so more would make every read small.
constexpr std::size_t most_side_by_side = 256;
// A size group of large files that cannot all be read side by side with
// large reads is first split by its files' first bytes, so that the files
// likely to be equal are the ones read side by side.
constexpr std::size_t prefix_size = 4096;
constexpr std::uint64_t large_file = 65536;

enum class outcome : unsigned char {
  waiting,
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
  std::uint32_t content_class = 0;  ///< Shared while read equal.
  read_result read;
  unsigned char* slice = nullptr;
};

// Files read side by side: a run of pass_state::order.
struct batch {
  std::uint32_t first = 0;
  std::uint32_t end = 0;
};

// What the pass's readers share. A record is read by one reader, which
// fills it in and then sets its outcome; the reporter looks at a record only
// once its outcome is set.
struct pass_plan {
  const scanned_directory* scanned = nullptr;
  file_list* files = nullptr;
  /// One per record, in list order.
  std::unique_ptr<std::atomic<outcome>[]> outcomes;
  /// Every job once, those of one batch side by side: by size, then by first
  /// bytes where a size group is split, then in list order.
  std::vector<std::uint32_t> order;
  /// Jobs of one size (and first bytes) each, in the order they are read.
  std::vector<batch> batches;
  std::mutex admitting;  ///< Guards next_batch.
  std::size_t next_batch = 0;
  std::atomic<std::uint32_t> next_class{no_class + 1};
  /// Set when a reader fails: the others stop after their round.
  std::atomic<bool> stopping{false};
};

// One reader of the pass, with its own files, lanes and share of the buffer.
struct pass_state {
  pass_plan* plan = nullptr;
  batch_reader_handle reader;
  std::vector<lane> lanes;
  std::unique_ptr<unsigned char[]> buffer;
  std::size_t buffer_size = 0;
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

// A hash of the first bytes of a job's file, as the key that splits its size
// group; a file that cannot be read keys on its place in the list. Equal
// hashes of other bytes only put files into one batch, where their bytes
// are compared all the same.
std::size_t prefix_key(const pass_plan& plan, std::size_t job) {
  const open_file_handle file =
      open_entry(*plan.scanned->held, (*plan.files)[job].entry);
  unsigned char bytes[prefix_size];
  const read_result read =
      file ? read_from(file.get(), bytes, prefix_size) : read_result{};
  if (!file || read.failed) return job;
  return std::hash<std::string_view>()(
      std::string_view(reinterpret_cast<const char*>(bytes), read.count));
}

// Adds the batches of one part of a size group, at most most_side_by_side
// jobs each.
void add_batches(pass_plan* state, batch part) {
  for (std::uint32_t at = part.first; at < part.end;) {
    const std::uint32_t end = static_cast<std::uint32_t>(
        std::min<std::size_t>(part.end, at + most_side_by_side));
    state->batches.push_back({at, end});
    at = end;
  }
}

// Orders a size group by the first bytes of its files, keys in the order
// they are first met and files of one key in list order, and adds the
// batches of each key.
void split_by_first_bytes(pass_plan* state, batch group) {
  std::unordered_map<std::size_t, std::uint32_t> rank_of;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranked;  // rank, job
  for (std::uint32_t at = group.first; at < group.end; ++at) {
    const std::uint32_t job = state->order[at];
    const auto added = rank_of.emplace(
        prefix_key(*state, job), static_cast<std::uint32_t>(rank_of.size()));
    ranked.emplace_back(added.first->second, job);
  }
  std::stable_sort(
      ranked.begin(), ranked.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::uint32_t at = group.first; at < group.end; ++at)
    state->order[at] = ranked[at - group.first].second;
  for (std::uint32_t at = group.first; at < group.end;) {
    std::uint32_t end = at + 1;
    while (end < group.end &&
           ranked[end - group.first].first == ranked[at - group.first].first)
      ++end;
    add_batches(state, {at, end});
    at = end;
  }
}

// Splits one size group into the batches read side by side: as it is when
// all its files can be read together with large reads, otherwise by the
// first bytes of each file, and in the end by the most side by side.
void add_group(pass_plan* state, batch group) {
  const std::size_t count = group.end - group.first;
  const std::uint64_t size =
      (*state->files)[state->order[group.first]].state.size;
  if (count > most_side_by_side ||
      (count > sha1_lane_count() && size > large_file))
    split_by_first_bytes(state, group);
  else
    add_batches(state, group);
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
  for (const batch& group : groups) add_group(state, group);
}

void start_plan(pass_plan* plan, const scanned_directory& scanned,
                file_list* files) {
  plan->scanned = &scanned;
  plan->files = files;
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
               const std::optional<opened_file>& opened,
               std::uint32_t batch_class) {
  if (!opened) {
    state->plan->outcomes[job] = outcome::open_failed;
    return;
  }
  file_record& record = (*state->plan->files)[job];
  if (!same_unchanged_file(record.state, opened->state)) record.changed = true;
  record.state = opened->state;
  lane added;
  added.job = job;
  added.file = opened->number;
  added.content_class = batch_class;
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
  const std::uint32_t batch_class = state->plan->next_class++;
  for (std::uint32_t at = opening.first; at < opening.end; ++at)
    start_job(state, plan.order[at], opened[at - opening.first], batch_class);
}

// Whole batches join while too few files are being read to keep every lane
// of the engine busy.
// The next batch for this reader, if it should take one now.
std::optional<batch> take_batch(pass_state* state) {
  pass_plan& plan = *state->plan;
  const std::lock_guard<std::mutex> lock(plan.admitting);
  if (plan.next_batch == plan.batches.size()) return std::nullopt;
  const batch next = plan.batches[plan.next_batch];
  if (!state->lanes.empty() &&
      (state->lanes.size() >= sha1_lane_count() ||
       state->lanes.size() + (next.end - next.first) > most_side_by_side))
    return std::nullopt;
  ++plan.next_batch;
  return next;
}

void admit_batches(pass_state* state) {
  while (const std::optional<batch> next = take_batch(state))
    open_batch(state, *next);
}

// Whole blocks per slice keep every lane's pending block empty between
// reads, so no bytes are copied but a file's last few. Every lane's slice
// is read in one batch.
void read_round(pass_state* state) {
  const std::size_t slice_size = std::max<std::size_t>(
      64, state->buffer_size / state->lanes.size() / 64 * 64);
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

// The part of a round's slices hashed and compared at a time: small enough
// that every lane's part is still in the CPU's cache when it is compared.
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

bool same_step(const lane& a, const lane& b, std::size_t offset) {
  if (a.read.count != b.read.count) return false;
  if (a.read.count <= offset) return true;
  // Most files of one size differ in their first byte: spare them the call.
  if (a.slice[offset] != b.slice[offset]) return false;
  const std::size_t length = std::min(cache_step, a.read.count - offset);
  return std::memcmp(a.slice + offset, b.slice + offset, length) == 0;
}

// Splits each class of files read equal so far by what this step of the
// round read: a file stays with the first file of its class whose bytes
// equal its own, or starts a class of its own. Classes never merge again.
void compare_step(pass_state* state, std::size_t offset) {
  struct split {
    std::uint32_t before = 0;
    std::uint32_t after = 0;
    const lane* first = nullptr;
  };
  std::vector<split> splits;
  for (lane& lane : state->lanes) {
    if (lane.read.failed) continue;
    bool seen_class = false;
    const split* match = nullptr;
    for (const split& known : splits) {
      if (known.before != lane.content_class) continue;
      seen_class = true;
      if (same_step(*known.first, lane, offset)) {
        match = &known;
        break;
      }
    }
    const std::uint32_t before = lane.content_class;
    if (match != nullptr)
      lane.content_class = match->after;
    else if (seen_class)
      lane.content_class = state->plan->next_class++;
    if (match == nullptr) splits.push_back({before, lane.content_class, &lane});
  }
}

// A round that read nothing in any lane still compares once: the counts.
void hash_and_compare_round(pass_state* state) {
  std::size_t longest = 0;
  for (const lane& lane : state->lanes)
    longest = std::max(longest, lane.read.count);
  std::size_t offset = 0;
  do {
    hash_step(state, offset);
    compare_step(state, offset);
    offset += cache_step;
  } while (offset < longest);
}

void end_lane(pass_state* state, lane* lane) {
  file_record& record = (*state->plan->files)[lane->job];
  if (lane->read.failed) {
    state->plan->outcomes[lane->job] = outcome::read_failed;
    return;
  }
  sha1_finish(&lane->context, record.digest.data());
  record.content_class = lane->content_class;
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

void report(const scanned_directory& scanned, const file_record& record,
            outcome result) {
  const std::string name = full_name_of(scanned, record.entry);
  write_text("Calculating sha1 for " + name + " ...");
  if (result == outcome::open_failed)
    write_line("Error opening : " + name);
  else if (result == outcome::read_failed)
    write_line("Error reading : " + name);
  else
    write_line(" ( " + hex_digest(record.digest) + " ) done.");
}

// Reports the settled files at the head of the list.
void report_settled(const pass_plan& plan, std::size_t* next_report) {
  while (*next_report < plan.files->size() &&
         plan.outcomes[*next_report] != outcome::waiting) {
    const std::size_t job = (*next_report)++;
    report(*plan.scanned, (*plan.files)[job], plan.outcomes[job]);
  }
}

// A file that could not be opened or read leaves the run.
void remove_unread(const pass_plan& plan) {
  file_list& files = *plan.files;
  std::size_t kept = 0;
  for (std::size_t job = 0; job < files.size(); ++job)
    if (plan.outcomes[job] == outcome::hashed) files[kept++] = files[job];
  files.resize(kept);
}

// Reads batches until none is left or another reader failed. The reader
// that reports (`next_report` set) does so between its rounds.
void read_batches(pass_plan* plan, std::size_t buffer_size,
                  std::size_t* next_report) {
  pass_state state;
  state.plan = plan;
  state.buffer.reset(new unsigned char[buffer_size]);
  state.buffer_size = buffer_size;
  try {
    for (;;) {
      admit_batches(&state);
      if (next_report != nullptr) report_settled(*plan, next_report);
      if (state.lanes.empty() || plan->stopping) return;
      read_round(&state);
      hash_and_compare_round(&state);
      end_files(&state);
      if (next_report != nullptr) report_settled(*plan, next_report);
    }
  } catch (...) {
    plan->stopping = true;
    throw;
  }
}

// A second reader, where there is a second core, reads batches alongside
// the calling thread: most of a small file's cost is the system's work of
// opening and reading it, which the two cores share. It is joined before
// its plan goes, whatever ends the pass.
struct second_reader {
  std::thread thread;
  std::exception_ptr failure;
  ~second_reader() {
    if (thread.joinable()) thread.join();
  }
};

bool start_second_reader(pass_plan* plan, std::size_t buffer_size,
                         second_reader* second) {
  if (std::thread::hardware_concurrency() < 2 || plan->batches.size() < 2)
    return false;
  try {
    second->thread = std::thread([plan, buffer_size, second] {
      try {
        read_batches(plan, buffer_size, nullptr);
      } catch (...) {
        second->failure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    return false;  // No thread to be had: the calling thread reads alone.
  }
  return true;
}

// The pass's own memory is released before the marking, which takes some of
// its own: a run's peak is the records and the larger of the two.
void read_every_file(const scanned_directory& scanned, file_list* files) {
  pass_plan plan;
  start_plan(&plan, scanned, files);
  std::size_t next_report = 0;
  {
    second_reader second;
    const std::size_t buffer_size =
        start_second_reader(&plan, read_buffer_size / 2, &second)
            ? read_buffer_size / 2
            : read_buffer_size;
    read_batches(&plan, buffer_size, &next_report);
    if (second.thread.joinable()) second.thread.join();
    if (second.failure) std::rethrow_exception(second.failure);
  }
  report_settled(plan, &next_report);
  remove_unread(plan);
}

}  // namespace

// Files of one size are read side by side, one slice each per round, and
// hashed together; their slices are compared while they are in the buffer,
// which proves equal files equal byte for byte at no cost of reading again.
void content_pass(const scanned_directory& scanned, file_list* files) {
  write_line("Calculating sha1 ...");
  read_every_file(scanned, files);
  mark_equal_digests(files);
}
