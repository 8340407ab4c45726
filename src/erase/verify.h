// The one question asked right before each deletion: is this marked file,
// now, a proven copy of the file its group keeps?
#pragma once

#include <cstddef>

#include "platform/directory.h"
#include "platform/page_buffer.h"
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

/// Bytes of each file read again at a time.
constexpr std::size_t compare_chunk = 262144;

/// Room to read two files again side by side, made once for all of a run's
/// deletions: compare_chunk bytes for each, page-aligned, for each of two
/// threads.
struct compare_buffer {
  page_buffer bytes = make_page_buffer(4 * compare_chunk);
};

/// Checks that the keeper `keeper`, held as `kept`, and then the marked record
/// `marked`, held as `mine`, are each still the file listed (or opened, in
/// content_mode) and unchanged since, and that they are two files. The
/// marked file is asked last: after its check comes only its deletion.
verdict check_states(const file_record& marked, const held_file& mine,
                     const file_record& keeper, const held_file& kept);

/// In size_only mode, check_states. In content_mode, that the two files,
/// opened again now, are still the files recorded, unchanged, two files, and
/// equal byte for byte, read side by side to their ends through `buffer`.
/// Nothing of the content pass is taken as proof: time stamps can stay as
/// they were while a file's bytes change (coarse or foreign stamps, writes
/// through a shared mapping), so only reading both again proves a copy.
verdict verify_copy(const scanned_directory& scanned, const file_record& marked,
                    const held_file& mine, const file_record& keeper,
                    const held_file& kept, run_mode mode,
                    compare_buffer* buffer);

/// Holds `keeper` for keeping as `kept`, then asks verify_copy. A keeper
/// that cannot be held is gone or in another program's hands, or, where
/// holding one name of a file holds them all, the marked file itself under
/// another name.
verdict hold_keeper_and_verify(const scanned_directory& scanned,
                               const file_record& marked, const held_file& mine,
                               const file_record& keeper, run_mode mode,
                               compare_buffer* buffer, held_handle* kept);
