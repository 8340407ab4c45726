// Proofs read ahead: while the deletions go on in list order, a second
// thread reads the next small copies and their keepers again, with writers
// kept out of both from before the first byte. At its deletion a copy so
// read needs only the checks that the exclusions held and that its names
// still lead to the files read; the reading, which is most of the cost of a
// small copy's proof, is off the thread that deletes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "erase/proof.h"
#include "scan/scan.h"
#include "select/held_reads.h"
#include "select/select.h"

struct reading_ahead;
struct reading_ahead_closer {
  void operator()(reading_ahead* ahead) const;
};
/// Stops the reading and waits for it when released; closes every file it
/// read and that was not taken.
using reading_ahead_handle =
    std::unique_ptr<reading_ahead, reading_ahead_closer>;

/// Starts reading ahead the marked records of `files` smaller than
/// compare_as_read_from, with their keepers, where the content pass holds
/// neither (`pass`) and neither shares its file with another record
/// (`named_twice`, by place: a deletion updates such records), at most
/// `most_pairs` pairs ahead of the deletions. Null where there is no second
/// core, nothing to read or no room for a pair.
reading_ahead_handle start_reading_ahead(const scanned_directory& scanned,
                                         const file_list& files,
                                         const held_reads& pass,
                                         const std::vector<bool>& named_twice,
                                         std::size_t most_pairs);

/// The pair read ahead for the marked record at `place`; empty when it was
/// not read ahead (yet: no deletion waits for the reading) or was found no
/// copy. Places are asked in increasing order; the reading then goes on
/// past `place`.
std::optional<pair_read_ahead> take_read_ahead(reading_ahead* ahead,
                                               std::uint32_t place);
