// Preloaded into the program (LD_PRELOAD) by the fault tests, to change a
// file at an exact point of a run instead of racing the program in time.
// On the chosen call for the chosen file, and only the first time, it acts
// on a file of the scanned directory (or on the directory itself); then the
// call goes on as usual. Settings come from the environment:
//   DUPSWEEP_FAULT_CALL    fstatat, statx, openat or unlinkat (an open queued
//                          on an io_uring counts as an openat, when
//                          submitted); announce: a write to standard output
//                          of the "Erasing : " line of the file, before its
//                          bytes go out; readdir or io_uring_submit_and_wait,
//                          which the action "fail" makes fail
//   DUPSWEEP_FAULT_COUNT   which such call on the file, 1 for the first
//   DUPSWEEP_FAULT_NAME    the file's entry name; empty: any call counts
//   DUPSWEEP_FAULT_DIR     the scanned directory
//   DUPSWEEP_FAULT_ACTION  move: move the target to DUPSWEEP_FAULT_MOVE_TO
//                            (so its data survives for the test to check);
//                          pipe: move it, and put a named pipe in its place;
//                          directory: move it, and put an empty directory
//                            in its place;
//                          rewrite: write DUPSWEEP_FAULT_BYTES over it;
//                          rewrite-in-place: the same, and then set its
//                            times back as they were (as rsync -t --inplace
//                            or touch -r do);
//                          mapped-write: write the bytes through a shared
//                            mapping of the target that the shim made and
//                            dirtied when the program started, which moves
//                            no time stamp, then unmap it;
//                          writer: another process opens the target for
//                            writing (waiting, as the system makes it wait)
//                            and writes the bytes through a fresh shared
//                            mapping; it writes to DUPSWEEP_FAULT_REPORT
//                            how many names the file had when its open
//                            returned and how many milliseconds the open
//                            took. The call goes on once the writer is done,
//                            or after 300 ms;
//                          swap: move the scanned directory to MOVE_TO and
//                            put a link to DUPSWEEP_FAULT_LINK_TO in its place;
//                          fail: readdir ends the listing with EIO; the ring
//                            submits what is queued, then reports EIO
//   DUPSWEEP_FAULT_TARGET  the entry acted on; the chosen file when unset
//   DUPSWEEP_FAULT_SHORT   entry names, comma-separated, whose plain reads
//                          find the end of the file, without an error, after
//                          DUPSWEEP_FAULT_SHORT_AT bytes
//   DUPSWEEP_FAULT_WRITER  an entry the shim opens for writing when the
//                          program starts and keeps open to its end
//   DUPSWEEP_FAULT_WRITER_MAPS  when set, the writer maps that entry shared
//                          and writable instead, and closes its descriptor
//   DUPSWEEP_FAULT_TALLY   a file the shim writes, at the end of the run,
//                          the count of the program's statx calls, that of
//                          its pread calls (by which files are read again
//                          before a deletion, and on FUSE in the pass too)
//                          and that of the pread calls after its first
//                          "Erasing : " line into
//   DUPSWEEP_FAULT_PAGES   when set, every read of a file of the directory,
//                          plain or through io_uring, into a destination off
//                          a page boundary fails (EFAULT, or EBADF through
//                          the ring): such reads cost the kernel's copy
//                          several times as much. A read from the file's
//                          end on copies nothing and may land anywhere: the
//                          one that finds the end follows the last bytes.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <liburing.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string setting(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

const char* entry_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

bool is_chosen(const char* call, const char* path) {
  static std::atomic<int> seen{0};
  if (setting("DUPSWEEP_FAULT_CALL") != call) return false;
  const std::string name = setting("DUPSWEEP_FAULT_NAME");
  if (!name.empty() && name != entry_name(path)) return false;
  return ++seen == std::atoi(setting("DUPSWEEP_FAULT_COUNT").c_str());
}

std::string target_path() {
  std::string target = setting("DUPSWEEP_FAULT_TARGET");
  if (target.empty()) target = setting("DUPSWEEP_FAULT_NAME");
  return setting("DUPSWEEP_FAULT_DIR") + "/" + target;
}

