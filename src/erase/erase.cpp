#include "erase/erase.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "console/console.h"
#include "erase/proof.h"
#include "platform/directory.h"
#include "platform/file_state.h"

namespace {

void report_kept(const scanned_directory& scanned, const file_record& marked,
                 const file_record& kept, verdict why) {
  const std::string keeper = full_name_of(scanned, kept.entry);
  std::string reason;
  if (why == verdict::changed)
    reason = "it changed during the run";
  else if (why == verdict::keeper_changed)
    reason = keeper + " changed during the run or is gone";
  else if (why == verdict::same_file)
    reason = "it is the same file as " + keeper;
  else if (why == verdict::keeper_not_ours)
    reason = keeper + " belongs to another user";
  else if (why == verdict::open_for_writing)
    reason = "it is open for writing";
  else if (why == verdict::keeper_open_for_writing)
    reason = keeper + " is open for writing";
  else
    reason = "its contents differ from " + keeper;
  write_line("Kept : " + full_name_of(scanned, marked.entry) + " (" + reason +
             ")");
}

// A record of a file that had other names (hard links) when queried: the
// file, beside the record's place, so that sorting and searching read them
// in a row rather than records from all over the list.
struct shared_name {
  file_identity identity;
  std::uint32_t place = 0;
};

bool operator<(const shared_name& a, const shared_name& b) {
  return a.identity < b.identity ||
         (a.identity == b.identity && a.place < b.place);
}

// Sorted by file and, for each file, by place; usually none.
using shared_names = std::vector<shared_name>;

shared_names shared_files(const file_list& files) {
  shared_names shared;
  for (std::uint32_t place = 0; place < files.size(); ++place)
    if (files[place].state.has_identity && files[place].state.has_other_names)
      shared.push_back({files[place].state.identity, place});
  std::sort(shared.begin(), shared.end());
  return shared;
}

// The record of the next name, in list order, of the file `deleted` also
// had; null when there is none.
file_record* next_name(file_list* files, std::uint32_t deleted,
                       const shared_names& shared) {
  const shared_name gone{(*files)[deleted].state.identity, deleted};
  const auto after = std::upper_bound(shared.begin(), shared.end(), gone);
  if (after == shared.end() || !(after->identity == gone.identity))
    return nullptr;
  return &(*files)[after->place];
}

// Deleting one name of a file moves the file's change time, which would
// make its other names look changed by someone else. Names are proved in
// list order, so only the next one's record takes the new time, as long as
// nothing else about it differs; it passes the time on when it is deleted
// in turn. One query a deletion, however many names a file has.
void note_own_change(const scanned_directory& scanned, file_list* files,
                     std::uint32_t deleted, const shared_names& shared) {
  const file_state gone = (*files)[deleted].state;
  if (!gone.has_identity || !gone.has_other_names) return;
  file_record* next = next_name(files, deleted, shared);
  if (next == nullptr) return;
  const std::optional<file_state> now =
      inspect_entry(*scanned.held, next->entry);
  if (!now || !now->has_identity || !(now->identity == gone.identity)) return;
  file_state moved = next->state;
  moved.change_time = now->change_time;
  moved.has_change_time = now->has_change_time;
  if (same_unchanged_file(moved, *now)) next->state = moved;
}

}  // namespace

void erase_marked(const scanned_directory& scanned, file_list* files,
                  run_mode mode, held_reads* pass) {
  const shared_names shared = shared_files(*files);
  std::optional<compare_buffer> buffer;
  if (mode == run_mode::content_mode) buffer.emplace();
  bool found = false;
  for (std::uint32_t place = 0; place < files->size(); ++place) {
    const file_record& record = (*files)[place];
    if (!record.erase_mark) continue;
    found = true;
    const file_record& keeper = (*files)[record.keeper];
    const verdict found = prove_and_erase(scanned, record, keeper, mode,
                                          buffer ? &*buffer : nullptr, pass);
    pass->erase(record.entry);
    if (found == verdict::copy)
      note_own_change(scanned, files, place, shared);
    else
      report_kept(scanned, record, keeper, found);
  }
  if (!found) write_line("Nothing to erase (no duplicate found).");
}
