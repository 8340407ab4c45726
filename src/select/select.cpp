#include "select/select.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/directory.h"
#include "platform/file_state.h"
#include "select/two_threads.h"

// A million files take about a hundred times their number in bytes; the
// record is most of it.
static_assert(sizeof(file_record) <= 96, "a record grew");

namespace {

// Entries whose states are asked at once: enough to share out between
// threads, few enough that the states wait for their records in little
// memory.
constexpr std::size_t entries_queried_together = 4096;

// Fewer entries than this are all queried on the calling thread: starting a
// thread costs about as much as a few dozen queries.
constexpr std::size_t entries_worth_a_thread = 256;

// Entries a thread takes at a time from the shared list.
constexpr std::size_t entries_per_take = 64;

using entry_states = std::vector<std::optional<file_state>>;

// Queries runs of entries taken from `next` on until none is left. Threads
// that take from one counter share the list by how fast each gets on, so a
// helper kept waiting by a busy core leaves its share to the other. Each
// state is written by the one thread that took its entry.
void query_shared(const directory& held,
                  const std::vector<const char*>& entries,
                  std::atomic<std::size_t>* next, entry_states* states) {
  for (;;) {
    const std::size_t first = next->fetch_add(entries_per_take);
    if (first >= entries.size()) return;
    const std::size_t end = std::min(entries.size(), first + entries_per_take);
    for (std::size_t i = first; i < end; ++i)
      (*states)[i] = query_entry(held, entries[i]);
  }
}

// A query's cost is the system's lookup of the name, which a second core
// does alongside the first.
entry_states query_all(const directory& held,
                       const std::vector<const char*>& entries) {
  entry_states states(entries.size());
  std::atomic<std::size_t> next{0};
  second_thread second;
  if (entries.size() >= entries_worth_a_thread)
    start_second(&second, [&] { query_shared(held, entries, &next, &states); });
  query_shared(held, entries, &next, &states);
  finish_second(&second);
  return states;
}

// A record's sort key beside its place in the list: a sort then reads the
// keys in a row rather than records from all over the list, which for a
// large list costs a cache miss a comparison. 16 or 32 bytes a record, for
// the moment of the sort.
template <typename key>
struct keyed_place {
  key value;
  std::uint32_t place = 0;
};

template <typename key_function>
auto places_by_key(const file_list& all, key_function key_of) {
  using key = decltype(key_of(all.front()));
  std::vector<keyed_place<key>> by_key(all.size());
  for (std::uint32_t place = 0; place < by_key.size(); ++place)
    by_key[place] = {key_of(all[place]), place};
  std::sort(by_key.begin(), by_key.end(),
            [](const keyed_place<key>& a, const keyed_place<key>& b) {
              return a.value < b.value;
            });
  return by_key;
}

// Marks every record of each group of equal keys except the one the age rule
// keeps: the same marks as applying the rule to every pair of the group.
template <typename key_function>
void mark_all_but_newest(file_list* files, key_function key_of) {
  const file_list& all = *files;
  const auto by_key = places_by_key(all, key_of);
  using keyed = typename decltype(by_key)::value_type;
  for (auto first = by_key.begin(); first != by_key.end();) {
    const auto last = std::find_if(first, by_key.end(), [&](const keyed& k) {
      return k.value != first->value;
    });
    const std::uint32_t keeper =
        std::max_element(first, last, [&](const keyed& a, const keyed& b) {
          return is_kept_over(all[b.place], all[a.place]);
        })->place;
    for (auto it = first; it != last; ++it) {
      if (it->place == keeper) continue;
      (*files)[it->place].erase_mark = true;
      (*files)[it->place].keeper = keeper;
    }
    first = last;
  }
}

std::uint64_t size_of(const file_record& record) { return record.state.size; }

// A digest taken as three numbers, which order digests (not as their bytes
// would, but equal digests still sort together) without a call to compare
// bytes or a read of the record.
struct digest_key {
  std::uint64_t head = 0;
  std::uint64_t middle = 0;
  std::uint32_t tail = 0;
};
static_assert(sizeof(std::uint64_t) * 2 + sizeof(std::uint32_t) ==
                  sha1_digest_size,
              "a digest key holds the whole digest");

bool operator<(const digest_key& a, const digest_key& b) {
  if (a.head != b.head) return a.head < b.head;
  if (a.middle != b.middle) return a.middle < b.middle;
  return a.tail < b.tail;
}
bool operator!=(const digest_key& a, const digest_key& b) {
  return a.head != b.head || a.middle != b.middle || a.tail != b.tail;
}

digest_key digest_of(const file_record& record) {
  const unsigned char* bytes = record.digest.data();
  digest_key key;
  std::memcpy(&key.head, bytes, sizeof key.head);
  std::memcpy(&key.middle, bytes + 8, sizeof key.middle);
  std::memcpy(&key.tail, bytes + 16, sizeof key.tail);
  return key;
}

}  // namespace

// Reserved at once: growing by doubling would, for a moment, hold the
// records twice and a half.
file_list build_file_list(const directory* held, const entry_names& entries) {
  file_list files;
  files.reserve(std::min(entries.count, most_records - 1));
  std::vector<const char*> names;
  // A directory that was not found has no handle, and no names to ask about.
  const auto add_records = [&] {
    if (names.empty()) return;
    const entry_states states = query_all(*held, names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      // Gone since the listing, or not a regular file.
      if (!states[i] || files.size() == most_records - 1) continue;
      file_record record;
      record.entry = names[i];
      record.state = *states[i];
      files.push_back(record);
    }
    names.clear();
  };
  for_each_name(entries, [&](const char* entry) {
    names.push_back(entry);
    if (names.size() == entries_queried_together) add_records();
  });
  add_records();
  return files;
}

// Sizes are counted by sorting them beside their places, which costs a
// fixed 16 bytes a file however many sizes there are, and reads no record
// twice.
void remove_unique_sizes(file_list* files) {
  const auto by_size = places_by_key(*files, size_of);
  std::vector<bool> shared(files->size());
  for (std::size_t i = 0; i + 1 < by_size.size(); ++i)
    if (by_size[i].value == by_size[i + 1].value)
      shared[by_size[i].place] = shared[by_size[i + 1].place] = true;
  std::size_t kept = 0;
  for (std::size_t place = 0; place < files->size(); ++place)
    if (shared[place]) (*files)[kept++] = (*files)[place];
  files->resize(kept);
}

void mark_by_age(file_list* files, run_mode mode) {
  if (mode == run_mode::size_only)
    mark_all_but_newest(files, size_of);
  else
    mark_all_but_newest(files, digest_of);
}

// strcmp compares as unsigned bytes.
bool is_kept_over(const file_record& a, const file_record& b) {
  if (a.state.write_time != b.state.write_time)
    return b.state.write_time < a.state.write_time;
  return std::strcmp(a.entry, b.entry) > 0;
}
