#include <cpuid.h>

#include <optional>

#include "sha1/sha1_compress.h"

namespace {

struct cpu_features {
  bool sha = false;
  bool avx2 = false;
  bool avx512 = false;
};

// The SHA extensions are asked of the CPU directly: clang's run-time feature
// test does not know them. They use only the XMM registers, which every x86
// system saves, so no question to the system is needed. The SHA instructions
// alone are not enough: the compressors also byte-swap with SSSE3 and
// extract a lane with SSE4.1.
bool has_sha_extensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_SSSE3) ||
      !(ecx & bit_SSE4_1))
    return false;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_SHA);
}

// The compiler's support test also checks that the system saves the wide
// registers. The byte swap of the AVX-512 loads needs BW besides F.
cpu_features read_features() {
  __builtin_cpu_init();
  cpu_features features;
  features.sha = has_sha_extensions();
  features.avx2 = __builtin_cpu_supports("avx2");
  features.avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return features;
}

// Read once per process: the CPU does not change under it.
const cpu_features& features() {
  static const cpu_features read = read_features();
  return read;
}

}  // namespace

std::optional<sha1_compressor> sha1_accelerated_compressor() {
  if (features().sha) return &sha1_compress_shani;
  return std::nullopt;
}

// Costs are seconds per call and block as measured on a Zen 5 core (width
// over throughput); only their ratios matter, and they are the same on the
// other x86 cores measured within a factor that does not change the choice.
sha1_lane_kernel_set sha1_lane_kernels_for_cpu() {
  sha1_lane_kernel_set set;
  if (features().avx512)
    sha1_add_lane_kernel(&set,
                         {"avx512_x16", &sha1_compress_avx512_x16, 16, 2.19});
  if (features().avx2)
    sha1_add_lane_kernel(&set, {"avx2_x8", &sha1_compress_avx2_x8, 8, 3.11});
  if (features().sha) {
    sha1_add_lane_kernel(&set, {"shani_x4", &sha1_compress_shani_x4, 4, 1.10});
    sha1_add_lane_kernel(&set, {"shani_x2", &sha1_compress_shani_x2, 2, 0.78});
  }
  return set;
}
