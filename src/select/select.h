// The run's working set: one record per candidate file, reduced to the files
// that may be duplicates and marked by age.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/directory.h"
#include "platform/file_state.h"
#include "scan/entry_names.h"
#include "sha1/sha1.h"

using sha1_digest = std::array<unsigned char, sha1_digest_size>;

/// A million of these make the bulk of a large run's memory: the name is the
/// scan's copy, and the fields are ordered so that no padding falls between
/// them.
struct file_record {
  const char* entry = nullptr;  ///< Its name in the scanned directory.
  /// As listed; in content_mode, as found when the file was opened.
  file_state state;
  sha1_digest digest{};  ///< Filled by the content pass.
  /// For a marked record: where in the list the record of its group that the
  /// age rule keeps is. A place rather than a pointer: half the size.
  std::uint32_t keeper = 0;
  /// Set when the file opened was no longer the one listed, or had changed.
  bool changed = false;
  bool erase_mark = false;  ///< Once set, never cleared.
};

/// In scan order. The passes remove records only before any record names
/// its keeper, so a keeper stays where it is. A list holds fewer than
/// most_records records.
using file_list = std::vector<file_record>;
constexpr std::size_t most_records = 0xffffffff;

enum class run_mode { content_mode, size_only };

/// One record per regular file among `entries` of the directory `held`, in
/// their order; the records point to the names in `entries`, which must
/// outlive them. An entry whose state cannot be read (gone since the
/// listing) or that is not a regular file is left out on its own, silently,
/// and so are the entries beyond the first most_records - 1 files. `held`
/// may be null only when `entries` is empty.
file_list build_file_list(const directory* held, const entry_names& entries);

/// Removes every record whose size no other record shares.
void remove_unique_sizes(file_list* files);

/// True when the age rule keeps `a` rather than `b`: the newer of the two;
/// for equal times, the one whose name sorts last as unsigned bytes.
bool is_kept_over(const file_record& a, const file_record& b);

/// Marks every record of each group but the one the age rule keeps: groups
/// of equal size in size_only mode, of equal digest in content_mode (sizes
/// are not compared there; the deletion's own check compares them).
void mark_by_age(file_list* files, run_mode mode);
