#include "sha1/sha1_lanes.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "sha1/sha1_compress.h"

namespace {

// The stretch of whole blocks one message has in one call.
struct lane_blocks {
  std::uint32_t* chain = nullptr;
  const unsigned char* next = nullptr;
  std::size_t blocks = 0;
};

void compress_single(std::uint32_t* const* chains,
                     const unsigned char* const* blocks,
                     std::size_t block_count) {
  sha1_chosen_compressor()(chains[0], blocks[0], block_count);
}

// One message at a time stays the last resort, and the best choice when
// only one message has blocks left. Costs are on the scale of
// sha1_lane_kernels_for_cpu's.
sha1_lane_kernel_set all_kernels() {
  sha1_lane_kernel_set set = sha1_lane_kernels_for_cpu();
  const double single_cost =
      sha1_chosen_compressor() == &sha1_compress_portable ? 1.14 : 0.69;
  sha1_add_lane_kernel(&set, {"single", &compress_single, 1, single_cost});
  return set;
}

const sha1_lane_kernel_set& kernels() {
  static const sha1_lane_kernel_set set = all_kernels();
  return set;
}

// The kernel that runs `lanes` messages in the least time, counting the
// calls that a narrow kernel needs and the idle lanes of a wide one.
const sha1_lane_kernel& cheapest_kernel(std::size_t lanes) {
  const sha1_lane_kernel_set& set = kernels();
  const sha1_lane_kernel* best = &set.kernels[0];
  double best_cost = 0;
  for (std::size_t i = 0; i < set.count; ++i) {
    const sha1_lane_kernel& kernel = set.kernels[i];
    const std::size_t calls = (lanes + kernel.width - 1) / kernel.width;
    const double cost = static_cast<double>(calls) * kernel.cost;
    if (i == 0 || cost < best_cost) {
      best = &kernel;
      best_cost = cost;
    }
  }
  return *best;
}

// Runs `block_count` blocks of the first `count` lanes (1 to the kernel's
// width). The kernel's lanes beyond them hash lane 0's blocks again into
// chains that are thrown away.
void run_kernel(const sha1_lane_kernel& kernel, const lane_blocks* lanes,
                std::size_t count, std::size_t block_count) {
  // sha1_add_lane_kernel keeps every width within the arrays; a count
  // beyond the width would leave lanes unhashed.
  if (count == 0 || count > kernel.width || kernel.width > sha1_max_lanes)
    std::abort();
  std::uint32_t spare[sha1_max_lanes][5] = {};
  std::uint32_t* chains[sha1_max_lanes];
  const unsigned char* blocks[sha1_max_lanes];
  for (std::size_t i = 0; i < kernel.width; ++i) {
    chains[i] = i < count ? lanes[i].chain : spare[i];
    blocks[i] = i < count ? lanes[i].next : lanes[0].next;
  }
  kernel.compress(chains, blocks, block_count);
}

// Moves the lanes that still have blocks to the front; returns their number.
std::size_t drop_finished(lane_blocks* lanes, std::size_t count) {
  return static_cast<std::size_t>(
      std::remove_if(lanes, lanes + count,
                     [](const lane_blocks& lane) { return lane.blocks == 0; }) -
      lanes);
}

// All lanes advance by the shortest one's blocks at a time; as lanes run
// out, the rest go on in fewer, and so cheaper, kernels.
void compress_lanes(lane_blocks* lanes, std::size_t count) {
  while ((count = drop_finished(lanes, count)) != 0) {
    std::size_t steps = lanes[0].blocks;
    for (std::size_t i = 1; i < count; ++i)
      steps = std::min(steps, lanes[i].blocks);
    for (std::size_t first = 0; first < count;) {
      const sha1_lane_kernel& kernel = cheapest_kernel(count - first);
      const std::size_t batch = std::min(kernel.width, count - first);
      run_kernel(kernel, lanes + first, batch, steps);
      first += batch;
    }
    for (std::size_t i = 0; i < count; ++i) {
      lanes[i].next += 64 * steps;
      lanes[i].blocks -= steps;
    }
  }
}

// What remains of one input after the bytes that complete its pending
// block: whole blocks, then a tail of under 64 bytes.
struct split_input {
  const unsigned char* blocks = nullptr;
  std::size_t whole = 0;
};

split_input complete_pending(const sha1_lane_input& input) {
  const unsigned char* bytes = static_cast<const unsigned char*>(input.data);
  std::size_t length = input.length;
  const std::size_t fill = static_cast<std::size_t>(input.context->count % 64);
  if (fill != 0 && length != 0) {
    const std::size_t head = std::min(length, 64 - fill);
    sha1_update(input.context, bytes, head);
    bytes += head;
    length -= head;
  }
  return {bytes, length / 64 * 64};
}

}  // namespace

void sha1_add_lane_kernel(sha1_lane_kernel_set* set,
                          const sha1_lane_kernel& kernel) {
  if (set->count == std::size(set->kernels) || kernel.width == 0 ||
      kernel.width > sha1_max_lanes)
    std::abort();
  set->kernels[set->count++] = kernel;
}

std::size_t sha1_lane_count() {
  std::size_t widest = 1;
  for (std::size_t i = 0; i < kernels().count; ++i)
    widest = std::max(widest, kernels().kernels[i].width);
  return std::min(widest, sha1_max_lanes);
}

void sha1_update_lanes(const sha1_lane_input* inputs, std::size_t count) {
  split_input split[sha1_max_lanes];
  lane_blocks lanes[sha1_max_lanes];
  std::size_t busy = 0;
  for (std::size_t i = 0; i < count; ++i) {
    split[i] = complete_pending(inputs[i]);
    if (split[i].whole != 0)
      lanes[busy++] = {inputs[i].context->chain, split[i].blocks,
                       split[i].whole / 64};
  }
  compress_lanes(lanes, busy);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* data =
        static_cast<const unsigned char*>(inputs[i].data);
    const std::size_t used =
        static_cast<std::size_t>(split[i].blocks - data) + split[i].whole;
    // Counted here: the blocks were compressed without sha1_update.
    inputs[i].context->count += split[i].whole;
    sha1_update(inputs[i].context, data + used, inputs[i].length - used);
  }
}
