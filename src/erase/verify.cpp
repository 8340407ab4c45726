#include "erase/verify.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>

#include "select/two_threads.h"

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

// Reads both files in step from `begin` to `end`, chunk by chunk, comparing
// as they are read, through `ours` and the chunk after it. A read that fails
// or ends before the recorded size is a change of that file. Gives up,
// without objecting, once `decided` is set by another part's objection.
verdict compare_range(const open_file& mine, const open_file& kept,
                      std::uint64_t begin, std::uint64_t end,
                      unsigned char* ours, const std::atomic<bool>& decided) {
  unsigned char* const theirs = ours + compare_chunk;
  for (std::uint64_t at = begin; at < end && !decided; at += compare_chunk) {
    const std::size_t length = static_cast<std::size_t>(
        std::min<std::uint64_t>(compare_chunk, end - at));
    const read_result a = read_at(mine, at, ours, length);
    if (a.failed || a.count != length) return verdict::changed;
    const read_result b = read_at(kept, at, theirs, length);
    if (b.failed || b.count != length) return verdict::keeper_changed;
    if (std::memcmp(ours, theirs, length) != 0) return verdict::contents_differ;
  }
  return verdict::copy;
}

// Files from this size on are compared in two halves, the second on a second
// thread where there is a second core: reading both again is most of what a
// large copy's proof costs, and it is no proof later for being slower.
constexpr std::uint64_t halves_from = 1048576;

verdict compare_contents(const open_file& mine, const open_file& kept,
                         std::uint64_t size, compare_buffer* buffer) {
  unsigned char* const first = buffer->bytes.get();
  unsigned char* const second = first + 2 * compare_chunk;
  const std::uint64_t half = size / 2 / compare_chunk * compare_chunk;
  std::atomic<bool> decided{false};
  verdict later = verdict::copy;
  second_thread other;
  const bool split =
      size >= halves_from && start_second(&other, [&] {
        later = compare_range(mine, kept, half, size, second, decided);
        if (later != verdict::copy) decided = true;
      });
  const verdict earlier =
      compare_range(mine, kept, 0, split ? half : size, first, decided);
  if (earlier != verdict::copy) decided = true;
  finish_second(&other);
  return earlier != verdict::copy ? earlier : later;
}

verdict compare_by_reading(const scanned_directory& scanned,
                           const file_record& marked, const file_record& keeper,
                           compare_buffer* buffer) {
  const open_file_handle mine = reopen(scanned, marked);
  if (!mine) return verdict::changed;
  const open_file_handle kept = reopen(scanned, keeper);
  if (!kept) return verdict::keeper_changed;
  if (one_file(*state_of(*mine), *state_of(*kept))) return verdict::same_file;
  // Records are grouped by digest alone: files of other sizes are no copies
  // whatever their first bytes.
  if (marked.state.size != keeper.state.size) return verdict::contents_differ;
  return compare_contents(*mine, *kept, marked.state.size, buffer);
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
