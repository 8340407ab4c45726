// Built with -msha -msse4.1 -mssse3, and only this file: the program must
// still run on CPUs without them.
//
// One message keeps the SHA round instruction waiting on its own previous
// result; the steps of several messages, interleaved, fill those waits. The
// single-message compressor is the same code with one lane.
#include <immintrin.h>

#include <cstdint>
#include <utility>

#include "sha1/sha1_compress.h"

namespace {

// A in the top lane down to D in the bottom one; E alone in the top lane.
struct lane_state {
  __m128i abcd;
  __m128i e;
};

// The 16 block words, big-endian in memory, with W0 in the top lane, which
// is the order the SHA instructions expect; four at a time.
__m128i load_words(const unsigned char* bytes) {
  const __m128i reverse_bytes =
      _mm_set_epi64x(0x0001020304050607, 0x08090a0b0c0d0e0f);
  return _mm_shuffle_epi8(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), reverse_bytes);
}

lane_state load_state(const std::uint32_t* chain) {
  return {_mm_shuffle_epi32(
              _mm_loadu_si128(reinterpret_cast<const __m128i*>(chain)), 0x1b),
          _mm_set_epi32(static_cast<int>(chain[4]), 0, 0, 0)};
}

void store_state(const lane_state& state, std::uint32_t* chain) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain),
                   _mm_shuffle_epi32(state.abcd, 0x1b));
  chain[4] = static_cast<std::uint32_t>(_mm_extract_epi32(state.e, 3));
}

// Four steps (group 0..19) of every lane. `schedule` holds each lane's last
// sixteen schedule words in four registers, the group's own in slot
// group % 4 once computed: w[t] = rotl1(w[t-3] ^ w[t-8] ^ w[t-14] ^ w[t-16]).
// `e_source` is what the group's E comes from: the chain's E for group 0,
// and afterwards A as it was four steps earlier (E four steps on is that A
// rotated by 30, which sha1nexte applies).
template <int lanes, int group>
inline void four_steps(__m128i (&abcd)[lanes], __m128i (&e_source)[lanes],
                       __m128i (&schedule)[lanes][4]) {
  for (int n = 0; n < lanes; ++n) {
    __m128i* s = schedule[n];
    if constexpr (group >= 4) {
      s[group % 4] = _mm_sha1msg2_epu32(
          _mm_xor_si128(_mm_sha1msg1_epu32(s[group % 4], s[(group + 1) % 4]),
                        s[(group + 2) % 4]),
          s[(group + 3) % 4]);
    }
    __m128i e;
    if constexpr (group == 0)
      e = _mm_add_epi32(e_source[n], s[0]);
    else
      e = _mm_sha1nexte_epu32(e_source[n], s[group % 4]);
    e_source[n] = abcd[n];
    abcd[n] = _mm_sha1rnds4_epu32(abcd[n], e, group / 5);
  }
}

template <int lanes, int... group>
inline void all_groups(__m128i (&abcd)[lanes], __m128i (&e_source)[lanes],
                       __m128i (&schedule)[lanes][4],
                       std::integer_sequence<int, group...>) {
  (four_steps<lanes, group>(abcd, e_source, schedule), ...);
}

template <int lanes>
void compress_interleaved(std::uint32_t* const* chains,
                          const unsigned char* const* blocks,
                          std::size_t block_count) {
  lane_state state[lanes];
  for (int n = 0; n < lanes; ++n) state[n] = load_state(chains[n]);
  for (std::size_t i = 0; i < block_count; ++i) {
    __m128i abcd[lanes], e_source[lanes], schedule[lanes][4];
    for (int n = 0; n < lanes; ++n) {
      const unsigned char* block = blocks[n] + 64 * i;
      for (int j = 0; j < 4; ++j) schedule[n][j] = load_words(block + 16 * j);
      abcd[n] = state[n].abcd;
      e_source[n] = state[n].e;
    }
    all_groups<lanes>(abcd, e_source, schedule,
                      std::make_integer_sequence<int, 20>());
    for (int n = 0; n < lanes; ++n) {
      state[n].e = _mm_sha1nexte_epu32(e_source[n], state[n].e);
      state[n].abcd = _mm_add_epi32(abcd[n], state[n].abcd);
    }
  }
  for (int n = 0; n < lanes; ++n) store_state(state[n], chains[n]);
}

}  // namespace

void sha1_compress_shani(std::uint32_t chain[5], const unsigned char* blocks,
                         std::size_t block_count) {
  compress_interleaved<1>(&chain, &blocks, block_count);
}

void sha1_compress_shani_x4(std::uint32_t* const* chains,
                            const unsigned char* const* blocks,
                            std::size_t block_count) {
  compress_interleaved<4>(chains, blocks, block_count);
}

void sha1_compress_shani_x2(std::uint32_t* const* chains,
                            const unsigned char* const* blocks,
                            std::size_t block_count) {
  compress_interleaved<2>(chains, blocks, block_count);
}
