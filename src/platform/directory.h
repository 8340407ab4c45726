// One directory held open for a whole run: its listing and the states of its
// entries. Every operation names a file by its entry name and goes through
// the held directory, so renaming the directory or putting a link in its
// place while the program runs cannot redirect a read or a deletion; that is
// why opening a file (open_file.h) and deleting one (deletion.h) take the
// held directory rather than a path. This header is the same on every
// system; directory_posix.cpp and file_state_posix.cpp, or
// directory_win32.cpp, implement it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_state.h"

struct directory;
struct directory_closer {
  void operator()(directory* held) const;
};
/// A directory held open; closed when released.
using directory_handle = std::unique_ptr<directory, directory_closer>;

/// Opens the directory `name` (absolute, as printed) for the run. On Windows
/// the directory and its parents cannot be renamed or deleted while it is
/// held. Null when it cannot be opened.
directory_handle open_directory(const std::string& name);

/// The name the directory was opened under.
const std::string& directory_name(const directory& held);

/// Gives `take` the entry name of everything in the directory that is not a
/// directory, in listing order. Throws std::system_error when the directory
/// cannot be listed or the listing fails midway, after giving the names found
/// before the failure.
void list_entries(const directory& held,
                  const std::function<void(const char* entry)>& take);

/// The state of the entry `entry` if it is a regular file now (a link is not
/// followed); empty when it is gone, cannot be queried or is anything else.
/// Cheap enough for every entry of a listing, so on Windows it leaves the
/// identity and change time empty.
std::optional<file_state> query_entry(const directory& held, const char* entry);

/// As query_entry, with the identity and change time on every system, and
/// asked of the file system itself rather than of attributes it may have
/// cached (network and FUSE file systems).
std::optional<file_state> inspect_entry(const directory& held,
                                        const char* entry);
