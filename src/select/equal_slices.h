// Which files read side by side were found equal as they were read: a pure
// function of each round's slices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

/// One file's part of a round of reading.
struct slice_read {
  /// The files found equal byte for byte so far share a group.
  std::uint32_t group = 0;
  const unsigned char* bytes = nullptr;
  std::size_t count = 0;  ///< Bytes this round gave.
  bool end = false;       ///< The file ended in this round.
};

/// Splits the groups of `reads` by what this round gave, files being read in
/// step (every file of a group has given the same number of bytes before
/// this round): two files keep sharing a group only when they shared one
/// before, gave the same bytes now, and ended, or not, alike. Split-off
/// groups take numbers from `*next_group` on, which it advances.
void split_groups(std::vector<slice_read>* reads, std::uint32_t* next_group);
