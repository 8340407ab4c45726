#include "platform/reader.h"

#include "platform/reader_plain.h"
#include "platform/reader_seams.h"

// Windows has no batched interface this program uses: every call is plain.
struct batch_reader {
  plain_files plain;
};

void batch_reader_closer::operator()(batch_reader* reader) const {
  delete reader;
}

batch_reader_handle make_reader(const directory& held) {
  return make_plain_reader(held);
}

batch_reader_handle make_plain_reader(const directory& held) {
  batch_reader_handle reader(new batch_reader);
  reader->plain.held = &held;
  return reader;
}

batch_reader_handle make_batching_reader(const directory&) { return nullptr; }

bool batches_calls(const batch_reader&) { return false; }

std::vector<std::optional<opened_file>> open_entries(
    batch_reader* reader, const std::vector<const char*>& entries) {
  return plain_open_all(&reader->plain, entries);
}

std::vector<read_result> read_files(batch_reader* reader,
                                    const std::vector<read_request>& requests) {
  return plain_read_all(&reader->plain, requests);
}

exclusion_attempt exclude_writers(batch_reader* reader, std::size_t number) {
  return plain_exclude(&reader->plain, number);
}

open_file_handle take_file(batch_reader* reader, std::size_t number) {
  return plain_take(&reader->plain, number);
}

void close_file(batch_reader* reader, std::size_t number) {
  plain_close(&reader->plain, number);
}
