#include "erase/verify.h"

#include <cstring>
#include <optional>

namespace {

bool still_as_recorded(const file_record& record,
                       const std::optional<file_state>& now) {
  return now && !record.changed && same_unchanged_file(record.state, *now);
}

bool one_file(const file_state& a, const file_state& b) {
  return a.has_identity && b.has_identity && a.identity == b.identity;
}

// Opens `record`'s file to read it again, if it is still the file recorded.
open_file_handle reopen(const scanned_directory& scanned,
                        const file_record& record) {
  open_file_handle file = open_entry(*scanned.held, record.entry);
  if (file && !still_as_recorded(record, state_of(*file))) return nullptr;
  return file;
}

// Reads both files in step, chunk by chunk, comparing as they are read. A
// read that fails or ends before the recorded size is a change of that file.
verdict compare_contents(open_file* mine, open_file* kept,
                         compare_buffer* buffer) {
  unsigned char* const ours = buffer->bytes.get();
  unsigned char* const theirs = ours + compare_chunk;
  for (;;) {
    const read_result a = read_from(mine, ours, compare_chunk);
    if (a.failed) return verdict::changed;
    const read_result b = read_from(kept, theirs, compare_chunk);
    if (b.failed) return verdict::keeper_changed;
    if (a.count != b.count || std::memcmp(ours, theirs, a.count) != 0)
      return verdict::contents_differ;
    if (a.end || b.end)
      return a.end && b.end ? verdict::copy : verdict::contents_differ;
  }
}

verdict compare_by_reading(const scanned_directory& scanned,
                           const file_record& marked, const file_record& keeper,
                           compare_buffer* buffer) {
  const open_file_handle mine = reopen(scanned, marked);
  if (!mine) return verdict::changed;
  const open_file_handle kept = reopen(scanned, keeper);
  if (!kept) return verdict::keeper_changed;
  if (one_file(*state_of(*mine), *state_of(*kept))) return verdict::same_file;
  return compare_contents(mine.get(), kept.get(), buffer);
}

verdict why_not_held(const scanned_directory& scanned,
                     const file_record& keeper, const held_file& mine) {
  const std::optional<file_state> kept =
      inspect_entry(*scanned.held, keeper.entry);
  const std::optional<file_state> marked = state_of(mine);
  if (kept && marked && one_file(*kept, *marked)) return verdict::same_file;
  return verdict::keeper_changed;
}

}  // namespace

verdict check_states(const file_record& marked, const held_file& mine,
                     const file_record& keeper, const held_file& kept) {
  const std::optional<file_state> kept_now = state_of(kept);
  if (!still_as_recorded(keeper, kept_now)) return verdict::keeper_changed;
  const std::optional<file_state> mine_now = state_of(mine);
  if (!still_as_recorded(marked, mine_now)) return verdict::changed;
  if (one_file(*mine_now, *kept_now)) return verdict::same_file;
  return verdict::copy;
}

verdict verify_copy(const scanned_directory& scanned, const file_record& marked,
                    const held_file& mine, const file_record& keeper,
                    const held_file& kept, run_mode mode,
                    compare_buffer* buffer) {
  if (mode == run_mode::size_only)
    return check_states(marked, mine, keeper, kept);
  return compare_by_reading(scanned, marked, keeper, buffer);
}

verdict hold_keeper_and_verify(const scanned_directory& scanned,
                               const file_record& marked, const held_file& mine,
                               const file_record& keeper, run_mode mode,
                               compare_buffer* buffer, held_handle* kept) {
  if (hold_entry(*scanned.held, keeper.entry, hold_purpose::keeping, kept) !=
      hold_result::held)
    return why_not_held(scanned, keeper, mine);
  return verify_copy(scanned, marked, mine, keeper, **kept, mode, buffer);
}
