// Directory texts of both systems: no crash, and a text the rules accept never
// becomes a directory name that, joined with an entry, holds two separators
// in a row (apart from the two that open a network name).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix_path_rules.h"
#include "platform/win32_path_rules.h"
#include "scan/scan.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool has_doubled(const std::string& name, char separator, std::size_t from) {
  const std::string doubled(2, separator);
  return name.find(doubled, from) != std::string::npos;
}

void check_posix(const std::string& text) {
  // What realpath cannot resolve is reported through this folding.
  const std::string folded = fold_dot_components("/" + text);
  require(folded.front() == '/');
  require(folded == "/" || folded.back() != '/');
  require(!has_doubled(join_name(folded, "x", '/'), '/', 0));
  require(fold_dot_components(folded) == folded);
}

void check_win32(const std::string& text) {
  if (!is_valid_win32_path(text)) return;
  const std::string folded = fold_win32_dot_components(text);
  require(folded.find('/') == std::string::npos);
  const bool network = folded.compare(0, 2, "\\\\") == 0;
  require(!has_doubled(join_name(folded, "x", '\\'), '\\', network ? 1 : 0));
  require(fold_win32_dot_components(folded) == folded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // A command-line argument cannot hold a NUL byte.
  std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('\0') != std::string::npos) return 0;
  check_posix(text);
  check_win32(text);
  return 0;
}
