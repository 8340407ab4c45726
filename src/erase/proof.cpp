#include "erase/proof.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "console/console.h"
#include "platform/deletion.h"
#include "platform/directory.h"
#include "platform/exclusion.h"
#include "platform/file_state.h"
#include "platform/open_file.h"
#include "select/two_threads.h"

namespace {

bool still_as_recorded(const file_record& record,
                       const std::optional<file_state>& now) {
  return now && !record.changed && same_unchanged_file(record.state, *now);
}

bool one_file(const file_state& a, const file_state& b) {
  return a.has_identity && b.has_identity && a.identity == b.identity;
}

bool one_owner(const file_state& a, const file_state& b) {
  return !a.has_owner || !b.has_owner || a.owner == b.owner;
}

// Written, and flushed, before any of the proof: however long the line
// takes to be written (a full pipe, a paused terminal), the proof that
// follows it is what the deletion rests on.
void announce(const std::string& name) {
  write_line("Erasing : " + name);
  flush_output();
}

std::system_error refused(const std::string& name) {
  return std::system_error(std::make_error_code(std::errc::permission_denied),
                           name);
}

verdict why_not_claimed(const scanned_directory& scanned,
                        const file_record& keeper, const claimed_file& mine) {
  const std::optional<file_state> kept =
      inspect_entry(*scanned.held, keeper.entry);
  const std::optional<file_state> marked = state_of(mine);
  if (kept && marked && one_file(*kept, *marked)) return verdict::same_file;
  return verdict::keeper_changed;
}

// The two files as opened for their comparison, with writers kept out of
// them where the system can. They stay open until the deletion is done, so
// that the end of the proof shows nowhere (a watcher of the directory sees
// a file closed) before the file is gone.
struct read_pair {
  open_file_handle mine;
  open_file_handle kept;
  exclusion_handle mine_excluding;
  exclusion_handle kept_excluding;
  /// The exclusions the proof rests on: those above, or the content pass's.
  writer_exclusion* mine_excluded = nullptr;
  writer_exclusion* kept_excluded = nullptr;
};

// Keeps writers out of both files before the first byte is read, so that the
// bytes compared are still theirs at the deletion. A file that another
// program has open for writing (or mapped shared and writable) stays.
verdict keep_writers_out(read_pair* read) {
  exclusion_attempt mine = exclude_writers(*read->mine);
  if (mine.outcome == exclusion_outcome::open_for_writing)
    return verdict::open_for_writing;
  exclusion_attempt kept = exclude_writers(*read->kept);
  if (kept.outcome == exclusion_outcome::open_for_writing)
    return verdict::keeper_open_for_writing;
  read->mine_excluding = std::move(mine.held);
  read->kept_excluding = std::move(kept.held);
  read->mine_excluded = read->mine_excluding.get();
  read->kept_excluded = read->kept_excluding.get();
  return verdict::copy;
}

// Whether the exclusions taken still hold; a writer that asked for a file
// since may have changed what was compared.
verdict still_excluded(const read_pair& read) {
  if (read.mine_excluded && !writers_still_excluded(*read.mine_excluded))
    return verdict::open_for_writing;
  if (read.kept_excluded && !writers_still_excluded(*read.kept_excluded))
    return verdict::keeper_open_for_writing;
  return verdict::copy;
}

// From the last check to the end of the deletion a writer that asks waits,
// rather than slip in between.
struct deferral {
  explicit deferral(read_pair* read) : read(read) {
    if (read->mine_excluded) defer_release(read->mine_excluded);
    if (read->kept_excluded) defer_release(read->kept_excluded);
  }
  ~deferral() {
    if (read->mine_excluded) end_deferral(read->mine_excluded);
    if (read->kept_excluded) end_deferral(read->kept_excluded);
  }
  read_pair* read;
};

// Opens `record`'s file to read it again, if it is still the file recorded.
open_file_handle reopen(const scanned_directory& scanned,
                        const file_record& record) {
  open_file_handle file = open_entry(*scanned.held, record.entry);
  if (!file || !still_as_recorded(record, state_of(*file))) return nullptr;
  read_afresh(*file);
  return file;
}

// Reads both files in step from `begin`, chunk by chunk, comparing as they
// are read, through `ours` and the chunk after it, up to `end` or, when
// `to_end`, to their true ends, which must then be one place. Gives up,
// without objecting, once `decided` is set by another part's objection.
verdict compare_range(const open_file& mine, const open_file& kept,
                      std::uint64_t begin, std::uint64_t end, bool to_end,
                      unsigned char* ours, const std::atomic<bool>& decided) {
  unsigned char* const theirs = ours + compare_chunk;
  for (std::uint64_t at = begin; to_end || at < end; at += compare_chunk) {
    if (decided) return verdict::copy;
    const std::size_t length =
        to_end ? compare_chunk
               : static_cast<std::size_t>(
                     std::min<std::uint64_t>(compare_chunk, end - at));
    const read_result a = read_at(mine, at, ours, length);
    if (a.failed) return verdict::changed;
    const read_result b = read_at(kept, at, theirs, length);
    if (b.failed) return verdict::keeper_changed;
    if (a.count != b.count || std::memcmp(ours, theirs, a.count) != 0)
      return verdict::contents_differ;
    // Both ended here, where a read found no more bytes: one true end.
    if (a.count < length) return verdict::copy;
  }
  return verdict::copy;
}

// Files from this size on are compared in two halves, the second on a second
// thread where there is a second core: reading both again is most of what a
// large copy's proof costs, and it is no proof later for being slower. The
// recorded size only places the split; the second half reads to the end.
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
        later = compare_range(mine, kept, half, 0, true, second, decided);
        if (later != verdict::copy) decided = true;
      });
  const verdict earlier =
      split ? compare_range(mine, kept, 0, half, false, first, decided)
            : compare_range(mine, kept, 0, 0, true, first, decided);
  if (earlier != verdict::copy) decided = true;
  finish_second(&other);
  return earlier != verdict::copy ? earlier : later;
}

