// The two entries one deletion rests on, the file to delete and the file it
// is proven against, held from before their last checks to the end of the
// deletion, so that what is deleted, or kept, is what was checked. Apart
// from open_file.h because it is no reading: a held entry is checked and
// deleted, never read. What the system guarantees while an entry is held
// differs, and the comment of hold_entry says how. This header is the same
// on every system; directory_posix.cpp or directory_win32.cpp implements it.
#pragma once

#include <memory>
#include <optional>

#include "platform/directory.h"
#include "platform/file_state.h"

struct held_file;
struct held_file_closer {
  void operator()(held_file* file) const;
};
/// An entry held from its last check to its deletion; released unchanged
/// when it is not deleted.
using held_handle = std::unique_ptr<held_file, held_file_closer>;

/// How holding an entry went.
enum class hold_result { held, gone, refused };

/// Why an entry is held: to be deleted, or as the file its copies are
/// proven against.
enum class hold_purpose { deleting, keeping };

/// Holds the entry `entry` from its checks to the end of the deletion they
/// decide, so that what is deleted, or kept, is what was checked. On Windows
/// no other program can write, rename or delete the file while it is held
/// (`refused` when another program has it open for writing or the system
/// refuses the access), and a file held for deleting is deleted through the
/// handle that was checked; on POSIX the name is held, and each check asks
/// the name again. Opening the file with open_entry meanwhile works.
hold_result hold_entry(const directory& held, const char* entry,
                       hold_purpose purpose, held_handle* result);

/// The current state of a held entry, as inspect_entry gives it; empty when it
/// is no longer a regular file or cannot be queried.
std::optional<file_state> state_of(const held_file& file);

/// Deletes a held entry (a file, never a directory). Throws std::system_error
/// when the system refuses.
void delete_held(held_file* file);
