#include "sha1/sha1.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sha1/sha1_compress.h"

namespace {

std::string hex(const unsigned char* bytes, std::size_t size) {
  std::string text(2 * size, '?');
  sha1_hex(bytes, size, text.data());
  return text;
}

std::string finish_hex(sha1_context* context) {
  unsigned char digest[sha1_digest_size];
  sha1_finish(context, digest);
  return hex(digest, sizeof digest);
}

std::string digest_hex(const std::string& message) {
  sha1_context context;
  sha1_start(&context);
  sha1_update(&context, message.data(), message.size());
  return finish_hex(&context);
}

std::string chain_hex(const std::uint32_t chain[5]) {
  char text[41];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x%08x", chain[0], chain[1],
                chain[2], chain[3], chain[4]);
  return text;
}

std::string pending_hex(const sha1_context& context, std::size_t from,
                        std::size_t to) {
  return hex(context.pending + from, to - from);
}

// 1000 bytes of every value, so that any split of it can go wrong.
std::string split_message() {
  std::string message;
  for (int i = 0; i < 1000; ++i)
    message += static_cast<char>((i * 31 + 7) % 256);
  return message;
}

std::string hash_in_pieces(const std::string& message,
                           const std::vector<std::size_t>& piece_sizes) {
  sha1_context context;
  sha1_start(&context);
  std::size_t at = 0;
  for (std::size_t size : piece_sizes) {
    sha1_update(&context, size == 0 ? nullptr : message.data() + at, size);
    at += size;
  }
  sha1_update(&context, message.data() + at, message.size() - at);
  return finish_hex(&context);
}

const char pangrams[] =
    "The quick brown fox jumps over the lazy dog; pack my box with five dozen "
    "liquor jugs. Sphinx of black quartz, judge my vow!";

const std::uint32_t initial_chain[5] = {0x67452301u, 0xefcdab89u, 0x98badcfeu,
                                        0x10325476u, 0xc3d2e1f0u};

// The FIPS 180-1 "abc" and 448-bit messages, padded by hand, through one
// compressor: each is a digest of its own, independent of sha1_finish.
void expect_fips_blocks(sha1_compressor compress) {
  unsigned char abc[64] = {'a', 'b', 'c', 0x80};
  abc[63] = 24;
  std::uint32_t chain[5];
  std::copy(initial_chain, initial_chain + 5, chain);
  compress(chain, abc, 1);
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", chain_hex(chain));

  const std::string message =
      "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  unsigned char two_blocks[128] = {};
  std::copy(message.begin(), message.end(), two_blocks);
  two_blocks[56] = 0x80;
  two_blocks[126] = 0x01;  // 448 bits
  two_blocks[127] = 0xc0;
  std::copy(initial_chain, initial_chain + 5, chain);
  compress(chain, two_blocks, 2);
  EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1", chain_hex(chain));
}

}  // namespace

TEST(Sha1Digest, MatchesKnownDigests) {
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", digest_hex("abc"));
  EXPECT_EQ(
      "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
      digest_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f",
            digest_hex(std::string(1000000, 'a')));

  // Bytes with the top bit set must not be sign-extended into the words.
  std::string high_bytes;
  for (int byte = 0x80; byte <= 0xff; ++byte)
    high_bytes += static_cast<char>(byte);
  EXPECT_EQ("87f0c35852e65ad707f37c05fb03dc6e68aa4fbf", digest_hex(high_bytes));
}

TEST(Sha1Digest, PadsAtTheBlockEdges) {
  // Up to 55 bytes the padding fits behind the message; from 56 on it needs
  // another block. The count ends at the padded length.
  struct edge {
    std::uint32_t size;
    const char* digest;
    std::uint32_t padded_size;
  };
  const edge edges[] = {
      {0, "da39a3ee5e6b4b0d3255bfef95601890afd80709", 64},
      {55, "268c714305a487df81b76f3cc48cc275a20a7d38", 64},
      {56, "5ffbb5a5f53ff22c3ed59f14970614785442795d", 128},
      {63, "182b92a5c1bf12d7e368651907529511e61d6d96", 128},
      {64, "1e4ac34a55c2d6fbd8ce1e1a051ad45da1caac47", 128},
      {119, "e384b183e994e35e934c58e788d64cab07634548", 128},
      {120, "117f793aa6a3db7912f93a5f6209fa093f00111a", 192},
  };
  for (const edge& edge : edges) {
    sha1_context context;
    sha1_start(&context);
    sha1_update(&context, pangrams, edge.size);
    EXPECT_EQ(edge.digest, finish_hex(&context)) << edge.size;
    EXPECT_EQ(edge.padded_size, context.count) << edge.size;
  }
}

