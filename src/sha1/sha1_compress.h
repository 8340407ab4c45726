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

/// The compressor built on the x86 SHA extensions. Exists only in x86
/// builds, and runs only on a CPU that has SHA, SSE4.1 and SSSE3: reach it
/// through sha1_accelerated_compressor.
void sha1_compress_shani(std::uint32_t chain[5], const unsigned char* blocks,
                         std::size_t block_count);

/// The fastest compressor this CPU can run other than the portable one;
/// empty when there is none (no SHA extensions, or not an x86 build).
std::optional<sha1_compressor> sha1_accelerated_compressor();
