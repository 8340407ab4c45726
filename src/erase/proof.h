// The proof of one deletion: is this marked file, right now, a copy of the
// file its group keeps? If it is, it is deleted at once.
#pragma once

#include <cstddef>

#include "platform/page_buffer.h"
#include "scan/scan.h"
#include "select/held_reads.h"
#include "select/select.h"

/// How a proof ended: the file deleted, or why it stayed.
enum class verdict {
  copy,             ///< It was a proven copy and is deleted.
  changed,          ///< It is gone, or not the file listed, or changed.
  keeper_changed,   ///< Its keeper is gone, or not the file listed, or changed.
  same_file,        ///< It and its keeper are one file under two names.
  contents_differ,  ///< Its bytes are not its keeper's (equal digests aside).
  keeper_not_ours,  ///< Its keeper belongs to another user.
  open_for_writing,         ///< Another program has it open for writing.
  keeper_open_for_writing,  ///< Another program has its keeper so open.
};

/// Bytes of each file read again at a time.
constexpr std::size_t compare_chunk = 262144;

/// Room to read two files again side by side, made once for all of a run's
/// deletions: compare_chunk bytes for each, page-aligned, for each of two
/// threads.
struct compare_buffer {
  page_buffer bytes = make_page_buffer(4 * compare_chunk);
};

/// Announces the marked record `marked` with its "Erasing : " line, then
/// proves it a copy of `keeper` and, if it is, deletes it with nothing in
/// between: claims both files; in content_mode keeps other writers out of
/// both where the system can (a file another program has open for writing
/// stays), reads both again, from the file system rather than from pages
/// cached earlier where those may be stale, and compares them byte for byte
/// to their true ends through `buffer`; checks that the keeper and then the
/// marked file are still the files recorded, unchanged, two files, of one
/// owner. The files read stay open until the deletion is done. Nothing of the
/// content pass is taken as proof: time stamps can stay as they were while a
/// file's bytes change. Where `pass` holds both files, read by the content
/// pass with writers kept out all along and found equal, that reading is
/// the proof and neither is read again. Returns verdict::copy when the file was
/// deleted, else why it stays (a file another program may write, on
/// Windows, stays). Throws std::system_error when the marked file cannot be
/// claimed for another reason (another program holds it without sharing its
/// deletion, on Windows) or the system refuses its deletion; its
/// "Erasing : " line is then the last line written.
verdict prove_and_erase(const scanned_directory& scanned,
                        const file_record& marked, const file_record& keeper,
                        run_mode mode, compare_buffer* buffer,
                        held_reads* pass = nullptr);
