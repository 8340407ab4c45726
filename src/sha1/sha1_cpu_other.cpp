#include <optional>

#include "sha1/sha1_compress.h"

std::optional<sha1_compressor> sha1_accelerated_compressor() {
  return std::nullopt;
}

sha1_lane_kernel_set sha1_lane_kernels_for_cpu() { return {}; }
