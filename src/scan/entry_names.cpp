#include "scan/entry_names.h"

#include <algorithm>

namespace {

// Large enough that the blocks' own bookkeeping is lost in the names, small
// enough that the last block's unused part does not matter.
constexpr std::size_t block_size = 65536;

}  // namespace

const char* keep_name(entry_names* names, std::string_view name) {
  const std::size_t needed = name.size() + 1;
  if (names->blocks.empty() ||
      names->blocks.back().size - names->blocks.back().used < needed) {
    entry_names::block added;
    added.size = std::max(block_size, needed);
    added.bytes.reset(new char[added.size]);
    names->blocks.push_back(std::move(added));
  }
  entry_names::block& last = names->blocks.back();
  char* kept = last.bytes.get() + last.used;
  std::memcpy(kept, name.data(), name.size());
  kept[name.size()] = '\0';
  last.used += needed;
  ++names->count;
  return kept;
}
