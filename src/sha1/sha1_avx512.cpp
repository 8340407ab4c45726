// Built with -mavx512f -mavx512bw, and only this file: the program must still
// run on CPUs without them.
#include <immintrin.h>

#include "sha1/sha1_compress.h"
#include "sha1/sha1_lane_steps.h"

namespace {

// 0x96, 0xca and 0xe8 are the truth tables of x ^ y ^ z, x ? y : z and the
// majority of three, so every step function is one instruction.
struct avx512_ops {
  using vec = __m512i;
  static constexpr std::size_t width = 16;

  static vec load(const std::uint32_t* words) {
    return _mm512_loadu_si512(words);
  }
  static void store(vec v, std::uint32_t* words) {
    _mm512_storeu_si512(words, v);
  }
  static vec set1(std::uint32_t word) {
    return _mm512_set1_epi32(static_cast<int>(word));
  }
  static vec add(vec x, vec y) { return _mm512_add_epi32(x, y); }
  template <int n>
  static vec rotate_left(vec x) {
    return _mm512_rol_epi32(x, n);
  }
  static vec choose(vec b, vec c, vec d) {
    return _mm512_ternarylogic_epi32(b, c, d, 0xca);
  }
  static vec parity(vec b, vec c, vec d) {
    return _mm512_ternarylogic_epi32(b, c, d, 0x96);
  }
  static vec majority(vec b, vec c, vec d) {
    return _mm512_ternarylogic_epi32(b, c, d, 0xe8);
  }
  static vec xor4(vec w, vec x, vec y, vec z) {
    return _mm512_xor_si512(_mm512_ternarylogic_epi32(w, x, y, 0x96), z);
  }
  static void load_schedule(const unsigned char* const* blocks,
                            std::size_t offset, vec* w);
};

// Lane i's whole block, its words made big-endian, into rows[i].
void load_rows(const unsigned char* const* blocks, std::size_t offset,
               __m512i* rows) {
  const __m512i reverse_words =
      _mm512_set4_epi32(0x0c0d0e0f, 0x08090a0b, 0x04050607, 0x00010203);
  for (int i = 0; i < 16; ++i)
    rows[i] = _mm512_shuffle_epi8(_mm512_loadu_si512(blocks[i] + offset),
                                  reverse_words);
}

// After the two unpack stages, u[4g + m] holds in its 128-bit part k the
// words 4k + m of rows 4g to 4g + 3. Word j of every row is then part g of
// out[j] = u[4g + j % 4] part j / 4: a 4 x 4 transpose of 128-bit parts.
void transpose_parts(const __m512i* u, __m512i* out) {
  for (int m = 0; m < 4; ++m) {
    const __m512i x0 = _mm512_shuffle_i32x4(u[m], u[4 + m], 0x44);
    const __m512i x1 = _mm512_shuffle_i32x4(u[m], u[4 + m], 0xee);
    const __m512i x2 = _mm512_shuffle_i32x4(u[8 + m], u[12 + m], 0x44);
    const __m512i x3 = _mm512_shuffle_i32x4(u[8 + m], u[12 + m], 0xee);
    out[m] = _mm512_shuffle_i32x4(x0, x2, 0x88);
    out[4 + m] = _mm512_shuffle_i32x4(x0, x2, 0xdd);
    out[8 + m] = _mm512_shuffle_i32x4(x1, x3, 0x88);
    out[12 + m] = _mm512_shuffle_i32x4(x1, x3, 0xdd);
  }
}

void avx512_ops::load_schedule(const unsigned char* const* blocks,
                               std::size_t offset, __m512i* w) {
  __m512i r[16];
  load_rows(blocks, offset, r);
  __m512i t[16];
  for (int i = 0; i < 16; i += 2) {
    t[i] = _mm512_unpacklo_epi32(r[i], r[i + 1]);
    t[i + 1] = _mm512_unpackhi_epi32(r[i], r[i + 1]);
  }
  __m512i u[16];
  for (int g = 0; g < 16; g += 4) {
    u[g] = _mm512_unpacklo_epi64(t[g], t[g + 2]);
    u[g + 1] = _mm512_unpackhi_epi64(t[g], t[g + 2]);
    u[g + 2] = _mm512_unpacklo_epi64(t[g + 1], t[g + 3]);
    u[g + 3] = _mm512_unpackhi_epi64(t[g + 1], t[g + 3]);
  }
  transpose_parts(u, w);
}

}  // namespace

void sha1_compress_avx512_x16(std::uint32_t* const* chains,
                              const unsigned char* const* blocks,
                              std::size_t block_count) {
  sha1_lanes::compress<avx512_ops>(chains, blocks, block_count);
}
