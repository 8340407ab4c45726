// Preloaded into the program (LD_PRELOAD) by the fault tests, to change a
// file at an exact point of a run instead of racing the program in time.
// On the chosen call for the chosen file, and only the first time, it moves
// the file out of the scanned directory (so its data survives for the test
// to check) and, if asked, puts a named pipe in its place; then the call
// goes on as usual. Settings come from the environment:
//   DUPSWEEP_FAULT_CALL   lstat, open or unlink
//   DUPSWEEP_FAULT_COUNT  which such call on the file, 1 for the first
//   DUPSWEEP_FAULT_NAME   the file's last component
//   DUPSWEEP_FAULT_MOVE_TO where the file is moved
//   DUPSWEEP_FAULT_PIPE   set to leave a named pipe behind
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool is_chosen(const char* call, const char* path) {
  static int seen = 0;
  const char* chosen_call = std::getenv("DUPSWEEP_FAULT_CALL");
  const char* chosen_name = std::getenv("DUPSWEEP_FAULT_NAME");
  const char* count = std::getenv("DUPSWEEP_FAULT_COUNT");
  if (chosen_call == nullptr || chosen_name == nullptr || count == nullptr ||
      std::strcmp(call, chosen_call) != 0)
    return false;
  const char* slash = std::strrchr(path, '/');
  if (std::strcmp(slash == nullptr ? path : slash + 1, chosen_name) != 0)
    return false;
  return ++seen == std::atoi(count);
}

void inject(const char* call, const char* path) {
  if (!is_chosen(call, path)) return;
  std::rename(path, std::getenv("DUPSWEEP_FAULT_MOVE_TO"));
  if (std::getenv("DUPSWEEP_FAULT_PIPE") != nullptr) mkfifo(path, 0600);
}

template <typename function>
function next(const char* symbol) {
  return reinterpret_cast<function>(dlsym(RTLD_NEXT, symbol));
}

mode_t mode_argument(int flags, std::va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
}

}  // namespace

extern "C" {

int lstat(const char* path, struct stat* st) {
  inject("lstat", path);
  return next<int (*)(const char*, struct stat*)>("lstat")(path, st);
}

int lstat64(const char* path, struct stat64* st) {
  inject("lstat", path);
  return next<int (*)(const char*, struct stat64*)>("lstat64")(path, st);
}

int open(const char* path, int flags, ...) {
  std::va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  inject("open", path);
  return next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  std::va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  inject("open", path);
  return next<int (*)(const char*, int, ...)>("open64")(path, flags, mode);
}

int unlink(const char* path) {
  inject("unlink", path);
  return next<int (*)(const char*)>("unlink")(path);
}
}
