#include "sha1/sha1_lanes.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sha1/sha1_compress.h"

namespace {

std::string hex_digest(sha1_context* context) {
  unsigned char digest[sha1_digest_size];
  sha1_finish(context, digest);
  std::string text(2 * sha1_digest_size, '?');
  sha1_hex(digest, sizeof digest, text.data());
  return text;
}

std::string single_stream_digest(const std::string& message) {
  sha1_context context;
  sha1_start(&context);
  sha1_update(&context, message.data(), message.size());
  return hex_digest(&context);
}

std::string random_bytes(std::mt19937* random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>((*random)() & 0xff);
  return bytes;
}

// The messages fed to sha1_update_lanes in rounds of `piece` bytes or less,
// each round a random cut of every message still going, as the content pass
// does with files that end at different times. The digests come back in the
// messages' order.
std::vector<std::string> lane_digests(const std::vector<std::string>& messages,
                                      std::mt19937* random, std::size_t piece) {
  std::vector<sha1_context> contexts(messages.size());
  std::vector<std::size_t> fed(messages.size(), 0);
  for (sha1_context& context : contexts) sha1_start(&context);
  for (bool more = true; more;) {
    more = false;
    sha1_lane_input inputs[sha1_max_lanes];
    std::size_t count = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      const std::size_t left = messages[i].size() - fed[i];
      const std::size_t length = std::min(left, (*random)() % (piece + 1));
      inputs[count++] = {&contexts[i], messages[i].data() + fed[i], length};
      fed[i] += length;
      more = more || fed[i] < messages[i].size();
    }
    sha1_update_lanes(inputs, count);
  }
  std::vector<std::string> digests;
  for (sha1_context& context : contexts)
    digests.push_back(hex_digest(&context));
  return digests;
}

// A kernel's chains after `blocks` random blocks per lane, each lane from a
// chain of its own, against the portable compressor lane by lane.
void expect_kernel_matches_portable(const char* name) {
  const sha1_lane_kernel_set set = sha1_lane_kernels_for_cpu();
  const sha1_lane_kernel* kernel = nullptr;
  for (std::size_t i = 0; i < set.count; ++i)
    if (std::strcmp(name, set.kernels[i].name) == 0) kernel = &set.kernels[i];
  if (kernel == nullptr) GTEST_SKIP() << name << " is not on this CPU";

  std::mt19937 random(20240611);
  auto word = [&random] { return static_cast<std::uint32_t>(random()); };
  for (std::size_t blocks : {1, 2, 7}) {
    std::vector<std::string> data;
    std::vector<std::vector<std::uint32_t>> chains, expected;
    std::vector<std::uint32_t*> chain_pointers;
    std::vector<const unsigned char*> block_pointers;
    for (std::size_t lane = 0; lane < kernel->width; ++lane) {
      data.push_back(random_bytes(&random, 64 * blocks));
      chains.push_back({word(), word(), word(), word(), word()});
    }
    expected = chains;
    for (std::size_t lane = 0; lane < kernel->width; ++lane) {
      const auto* bytes =
          reinterpret_cast<const unsigned char*>(data[lane].data());
      sha1_compress_portable(expected[lane].data(), bytes, blocks);
      chain_pointers.push_back(chains[lane].data());
      block_pointers.push_back(bytes);
    }
    kernel->compress(chain_pointers.data(), block_pointers.data(), blocks);
    EXPECT_EQ(expected, chains) << name << ", " << blocks << " blocks";
  }
}

}  // namespace

TEST(Sha1LaneKernels, Avx512AgreesWithPortable) {
  expect_kernel_matches_portable("avx512_x16");
}

TEST(Sha1LaneKernels, Avx2AgreesWithPortable) {
  expect_kernel_matches_portable("avx2_x8");
}

TEST(Sha1LaneKernels, ShaExtensionsFourAgreesWithPortable) {
  expect_kernel_matches_portable("shani_x4");
}

TEST(Sha1LaneKernels, ShaExtensionsTwoAgreesWithPortable) {
  expect_kernel_matches_portable("shani_x2");
}

TEST(Sha1UpdateLanes, GivesTheKnownDigestInEveryLane) {
  const std::string abc = "abc";
  const std::string two_blocks =
      "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  std::vector<sha1_context> contexts(sha1_max_lanes);
  sha1_lane_input inputs[sha1_max_lanes];
  for (std::size_t i = 0; i < sha1_max_lanes; ++i) {
    sha1_start(&contexts[i]);
    const std::string& message = i % 2 == 0 ? abc : two_blocks;
    inputs[i] = {&contexts[i], message.data(), message.size()};
  }
  sha1_update_lanes(inputs, sha1_max_lanes);
  for (std::size_t i = 0; i < sha1_max_lanes; ++i)
    EXPECT_EQ(i % 2 == 0 ? "a9993e364706816aba3e25717850c26c9cd0d89d"
                         : "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
              hex_digest(&contexts[i]))
        << "lane " << i;
}

TEST(Sha1UpdateLanes, AgreesWithOneStreamForEveryLaneCount) {
  std::mt19937 random(7);
  for (std::size_t lanes = 1; lanes <= sha1_max_lanes; ++lanes) {
    std::vector<std::string> equal, unequal, expected_equal, expected_unequal;
    const std::size_t equal_size = random() % 3000;
    for (std::size_t i = 0; i < lanes; ++i) {
      equal.push_back(random_bytes(&random, equal_size));
      // From empty to 40 blocks, so that lanes finish at different blocks.
      unequal.push_back(random_bytes(&random, random() % 2600));
      expected_equal.push_back(single_stream_digest(equal.back()));
      expected_unequal.push_back(single_stream_digest(unequal.back()));
    }
    EXPECT_EQ(expected_equal, lane_digests(equal, &random, 700))
        << lanes << " lanes, equal lengths";
    EXPECT_EQ(expected_unequal, lane_digests(unequal, &random, 700))
        << lanes << " lanes, random lengths";
    EXPECT_EQ(expected_unequal, lane_digests(unequal, &random, 5000))
        << lanes << " lanes, in large pieces";
  }
}

TEST(Sha1UpdateLanes, AcceptsNothingToFeed) {
  sha1_context context;
  sha1_start(&context);
  const sha1_lane_input empty = {&context, nullptr, 0};
  sha1_update_lanes(&empty, 1);
  sha1_update_lanes(nullptr, 0);
  EXPECT_EQ(0u, context.count);
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", hex_digest(&context));
}

TEST(Sha1LaneCount, IsWithinTheLimit) {
  EXPECT_LE(1u, sha1_lane_count());
  EXPECT_GE(sha1_max_lanes, sha1_lane_count());
}

TEST(Sha1LaneKernelsDeathTest, RefusesAKernelBeyondTheTable) {
  // Widths index arrays of sha1_max_lanes lanes; a wider kernel, or one
  // more than the set holds, would write past them.
  sha1_lane_kernel_set set;
  EXPECT_DEATH(sha1_add_lane_kernel(&set, {"wide", nullptr, 17, 1}), "");
  EXPECT_DEATH(sha1_add_lane_kernel(&set, {"none", nullptr, 0, 1}), "");
  for (int i = 0; i < 6; ++i)
    sha1_add_lane_kernel(&set, {"one", nullptr, 1, 1});
  EXPECT_EQ(6u, set.count);
  EXPECT_DEATH(sha1_add_lane_kernel(&set, {"seventh", nullptr, 1, 1}), "");
}
