#include "select/content.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "console/console.h"
#include "platform/directory.h"
#include "platform/open_file.h"
#include "platform/page_buffer.h"
#include "platform/platform.h"
#include "select/content_reader.h"
#include "select/two_threads.h"

namespace {

// What the reporting thread has written so far, and how the reader that
// does not report tells it of news.
struct progress {
  const scanned_directory* scanned = nullptr;
  /// The first file in list order whose line is not yet complete.
  std::size_t next = 0;
  /// Its "Calculating sha1 for" text is written already.
  bool next_begun = false;
  /// A terminal shows every write at once; elsewhere lines gather.
  bool at_once = false;
  std::chrono::steady_clock::time_point flushed;
  /// The second reader counts its rounds in `changes`, and sets
  /// `second_done` when it ends, so that the reporter, its own files read,
  /// can wait for news instead of for the end.
  std::mutex changing;  ///< Guards changes and second_done.
  std::condition_variable changed;
  std::uint64_t changes = 0;
  bool second_done = false;
};

std::string hex_digest(const sha1_digest& digest) {
  char text[2 * sha1_digest_size];
  sha1_hex(digest.data(), digest.size(), text);
  return std::string(text, sizeof text);
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
void report_settled(const shared_reading& shared, progress* shown) {
  const file_list& files = *shared.files;
  for (; shown->next < files.size(); ++shown->next, shown->next_begun = false) {
    const outcome result = shared.outcomes[shown->next];
    if (result == outcome::waiting ||
        (result == outcome::reading && !shown->at_once))
      break;
    if (!shown->next_begun) write_begun(*shown->scanned, files[shown->next]);
    shown->next_begun = true;
    if (result == outcome::reading) break;
    write_settled(*shown->scanned, files[shown->next], result);
  }
  flush_when_due(shown);
}

// A file that could not be opened or read leaves the run.
void remove_unread(const shared_reading& shared) {
  file_list& files = *shared.files;
  std::size_t kept = 0;
  for (std::size_t job = 0; job < files.size(); ++job)
    if (shared.outcomes[job] == outcome::hashed) files[kept++] = files[job];
  files.resize(kept);
}

// Wakes the reporter, if it waits, for what the second reader started or
// ended, or for its end.
void tell_of_second(progress* shown, bool done) {
  {
    const std::lock_guard<std::mutex> lock(shown->changing);
    ++shown->changes;
    shown->second_done = done;
  }
  shown->changed.notify_one();
}

void read_as_second(shared_reading* shared, progress* shown,
                    std::size_t buffer_size) {
  try {
    read_batches(shared, buffer_size, [=] { tell_of_second(shown, false); });
  } catch (...) {
    tell_of_second(shown, true);
    throw;
  }
  tell_of_second(shown, true);
}

// Its own files read, the reporter goes on reporting those of the second
// reader until it ends, waking for each of its rounds and, so that no
// gathered line waits longer, when the next flush is due.
void report_until_second_ends(shared_reading* shared, progress* shown) {
  std::unique_lock<std::mutex> lock(shown->changing);
  for (;;) {
    const std::uint64_t seen = shown->changes;
    const bool ended = shown->second_done;
    lock.unlock();
    try {
      report_settled(*shared, shown);
    } catch (...) {
      // Output failed: the second reader's remaining files are of no use.
      shared->stopping = true;
      throw;
    }
    if (ended) return;
    lock.lock();
    shown->changed.wait_until(lock, shown->flushed + longest_hold, [&] {
      return shown->changes != seen || shown->second_done;
    });
  }
}

// A second reader, where there is a second core, reads batches alongside
// the calling thread, which also reports: most of a small file's cost is the
// system's work of opening and reading it, which the two cores share.
void read_every_file(shared_reading* shared, progress* shown) {
  second_thread second;
  const bool two =
      shared->plan.batches.size() >= 2 && start_second(&second, [=] {
        read_as_second(shared, shown, read_buffer_size / most_readers);
      });
  read_batches(shared, two ? read_buffer_size / most_readers : read_buffer_size,
               [=] { report_settled(*shared, shown); });
  if (two) report_until_second_ends(shared, shown);
  finish_second(&second);
}

// A key of the first page of `entry`'s file (FNV-1a); 0 when it cannot be
// read. It only orders files: their reading proves what they hold.
std::uint64_t first_page_key(const directory& held, const char* entry,
                             unsigned char* page) {
  const open_file_handle file = open_entry(held, entry);
  if (!file) return 0;
  const read_result read = read_at(*file, 0, page, page_alignment);
  std::uint64_t key = 14695981039346656037u;
  for (std::size_t i = 0; i < read.count; ++i)
    key = (key ^ page[i]) * 1099511628211u;
  return key;
}

// Keys of the first bytes of the files of every size group that spans
// several batches of files compared as they are read, by place; empty when
// there is none. Copies then share a batch.
std::vector<std::uint64_t> first_bytes_of(const directory* held,
                                          const file_list& files,
                                          std::size_t side_by_side) {
  std::unordered_map<std::uint64_t, std::size_t> group_sizes;
  for (const file_record& record : files)
    if (record.state.size >= compare_as_read_from)
      ++group_sizes[record.state.size];
  std::vector<std::uint64_t> keys;
  page_buffer page;
  for (std::size_t place = 0; place < files.size(); ++place) {
    const std::uint64_t size = files[place].state.size;
    if (size < compare_as_read_from ||
        !orders_by_first_bytes(size, group_sizes[size], side_by_side))
      continue;
    if (keys.empty()) {
      keys.assign(files.size(), 0);
      page = make_page_buffer(page_alignment);
    }
    keys[place] = first_page_key(*held, files[place].entry, page.get());
  }
  return keys;
}

}  // namespace

// The pass's own memory is released before the run goes on to mark, which
// takes some of its own: a run's peak is the records and the larger of the
// two.
held_reads content_pass(const scanned_directory& scanned, file_list* files) {
  write_line("Calculating sha1 ...");
  progress shown;
  shown.scanned = &scanned;
  shown.at_once = writes_show_at_once();
  // The lines before the pass go out as it starts.
  shown.flushed = std::chrono::steady_clock::now() - longest_hold;
  held_reads kept_open;
  {
    shared_reading shared;
    shared.held = scanned.held.get();
    shared.files = files;
    const std::size_t limit = raise_open_file_limit();
    const std::size_t side_by_side = side_by_side_allowed(limit);
    shared.plan =
        plan_content(*files, side_by_side,
                     first_bytes_of(scanned.held.get(), *files, side_by_side));
    shared.kept_open = &kept_open;
    shared.hold_budget = hold_budget_allowed(limit);
    shared.outcomes.reset(new std::atomic<outcome>[files->size()]);
    for (std::size_t job = 0; job < files->size(); ++job)
      shared.outcomes[job] = outcome::waiting;
    read_every_file(&shared, &shown);
    report_settled(shared, &shown);
    remove_unread(shared);
  }
  return kept_open;
}
