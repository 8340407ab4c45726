// The one question asked right before each deletion: is this marked file,
// now, a proven copy of the file its group keeps?
#pragma once

#include "platform/directory.h"
#include "scan/scan.h"
#include "select/select.h"

/// The answer, or why the marked file is not a proven copy.
enum class verdict {
  copy,             ///< It may be deleted.
  changed,          ///< It is gone, or not the file listed, or changed.
  keeper_changed,   ///< Its keeper is gone, or not the file listed, or changed.
  same_file,        ///< It and its keeper are one file under two names.
  contents_differ,  ///< Its bytes are not its keeper's (equal digests aside).
};

/// Checks that the marked record `marked`, whose file is held as `held`, and
/// its keeper `keeper` are each still the file listed (or opened, in
/// content_mode) and unchanged since, and that they are two files.
verdict check_states(const scanned_directory& scanned,
                     const file_record& marked, const file_record& keeper,
                     const held_file& held);

/// check_states and, in content_mode, that the two files are equal byte for
/// byte now: proven by the content pass where it read them side by side and
/// neither changed since, otherwise by reading both again.
verdict verify_copy(const scanned_directory& scanned, const file_record& marked,
                    const file_record& keeper, const held_file& held,
                    run_mode mode);
