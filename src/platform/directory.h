// One directory held open for a whole run, and what the phases do to the
// files in it. Every operation names a file by its entry name and goes
// through the held directory, so renaming the directory or putting a link in
// its place while the program runs cannot redirect a read or a deletion.
// This header is the same on every system; directory_posix.cpp or
// directory_win32.cpp implements it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// A point in time as a file system stores it; only the order of two times
/// matters. Seconds and their fraction are kept apart so that no time a file
/// system can store overflows. Packed to 12 bytes: a run keeps two of them
/// for every file.
#pragma pack(push, 4)
struct file_time {
  std::int64_t seconds = 0;
  std::uint32_t fraction = 0;  ///< Below one second, in the system's unit.
};
#pragma pack(pop)
bool operator==(const file_time& a, const file_time& b);
bool operator!=(const file_time& a, const file_time& b);
bool operator<(const file_time& a, const file_time& b);

/// Which file a name reached: the same pair means the same file, whatever
/// the name (POSIX: device and inode; Windows: volume and file index).
struct file_identity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};
bool operator==(const file_identity& a, const file_identity& b);

/// What is known of a regular file at one moment; enough to tell later that
/// it is still that file and unchanged. A run keeps one per file, so the
/// fields a query may not give are flagged rather than optional, which would
/// pad each of them to twice its size.
struct file_state {
  file_identity identity;  ///< Valid when has_identity.
  std::uint64_t size = 0;
  file_time write_time;
  /// Moved forward by every change to the file's data or attributes, and
  /// never set back by an ordinary program. Valid when has_change_time.
  file_time change_time;
  bool has_identity = false;
  bool has_change_time = false;
  /// The file had other names (hard links) when queried; known wherever the
  /// identity is.
  bool has_other_names = false;
  /// True when the change time was taken long enough after the last change
  /// that any later change must carry a later change time (file systems stamp
  /// times in ticks, so a change within the same tick would go unseen).
  bool settled = false;
};

/// True when `now` shows the file `then` described, unchanged: every field
/// known in both is equal. `settled` is not compared.
bool same_unchanged_file(const file_state& then, const file_state& now);

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

/// As query_entry for each of `entries`: one result per entry, in order. The
/// queries are independent of each other, so where the system has a second
/// core a long list is shared out between two threads.
std::vector<std::optional<file_state>> query_entries(
    const directory& held, const std::vector<const char*>& entries);

/// As query_entry, with the identity and change time on every system.
std::optional<file_state> inspect_entry(const directory& held,
                                        const char* entry);

struct open_file;
struct open_file_closer {
  void operator()(open_file* file) const;
};
/// A regular file of the directory open for reading; closed when released.
using open_file_handle = std::unique_ptr<open_file, open_file_closer>;

/// Opens the entry `entry` for reading if it is a regular file; null when it
/// cannot be opened or is anything else (a link, pipe or device put in its
/// place is refused without waiting on it).
open_file_handle open_entry(const directory& held, const char* entry);

/// The state of an open file, identity and change time included; empty when
/// the system cannot tell it.
std::optional<file_state> state_of(const open_file& file);

/// What one read gave.
struct read_result {
  std::size_t count = 0;  ///< Bytes placed in the buffer.
  bool end = false;       ///< The file ended within this read.
  bool failed = false;    ///< The system reported an error; `count` is valid.
};

/// Reads up to `size` bytes from the current position. Fewer bytes than asked
/// are returned only at the end of the file or on an error.
read_result read_from(open_file* file, unsigned char* buffer, std::size_t size);

struct held_file;
struct held_file_closer {
  void operator()(held_file* file) const;
};
/// An entry held from its last check to its deletion; released unchanged
/// when it is not deleted.
using held_handle = std::unique_ptr<held_file, held_file_closer>;

/// How holding an entry for deletion went.
enum class hold_result { held, gone, refused };

/// Holds the entry `entry` so that it can be checked and then deleted as it
/// was checked. On Windows the deletion goes through the handle that was
/// checked, and no other program can write, rename or delete the file while
/// it is held (`refused` when another program has it open for writing or the
/// system refuses the access); on POSIX the name is held, and each check
/// asks the name again. Opening the file with open_entry meanwhile works.
hold_result hold_entry(const directory& held, const char* entry,
                       held_handle* result);

/// The current state of a held entry; empty when it is no longer a regular
/// file or cannot be queried.
std::optional<file_state> state_of(const held_file& file);

/// Deletes a held entry (a file, never a directory). Throws std::system_error
/// when the system refuses.
void delete_held(held_file* file);
