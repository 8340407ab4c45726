// Preloaded into the program (LD_PRELOAD) by the fault tests, to change a
// file at an exact point of a run instead of racing the program in time.
// On the chosen call for the chosen file, and only the first time, it acts
// on a file of the scanned directory (or on the directory itself); then the
// call goes on as usual. Settings come from the environment:
//   DUPSWEEP_FAULT_CALL    fstatat, openat or unlinkat (an open queued on an
//                          io_uring counts as an openat, when submitted)
//   DUPSWEEP_FAULT_COUNT   which such call on the file, 1 for the first
//   DUPSWEEP_FAULT_NAME    the file's entry name
//   DUPSWEEP_FAULT_DIR     the scanned directory
//   DUPSWEEP_FAULT_ACTION  move: move the target to DUPSWEEP_FAULT_MOVE_TO
//                            (so its data survives for the test to check);
//                          pipe: move it, and put a named pipe in its place;
//                          directory: move it, and put an empty directory
//                            in its place;
//                          rewrite: write DUPSWEEP_FAULT_BYTES over it;
//                          swap: move the scanned directory to MOVE_TO and
//                            put a link to DUPSWEEP_FAULT_LINK_TO in its place
//   DUPSWEEP_FAULT_TARGET  the entry acted on; the chosen file when unset
#include <dlfcn.h>
#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string setting(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool is_chosen(const char* call, const char* path) {
  static int seen = 0;
  if (setting("DUPSWEEP_FAULT_CALL") != call) return false;
  const char* slash = std::strrchr(path, '/');
  if (setting("DUPSWEEP_FAULT_NAME") != (slash == nullptr ? path : slash + 1))
    return false;
  return ++seen == std::atoi(setting("DUPSWEEP_FAULT_COUNT").c_str());
}

void rewrite(const std::string& path) {
  const std::string bytes = setting("DUPSWEEP_FAULT_BYTES");
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

void act() {
  const std::string action = setting("DUPSWEEP_FAULT_ACTION");
  const std::string dir = setting("DUPSWEEP_FAULT_DIR");
  const std::string moved_to = setting("DUPSWEEP_FAULT_MOVE_TO");
  std::string target = setting("DUPSWEEP_FAULT_TARGET");
  if (target.empty()) target = setting("DUPSWEEP_FAULT_NAME");
  const std::string path = dir + "/" + target;
  if (action == "rewrite") return rewrite(path);
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

template <typename function>
function next(const char* symbol) {
  return reinterpret_cast<function>(dlsym(RTLD_NEXT, symbol));
}

// The opens queued on `ring`, not yet submitted, as if each were an openat.
void inject_queued_opens(const io_uring* ring) {
  for (unsigned at = ring->sq.sqe_head; at != ring->sq.sqe_tail; ++at) {
    const io_uring_sqe& sqe = ring->sq.sqes[at & *ring->sq.kring_mask];
    if (sqe.opcode == IORING_OP_OPENAT)
      inject("openat", reinterpret_cast<const char*>(sqe.addr));
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
  return next<int (*)(int, const char*, int, ...)>("openat")(dir, path, flags,
                                                             mode);
}

int openat64(int dir, const char* path, int flags, ...) {
  std::va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  inject("openat", path);
  return next<int (*)(int, const char*, int, ...)>("openat64")(dir, path, flags,
                                                               mode);
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
  return next<int (*)(io_uring*, unsigned)>("io_uring_submit_and_wait")(ring,
                                                                        wait);
}
}
