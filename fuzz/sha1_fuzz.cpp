// The engine gives one digest however the message is split, and the
// accelerated compressor agrees with the portable one.
#include <cpuid.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sha1/sha1.h"
#include "sha1/sha1_compress.h"

#ifndef DUPSWEEP_FUZZ_SHANI
#define DUPSWEEP_FUZZ_SHANI 0
void sha1_compress_shani(std::uint32_t*, const unsigned char*, std::size_t) {}
#endif

namespace {

void digest_whole(const std::uint8_t* data, std::size_t size,
                  unsigned char* digest) {
  sha1_context context;
  sha1_start(&context);
  sha1_update(&context, data, static_cast<std::uint32_t>(size));
  sha1_finish(&context, digest);
}

// The first byte says how many split lengths follow; each length byte is
// scaled so that pieces both inside and across blocks come up.
void digest_split(const std::uint8_t* data, std::size_t size,
                  unsigned char* digest) {
  const std::size_t splits = size > 0 ? data[0] % 16 : 0;
  std::size_t header = 1 + splits;
  if (header > size) header = size;
  const std::uint8_t* message = data + header;
  std::size_t left = size - header;
  sha1_context context;
  sha1_start(&context);
  for (std::size_t i = 1; i < header; ++i) {
    std::size_t piece = data[i] % 2 ? data[i] : data[i] * 3u;
    if (piece > left) piece = left;
    sha1_update(&context, piece ? message : nullptr,
                static_cast<std::uint32_t>(piece));
    message += piece;
    left -= piece;
  }
  sha1_update(&context, message, static_cast<std::uint32_t>(left));
  sha1_finish(&context, digest);
}

bool has_sha_extensions() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3_and_sse41 = (ecx & bit_SSSE3) && (ecx & bit_SSE4_1);
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return ssse3_and_sse41 && (ebx & bit_SHA);
}

void compare_compressors(const std::uint8_t* data, std::size_t size) {
  static const bool accelerated = DUPSWEEP_FUZZ_SHANI && has_sha_extensions();
  if (!accelerated || size < 64) return;
  std::uint32_t portable_chain[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE,
                                     0x10325476, 0xC3D2E1F0};
  std::uint32_t accelerated_chain[5];
  std::memcpy(accelerated_chain, portable_chain, sizeof portable_chain);
  sha1_compress_portable(portable_chain, data, size / 64);
  sha1_compress_shani(accelerated_chain, data, size / 64);
  if (std::memcmp(portable_chain, accelerated_chain, sizeof portable_chain))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::size_t header = size > 0 ? 1 + data[0] % 16 : 0;
  if (header > size) return 0;
  unsigned char whole[sha1_digest_size];
  unsigned char split[sha1_digest_size];
  digest_whole(data + header, size - header, whole);
  digest_split(data, size, split);
  if (std::memcmp(whole, split, sizeof whole) != 0) std::abort();
  compare_compressors(data, size);
  return 0;
}
