#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "platform/platform.h"
#include "select/select.h"
#include "sha1/sha1_lanes.h"

namespace {

constexpr std::size_t read_buffer_size = 4194304;

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
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

// What one read gave. A short count means end of file or a read error; only
// the first ends the digest, since a digest of a prefix would make different
// files equal.
struct chunk {
  std::size_t count = 0;
  bool last = false;
  bool failed = false;
};

chunk read_chunk(std::FILE* file, unsigned char* buffer, std::size_t size) {
  chunk read;
  read.count = std::fread(buffer, 1, size, file);
  read.last = read.count < size;
  read.failed = read.last && std::ferror(file);
  return read;
}

enum class outcome { hashing, hashed, open_failed, read_failed };

// A file of the list from its opening to its line. Lines go out in list
// order, so a file that ends before those opened earlier waits for them.
struct job {
  file_list::iterator record;
  outcome result = outcome::hashing;
};

// One file being read through its own slice of the read buffer.
struct lane {
  job* current = nullptr;
  std::unique_ptr<std::FILE, file_closer> file;
  sha1_context context;
  unsigned char* slice = nullptr;
  chunk read;
};

struct pass_state {
  file_list* files = nullptr;
  file_list::iterator next;  ///< The first record not yet opened.
  std::deque<job> jobs;      ///< Opened and not yet reported, in list order.
  std::vector<lane> lanes;
  std::size_t slice_size = 0;
};

// Whole blocks per slice keep every lane's pending block empty between
// reads, so no bytes are copied but a file's last few.
pass_state start_pass(file_list* files, unsigned char* buffer) {
  pass_state state;
  state.files = files;
  state.next = files->begin();
  state.lanes.resize(sha1_lane_count());
  state.slice_size = read_buffer_size / state.lanes.size() / 64 * 64;
  for (std::size_t i = 0; i < state.lanes.size(); ++i)
    state.lanes[i].slice = buffer + i * state.slice_size;
  return state;
}

// Opens the next file of the list that can be opened into `lane`; false when
// none is left. Files that cannot be opened are settled on the way.
bool start_next_file(pass_state* state, lane* lane) {
  while (state->next != state->files->end()) {
    state->jobs.push_back(job{state->next++});
    lane->file.reset(open_regular_file(state->jobs.back().record->name));
    if (!lane->file) {
      state->jobs.back().result = outcome::open_failed;
      continue;
    }
    lane->current = &state->jobs.back();
    sha1_start(&lane->context);
    return true;
  }
  return false;
}

void end_file(lane* lane) {
  if (lane->read.failed) {
    lane->current->result = outcome::read_failed;
  } else {
    sha1_finish(&lane->context, lane->current->record->digest.data());
    lane->current->result = outcome::hashed;
  }
  lane->file.reset();
  lane->current = nullptr;
}

// Fills the lane's slice from its file, or from the next files when it ends
// without a byte more, so that a lane idles only when the list is done.
void fill_lane(pass_state* state, lane* lane) {
  lane->read = chunk{};
  while (lane->current != nullptr || start_next_file(state, lane)) {
    lane->read = read_chunk(lane->file.get(), lane->slice, state->slice_size);
    if (lane->read.count > 0) return;
    end_file(lane);
  }
}

void hash_round(pass_state* state) {
  sha1_lane_input inputs[sha1_max_lanes];
  std::size_t count = 0;
  for (lane& lane : state->lanes)
    if (lane.read.count > 0)
      inputs[count++] = {&lane.context, lane.slice,
                         static_cast<std::uint32_t>(lane.read.count)};
  sha1_update_lanes(inputs, count);
  for (lane& lane : state->lanes)
    if (lane.current != nullptr && lane.read.last) end_file(&lane);
}

void report(const job& job) {
  const std::string& name = job.record->name;
  write_text("Calculating sha1 for " + name + " ...");
  if (job.result == outcome::open_failed)
    write_line("Error opening : " + name);
  else if (job.result == outcome::read_failed)
    write_line("Error reading : " + name);
  else
    write_line(" ( " + hex_digest(job.record->digest) + " ) done.");
}

// Reports the settled files at the head of the list; a file that cannot be
// opened or read leaves the run.
void report_settled(pass_state* state) {
  while (!state->jobs.empty() &&
         state->jobs.front().result != outcome::hashing) {
    const job& job = state->jobs.front();
    report(job);
    if (job.result != outcome::hashed) state->files->erase(job.record);
    state->jobs.pop_front();
  }
}

// Every lane may end its file in the same round: the list decides.
bool work_left(const pass_state& state) {
  return state.next != state.files->end() ||
         std::any_of(state.lanes.begin(), state.lanes.end(),
                     [](const lane& lane) { return lane.current != nullptr; });
}

}  // namespace

// Every lane reads one slice per round and the lanes are hashed together;
// a lane whose file ends takes the next file of the list, whatever its size
// group, so pairs of small files keep all lanes busy as well as large ones.
void content_pass(file_list* files) {
  write_line("Calculating sha1 ...");
  const std::unique_ptr<unsigned char[]> read_buffer(
      new unsigned char[read_buffer_size]);
  pass_state state = start_pass(files, read_buffer.get());
  do {
    for (lane& lane : state.lanes) fill_lane(&state, &lane);
    hash_round(&state);
    report_settled(&state);
  } while (work_left(state));
  mark_equal_digests(files);
}
