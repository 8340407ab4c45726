// The names a listing gave, packed one after another into large blocks: a
// name keeps its address as long as the pool lives, and a million names cost
// about their own length each rather than a string object apiece.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

struct entry_names {
  struct block {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    std::size_t used = 0;
  };
  std::vector<block> blocks;
  std::size_t count = 0;
};

/// Copies `name` into the pool; the copy ends in '\0'.
const char* keep_name(entry_names* names, std::string_view name);

/// Calls visit(name) for every name kept, in the order they were kept.
template <typename visitor>
void for_each_name(const entry_names& names, const visitor& visit) {
  for (const entry_names::block& block : names.blocks)
    for (std::size_t at = 0; at < block.used;) {
      const char* name = block.bytes.get() + at;
      visit(name);
      at += std::strlen(name) + 1;
    }
}