void rewrite(const std::string& path, bool in_place) {
  const std::string bytes = setting("DUPSWEEP_FAULT_BYTES");
  struct stat before;
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr || stat(path.c_str(), &before) != 0) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fflush(file);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  if (in_place) futimens(fileno(file), times);
  std::fclose(file);
}

// The shared writable mapping of the target that "mapped-write" writes
// through: made and dirtied (its first byte written as it is, through a
// volatile access, which the compiler may not leave out) a while
// before the program runs, as by a writer that has had the file mapped for
// some time, so that the write fault that stamps the file comes first.
unsigned char* mapped = nullptr;

__attribute__((constructor)) void map_target() {
  if (setting("DUPSWEEP_FAULT_ACTION") != "mapped-write") return;
  const int fd = open(target_path().c_str(), O_RDWR);
  struct stat before;
  if (fd < 0 || fstat(fd, &before) != 0) return;
  void* at = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (at != MAP_FAILED) {
    mapped = static_cast<unsigned char*>(at);
    volatile unsigned char* const first = mapped;
    *first = *first;
    // The dirtying write stamped the file; a writer of long ago would have
    // done so long before the test set the file's times.
    const timespec times[2] = {before.st_atim, before.st_mtim};
    futimens(fd, times);
  }
  close(fd);
  usleep(100000);
}

void write_mapped() {
  if (mapped == nullptr) return;
  const std::string bytes = setting("DUPSWEEP_FAULT_BYTES");
  std::memcpy(mapped, bytes.data(), bytes.size());
  munmap(mapped, 4096);
  mapped = nullptr;
}

__attribute__((constructor)) void hold_writer_open() {
  const std::string writer = setting("DUPSWEEP_FAULT_WRITER");
  if (writer.empty()) return;
  const int fd =
      open((setting("DUPSWEEP_FAULT_DIR") + "/" + writer).c_str(), O_RDWR);
  if (fd < 0 || std::getenv("DUPSWEEP_FAULT_WRITER_MAPS") == nullptr) return;
  // The mapping outlives the descriptor: the file stays open for writing.
  mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
}

long milliseconds_since(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 +
         (now.tv_nsec - start.tv_nsec) / 1000000;
}

// In the child of a fork: only calls that are safe there.
[[noreturn]] void be_writer(const std::string& path, const std::string& bytes,
                            const std::string& report) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const int fd = open(path.c_str(), O_RDWR);
  const long waited = milliseconds_since(start);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) _exit(1);
  void* at = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (at != MAP_FAILED) {
    std::memcpy(at, bytes.data(), bytes.size());
    munmap(at, 4096);
  }
  char line[64];
  const int length = std::snprintf(line, sizeof line, "%ld %ld\n",
                                   static_cast<long>(st.st_nlink), waited);
  const int out = open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (out >= 0 && length > 0 && ::write(out, line, length) == length) _exit(0);
  _exit(1);
}

void start_writer(const std::string& path) {
  const std::string bytes = setting("DUPSWEEP_FAULT_BYTES");
  const std::string report = setting("DUPSWEEP_FAULT_REPORT");
  const pid_t child = fork();
  if (child == 0) be_writer(path, bytes, report);
  if (child < 0) return;
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (waitpid(child, nullptr, WNOHANG) == 0 &&
         milliseconds_since(start) < 300)
    usleep(1000);
}

void act() {
  const std::string action = setting("DUPSWEEP_FAULT_ACTION");
  const std::string dir = setting("DUPSWEEP_FAULT_DIR");
  const std::string moved_to = setting("DUPSWEEP_FAULT_MOVE_TO");
  const std::string path = target_path();
  if (action == "rewrite" || action == "rewrite-in-place")
    return rewrite(path, action == "rewrite-in-place");
  if (action == "mapped-write") return write_mapped();
  if (action == "writer") return start_writer(path);
  if (action == "swap") {
    std::rename(dir.c_str(), moved_to.c_str());
    symlink(setting("DUPSWEEP_FAULT_LINK_TO").c_str(), dir.c_str());
    return;
  }
  std::rename(path.c_str(), moved_to.c_str());
  if (action == "pipe") mkfifo(path.c_str(), 0600);
  if (action == "directory") mkdir(path.c_str(), 0700);
}

void inject(const char* call, const char* path) {
  if (is_chosen(call, path)) act();
}

