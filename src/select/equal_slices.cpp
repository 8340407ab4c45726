#include "select/equal_slices.h"

#include <cstring>

namespace {

bool same_slice(const slice_read& a, const slice_read& b) {
  return a.count == b.count && a.end == b.end &&
         std::memcmp(a.bytes, b.bytes, a.count) == 0;
}

// A group after the split: the group it came from, its first file and its
// number now.
struct split_group {
  std::uint32_t from = 0;
  std::size_t first = 0;
  std::uint32_t now = 0;
};

}  // namespace

void split_groups(std::vector<slice_read>* reads, std::uint32_t* next_group) {
  std::vector<split_group> groups;
  for (std::size_t i = 0; i < reads->size(); ++i) {
    slice_read& read = (*reads)[i];
    std::uint32_t now = 0;
    bool found = false;
    bool first_of_old = true;
    for (const split_group& group : groups) {
      if (group.from != read.group) continue;
      first_of_old = false;
      if (same_slice((*reads)[group.first], read)) {
        now = group.now;
        found = true;
        break;
      }
    }
    // The first part of a group keeps its number; each other part is new.
    if (!found) now = first_of_old ? read.group : (*next_group)++;
    if (!found) groups.push_back({read.group, i, now});
    read.group = now;
  }
}
