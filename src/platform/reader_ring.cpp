#include "platform/reader_ring.h"

#include <fcntl.h>
#include <liburing.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <system_error>

#include "platform/directory.h"
#include "platform/directory_posix.h"
#include "platform/exclusion_posix.h"
#include "platform/file_state.h"
#include "platform/file_table.h"
#include "platform/open_file.h"
#include "platform/open_file_posix.h"

namespace {

// Operations in flight at once; the content pass reads at most this many
// files side by side.
constexpr unsigned ring_entries = 256;

// The longest single read asked of the ring; a longer request is read in
// several.
constexpr std::size_t longest_read = std::size_t{1} << 30;

struct ring_file {
  int fd = -1;
  std::uint64_t offset = 0;  ///< Where the next read starts.
  /// As found right after the open: where the file's end is looked for
  /// first, not where it is taken to be.
  std::uint64_t size = 0;
  /// Read by plain calls: its file system cuts reads through the ring short.
  bool plain = false;
};

// One read of a round: where in the file it starts, and where in its
// request's buffer it lands.
struct ring_read {
  std::size_t request = 0;
  std::uint64_t offset = 0;
  std::size_t placed = 0;
  std::size_t length = 0;
  bool probe = false;  ///< Of the bytes after the file's size as opened.
};

}  // namespace

// A ring, and the files opened through it by their number with the reader.
struct ring_files {
  io_uring ring{};
  int directory_fd = -1;
  /// The device the directory is on; empty when it cannot be told.
  std::optional<std::uint64_t> directory_volume;
  /// Whether files on that device are read by plain calls.
  bool directory_plain = false;
  file_table<ring_file> table;  ///< fd -1 where the number is free.
  std::vector<int> closing;     ///< Closed with the next batch.
};

