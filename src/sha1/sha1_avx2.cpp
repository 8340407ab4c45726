// Built with -mavx2, and only this file: the program must still run on CPUs
// without it.
#include <immintrin.h>

#include "sha1/sha1_compress.h"
#include "sha1/sha1_lane_steps.h"

namespace {

struct avx2_ops {
  using vec = __m256i;
  static constexpr std::size_t width = 8;

  static vec load(const std::uint32_t* words) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
  }
  static void store(vec v, std::uint32_t* words) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words), v);
  }
  static vec set1(std::uint32_t word) {
    return _mm256_set1_epi32(static_cast<int>(word));
  }
  static vec add(vec x, vec y) { return _mm256_add_epi32(x, y); }
  template <int n>
  static vec rotate_left(vec x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, n),
                           _mm256_srli_epi32(x, 32 - n));
  }
  static vec choose(vec b, vec c, vec d) {
    return _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
  }
  static vec parity(vec b, vec c, vec d) {
    return _mm256_xor_si256(_mm256_xor_si256(b, c), d);
  }
  static vec majority(vec b, vec c, vec d) {
    return _mm256_or_si256(_mm256_and_si256(b, c),
                           _mm256_and_si256(d, _mm256_or_si256(b, c)));
  }
  static vec xor4(vec w, vec x, vec y, vec z) {
    return _mm256_xor_si256(_mm256_xor_si256(w, x), _mm256_xor_si256(y, z));
  }
  static void load_schedule(const unsigned char* const* blocks,
                            std::size_t offset, vec* w);
};

// Words `first` to `first + 7` of the eight lanes' blocks, big-endian, into
// out[0..7], one word of every lane in each.
void load_eight_words(const unsigned char* const* blocks, std::size_t offset,
                      __m256i* out) {
  const __m256i reverse_words =
      _mm256_set_epi32(0x0c0d0e0f, 0x08090a0b, 0x04050607, 0x00010203,
                       0x0c0d0e0f, 0x08090a0b, 0x04050607, 0x00010203);
  __m256i r[8];
  for (int i = 0; i < 8; ++i)
    r[i] = _mm256_shuffle_epi8(
        _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(blocks[i] + offset)),
        reverse_words);
  __m256i t[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
    t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
  }
  // u[4g + m] holds in its 128-bit half k the words 4k + m of rows 4g to
  // 4g + 3; the halves then only need swapping across.
  __m256i u[8];
  for (int g = 0; g < 8; g += 4) {
    u[g] = _mm256_unpacklo_epi64(t[g], t[g + 2]);
    u[g + 1] = _mm256_unpackhi_epi64(t[g], t[g + 2]);
    u[g + 2] = _mm256_unpacklo_epi64(t[g + 1], t[g + 3]);
    u[g + 3] = _mm256_unpackhi_epi64(t[g + 1], t[g + 3]);
  }
  for (int m = 0; m < 4; ++m) {
    out[m] = _mm256_permute2x128_si256(u[m], u[4 + m], 0x20);
    out[4 + m] = _mm256_permute2x128_si256(u[m], u[4 + m], 0x31);
  }
}

void avx2_ops::load_schedule(const unsigned char* const* blocks,
                             std::size_t offset, __m256i* w) {
  load_eight_words(blocks, offset, w);
  load_eight_words(blocks, offset + 32, w + 8);
}

}  // namespace

void sha1_compress_avx2_x8(std::uint32_t* const* chains,
                           const unsigned char* const* blocks,
                           std::size_t block_count) {
  sha1_lanes::compress<avx2_ops>(chains, blocks, block_count);
}