// Each "Erasing : " line in `size` bytes of output at `text`, as the name it
// announces.
void inject_announced(const void* text, std::size_t size) {
  if (setting("DUPSWEEP_FAULT_CALL") != "announce") return;
  const std::string out(static_cast<const char*>(text), size);
  const std::string label = "Erasing : ";
  for (std::size_t at = out.find(label); at != std::string::npos;
       at = out.find(label, at + 1)) {
    const std::size_t name = at + label.size();
    inject("announce", out.substr(name, out.find('\n', name) - name).c_str());
  }
}

std::atomic<long> statx_calls{0};
std::atomic<long> pread_calls{0};
std::atomic<bool> announced{false};
std::atomic<long> later_pread_calls{0};

void count_pread() {
  ++pread_calls;
  if (announced) ++later_pread_calls;
}

void note_announced(const void* text, std::size_t size) {
  const char label[] = "Erasing : ";
  const char* bytes = static_cast<const char*>(text);
  if (std::search(bytes, bytes + size, label, label + sizeof label - 1) !=
      bytes + size)
    announced = true;
}

__attribute__((destructor)) void write_tally() {
  const std::string tally = setting("DUPSWEEP_FAULT_TALLY");
  if (tally.empty()) return;
  if (std::FILE* file = std::fopen(tally.c_str(), "w")) {
    std::fprintf(file, "%ld %ld %ld\n", statx_calls.load(), pread_calls.load(),
                 later_pread_calls.load());
    std::fclose(file);
  }
}

// Plain reads of the files named in DUPSWEEP_FAULT_SHORT: one more than the
// bytes each descriptor has given, 0 where it is not such a file (so that
// nothing is tracked before the shim's own set-up).
constexpr int most_descriptors = 65536;
std::atomic<std::int64_t> given[most_descriptors];

bool is_short(const char* path) {
  const std::string names = "," + setting("DUPSWEEP_FAULT_SHORT") + ",";
  return names.find("," + std::string(entry_name(path)) + ",") !=
         std::string::npos;
}

void track(int fd, const char* path) {
  if (fd >= 0 && fd < most_descriptors && is_short(path)) given[fd] = 1;
}

// Descriptors of the directory's files, opened relative to it, whose reads
// must land on page boundaries.
std::atomic<bool> paged[most_descriptors];

void track_pages(int dir, int fd) {
  if (dir != AT_FDCWD && fd >= 0 && fd < most_descriptors &&
      std::getenv("DUPSWEEP_FAULT_PAGES") != nullptr)
    paged[fd] = true;
}

bool off_page(const void* buffer) {
  return reinterpret_cast<std::uintptr_t>(buffer) % 4096 != 0;
}

bool at_or_past_end(int fd, off_t offset) {
  struct stat st;
  return offset >= 0 && fstat(fd, &st) == 0 && offset >= st.st_size;
}

template <typename function>
function next(const char* symbol) {
  return reinterpret_cast<function>(dlsym(RTLD_NEXT, symbol));
}

// The opens queued on `ring`, not yet submitted, as if each were an openat;
// a read off a page boundary is made to fail where DUPSWEEP_FAULT_PAGES
// asks.
void inject_queued_opens(const io_uring* ring) {
  const bool pages = std::getenv("DUPSWEEP_FAULT_PAGES") != nullptr;
  for (unsigned at = ring->sq.sqe_head; at != ring->sq.sqe_tail; ++at) {
    io_uring_sqe& sqe = ring->sq.sqes[at & *ring->sq.kring_mask];
    if (sqe.opcode == IORING_OP_OPENAT)
      inject("openat", reinterpret_cast<const char*>(sqe.addr));
    if (pages && sqe.opcode == IORING_OP_READ &&
        off_page(reinterpret_cast<const void*>(sqe.addr)) &&
        !at_or_past_end(sqe.fd, static_cast<off_t>(sqe.off)))
      sqe.fd = -1;
  }
}

mode_t mode_argument(int flags, std::va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
}

}  // namespace

