// Built with -msha -msse4.1 -mssse3, and only this file: nothing else may use
// those instructions, since the program must still run on CPUs without them.
#include <immintrin.h>

#include "sha1/sha1_compress.h"

namespace {

// The schedule for four steps from the sixteen words before them:
// w[t] = rotl1(w[t-3] ^ w[t-8] ^ w[t-14] ^ w[t-16]), four words at a time.
__m128i next_schedule(__m128i back16, __m128i back12, __m128i back8,
                      __m128i back4) {
  return _mm_sha1msg2_epu32(
      _mm_xor_si128(_mm_sha1msg1_epu32(back16, back12), back8), back4);
}

// Four steps (group 0..19) of one block. `schedule` holds the last sixteen
// schedule words in four registers, the group's own in slot group % 4 once
// computed. `e_source` is what the group's E comes from: the chain's E for
// group 0, and afterwards A as it was four steps earlier (E four steps on is
// that A rotated by 30, which sha1nexte applies).
template <int group>
inline void four_steps(__m128i* abcd, __m128i* e_source, __m128i* schedule) {
  if constexpr (group >= 4) {
    schedule[group % 4] =
        next_schedule(schedule[group % 4], schedule[(group + 1) % 4],
                      schedule[(group + 2) % 4], schedule[(group + 3) % 4]);
  }
  __m128i e;
  if constexpr (group == 0)
    e = _mm_add_epi32(*e_source, schedule[0]);
  else
    e = _mm_sha1nexte_epu32(*e_source, schedule[group % 4]);
  *e_source = *abcd;
  *abcd = _mm_sha1rnds4_epu32(*abcd, e, group / 5);
}

// The 16 block words, big-endian in memory, with W0 in the top lane, which
// is the order the SHA instructions expect.
__m128i load_words(const unsigned char* bytes) {
  const __m128i reverse_bytes =
      _mm_set_epi64x(0x0001020304050607, 0x08090a0b0c0d0e0f);
  return _mm_shuffle_epi8(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), reverse_bytes);
}

}  // namespace

void sha1_compress_shani(std::uint32_t chain[5], const unsigned char* blocks,
                         std::size_t block_count) {
  // A in the top lane down to D in the bottom one; E alone in the top lane.
  __m128i abcd = _mm_shuffle_epi32(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(chain)), 0x1b);
  __m128i e = _mm_set_epi32(static_cast<int>(chain[4]), 0, 0, 0);

  for (std::size_t i = 0; i < block_count; ++i, blocks += 64) {
    const __m128i abcd_before = abcd;
    __m128i schedule[4] = {load_words(blocks), load_words(blocks + 16),
                           load_words(blocks + 32), load_words(blocks + 48)};
    __m128i e_source = e;
    four_steps<0>(&abcd, &e_source, schedule);
    four_steps<1>(&abcd, &e_source, schedule);
    four_steps<2>(&abcd, &e_source, schedule);
    four_steps<3>(&abcd, &e_source, schedule);
    four_steps<4>(&abcd, &e_source, schedule);
    four_steps<5>(&abcd, &e_source, schedule);
    four_steps<6>(&abcd, &e_source, schedule);
    four_steps<7>(&abcd, &e_source, schedule);
    four_steps<8>(&abcd, &e_source, schedule);
    four_steps<9>(&abcd, &e_source, schedule);
    four_steps<10>(&abcd, &e_source, schedule);
    four_steps<11>(&abcd, &e_source, schedule);
    four_steps<12>(&abcd, &e_source, schedule);
    four_steps<13>(&abcd, &e_source, schedule);
    four_steps<14>(&abcd, &e_source, schedule);
    four_steps<15>(&abcd, &e_source, schedule);
    four_steps<16>(&abcd, &e_source, schedule);
    four_steps<17>(&abcd, &e_source, schedule);
    four_steps<18>(&abcd, &e_source, schedule);
    four_steps<19>(&abcd, &e_source, schedule);
    e = _mm_sha1nexte_epu32(e_source, e);
    abcd = _mm_add_epi32(abcd, abcd_before);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain),
                   _mm_shuffle_epi32(abcd, 0x1b));
  chain[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}
