#include "sha1/sha1.h"

#include <cstring>

#include "sha1/sha1_compress.h"

const unsigned char sha1_pad_block[64] = {0x80};

namespace {

std::uint32_t rotate_left(std::uint32_t x, int bits) {
  return (x << bits) | (x >> (32 - bits));
}

// Big-endian byte by byte, so neither the host's byte order nor the data's
// alignment matters.
std::uint32_t load_big_endian(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

void store_big_endian(std::uint32_t word, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(word >> 24);
  bytes[1] = static_cast<unsigned char>(word >> 16);
  bytes[2] = static_cast<unsigned char>(word >> 8);
  bytes[3] = static_cast<unsigned char>(word);
}

// The schedule word for step t >= 16, written over the word 16 steps back:
// only the last 16 words are ever needed.
std::uint32_t next_schedule_word(std::uint32_t* w, int t) {
  const std::uint32_t word = rotate_left(
      w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
  w[t & 15] = word;
  return word;
}

std::uint32_t choose(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return d ^ (b & (c ^ d));
}

std::uint32_t parity(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return b ^ c ^ d;
}

std::uint32_t majority(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return (b & c) | (d & (b | c));
}

// One step: instead of shifting five variables, each step names them one
// place further round, so the new A lands in the variable that held E.
#define SHA1_STEP(f, k, word, a, b, c, d, e)          \
  e += rotate_left(a, 5) + f(b, c, d) + (k) + (word); \
  b = rotate_left(b, 30)
#define SHA1_STEP_LOAD(t, a, b, c, d, e)                                     \
  SHA1_STEP(choose, 0x5a827999u, w[t] = load_big_endian(block + 4 * (t)), a, \
            b, c, d, e)
#define SHA1_STEP_CHOOSE(t, a, b, c, d, e) \
  SHA1_STEP(choose, 0x5a827999u, next_schedule_word(w, t), a, b, c, d, e)
#define SHA1_STEP_PARITY_1(t, a, b, c, d, e) \
  SHA1_STEP(parity, 0x6ed9eba1u, next_schedule_word(w, t), a, b, c, d, e)
#define SHA1_STEP_MAJORITY(t, a, b, c, d, e) \
  SHA1_STEP(majority, 0x8f1bbcdcu, next_schedule_word(w, t), a, b, c, d, e)
#define SHA1_STEP_PARITY_2(t, a, b, c, d, e) \
  SHA1_STEP(parity, 0xca62c1d6u, next_schedule_word(w, t), a, b, c, d, e)

void sha1_compress_block(std::uint32_t chain[5], const unsigned char* block) {
  std::uint32_t w[16];
  std::uint32_t a = chain[0];
  std::uint32_t b = chain[1];
  std::uint32_t c = chain[2];
  std::uint32_t d = chain[3];
  std::uint32_t e = chain[4];

  SHA1_STEP_LOAD(0, a, b, c, d, e);
  SHA1_STEP_LOAD(1, e, a, b, c, d);
  SHA1_STEP_LOAD(2, d, e, a, b, c);
  SHA1_STEP_LOAD(3, c, d, e, a, b);
  SHA1_STEP_LOAD(4, b, c, d, e, a);
  SHA1_STEP_LOAD(5, a, b, c, d, e);
  SHA1_STEP_LOAD(6, e, a, b, c, d);
  SHA1_STEP_LOAD(7, d, e, a, b, c);
  SHA1_STEP_LOAD(8, c, d, e, a, b);
  SHA1_STEP_LOAD(9, b, c, d, e, a);
  SHA1_STEP_LOAD(10, a, b, c, d, e);
  SHA1_STEP_LOAD(11, e, a, b, c, d);
  SHA1_STEP_LOAD(12, d, e, a, b, c);
  SHA1_STEP_LOAD(13, c, d, e, a, b);
  SHA1_STEP_LOAD(14, b, c, d, e, a);
  SHA1_STEP_LOAD(15, a, b, c, d, e);
  SHA1_STEP_CHOOSE(16, e, a, b, c, d);
  SHA1_STEP_CHOOSE(17, d, e, a, b, c);
  SHA1_STEP_CHOOSE(18, c, d, e, a, b);
  SHA1_STEP_CHOOSE(19, b, c, d, e, a);
  SHA1_STEP_PARITY_1(20, a, b, c, d, e);
  SHA1_STEP_PARITY_1(21, e, a, b, c, d);
  SHA1_STEP_PARITY_1(22, d, e, a, b, c);
  SHA1_STEP_PARITY_1(23, c, d, e, a, b);
  SHA1_STEP_PARITY_1(24, b, c, d, e, a);
  SHA1_STEP_PARITY_1(25, a, b, c, d, e);
  SHA1_STEP_PARITY_1(26, e, a, b, c, d);
  SHA1_STEP_PARITY_1(27, d, e, a, b, c);
  SHA1_STEP_PARITY_1(28, c, d, e, a, b);
  SHA1_STEP_PARITY_1(29, b, c, d, e, a);
  SHA1_STEP_PARITY_1(30, a, b, c, d, e);
  SHA1_STEP_PARITY_1(31, e, a, b, c, d);
  SHA1_STEP_PARITY_1(32, d, e, a, b, c);
  SHA1_STEP_PARITY_1(33, c, d, e, a, b);
  SHA1_STEP_PARITY_1(34, b, c, d, e, a);
  SHA1_STEP_PARITY_1(35, a, b, c, d, e);
  SHA1_STEP_PARITY_1(36, e, a, b, c, d);
  SHA1_STEP_PARITY_1(37, d, e, a, b, c);
  SHA1_STEP_PARITY_1(38, c, d, e, a, b);
  SHA1_STEP_PARITY_1(39, b, c, d, e, a);
  SHA1_STEP_MAJORITY(40, a, b, c, d, e);
  SHA1_STEP_MAJORITY(41, e, a, b, c, d);
  SHA1_STEP_MAJORITY(42, d, e, a, b, c);
  SHA1_STEP_MAJORITY(43, c, d, e, a, b);
  SHA1_STEP_MAJORITY(44, b, c, d, e, a);
  SHA1_STEP_MAJORITY(45, a, b, c, d, e);
  SHA1_STEP_MAJORITY(46, e, a, b, c, d);
  SHA1_STEP_MAJORITY(47, d, e, a, b, c);
  SHA1_STEP_MAJORITY(48, c, d, e, a, b);
  SHA1_STEP_MAJORITY(49, b, c, d, e, a);
  SHA1_STEP_MAJORITY(50, a, b, c, d, e);
  SHA1_STEP_MAJORITY(51, e, a, b, c, d);
  SHA1_STEP_MAJORITY(52, d, e, a, b, c);
  SHA1_STEP_MAJORITY(53, c, d, e, a, b);
  SHA1_STEP_MAJORITY(54, b, c, d, e, a);
  SHA1_STEP_MAJORITY(55, a, b, c, d, e);
  SHA1_STEP_MAJORITY(56, e, a, b, c, d);
  SHA1_STEP_MAJORITY(57, d, e, a, b, c);
  SHA1_STEP_MAJORITY(58, c, d, e, a, b);
  SHA1_STEP_MAJORITY(59, b, c, d, e, a);
  SHA1_STEP_PARITY_2(60, a, b, c, d, e);
  SHA1_STEP_PARITY_2(61, e, a, b, c, d);
  SHA1_STEP_PARITY_2(62, d, e, a, b, c);
  SHA1_STEP_PARITY_2(63, c, d, e, a, b);
  SHA1_STEP_PARITY_2(64, b, c, d, e, a);
  SHA1_STEP_PARITY_2(65, a, b, c, d, e);
  SHA1_STEP_PARITY_2(66, e, a, b, c, d);
  SHA1_STEP_PARITY_2(67, d, e, a, b, c);
  SHA1_STEP_PARITY_2(68, c, d, e, a, b);
  SHA1_STEP_PARITY_2(69, b, c, d, e, a);
  SHA1_STEP_PARITY_2(70, a, b, c, d, e);
  SHA1_STEP_PARITY_2(71, e, a, b, c, d);
  SHA1_STEP_PARITY_2(72, d, e, a, b, c);
  SHA1_STEP_PARITY_2(73, c, d, e, a, b);
  SHA1_STEP_PARITY_2(74, b, c, d, e, a);
  SHA1_STEP_PARITY_2(75, a, b, c, d, e);
  SHA1_STEP_PARITY_2(76, e, a, b, c, d);
  SHA1_STEP_PARITY_2(77, d, e, a, b, c);
  SHA1_STEP_PARITY_2(78, c, d, e, a, b);
  SHA1_STEP_PARITY_2(79, b, c, d, e, a);

  chain[0] += a;
  chain[1] += b;
  chain[2] += c;
  chain[3] += d;
  chain[4] += e;
}

#undef SHA1_STEP_PARITY_2
#undef SHA1_STEP_MAJORITY
#undef SHA1_STEP_PARITY_1
#undef SHA1_STEP_CHOOSE
#undef SHA1_STEP_LOAD
#undef SHA1_STEP

}  // namespace

// Chosen once per process: the CPU does not change under it, and a static
// local is initialised exactly once even when several threads race to it.
sha1_compressor sha1_chosen_compressor() {
  static const sha1_compressor chosen =
      sha1_accelerated_compressor().value_or(&sha1_compress_portable);
  return chosen;
}

void sha1_compress_portable(std::uint32_t chain[5], const unsigned char* blocks,
                            std::size_t block_count) {
  for (std::size_t i = 0; i < block_count; ++i)
    sha1_compress_block(chain, blocks + 64 * i);
}

void sha1_start(sha1_context* context) {
  context->count = 0;
  context->chain[0] = 0x67452301u;
  context->chain[1] = 0xefcdab89u;
  context->chain[2] = 0x98badcfeu;
  context->chain[3] = 0x10325476u;
  context->chain[4] = 0xc3d2e1f0u;
}

void sha1_update(sha1_context* context, const void* data, std::size_t length) {
  if (length == 0) return;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  std::size_t fill = static_cast<std::size_t>(context->count % 64);
  context->count += length;

  const sha1_compressor compress = sha1_chosen_compressor();
  if (fill != 0 && length >= 64 - fill) {
    std::memcpy(context->pending + fill, bytes, 64 - fill);
    compress(context->chain, context->pending, 1);
    bytes += 64 - fill;
    length -= 64 - fill;
    fill = 0;
  }
  // Whole blocks are hashed where they lie; only a remainder is copied.
  if (length >= 64) {
    compress(context->chain, bytes, length / 64);
    bytes += length / 64 * 64;
    length %= 64;
  }
  if (length != 0) std::memcpy(context->pending + fill, bytes, length);
}

void sha1_finish(sha1_context* context, unsigned char* digest) {
  // The count is in bytes; the padding carries the length in bits, modulo
  // 2^64.
  const std::uint64_t bits = context->count << 3;
  unsigned char length_bytes[8];
  store_big_endian(static_cast<std::uint32_t>(bits >> 32), length_bytes);
  store_big_endian(static_cast<std::uint32_t>(bits), length_bytes + 4);

  // Pad to 56 bytes past a block boundary, always with at least one byte,
  // so that the 8 length bytes complete the last block.
  const std::size_t fill = static_cast<std::size_t>(context->count % 64);
  sha1_update(context, sha1_pad_block, fill < 56 ? 56 - fill : 120 - fill);
  sha1_update(context, length_bytes, sizeof length_bytes);

  for (int i = 0; i < 5; ++i)
    store_big_endian(context->chain[i], digest + 4 * i);
}

void sha1_hex(const unsigned char* bytes, std::size_t size, char* text) {
  static const char digits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < size; ++i) {
    text[2 * i] = digits[bytes[i] >> 4];
    text[2 * i + 1] = digits[bytes[i] & 15];
  }
}
