#include "select/select.h"

#include <optional>
#include <unordered_map>
#include <utility>

namespace {

// The record that the age rule keeps of the two: the newer one, and for equal
// times the one whose name sorts last. std::string compares as unsigned bytes.
bool is_kept_over(const file_record& a, const file_record& b) {
  if (a.state.write_time != b.state.write_time)
    return b.state.write_time < a.state.write_time;
  return a.entry.compare(b.entry) > 0;
}

struct digest_hash {
  std::size_t operator()(const sha1_digest& digest) const {
    std::size_t value = 0;
    for (std::size_t i = 0; i < sizeof value; ++i)
      value = (value << 8) | digest[i];
    return value;
  }
};

// Marks every record of each group of equal keys except the one the age rule
// keeps: the same marks as applying the rule to every pair of the group, in
// one pass over the list instead of one per record.
template <typename key_type, typename hash_type, typename key_function>
void mark_all_but_newest(file_list* files, key_function key_of) {
  std::unordered_map<key_type, file_record*, hash_type> newest;
  for (file_record& record : *files) {
    auto [slot, inserted] = newest.emplace(key_of(record), &record);
    if (!inserted && is_kept_over(record, *slot->second))
      slot->second = &record;
  }
  for (file_record& record : *files) {
    const file_record* keeper = newest.at(key_of(record));
    if (keeper == &record) continue;
    record.erase_mark = true;
    record.keeper = keeper;
  }
}

std::uint64_t size_of(const file_record& record) { return record.state.size; }
const sha1_digest& digest_of(const file_record& record) {
  return record.digest;
}

}  // namespace

file_list build_file_list(scanned_directory* scanned) {
  file_list files;
  for (std::string& entry : scanned->entries) {
    std::optional<file_state> state = query_entry(*scanned->held, entry);
    if (!state) continue;  // Gone since the listing, or not a regular file.
    file_record record;
    record.entry = std::move(entry);
    record.state = *state;
    files.push_back(std::move(record));
  }
  // The records hold the names now; the list would only double them.
  scanned->entries = std::vector<std::string>();
  return files;
}

void size_pass(file_list* files, run_mode mode) {
  std::unordered_map<std::uint64_t, std::size_t> count_by_size;
  for (const file_record& record : *files) ++count_by_size[record.state.size];
  files->remove_if([&count_by_size](const file_record& record) {
    return count_by_size[record.state.size] == 1;
  });
  if (mode == run_mode::size_only)
    mark_all_but_newest<std::uint64_t, std::hash<std::uint64_t>>(files,
                                                                 size_of);
}

void mark_equal_digests(file_list* files) {
  mark_all_but_newest<sha1_digest, digest_hash>(files, digest_of);
}

void apply_age_rule(file_record* u, file_record* v) {
  if (!is_kept_over(*u, *v)) std::swap(u, v);
  v->erase_mark = true;
  v->keeper = u;
}
