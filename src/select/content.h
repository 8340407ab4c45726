// How the content pass turns an open file into a digest.
#pragma once

#include <cstddef>
#include <cstdio>

#include "select/select.h"

/// Reads `file` to its end through `buffer` (of `buffer_size` bytes, at most
/// 4 GiB - 1) and writes the SHA-1 of its contents to `digest`. False when a
/// read fails before the end: `digest` is then of no meaning.
bool hash_stream(std::FILE* file, unsigned char* buffer,
                 std::size_t buffer_size, sha1_digest* digest);
