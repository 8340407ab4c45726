#include "platform/reader_plain.h"

#include <utility>

#include "platform/file_state.h"
#include "platform/open_file.h"

namespace {

std::optional<opened_file> plain_open(plain_files* files, const char* entry) {
  open_file_handle file = open_entry(*files->held, entry);
  if (!file) return std::nullopt;
  const std::optional<file_state> state = state_of(*file);
  if (!state) return std::nullopt;
  return opened_file{add_file(&files->table, std::move(file)), *state};
}

}  // namespace

std::vector<std::optional<opened_file>> plain_open_all(
    plain_files* files, const std::vector<const char*>& entries) {
  std::vector<std::optional<opened_file>> opened;
  opened.reserve(entries.size());
  for (const char* entry : entries) opened.push_back(plain_open(files, entry));
  return opened;
}

std::vector<read_result> plain_read_all(
    plain_files* files, const std::vector<read_request>& requests) {
  std::vector<read_result> results;
  results.reserve(requests.size());
  for (const read_request& request : requests)
    results.push_back(read_from(files->table.files[request.number].get(),
                                request.buffer, request.size));
  return results;
}

exclusion_attempt plain_exclude(plain_files* files, std::size_t number) {
  return exclude_writers(*files->table.files[number]);
}

open_file_handle plain_take(plain_files* files, std::size_t number) {
  return remove_file(&files->table, number);
}

void plain_close(plain_files* files, std::size_t number) {
  // The handle taken out closes the file as it is dropped.
  remove_file(&files->table, number);
}
