#include <optional>

#include "sha1/sha1_compress.h"

std::optional<sha1_compressor> sha1_accelerated_compressor() {
  // The SHA instructions alone are not enough: the compressor also byte-swaps
  // with SSSE3 and extracts a lane with SSE4.1.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1") &&
      __builtin_cpu_supports("ssse3"))
    return &sha1_compress_shani;
  return std::nullopt;
}