namespace {

// A kernel with io_uring but without these operations (before 5.6) is
// treated as one without io_uring.
bool has_needed_operations(io_uring* ring) {
  io_uring_probe* probe = io_uring_get_probe_ring(ring);
  if (probe == nullptr) return false;
  const bool all = io_uring_opcode_supported(probe, IORING_OP_OPENAT) &&
                   io_uring_opcode_supported(probe, IORING_OP_READ) &&
                   io_uring_opcode_supported(probe, IORING_OP_CLOSE);
  io_uring_free_probe(probe);
  return all;
}

// Submits what is queued and waits for at least one completion.
void submit_and_wait(io_uring* ring) {
  for (;;) {
    const int submitted = io_uring_submit_and_wait(ring, 1);
    if (submitted >= 0) return;
    if (submitted != -EINTR)
      throw std::system_error(-submitted, std::generic_category(),
                              "io_uring_submit_and_wait");
  }
}

// Waits for the completions of the `in_flight` operations the kernel has
// taken, handing each to `take`: a failure must not unwind past a read that
// may still write into its buffer, or an open whose descriptor nobody would
// close. Gives up only when the ring itself cannot be waited on.
template <typename take_completion>
void drain(io_uring* ring, std::size_t in_flight, const take_completion& take) {
  while (in_flight > 0) {
    io_uring_cqe* cqe = nullptr;
    const int waited = io_uring_wait_cqe(ring, &cqe);
    if (waited == -EINTR) continue;
    if (waited < 0) return;
    take(cqe);
    io_uring_cqe_seen(ring, cqe);
    --in_flight;
  }
}

// Runs `count` operations, each set up by prepare(sqe, i), on the ring,
// together with the closes waiting, and hands each result to done(i, res).
// When the ring fails, the operations already taken are waited for before
// the failure is thrown on.
template <typename prepare_operation, typename take_result>
void run_batch(ring_files* files, std::size_t count,
               const prepare_operation& prepare, const take_result& done) {
  std::vector<int> closing;
  closing.swap(files->closing);
  const std::size_t total = closing.size() + count;
  const auto take = [&](const io_uring_cqe* cqe) {
    const std::uint64_t operation = io_uring_cqe_get_data64(cqe);
    if (operation >= closing.size())
      done(static_cast<std::size_t>(operation - closing.size()), cqe->res);
  };
  std::size_t queued = 0;
  std::size_t finished = 0;
  while (finished < total) {
    for (; queued < total && queued - finished < ring_entries; ++queued) {
      io_uring_sqe* sqe = io_uring_get_sqe(&files->ring);
      if (sqe == nullptr) break;
      if (queued < closing.size())
        io_uring_prep_close(sqe, closing[queued]);
      else
        prepare(sqe, queued - closing.size());
      io_uring_sqe_set_data64(sqe, queued);
    }
    try {
      submit_and_wait(&files->ring);
    } catch (const std::system_error&) {
      const std::size_t taken = queued - io_uring_sq_ready(&files->ring);
      drain(&files->ring, taken - finished, take);
      throw;
    }
    unsigned head = 0;
    unsigned seen = 0;
    io_uring_cqe* cqe = nullptr;
    io_uring_for_each_cqe(&files->ring, head, cqe) {
      take(cqe);
      ++seen;
    }
    io_uring_cq_advance(&files->ring, seen);
    finished += seen;
  }
}

// FUSE shortens reads through the ring (asynchronous direct reads) to the
// size the file reports, and ends them there, whatever the file holds beyond;
// plain reads reach its true end. A file system that cannot be told is read
// by plain calls too, which reach the end everywhere. Network file systems
// serve reads through the ring as they serve plain ones, from the same cache
// and up to the same size, so they keep the ring.
bool read_by_plain_calls(int fd) {
  struct statfs found;
  return fstatfs(fd, &found) != 0 || found.f_type == FUSE_SUPER_MAGIC;
}

// Files on the directory's device share its answer; one mounted in its place
// from elsewhere is asked on its own.
bool read_by_plain_calls(const ring_files& files, int fd,
                         const file_state& state) {
  if (files.directory_volume && state.has_identity &&
      state.identity.volume == *files.directory_volume)
    return files.directory_plain;
  return read_by_plain_calls(fd);
}

// The state is taken by a plain call on the opened descriptor, exactly as
// open_entry takes it, and decides whether the file is read at all.
std::optional<opened_file> take_opened(ring_files* files, int fd) {
  if (fd < 0) return std::nullopt;
  const std::optional<file_state> found = state_of_descriptor(fd);
  if (!found) {
    files->closing.push_back(fd);
    return std::nullopt;
  }
  const file_state& state = *found;
  advise_sequential(fd, state.size);
  const std::size_t number = add_file(
      &files->table,
      ring_file{fd, 0, state.size, read_by_plain_calls(*files, fd, state)});
  return opened_file{number, state};
}

// Opens every entry as open_entry does, the second tries of a batch in a
// batch of their own; each result, a descriptor or an error, lands in `fds`.
// The descriptors are ordinary ones: the ring's own fixed descriptors refuse
// O_CLOEXEC.
void ring_open_tries(ring_files* files, const std::vector<const char*>& entries,
                     std::vector<int>* opened) {
  std::vector<int>& fds = *opened;
  run_batch(
      files, entries.size(),
      [&](io_uring_sqe* sqe, std::size_t i) {
        io_uring_prep_openat(sqe, files->directory_fd, entries[i],
                             read_open_flags, 0);
      },
      [&](std::size_t i, int result) { fds[i] = result; });
  std::vector<std::size_t> refused;
  for (std::size_t i = 0; i < fds.size(); ++i)
    if (fds[i] < 0 && refused_noatime(-fds[i])) refused.push_back(i);
  run_batch(
      files, refused.size(),
      [&](io_uring_sqe* sqe, std::size_t i) {
        io_uring_prep_openat(sqe, files->directory_fd, entries[refused[i]],
                             reopen_flags, 0);
      },
      [&](std::size_t i, int result) { fds[refused[i]] = result; });
}

void close_opened(const std::vector<int>& fds) {
  for (int fd : fds)
    if (fd >= 0) close(fd);
}

// Opens as open_entry does, and fails the whole batch as it does when no
// descriptor is left, closing what the batch opened.
std::vector<int> ring_open_batch(ring_files* files,
                                 const std::vector<const char*>& entries) {
  std::vector<int> fds(entries.size(), -1);
  try {
    ring_open_tries(files, entries, &fds);
    for (int fd : fds)
      if (fd < 0) throw_if_out_of_descriptors(-fd);
  } catch (const std::system_error&) {
    close_opened(fds);
    throw;
  }
  return fds;
}

// Takes one completed read into `read`; true when the request is done. A
// short read is read on, even where it reaches the size the file had when
// opened: only a read that returns nothing is the end.
bool take_read(const ring_file& file, const read_request& request, int result,
               read_result* read) {
  // A regular file that refuses to be read through the ring without waiting
  // (some file systems do, for descriptors opened O_NONBLOCK) is read by
  // plain calls, where that flag has no effect on regular files.
  if (result == -EAGAIN || result == -EINTR) {
    read_on_at(file.fd, file.offset, request.buffer, request.size, read);
    return true;
  }
  if (result <= 0) {
    read->end = true;
    read->failed = result < 0;
    return true;
  }
  read->count += static_cast<std::size_t>(result);
  return read->count == request.size;
}

// Adds the reads of one round of the request `number`, standing at `read`.
// Where the file's size as opened falls within what is left, the bytes up to
// it and a probe of those after it are read side by side: a file that ends
// there, as most do, is seen to end, by the probe's read of nothing, without
// a round of its own.
void plan_round(const ring_file& file, const read_request& request,
                std::size_t number, const read_result& read,
                std::vector<ring_read>* reads) {
  const std::uint64_t at = file.offset + read.count;
  const std::size_t left = std::min(request.size - read.count, longest_read);
  if (at >= file.size || file.size - at >= left) {
    reads->push_back({number, at, read.count, left, false});
    return;
  }
  const std::size_t before = static_cast<std::size_t>(file.size - at);
  reads->push_back({number, at, read.count, before, false});
  reads->push_back(
      {number, file.size, read.count + before, left - before, true});
}

// Takes the results of one round's reads, `reads[i]` ended with `results[i]`,
// into `done`; the requests not yet done go to `unfinished`. A probe counts
// only behind a first read that gave every byte it asked for.
void take_round(const ring_files& files,
                const std::vector<read_request>& requests,
                const std::vector<ring_read>& reads,
                const std::vector<int>& results, std::vector<read_result>* done,
                std::vector<std::size_t>* unfinished) {
  for (std::size_t i = 0; i < reads.size(); ++i) {
    const std::size_t number = reads[i].request;
    const read_request& request = requests[number];
    const ring_file& file = files.table.files[request.number];
    read_result& read = (*done)[number];
    bool finished = take_read(file, request, results[i], &read);
    if (i + 1 < reads.size() && reads[i + 1].probe) {
      ++i;
      if (!finished && results[i - 1] == static_cast<int>(reads[i - 1].length))
        finished = take_read(file, request, results[i], &read);
    }
    if (!finished) unfinished->push_back(number);
  }
}

}  // namespace

