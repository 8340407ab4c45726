// SHA-1 (FIPS 180-1) of a byte stream fed in pieces of any size. No
// allocation, no I/O, no global mutable state; results do not depend on the
// host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

/// Size in bytes of a digest, as sha1_finish writes it.
constexpr std::size_t sha1_digest_size = 20;

/// One message in progress. Owned by the caller; start it with sha1_start.
struct sha1_context {
  std::uint64_t count = 0;      ///< Bytes fed so far, modulo 2^64.
  std::uint32_t chain[5] = {};  ///< H0..H4 after the last whole block.
  /// The bytes of the incomplete block: the first count % 64 are valid.
  unsigned char pending[64] = {};
};

/// The byte 0x80 followed by 63 zero bytes: the source of every padding.
extern const unsigned char sha1_pad_block[64];

/// Starts a new message: count zero, chain at the initial hash value.
void sha1_start(sha1_context* context);

/// Feeds `length` bytes at `data` (any alignment; may be null when `length`
/// is 0, which changes nothing).
void sha1_update(sha1_context* context, const void* data, std::size_t length);

/// Pads the message and writes its 20-byte digest to `digest`, H0's most
/// significant byte first. The context is spent afterwards (its count then
/// includes the padding): only sha1_start makes it usable again.
void sha1_finish(sha1_context* context, unsigned char* digest);

/// Writes the `size` bytes at `bytes` as 2 * `size` lowercase hexadecimal
/// digits to `text`, the high half of each byte first; no terminator.
void sha1_hex(const unsigned char* bytes, std::size_t size, char* text);
