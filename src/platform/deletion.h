// The two entries one deletion rests on, the file to delete and the file it
// is proven against, claimed from before their last checks to the end of the
// deletion, so that what is deleted, or kept, is what was checked. A claim
// is as strong as the system allows, and no stronger: on Windows a lock on
// the file, on POSIX only its name, asked again at each check. Neither is a
// read: the bytes are read through open_file.h, and the writers kept out by
// exclusion.h. This header is the same on every system; directory_posix.cpp
// or directory_win32.cpp implements it.
#pragma once

#include <memory>
#include <optional>

#include "platform/directory.h"
#include "platform/file_state.h"

struct claimed_file;
struct claimed_file_closer {
  void operator()(claimed_file* file) const;
};
/// An entry claimed from its last check to its deletion; released unchanged
/// when it is not deleted.
using claimed_handle = std::unique_ptr<claimed_file, claimed_file_closer>;

/// How claiming an entry went.
enum class claim_result { claimed, gone, open_for_writing, refused };

/// Why an entry is claimed: to be deleted, or as the file its copies are
/// proven against.
enum class claim_purpose { deleting, keeping };

/// Claims the entry `entry` from its checks to the end of the deletion they
/// decide, so that what is deleted, or kept, is what was checked. On Windows
/// the claim is a lock: no other program can write, rename or delete the
/// file while it is claimed (`open_for_writing` when another program may
/// write it, `refused` when another holds it otherwise or the system refuses
/// the access), and a file claimed for
/// deleting is deleted through the handle that was checked. On POSIX the
/// claim is the name alone: nothing is locked, and each check asks the name
/// again. Opening the file with open_entry meanwhile works.
claim_result claim_entry(const directory& held, const char* entry,
                         claim_purpose purpose, claimed_handle* result);

/// The current state of a claimed entry, as inspect_entry gives it; empty when
/// it is no longer a regular file or cannot be queried.
std::optional<file_state> state_of(const claimed_file& file);

/// Deletes a claimed entry (a file, never a directory). Throws
/// std::system_error when the system refuses.
void delete_claimed(claimed_file* file);
