// The plain-calls half of the reader, shared by every system: one file at a
// time through open_entry and read_from. Only the reader's own files use it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory.h"
#include "platform/file_table.h"
#include "platform/open_file.h"
#include "platform/reader.h"

/// Files opened by plain calls, by their number with the reader.
struct plain_files {
  const directory* held = nullptr;
  file_table<open_file_handle> table;  ///< Null where the number is free.
};

/// Opens each entry in turn, as open_entries promises.
std::vector<std::optional<opened_file>> plain_open_all(
    plain_files* files, const std::vector<const char*>& entries);

/// Does each read in turn, as read_files promises.
std::vector<read_result> plain_read_all(
    plain_files* files, const std::vector<read_request>& requests);

/// Closes the file `number` at once.
void plain_close(plain_files* files, std::size_t number);

exclusion_attempt plain_exclude(plain_files* files, std::size_t number);

open_file_handle plain_take(plain_files* files, std::size_t number);
