// The parts of file_state.h that are the same on every system.
#include "platform/file_state.h"

bool operator==(const file_time& a, const file_time& b) {
  return a.seconds == b.seconds && a.fraction == b.fraction;
}

bool operator!=(const file_time& a, const file_time& b) { return !(a == b); }

bool operator<(const file_time& a, const file_time& b) {
  if (a.seconds != b.seconds) return a.seconds < b.seconds;
  return a.fraction < b.fraction;
}

bool operator==(const file_identity& a, const file_identity& b) {
  return a.volume == b.volume && a.index == b.index;
}

bool operator<(const file_identity& a, const file_identity& b) {
  if (a.volume != b.volume) return a.volume < b.volume;
  return a.index < b.index;
}

bool same_unchanged_file(const file_state& then, const file_state& now) {
  if (then.has_identity && now.has_identity && !(then.identity == now.identity))
    return false;
  if (then.has_change_time && now.has_change_time &&
      then.change_time != now.change_time)
    return false;
  return then.size == now.size && then.write_time == now.write_time;
}
