#include "platform/exclusion.h"

#include <windows.h>

#include "platform/open_file.h"
#include "platform/open_file_win32.h"

struct writer_exclusion {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

void writer_exclusion_closer::operator()(writer_exclusion* exclusion) const {
  CloseHandle(exclusion->handle);
  delete exclusion;
}

exclusion_attempt exclude_writers(const open_file& file) {
  // Reading shared, deleting shared (this program's own deletion must still
  // open the file), writing not: the system then refuses every open for
  // writing while the handle lives, and this one while a writer has the
  // file open. It enforces that on NTFS, FAT, exFAT and SMB shares alike.
  exclusion_attempt attempt;
  const HANDLE handle = ReOpenFile(handle_of(file), FILE_READ_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, 0);
  if (handle == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION)
      attempt.outcome = exclusion_outcome::open_for_writing;
    return attempt;
  }
  attempt.outcome = exclusion_outcome::held;
  attempt.held.reset(new writer_exclusion{handle});
  return attempt;
}

// Held by the system itself as long as the handle is open.
bool writers_still_excluded(const writer_exclusion&) { return true; }

void defer_release(writer_exclusion*) {}

void end_deferral(writer_exclusion*) {}
