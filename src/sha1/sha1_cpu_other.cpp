#include <optional>

#include "sha1/sha1_compress.h"

std::optional<sha1_compressor> sha1_accelerated_compressor() {
  return std::nullopt;
}
