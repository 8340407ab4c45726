// The parts of directory.h that are the same on every system.
#include "platform/directory.h"

#include <tuple>

bool operator==(const file_time& a, const file_time& b) {
  return a.seconds == b.seconds && a.fraction == b.fraction;
}

bool operator!=(const file_time& a, const file_time& b) { return !(a == b); }

bool operator<(const file_time& a, const file_time& b) {
  return std::tie(a.seconds, a.fraction) < std::tie(b.seconds, b.fraction);
}

bool operator==(const file_identity& a, const file_identity& b) {
  return a.volume == b.volume && a.index == b.index;
}

bool same_unchanged_file(const file_state& then, const file_state& now) {
  if (then.identity && now.identity && !(*then.identity == *now.identity))
    return false;
  if (then.change_time && now.change_time &&
      *then.change_time != *now.change_time)
    return false;
  return then.size == now.size && then.write_time == now.write_time;
}
