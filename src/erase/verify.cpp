#include "erase/verify.h"

#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr std::size_t compare_chunk = 262144;

bool still_as_recorded(const file_record& record,
                       const std::optional<file_state>& now) {
  return now && !record.changed && same_unchanged_file(record.state, *now);
}

bool read_side_by_side_equal(const file_record& marked,
                             const file_record& keeper) {
  return marked.content_class != no_class &&
         marked.content_class == keeper.content_class && marked.state.settled &&
         keeper.state.settled;
}

// Opens `record`'s file to read it again, if it is still the file recorded.
open_file_handle reopen(const scanned_directory& scanned,
                        const file_record& record) {
  open_file_handle file = open_entry(*scanned.held, record.entry);
  if (file && !same_unchanged_file(record.state, *state_of(*file)))
    return nullptr;
  return file;
}

// Both files read again in step, chunk by chunk, compared as they are read.
verdict compare_by_reading(const scanned_directory& scanned,
                           const file_record& marked,
                           const file_record& keeper) {
  const open_file_handle mine = reopen(scanned, marked);
  if (!mine) return verdict::changed;
  const open_file_handle kept = reopen(scanned, keeper);
  if (!kept) return verdict::keeper_changed;
  const std::unique_ptr<unsigned char[]> buffer(
      new unsigned char[2 * compare_chunk]);
  unsigned char* const other = buffer.get() + compare_chunk;
  for (;;) {
    const read_result a = read_from(mine.get(), buffer.get(), compare_chunk);
    if (a.failed) return verdict::changed;
    const read_result b = read_from(kept.get(), other, compare_chunk);
    if (b.failed) return verdict::keeper_changed;
    if (a.count != b.count || std::memcmp(buffer.get(), other, a.count) != 0)
      return verdict::contents_differ;
    if (a.end) return verdict::copy;
  }
}

}  // namespace

verdict check_states(const scanned_directory& scanned,
                     const file_record& marked, const file_record& keeper,
                     const held_file& held) {
  const std::optional<file_state> mine = state_of(held);
  if (!still_as_recorded(marked, mine)) return verdict::changed;
  const std::optional<file_state> kept =
      inspect_entry(*scanned.held, keeper.entry);
  if (!still_as_recorded(keeper, kept)) return verdict::keeper_changed;
  if (mine->has_identity && kept->has_identity &&
      mine->identity == kept->identity)
    return verdict::same_file;
  return verdict::copy;
}

verdict verify_copy(const scanned_directory& scanned, const file_record& marked,
                    const file_record& keeper, const held_file& held,
                    run_mode mode) {
  const verdict states = check_states(scanned, marked, keeper, held);
  if (states != verdict::copy || mode == run_mode::size_only) return states;
  if (read_side_by_side_equal(marked, keeper)) return verdict::copy;
  return compare_by_reading(scanned, marked, keeper);
}