extern "C" {

int fstatat(int dir, const char* path, struct stat* st, int flags) {
  inject("fstatat", path);
  return next<int (*)(int, const char*, struct stat*, int)>("fstatat")(
      dir, path, st, flags);
}

int fstatat64(int dir, const char* path, struct stat64* st, int flags) {
  inject("fstatat", path);
  return next<int (*)(int, const char*, struct stat64*, int)>("fstatat64")(
      dir, path, st, flags);
}

int openat(int dir, const char* path, int flags, ...) {
  std::va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  inject("openat", path);
  const int fd = next<int (*)(int, const char*, int, ...)>("openat")(
      dir, path, flags, mode);
  track(fd, path);
  track_pages(dir, fd);
  return fd;
}

int openat64(int dir, const char* path, int flags, ...) {
  std::va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  inject("openat", path);
  const int fd = next<int (*)(int, const char*, int, ...)>("openat64")(
      dir, path, flags, mode);
  track(fd, path);
  track_pages(dir, fd);
  return fd;
}

int statx(int dir, const char* path, int flags, unsigned mask,
          struct statx* st) {
  ++statx_calls;
  inject("statx", path);
  return next<int (*)(int, const char*, int, unsigned, struct statx*)>("statx")(
      dir, path, flags, mask, st);
}

ssize_t read(int fd, void* buffer, size_t size) {
  const auto plain = next<ssize_t (*)(int, void*, size_t)>("read");
  if (fd >= 0 && fd < most_descriptors && paged[fd] && off_page(buffer) &&
      !at_or_past_end(fd, lseek(fd, 0, SEEK_CUR))) {
    errno = EFAULT;
    return -1;
  }
  if (fd < 0 || fd >= most_descriptors || given[fd] == 0)
    return plain(fd, buffer, size);
  const std::int64_t left =
      std::atoll(setting("DUPSWEEP_FAULT_SHORT_AT").c_str()) - (given[fd] - 1);
  if (left <= 0) return 0;
  const ssize_t got =
      plain(fd, buffer, std::min<size_t>(size, static_cast<size_t>(left)));
  if (got > 0) given[fd] += got;
  return got;
}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  count_pread();
  return next<ssize_t (*)(int, void*, size_t, off_t)>("pread")(fd, buffer, size,
                                                               offset);
}

ssize_t pread64(int fd, void* buffer, size_t size, off64_t offset) {
  count_pread();
  return next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64")(
      fd, buffer, size, offset);
}

int close(int fd) {
  if (fd >= 0 && fd < most_descriptors) {
    given[fd] = 0;
    paged[fd] = false;
  }
  return next<int (*)(int)>("close")(fd);
}

std::size_t fwrite(const void* data, std::size_t size, std::size_t count,
                   std::FILE* stream) {
  if (stream == stdout) {
    note_announced(data, size * count);
    inject_announced(data, size * count);
  }
  return next<std::size_t (*)(const void*, std::size_t, std::size_t,
                              std::FILE*)>("fwrite")(data, size, count, stream);
}

ssize_t write(int fd, const void* data, size_t size) {
  if (fd == STDOUT_FILENO) {
    note_announced(data, size);
    inject_announced(data, size);
  }
  return next<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, size);
}

dirent* readdir(DIR* dir) {
  if (is_chosen("readdir", "")) {
    errno = EIO;
    return nullptr;
  }
  return next<dirent* (*)(DIR*)>("readdir")(dir);
}

dirent64* readdir64(DIR* dir) {
  if (is_chosen("readdir", "")) {
    errno = EIO;
    return nullptr;
  }
  return next<dirent64* (*)(DIR*)>("readdir64")(dir);
}

int unlinkat(int dir, const char* path, int flags) {
  inject("unlinkat", path);
  return next<int (*)(int, const char*, int)>("unlinkat")(dir, path, flags);
}

int io_uring_submit(io_uring* ring) {
  inject_queued_opens(ring);
  return next<int (*)(io_uring*)>("io_uring_submit")(ring);
}

int io_uring_submit_and_wait(io_uring* ring, unsigned wait) {
  inject_queued_opens(ring);
  // What a failing kernel may do: take the operations, then fail the wait,
  // with reads still in flight.
  if (is_chosen("io_uring_submit_and_wait", "")) {
    next<int (*)(io_uring*)>("io_uring_submit")(ring);
    return -EIO;
  }
  return next<int (*)(io_uring*, unsigned)>("io_uring_submit_and_wait")(ring,
                                                                        wait);
}
}
