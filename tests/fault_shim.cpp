// Preloaded into the program (LD_PRELOAD) by the fault tests, to change a
// file at an exact point of a run instead of racing the program in time.
// On the chosen call for the chosen file, and only the first time, it acts
// on a file of the scanned directory (or on the directory itself); then the
// call goes on as usual. Settings come from the environment:
//   DUPSWEEP_FAULT_CALL    fstatat, statx, openat or unlinkat (an open queued
//                          on an io_uring counts as an openat, when
//                          submitted); readdir or io_uring_submit_and_wait,
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
//                          swap: move the scanned directory to MOVE_TO and
//                            put a link to DUPSWEEP_FAULT_LINK_TO in its place;
//                          fail: readdir ends the listing with EIO; the ring
//                            submits what is queued, then reports EIO
//   DUPSWEEP_FAULT_TARGET  the entry acted on; the chosen file when unset
//   DUPSWEEP_FAULT_SHORT   entry names, comma-separated, whose plain reads
//                          find the end of the file, without an error, after
//                          DUPSWEEP_FAULT_SHORT_AT bytes
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
// through: made and dirtied (its first byte written as it is) a while
// before the program runs, as by a writer that has had the file mapped for
// some time, so that the write fault that stamps the file comes first.
unsigned char* mapped = nullptr;

__attribute__((constructor)) void map_target() {
  if (setting("DUPSWEEP_FAULT_ACTION") != "mapped-write") return;
  const int fd = open(target_path().c_str(), O_RDWR);
  if (fd < 0) return;
  void* at = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (at == MAP_FAILED) return;
  mapped = static_cast<unsigned char*>(at);
  mapped[0] = mapped[0];
  usleep(100000);
}

void write_mapped() {
  if (mapped == nullptr) return;
  const std::string bytes = setting("DUPSWEEP_FAULT_BYTES");
  std::memcpy(mapped, bytes.data(), bytes.size());
  munmap(mapped, 4096);
  mapped = nullptr;
}

void act() {
  const std::string action = setting("DUPSWEEP_FAULT_ACTION");
  const std::string dir = setting("DUPSWEEP_FAULT_DIR");
  const std::string moved_to = setting("DUPSWEEP_FAULT_MOVE_TO");
  const std::string path = target_path();
  if (action == "rewrite" || action == "rewrite-in-place")
    return rewrite(path, action == "rewrite-in-place");
  if (action == "mapped-write") return write_mapped();
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

int close(int fd) {
  if (fd >= 0 && fd < most_descriptors) {
    given[fd] = 0;
    paged[fd] = false;
  }
  return next<int (*)(int)>("close")(fd);
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
