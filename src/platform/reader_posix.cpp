#include "platform/reader.h"

#include <utility>
#include <variant>

#include "platform/reader_plain.h"
#include "platform/reader_ring.h"
#include "platform/reader_seams.h"

// Reads by the ring where it can be set up, else by plain calls; which of
// the two is decided once, when the reader is made.
struct batch_reader {
  std::variant<plain_files, ring_files_handle> files;
};

namespace {

// The reader's ring; null when it reads by plain calls.
ring_files* ring_of(batch_reader* reader) {
  ring_files_handle* ring = std::get_if<ring_files_handle>(&reader->files);
  return ring != nullptr ? ring->get() : nullptr;
}

plain_files* plain_of(batch_reader* reader) {
  return std::get_if<plain_files>(&reader->files);
}

}  // namespace

void batch_reader_closer::operator()(batch_reader* reader) const {
  delete reader;
}

batch_reader_handle make_reader(const directory& held) {
  batch_reader_handle reader = make_batching_reader(held);
  return reader ? std::move(reader) : make_plain_reader(held);
}

batch_reader_handle make_plain_reader(const directory& held) {
  plain_files files;
  files.held = &held;
  return batch_reader_handle(new batch_reader{std::move(files)});
}

batch_reader_handle make_batching_reader(const directory& held) {
  ring_files_handle ring = make_ring_files(held);
  if (!ring) return nullptr;
  return batch_reader_handle(new batch_reader{std::move(ring)});
}

bool batches_calls(const batch_reader& reader) {
  return std::holds_alternative<ring_files_handle>(reader.files);
}

std::vector<std::optional<opened_file>> open_entries(
    batch_reader* reader, const std::vector<const char*>& entries) {
  if (ring_files* ring = ring_of(reader)) return ring_open_all(ring, entries);
  return plain_open_all(plain_of(reader), entries);
}

std::vector<read_result> read_files(batch_reader* reader,
                                    const std::vector<read_request>& requests) {
  if (ring_files* ring = ring_of(reader)) return ring_read_all(ring, requests);
  return plain_read_all(plain_of(reader), requests);
}

exclusion_attempt exclude_writers(batch_reader* reader, std::size_t number) {
  if (ring_files* ring = ring_of(reader)) return ring_exclude(ring, number);
  return plain_exclude(plain_of(reader), number);
}

open_file_handle take_file(batch_reader* reader, std::size_t number) {
  if (ring_files* ring = ring_of(reader)) return ring_take(ring, number);
  return plain_take(plain_of(reader), number);
}

void close_file(batch_reader* reader, std::size_t number) {
  if (ring_files* ring = ring_of(reader)) return ring_close(ring, number);
  plain_close(plain_of(reader), number);
}
