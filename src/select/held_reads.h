// Files the content pass keeps open for the erase phase: read with every
// other writer kept out from before their first byte, and found equal to
// others as they were read. Held means kept open, here as for the held
// directory; what keeps each file's bytes as they were read is the exclusion
// it carries (exclusion.h), and what its deletion goes through is a claim
// (deletion.h).
#pragma once

#include <cstdint>
#include <unordered_map>

#include "platform/exclusion.h"
#include "platform/open_file.h"

/// One such file. Its exclusion is released before the file closes.
struct held_read {
  open_file_handle file;
  exclusion_handle excluded;
  /// The files of one group were found equal byte for byte, to their ends,
  /// as they were read side by side.
  std::uint32_t group = 0;
};

/// By the entry name of each file's record.
using held_reads = std::unordered_map<const char*, held_read>;
