// The 80 SHA-1 steps over vectors that hold one word of each lane, written
// once for every vector instruction set. Included only by the files built
// for one set, each of which supplies `ops` (in an anonymous namespace, so
// that every instantiation stays inside the file compiled for it):
//   vec                      the vector type, `width` lanes of 32 bits
//   width                    lanes per vector
//   load(const uint32_t*)    `width` words into a vector
//   store(vec, uint32_t*)    the reverse
//   set1(uint32_t)           one word in every lane
//   add, rotate_left<n>      per lane, modulo 2^32
//   choose, parity, majority the step functions of b, c and d
//   xor4                     four-way exclusive or
//   load_schedule(blocks, offset, vec w[16])
//                            word t of every lane's block at
//                            blocks[lane] + offset into w[t], big-endian
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#define SHA1_LANES_INLINE inline __attribute__((always_inline))

namespace sha1_lanes {

// Step t names the working variables one place further round than step
// t - 1, so the role r (0 for A up to 4 for E) lives in v[(r - t) mod 5] and
// nothing is ever moved.
template <typename ops, int t>
SHA1_LANES_INLINE void step(typename ops::vec* v, typename ops::vec* w) {
  using vec = typename ops::vec;
  const vec& a = v[(80 - t) % 5];
  vec& b = v[(81 - t) % 5];
  const vec& c = v[(82 - t) % 5];
  const vec& d = v[(83 - t) % 5];
  vec& e = v[(84 - t) % 5];
  // Only the last sixteen schedule words are ever needed.
  if constexpr (t >= 16) {
    w[t & 15] = ops::template rotate_left<1>(ops::xor4(
        w[(t + 13) & 15], w[(t + 8) & 15], w[(t + 2) & 15], w[t & 15]));
  }
  vec f;
  std::uint32_t k;
  if constexpr (t < 20) {
    f = ops::choose(b, c, d);
    k = 0x5a827999u;
  } else if constexpr (t < 40) {
    f = ops::parity(b, c, d);
    k = 0x6ed9eba1u;
  } else if constexpr (t < 60) {
    f = ops::majority(b, c, d);
    k = 0x8f1bbcdcu;
  } else {
    f = ops::parity(b, c, d);
    k = 0xca62c1d6u;
  }
  // A of the step before is the newest value; adding it last keeps the
  // chain from step to step at one rotation and one addition.
  e = ops::add(ops::add(ops::add(e, ops::add(ops::set1(k), w[t & 15])), f),
               ops::template rotate_left<5>(a));
  b = ops::template rotate_left<30>(b);
}

template <typename ops, std::size_t... t>
SHA1_LANES_INLINE void all_steps(typename ops::vec* v, typename ops::vec* w,
                                 std::index_sequence<t...>) {
  (step<ops, static_cast<int>(t)>(v, w), ...);
}

// The chains of all lanes turned round: v[r] holds word r of every chain.
template <typename ops>
void load_chains(std::uint32_t* const* chains, typename ops::vec* v) {
  for (int r = 0; r < 5; ++r) {
    std::uint32_t words[ops::width];
    for (std::size_t lane = 0; lane < ops::width; ++lane)
      words[lane] = chains[lane][r];
    v[r] = ops::load(words);
  }
}

template <typename ops>
void store_chains(const typename ops::vec* v, std::uint32_t* const* chains) {
  for (int r = 0; r < 5; ++r) {
    std::uint32_t words[ops::width];
    ops::store(v[r], words);
    for (std::size_t lane = 0; lane < ops::width; ++lane)
      chains[lane][r] = words[lane];
  }
}

template <typename ops>
void compress(std::uint32_t* const* chains, const unsigned char* const* blocks,
              std::size_t block_count) {
  using vec = typename ops::vec;
  vec v[5];
  load_chains<ops>(chains, v);
  for (std::size_t i = 0; i < block_count; ++i) {
    vec w[16];
    ops::load_schedule(blocks, 64 * i, w);
    const vec before[5] = {v[0], v[1], v[2], v[3], v[4]};
    // 80 steps move every role five times round, back to where it began.
    all_steps<ops>(v, w, std::make_index_sequence<80>());
    for (int r = 0; r < 5; ++r) v[r] = ops::add(v[r], before[r]);
  }
  store_chains<ops>(v, chains);
}

}  // namespace sha1_lanes

#undef SHA1_LANES_INLINE
