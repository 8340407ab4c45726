// The engine gives one digest however the message is split, whether fed
// alone or side by side with other messages in lanes, and the accelerated
// compressor agrees with the portable one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "sha1/sha1.h"
#include "sha1/sha1_compress.h"
#include "sha1/sha1_lanes.h"

namespace {

// The input: one byte giving how many split lengths follow (0 to 15), the
// lengths, then the message.
struct fuzz_input {
  const std::uint8_t* splits = nullptr;
  std::size_t split_count = 0;
  const std::uint8_t* message = nullptr;
  std::size_t size = 0;
};

// Length bytes are scaled so that pieces both inside and across blocks come up.
std::size_t piece_length(std::uint8_t split) {
  return split % 2 ? split : split * 3u;
}

void require(bool condition) {
  if (!condition) std::abort();
}

void digest_whole(const fuzz_input& input, unsigned char* digest) {
  sha1_context context;
  sha1_start(&context);
  sha1_update(&context, input.message, input.size);
  sha1_finish(&context, digest);
}

void digest_split(const fuzz_input& input, unsigned char* digest) {
  sha1_context context;
  sha1_start(&context);
  std::size_t done = 0;
  for (std::size_t i = 0; i < input.split_count; ++i) {
    const std::size_t piece =
        std::min(piece_length(input.splits[i]), input.size - done);
    sha1_update(&context, piece ? input.message + done : nullptr, piece);
    done += piece;
  }
  sha1_update(&context, input.message + done, input.size - done);
  sha1_finish(&context, digest);
}

// The message in every lane, each lane cut at its own points: lane i takes
// the split lengths starting at split i in each round.
void check_lanes(const fuzz_input& input, const unsigned char* whole) {
  const std::size_t lanes = 1 + input.split_count;
  sha1_context contexts[sha1_max_lanes];
  std::size_t done[sha1_max_lanes] = {};
  for (std::size_t i = 0; i < lanes; ++i) sha1_start(&contexts[i]);
  for (std::size_t round = 0;; ++round) {
    sha1_lane_input inputs[sha1_max_lanes];
    bool any = false;
    for (std::size_t i = 0; i < lanes; ++i) {
      const std::size_t want =
          input.split_count == 0
              ? input.size
              : 64 +
                    piece_length(input.splits[(i + round) % input.split_count]);
      const std::size_t piece = std::min(want, input.size - done[i]);
      inputs[i] = {&contexts[i], input.message + done[i], piece};
      done[i] += piece;
      any = any || piece > 0;
    }
    if (!any) break;
    sha1_update_lanes(inputs, lanes);
  }
  for (std::size_t i = 0; i < lanes; ++i) {
    unsigned char digest[sha1_digest_size];
    sha1_finish(&contexts[i], digest);
    require(std::memcmp(whole, digest, sizeof digest) == 0);
  }
}

void compare_compressors(const fuzz_input& input) {
  const std::optional<sha1_compressor> accelerated =
      sha1_accelerated_compressor();
  if (!accelerated || input.size < 64) return;
  std::uint32_t portable_chain[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE,
                                     0x10325476, 0xC3D2E1F0};
  std::uint32_t accelerated_chain[5];
  std::memcpy(accelerated_chain, portable_chain, sizeof portable_chain);
  sha1_compress_portable(portable_chain, input.message, input.size / 64);
  (*accelerated)(accelerated_chain, input.message, input.size / 64);
  require(std::memcmp(portable_chain, accelerated_chain,
                      sizeof portable_chain) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  fuzz_input input;
  input.split_count = data[0] % 16;
  if (1 + input.split_count > size) return 0;
  input.splits = data + 1;
  input.message = data + 1 + input.split_count;
  input.size = size - 1 - input.split_count;

  unsigned char whole[sha1_digest_size];
  unsigned char split[sha1_digest_size];
  digest_whole(input, whole);
  digest_split(input, split);
  require(std::memcmp(whole, split, sizeof whole) == 0);
  check_lanes(input, whole);
  compare_compressors(input);
  return 0;
}
