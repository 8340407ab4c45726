// The parts of file_state.h that are the same on every system.
#include "platform/file_state.h"

bool same_unchanged_file(const file_state& then, const file_state& now) {
  if (then.has_identity && now.has_identity && !(then.identity == now.identity))
    return false;
  if (then.has_change_time && now.has_change_time &&
      then.change_time != now.change_time)
    return false;
  return then.size == now.size && then.write_time == now.write_time;
}
