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
/// An order of identities, for sorting and searching them.
bool operator<(const file_identity& a, const file_identity& b);

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
  std::uint32_t owner = 0;  ///< The owning user (POSIX). Valid when has_owner.
  bool has_identity = false;
  bool has_change_time = false;
  /// The file had other names (hard links) when queried; known wherever the
  /// identity is.
  bool has_other_names = false;
  bool has_owner = false;
};

/// True when `now` shows the file `then` described, unchanged: every field
/// known in both is equal. Equal states do not prove equal contents: coarse
/// or foreign time stamps, and writes through a shared mapping, can leave
/// every field as it was.
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

/// As query_entry, with the identity and change time on every system, and
/// asked of the file system itself rather than of attributes it may have
/// cached (network and FUSE file systems).
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
/// place is refused without waiting on it). Throws std::system_error when
/// the process or the system has no more files to give: that is no property
/// of the file, and the run cannot go on as if it were.
open_file_handle open_entry(const directory& held, const char* entry);

/// The state of an open file, identity and change time included; empty when
/// the system cannot tell it.
std::optional<file_state> state_of(const open_file& file);

/// Makes the reads of `file` that follow ask the file system for its bytes
/// where pages this system cached of it earlier may not hold them: on FUSE
/// and network file systems a file can change without this system knowing.
/// Elsewhere it does nothing.
void read_afresh(const open_file& file);

/// What one read gave. A file ends where a read of it returns no bytes, and
/// nowhere else: a read may return fewer bytes than asked and more follow
/// (FUSE and network file systems answer in pieces), and a file system may
/// report a size that is not where its bytes end (0 for generated files, a
/// stale size from a cache), so the size a file had when it was opened
/// tells nothing of where its reading ends.
struct read_result {
  std::size_t count = 0;  ///< Bytes placed in the buffer.
  bool end = false;       ///< The file ended within this read.
  /// The system reported an error (`end` is then set too); `count` is valid.
  bool failed = false;
};

/// Reads up to `size` bytes from the current position. Fewer bytes than asked
/// are returned only when a read found no more (`end`) or on an error
/// (`failed`), wherever that falls against the file's size as opened.
read_result read_from(open_file* file, unsigned char* buffer, std::size_t size);

/// Reads up to `size` bytes from `offset` on, without moving the current
/// position; fewer only at the end of the file or on an error, as read_from.
/// Reads of one file from several threads at once are safe.
read_result read_at(const open_file& file, std::uint64_t offset,
                    unsigned char* buffer, std::size_t size);

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