void ring_files_closer::operator()(ring_files* files) const {
  for (const ring_file& file : files->table.files)
    if (file.fd >= 0) close(file.fd);
  for (int fd : files->closing) close(fd);
  io_uring_queue_exit(&files->ring);
  delete files;
}

// Setting up the ring fails where io_uring is missing (before Linux 5.1),
// disabled by the administrator or refused by a seccomp filter, as container
// runtimes often do.
ring_files_handle make_ring_files(const directory& held) {
  std::unique_ptr<ring_files> set_up(new ring_files);
  if (io_uring_queue_init(ring_entries, &set_up->ring, 0) != 0) return nullptr;
  ring_files_handle files(set_up.release());
  files->directory_fd = held.fd;
  if (!has_needed_operations(&files->ring)) return nullptr;
  struct stat st;
  if (fstat(held.fd, &st) == 0)
    files->directory_volume = static_cast<std::uint64_t>(st.st_dev);
  files->directory_plain = read_by_plain_calls(held.fd);
  return files;
}

std::vector<std::optional<opened_file>> ring_open_all(
    ring_files* files, const std::vector<const char*>& entries) {
  const std::vector<int> fds = ring_open_batch(files, entries);
  std::vector<std::optional<opened_file>> opened;
  opened.reserve(entries.size());
  for (int fd : fds) opened.push_back(take_opened(files, fd));
  return opened;
}

std::vector<read_result> ring_read_all(
    ring_files* files, const std::vector<read_request>& requests) {
  std::vector<read_result> results(requests.size());
  std::vector<std::size_t> pending;
  pending.reserve(requests.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const read_request& request = requests[i];
    const ring_file& file = files->table.files[request.number];
    if (file.plain)
      read_on_at(file.fd, file.offset, request.buffer, request.size,
                 &results[i]);
    else
      pending.push_back(i);
  }
  while (!pending.empty()) {
    std::vector<ring_read> reads;
    reads.reserve(2 * pending.size());
    for (std::size_t number : pending)
      plan_round(files->table.files[requests[number].number], requests[number],
                 number, results[number], &reads);
    std::vector<int> ended(reads.size());
    run_batch(
        files, reads.size(),
        [&](io_uring_sqe* sqe, std::size_t i) {
          const ring_read& read = reads[i];
          const read_request& request = requests[read.request];
          io_uring_prep_read(sqe, files->table.files[request.number].fd,
                             request.buffer + read.placed,
                             static_cast<unsigned>(read.length), read.offset);
        },
        [&](std::size_t i, int result) { ended[i] = result; });
    std::vector<std::size_t> unfinished;
    take_round(*files, requests, reads, ended, &results, &unfinished);
    pending.swap(unfinished);
  }
  for (std::size_t i = 0; i < requests.size(); ++i)
    files->table.files[requests[i].number].offset += results[i].count;
  return results;
}

exclusion_attempt ring_exclude(ring_files* files, std::size_t number) {
  return exclude_writers_of(files->table.files[number].fd, std::nullopt);
}

open_file_handle ring_take(ring_files* files, std::size_t number) {
  const int fd = remove_file(&files->table, number).fd;
  return adopt_descriptor(fd, state_of_descriptor(fd));
}

void ring_close(ring_files* files, std::size_t number) {
  files->closing.push_back(remove_file(&files->table, number).fd);
}
