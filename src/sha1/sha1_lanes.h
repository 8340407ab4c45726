// Several independent SHA-1 messages advanced together, so that CPUs with
// wide vectors or several SHA units keep them all busy. Each message keeps
// its own sha1_context, started and finished with the functions of sha1.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sha1/sha1.h"

/// Most messages one call of sha1_update_lanes takes.
constexpr std::size_t sha1_max_lanes = 16;

/// One message's share of a sha1_update_lanes call.
struct sha1_lane_input {
  sha1_context* context = nullptr;
  const void* data = nullptr;  ///< May be null when `length` is 0.
  std::size_t length = 0;
};

/// How many messages this CPU hashes fastest at once: 1 when it has nothing
/// better than one message at a time, never more than sha1_max_lanes.
std::size_t sha1_lane_count();

/// Feeds inputs[i].length bytes at inputs[i].data to inputs[i].context for
/// each i < `count` (at most sha1_max_lanes, no context twice), with the
/// same result as sha1_update on each in turn. Lengths may differ; the whole
/// blocks of the messages are compressed side by side. Cannot fail.
void sha1_update_lanes(const sha1_lane_input* inputs, std::size_t count);
