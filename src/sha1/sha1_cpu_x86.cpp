#include <cpuid.h>

#include <optional>

#include "sha1/sha1_compress.h"

namespace {

// Asked of the CPU directly: clang's run-time feature test does not know the
// SHA extensions. They use only the XMM registers, which every x86 system
// saves, so no question to the system is needed.
bool has_sha_extensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // The SHA instructions alone are not enough: the compressors also
  // byte-swap with SSSE3 and extract a lane with SSE4.1.
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_SSSE3) ||
      !(ecx & bit_SSE4_1))
    return false;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_SHA);
}

// The byte swap of the AVX-512 loads needs BW besides F. The support test
// also checks that the system saves the wide registers.
bool has_avx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("avx512bw");
}

bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

void add_kernel(sha1_lane_kernel_set* set, const sha1_lane_kernel& kernel) {
  set->kernels[set->count++] = kernel;
}

}  // namespace

std::optional<sha1_compressor> sha1_accelerated_compressor() {
  if (has_sha_extensions()) return &sha1_compress_shani;
  return std::nullopt;
}

// Costs are seconds per call and block as measured on a Zen 5 core (width
// over throughput); only their ratios matter, and they are the same on the
// other x86 cores measured within a factor that does not change the choice.
sha1_lane_kernel_set sha1_lane_kernels_for_cpu() {
  sha1_lane_kernel_set set;
  if (has_avx512())
    add_kernel(&set, {"avx512_x16", &sha1_compress_avx512_x16, 16, 2.19});
  if (has_avx2())
    add_kernel(&set, {"avx2_x8", &sha1_compress_avx2_x8, 8, 3.11});
  if (has_sha_extensions()) {
    add_kernel(&set, {"shani_x4", &sha1_compress_shani_x4, 4, 1.10});
    add_kernel(&set, {"shani_x2", &sha1_compress_shani_x2, 2, 0.78});
  }
  return set;
}
