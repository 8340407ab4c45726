// Keeping other writers out of a file this program reads, so that the bytes
// it compares are still the file's bytes when it deletes a copy. This header
// is the same on every system; exclusion_posix.cpp or exclusion_win32.cpp
// implements it.
#pragma once

#include <memory>

#include "platform/open_file.h"

struct writer_exclusion;
struct writer_exclusion_closer {
  void operator()(writer_exclusion* exclusion) const;
};
/// An exclusion of writers from one open file; given up when released. The
/// file must stay open as long as it lives. On Linux the lease itself ends
/// when the file closes, which follows soon: a writer that comes first has
/// it given up at once, as after any break.
using exclusion_handle =
    std::unique_ptr<writer_exclusion, writer_exclusion_closer>;

/// How asking for an exclusion went.
enum class exclusion_outcome {
  held,              ///< No other writer can change the file unseen.
  open_for_writing,  ///< Another program has the file open for writing now.
  unavailable,       ///< No exclusion can be had here, or it would prove
                     ///< nothing: the file is to be proved by reading.
};

struct exclusion_attempt {
  exclusion_outcome outcome = exclusion_outcome::unavailable;
  exclusion_handle held;  ///< Set when `outcome` is held.
};

/// Keeps every other writer out of the open file `file` from now on. On
/// Linux a read lease: granted only while no one has the file open for
/// writing (a shared writable mapping counts), and broken, which this
/// program notes at once and lets the writer go on, before a later open for
/// writing or truncation proceeds. On Windows a second handle that shares
/// no writing: no one can open the file for writing while it is held.
/// `unavailable` on file systems whose writes need not pass this system
/// (FUSE, network), for another user's file without the right to lease it,
/// and wherever the system refuses for another reason.
exclusion_attempt exclude_writers(const open_file& file);

/// True while the exclusion still holds: no writer has asked for the file
/// since it was taken.
bool writers_still_excluded(const writer_exclusion& exclusion);

/// From now until end_deferral, a writer that asks for the file waits (a few
/// microseconds: the checks and deletion between them) instead of being let
/// in: for the moments from the last check to the deletion.
void defer_release(writer_exclusion* exclusion);

/// Ends defer_release: a writer that asked meanwhile goes on now.
void end_deferral(writer_exclusion* exclusion);
