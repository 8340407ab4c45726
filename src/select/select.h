// The run's working set: one record per candidate file, reduced to the files
// that may be duplicates and marked by age.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "sha1/sha1.h"

using sha1_digest = std::array<unsigned char, sha1_digest_size>;

struct file_record {
  std::string name;  ///< Full name, exactly as the scan returned it.
  std::uint64_t size = 0;
  std::uint64_t write_time = 0;  ///< Only the order of two times matters.
  sha1_digest digest{};          ///< Filled by the content pass.
  bool erase_mark = false;       ///< Once set, never cleared.
};

/// In scan order. Records are removed in place while it is walked.
using file_list = std::list<file_record>;

enum class run_mode { content_mode, size_only };

/// One record per regular file of `names`, in their order. A name whose size
/// and time cannot be read (gone since the listing) or that is not a regular
/// file is left out on its own, silently.
file_list build_file_list(const std::vector<std::string>& names);

/// Removes every record whose size no other record shares. In size_only mode
/// it also marks every record of each size group but the newest.
void size_pass(file_list* files, run_mode mode);

/// Marks the older of `u` and `v`; for equal times, the one whose name sorts
/// first as unsigned bytes (the other name when they are equal).
void apply_age_rule(file_record* u, file_record* v);

/// Marks every record of each group of equal digests but the newest, by the
/// age rule; sizes are not compared.
void mark_equal_digests(file_list* files);

/// Hashes every record's file, printing one progress line each, removes the
/// records whose file cannot be opened or read, and marks every record of
/// each equal-digest group but the newest.
void content_pass(file_list* files);
