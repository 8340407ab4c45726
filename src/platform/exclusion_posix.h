// Writers kept out of a file by its descriptor, for the POSIX parts of the
// platform layer that hold descriptors of their own. Only POSIX sources
// include it.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/exclusion.h"

/// As exclude_writers, for the file open as `fd`, on the device `device`
/// where it is known.
exclusion_attempt exclude_writers_of(int fd,
                                     std::optional<std::uint64_t> device);
