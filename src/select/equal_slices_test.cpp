#include "select/equal_slices.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct round_read {
  std::uint32_t group;
  std::string bytes;
  bool end;
};

// The groups after a split of `reads`, new ones numbered from 100.
std::vector<std::uint32_t> split(const std::vector<round_read>& reads) {
  std::vector<slice_read> slices;
  for (const round_read& read : reads)
    slices.push_back({read.group,
                      reinterpret_cast<const unsigned char*>(read.bytes.data()),
                      read.bytes.size(), read.end});
  std::uint32_t next = 100;
  split_groups(&slices, &next);
  std::vector<std::uint32_t> groups;
  for (const slice_read& slice : slices) groups.push_back(slice.group);
  return groups;
}

}  // namespace

TEST(SplitGroups, KeepsTogetherOnlyFilesThatGaveTheSameBytesAndEndedAlike) {
  // Equal slices stay together; other bytes, another length or an end where
  // the other goes on split off; groups never merge, even over equal bytes.
  EXPECT_EQ((std::vector<std::uint32_t>{1, 1}),
            split({{1, "abcd", false}, {1, "abcd", false}}));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 100}),
            split({{1, "abcd", false}, {1, "abce", false}}));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 100}),
            split({{1, "abcd", false}, {1, "abc", true}}));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 100}),
            split({{1, "ab", true}, {1, "ab", false}}));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 1}),
            split({{1, "", true}, {1, "", true}}));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2}),
            split({{1, "abcd", false}, {2, "abcd", false}}));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 100, 1, 100, 101}),
            split({{1, "x", false},
                   {1, "y", false},
                   {1, "x", false},
                   {1, "y", false},
                   {1, "z", false}}));
}