TEST(Sha1Update, GivesOneDigestHoweverTheMessageIsSplit) {
  const std::string message = split_message();
  const std::string expected = "414475341017ec91703435a6f290324818f983e9";
  EXPECT_EQ(expected, hash_in_pieces(message, {}));
  for (std::size_t at = 0; at <= message.size(); ++at)
    EXPECT_EQ(expected, hash_in_pieces(message, {at})) << at;
  EXPECT_EQ(expected, hash_in_pieces(message, {63, 65, 0, 1, 127, 129, 0, 64}));

  std::mt19937 random(20240607);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::size_t> pieces;
    std::size_t left = message.size();
    while (left > 0) {
      // Mostly short pieces and zero-length ones, some longer than a block.
      std::size_t size = random() % 4 == 0 ? random() % 200 : random() % 8;
      size = std::min(size, left);
      pieces.push_back(size);
      left -= size;
    }
    EXPECT_EQ(expected, hash_in_pieces(message, pieces)) << round;
  }
}

TEST(Sha1Update, CompressesPendingExactlyWhenTheBlockFills) {
  const std::string text = pangrams;
  sha1_context context;
  sha1_start(&context);
  sha1_update(&context, text.data(), 60);
  sha1_update(&context, nullptr, 0);
  sha1_update(&context, text.data() + 60, 3);
  EXPECT_EQ(63u, context.count);
  EXPECT_EQ(chain_hex(initial_chain), chain_hex(context.chain));
  EXPECT_EQ(hex(reinterpret_cast<const unsigned char*>(text.data()), 63),
            pending_hex(context, 0, 63));

  sha1_update(&context, text.data() + 63, 1);
  EXPECT_EQ(64u, context.count);
  EXPECT_EQ("4aa402add75bf228af1ad4da358bfcc964e929b1",
            chain_hex(context.chain));

  // The next piece starts a new block at the front of pending.
  sha1_update(&context, "xy", 2);
  EXPECT_EQ("7879", pending_hex(context, 0, 2));
}

TEST(Sha1Update, CountsPastFourGibibytes) {
  const unsigned char block[64] = {};
  sha1_context context;
  sha1_start(&context);
  context.count = 0x5ffffffc0u;
  sha1_update(&context, block, 64);
  EXPECT_EQ(0x600000000u, context.count);

  // 48 bytes waiting, 16 fed: the block completes just past the 32-bit
  // boundary, and the next byte starts a new one.
  context.count = 0x6fffffff0u;
  sha1_update(&context, block, 16);
  sha1_update(&context, "z", 1);
  EXPECT_EQ(0x700000001u, context.count);
  EXPECT_EQ("7a", pending_hex(context, 0, 1));
}

TEST(Sha1Finish, WritesTheLengthInBitsAcrossBothWords) {
  // 2^32 + 7 * 2^29 bytes are 15 * 2^32 bits.
  sha1_context context;
  sha1_start(&context);
  context.count = 0x100000000u + (7u << 29);
  const std::string digest = finish_hex(&context);

  // The length bytes complete the last block, so they are left in pending.
  EXPECT_EQ("0000000f00000000", pending_hex(context, 56, 64));
  // The one block 80, 55 zero bytes, 00 00 00 0f 00 00 00 00 from the
  // initial chain.
  EXPECT_EQ("62212240171c263328f36f7a3f6e15d959e17121", digest);
  EXPECT_EQ(0x100000000u + (7u << 29) + 64, context.count);
}

TEST(Sha1Compressors, PortableComputesTheFipsBlocks) {
  expect_fips_blocks(&sha1_compress_portable);
}

TEST(Sha1Compressors, AcceleratedComputesTheFipsBlocks) {
  const std::optional<sha1_compressor> accelerated =
      sha1_accelerated_compressor();
  if (!accelerated) GTEST_SKIP() << "no accelerated compressor on this CPU";
  expect_fips_blocks(*accelerated);
}

TEST(Sha1Compressors, AcceleratedAgreesWithPortable) {
  const std::optional<sha1_compressor> accelerated =
      sha1_accelerated_compressor();
  if (!accelerated) GTEST_SKIP() << "no accelerated compressor on this CPU";
  std::mt19937 random(77);
  std::vector<unsigned char> data(64 * 300 + 16);
  for (int round = 0; round < 100; ++round) {
    for (unsigned char& byte : data)
      byte = static_cast<unsigned char>(random());
    std::uint32_t portable[5];
    for (std::uint32_t& word : portable)
      word = static_cast<std::uint32_t>(random());
    std::uint32_t fast[5];
    std::copy(portable, portable + 5, fast);
    // Any alignment: the blocks start at a random offset.
    const unsigned char* blocks = data.data() + random() % 16;
    const std::size_t block_count = random() % 301;

    sha1_compress_portable(portable, blocks, block_count);
    (*accelerated)(fast, blocks, block_count);
    EXPECT_EQ(chain_hex(portable), chain_hex(fast)) << round;
  }
}
