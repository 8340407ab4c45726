#include "select/content_plan.h"

#include <algorithm>

#include "platform/page_buffer.h"

namespace {

// Descriptors left to the rest of the run when the readers' share is sized:
// the standard streams, the held directory, a ring each, the two files read
// again before a deletion, and a margin for the C library.
constexpr std::size_t descriptors_kept_back = 16;

// The kernel's cost of a read is paid per call and per page: reading large
// files in many short slices, side by side, costs it several times what a
// plain reader pays for the same bytes in long reads. So files of `size`
// are read no more side by side than leaves each a slice of this length, or
// of the whole file where it is shorter; small files still share one batch.
constexpr std::size_t shortest_slice = 131072;

// Files of a batch that gave the same bytes so far are hashed once for all
// (copies, mostly): while some are, a reader takes in more files, at slices
// down to half the shortest, since the hashing that saves far outweighs the
// reads it adds.
constexpr std::size_t shortest_slice_alike = shortest_slice / 2;

std::uint32_t lanes_for(std::size_t slice, std::size_t side_by_side) {
  return static_cast<std::uint32_t>(std::clamp<std::size_t>(
      read_buffer_size / most_readers / slice, 1, side_by_side));
}

std::size_t slice_for(std::uint64_t size) {
  const std::uint64_t pages = (size + page_alignment - 1) / page_alignment;
  return static_cast<std::size_t>(std::min<std::uint64_t>(
      std::max<std::uint64_t>(pages, 1) * page_alignment, shortest_slice));
}

std::uint32_t batch_files_for(std::uint64_t size, std::size_t side_by_side) {
  return lanes_for(slice_for(size), side_by_side);
}

std::uint32_t most_lanes_for(std::uint64_t size, std::size_t side_by_side) {
  const std::size_t slice = slice_for(size);
  return lanes_for(slice < shortest_slice ? slice : shortest_slice_alike,
                   side_by_side);
}

// Adds the batches of one size group, at most batch_files_for jobs each.
void add_batches(const file_list& files, std::size_t side_by_side, batch group,
                 content_plan* plan) {
  const std::uint64_t size = files[plan->order[group.first]].state.size;
  const std::uint32_t files_each = batch_files_for(size, side_by_side);
  const std::uint32_t most_lanes = most_lanes_for(size, side_by_side);
  for (std::uint32_t at = group.first; at < group.end;) {
    const std::uint32_t end = std::min(group.end, at + files_each);
    plan->batches.push_back({at, end, most_lanes});
    at = end;
  }
}

// A place with what it is ordered by, side by side: the sort reads them in
// a row rather than records from all over the list. 24 bytes a file, for
// the moment of planning.
struct sized_place {
  std::uint64_t size = 0;
  std::uint64_t first_bytes = 0;
  std::uint32_t place = 0;
};

bool operator<(const sized_place& a, const sized_place& b) {
  if (a.size != b.size) return a.size < b.size;
  if (a.first_bytes != b.first_bytes) return a.first_bytes < b.first_bytes;
  return a.place < b.place;
}

// One sort of the places by size finds the groups.
std::vector<sized_place> places_by_size(
    const file_list& files, const std::vector<std::uint64_t>& first_bytes) {
  std::vector<sized_place> sized(files.size());
  for (std::uint32_t place = 0; place < sized.size(); ++place)
    sized[place] = {files[place].state.size,
                    first_bytes.empty() ? 0 : first_bytes[place], place};
  std::sort(sized.begin(), sized.end());
  return sized;
}

std::vector<batch> size_groups(const std::vector<sized_place>& sized) {
  std::vector<batch> groups;
  for (std::uint32_t at = 0; at < sized.size();) {
    std::uint32_t end = at + 1;
    while (end < sized.size() && sized[end].size == sized[at].size) ++end;
    groups.push_back({at, end});
    at = end;
  }
  std::sort(groups.begin(), groups.end(), [&](batch a, batch b) {
    return sized[a.first].place < sized[b.first].place;
  });
  return groups;
}

}  // namespace

// Every reader's share of the buffer holds a page for each file it reads.
static_assert(read_buffer_size / most_readers >=
                  most_side_by_side * page_alignment,
              "slices smaller than a page");

bool orders_by_first_bytes(std::uint64_t size, std::size_t group_size,
                           std::size_t side_by_side) {
  return size >= compare_as_read_from &&
         group_size > batch_files_for(size, side_by_side);
}

content_plan plan_content(const file_list& files, std::size_t side_by_side,
                          const std::vector<std::uint64_t>& first_bytes) {
  content_plan plan;
  const std::vector<sized_place> sized = places_by_size(files, first_bytes);
  plan.order.reserve(sized.size());
  for (const sized_place& file : sized) plan.order.push_back(file.place);
  for (const batch& group : size_groups(sized))
    add_batches(files, side_by_side, group, &plan);
  return plan;
}

std::size_t hold_budget_allowed(std::size_t descriptor_limit) {
  // The readers' descriptors, the proof's two, and some to spare; and no
  // more than the exclusions can track.
  constexpr std::size_t reserve = most_readers * most_side_by_side + 64;
  constexpr std::size_t most_held = 60000;
  if (descriptor_limit <= reserve) return 0;
  return std::min(descriptor_limit - reserve, most_held);
}

std::size_t side_by_side_allowed(std::size_t descriptor_limit) {
  const std::size_t spare = descriptor_limit > descriptors_kept_back
                                ? descriptor_limit - descriptors_kept_back
                                : 0;
  return std::clamp<std::size_t>(spare / most_readers, 1, most_side_by_side);
}
