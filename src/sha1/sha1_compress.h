// The SHA-1 compression function in its portable and CPU-specific forms,
// internal to the engine and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

/// A compressor: runs `block_count` consecutive 64-byte blocks at `blocks`
/// (any alignment) through the SHA-1 compression function, adding each
/// result into `chain` (H0..H4). Touches nothing else; cannot fail.
using sha1_compressor = void (*)(std::uint32_t chain[5],
                                 const unsigned char* blocks,
                                 std::size_t block_count);

/// The compressor in plain C++, correct on every CPU and byte order.
void sha1_compress_portable(std::uint32_t chain[5], const unsigned char* blocks,
                            std::size_t block_count);

/// The compressor built on the x86 SHA extensions: the one-lane case of
/// sha1_compress_shani_x4 and _x2. Exists only in x86 builds, and runs only
/// on a CPU that has SHA, SSE4.1 and SSSE3: reach it through
/// sha1_accelerated_compressor.
void sha1_compress_shani(std::uint32_t chain[5], const unsigned char* blocks,
                         std::size_t block_count);

/// The fastest compressor this CPU can run other than the portable one;
/// empty when there is none (no SHA extensions, or not an x86 build).
std::optional<sha1_compressor> sha1_accelerated_compressor();

/// The compressor for one message at a time, for sha1_update and the lanes
/// alike: the accelerated one where there is one, else the portable one.
/// Chosen once per process.
sha1_compressor sha1_chosen_compressor();

/// A lane compressor: runs `block_count` consecutive 64-byte blocks of
/// several independent messages side by side. Lane i reads its blocks from
/// `blocks[i]` (any alignment) and adds each result into `chains[i]`, for
/// every lane of the compressor's width: all must be given, and no two lanes
/// may share a chain. Touches nothing else; cannot fail.
using sha1_lane_compressor = void (*)(std::uint32_t* const* chains,
                                      const unsigned char* const* blocks,
                                      std::size_t block_count);

/// A lane compressor with what it takes to choose between several.
struct sha1_lane_kernel {
  const char* name = "";
  sha1_lane_compressor compress = nullptr;
  std::size_t width = 0;  ///< Lanes per call, all of them always run.
  /// Time per call and block, relative to other kernels on the same CPU.
  double cost = 0;
};

/// A few lane kernels, as many as `count` says. Filled only through
/// sha1_add_lane_kernel.
struct sha1_lane_kernel_set {
  sha1_lane_kernel kernels[6];
  std::size_t count = 0;
};

/// Appends `kernel` to `set`. A full set, or a kernel whose width is not 1
/// to sha1_max_lanes (sha1_lanes.h), is a fault in the engine itself: the
/// process is aborted rather than write past an array.
void sha1_add_lane_kernel(sha1_lane_kernel_set* set,
                          const sha1_lane_kernel& kernel);

/// Lane compressors for x86 CPUs. Each exists only in x86 builds and runs
/// only on a CPU with its instructions: sha1_lane_kernels_for_cpu says
/// which. Widths 16 (AVX-512 F and BW), 8 (AVX2), 4 and 2 (SHA extensions,
/// as sha1_compress_shani).
void sha1_compress_avx512_x16(std::uint32_t* const* chains,
                              const unsigned char* const* blocks,
                              std::size_t block_count);
void sha1_compress_avx2_x8(std::uint32_t* const* chains,
                           const unsigned char* const* blocks,
                           std::size_t block_count);
void sha1_compress_shani_x4(std::uint32_t* const* chains,
                            const unsigned char* const* blocks,
                            std::size_t block_count);
void sha1_compress_shani_x2(std::uint32_t* const* chains,
                            const unsigned char* const* blocks,
                            std::size_t block_count);

/// The lane kernels this CPU can run, widest first, without the single
/// stream compressors; empty when there is none.
sha1_lane_kernel_set sha1_lane_kernels_for_cpu();
