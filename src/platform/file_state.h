// What is known of a file at one moment, and how two such moments are told
// apart: the record a run keeps of every file, and what each check before a
// deletion compares with it. Plain values, apart from any open file or
// directory, so that a run can keep one per file for its whole length; that
// is also why they are packed and flag their missing fields. This header is
// the same on every system; file_state.cpp holds what is common, and the
// system's own sources fill the states in.
#pragma once

#include <cstdint>

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
// Inline: the list is sorted by them, a few million calls for a large
// directory.
inline bool operator==(const file_time& a, const file_time& b) {
  return a.seconds == b.seconds && a.fraction == b.fraction;
}
inline bool operator!=(const file_time& a, const file_time& b) {
  return !(a == b);
}
inline bool operator<(const file_time& a, const file_time& b) {
  return a.seconds != b.seconds ? a.seconds < b.seconds
                                : a.fraction < b.fraction;
}

/// Which file a name reached: the same pair means the same file, whatever
/// the name (POSIX: device and inode; Windows: volume and file index).
struct file_identity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};
inline bool operator==(const file_identity& a, const file_identity& b) {
  return a.volume == b.volume && a.index == b.index;
}
/// An order of identities, for sorting and searching them.
inline bool operator<(const file_identity& a, const file_identity& b) {
  return a.volume != b.volume ? a.volume < b.volume : a.index < b.index;
}

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