verdict compare_afresh(const scanned_directory& scanned,
                       const file_record& marked, const file_record& keeper,
                       compare_buffer* buffer, read_pair* read) {
  read->mine = reopen(scanned, marked);
  if (!read->mine) return verdict::changed;
  read->kept = reopen(scanned, keeper);
  if (!read->kept) return verdict::keeper_changed;
  if (one_file(*state_of(*read->mine), *state_of(*read->kept)))
    return verdict::same_file;
  const verdict excluded = keep_writers_out(read);
  if (excluded != verdict::copy) return excluded;
  // Records are grouped by digest alone: files of other sizes are no copies
  // whatever their first bytes.
  if (marked.state.size != keeper.state.size) return verdict::contents_differ;
  return compare_contents(*read->mine, *read->kept, marked.state.size, buffer);
}

// True when the content pass's reading alone proves the marked file a copy of
// its keeper: both were read with every other writer kept out from before
// their first byte until now, and found equal, to their ends, as they were
// read side by side. The checks by name that follow tell that the names
// still lead to the files read.
bool proved_in_pass(const file_record& marked, const file_record& keeper,
                    held_reads* pass, read_pair* read) {
  if (pass == nullptr) return false;
  const auto mine = pass->find(marked.entry);
  const auto kept = pass->find(keeper.entry);
  if (mine == pass->end() || kept == pass->end() ||
      mine->second.group != kept->second.group ||
      !writers_still_excluded(*mine->second.excluded) ||
      !writers_still_excluded(*kept->second.excluded))
    return false;
  read->mine_excluded = mine->second.excluded.get();
  read->kept_excluded = kept->second.excluded.get();
  return true;
}

// The keeper first, the marked file last: after its check comes only its
// deletion. The checks come after the comparison, so that a name given to
// another file while the two were read is seen.
verdict check_states(const file_record& marked, const claimed_file& mine,
                     const file_record& keeper, const claimed_file& kept) {
  const std::optional<file_state> kept_now = state_of(kept);
  if (!still_as_recorded(keeper, kept_now)) return verdict::keeper_changed;
  const std::optional<file_state> mine_now = state_of(mine);
  if (!still_as_recorded(marked, mine_now)) return verdict::changed;
  if (one_file(*mine_now, *kept_now)) return verdict::same_file;
  // Another user's copy may be deleted by that user at any time after the
  // run, taking the only copy with it.
  if (!one_owner(*mine_now, *kept_now)) return verdict::keeper_not_ours;
  return verdict::copy;
}

}  // namespace

verdict prove_and_erase(const scanned_directory& scanned,
                        const file_record& marked, const file_record& keeper,
                        run_mode mode, compare_buffer* buffer,
                        held_reads* pass) {
  const std::string name = full_name_of(scanned, marked.entry);
  announce(name);
  claimed_handle mine;
  const claim_result claim =
      claim_entry(*scanned.held, marked.entry, claim_purpose::deleting, &mine);
  if (claim == claim_result::refused) throw refused(name);
  if (claim == claim_result::gone) return verdict::changed;
  if (claim == claim_result::open_for_writing) return verdict::open_for_writing;
  claimed_handle kept;
  const claim_result keeping =
      claim_entry(*scanned.held, keeper.entry, claim_purpose::keeping, &kept);
  if (keeping == claim_result::open_for_writing)
    return verdict::keeper_open_for_writing;
  if (keeping != claim_result::claimed)
    return why_not_claimed(scanned, keeper, *mine);
  read_pair read;
  if (mode == run_mode::content_mode &&
      !proved_in_pass(marked, keeper, pass, &read)) {
    const verdict bytes =
        compare_afresh(scanned, marked, keeper, buffer, &read);
    if (bytes != verdict::copy) return bytes;
  }
  const deferral waiting(&read);
  const verdict excluded = still_excluded(read);
  if (excluded != verdict::copy) return excluded;
  const verdict states = check_states(marked, *mine, keeper, *kept);
  if (states != verdict::copy) return states;
  delete_claimed(mine.get());
  return verdict::copy;
}
