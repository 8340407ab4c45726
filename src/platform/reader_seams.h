// Each half of the reader made on its own, for the tests. A run never needs
// this: make_reader picks the one half the system allows, so on one host a
// run only ever reads one way. The tests make both in turn on the same Linux
// host and hold them to the same results, so that the plain calls, which
// Windows and every system without a usable io_uring rely on, are tested
// where io_uring is there too. Only the tests and the reader's own sources
// include it.
#pragma once

#include "platform/directory.h"
#include "platform/reader.h"

/// A reader that uses plain calls only.
batch_reader_handle make_plain_reader(const directory& held);

/// A reader that batches the calls; null when the system cannot (always on
/// Windows).
batch_reader_handle make_batching_reader(const directory& held);

/// True when `reader` batches its calls.
bool batches_calls(const batch_reader& reader);
