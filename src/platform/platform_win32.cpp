#include "platform/platform.h"

#include <windows.h>

#include <vector>

#include "platform/win32_path_rules.h"

namespace {

// The platform's full-path service: against the current directory, or for
// "d:name" against drive d's own current directory.
std::optional<std::string> full_path_name(const std::string& text) {
  const DWORD needed = GetFullPathNameA(text.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::vector<char> buffer(needed);
  const DWORD length =
      GetFullPathNameA(text.c_str(), needed, buffer.data(), nullptr);
  if (length == 0 || length >= needed) return std::nullopt;
  return std::string(buffer.data(), length);
}

}  // namespace

char path_separator() { return '\\'; }

std::optional<resolved_directory> resolve_directory(const std::string& text) {
  if (!is_valid_win32_path(text)) return std::nullopt;
  const std::optional<std::string> full =
      full_path_name(drop_win32_final_separator(text));
  if (!full) return std::nullopt;
  // Folding again keeps the "." and ".." rule ours whatever the full-path
  // service did, and drops its trailing backslash except at a root.
  const std::string name = fold_win32_dot_components(*full);
  if (!is_valid_win32_path(name)) return std::nullopt;
  return resolved_directory{
      name, GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES};
}

void write_error_bytes(std::string_view bytes) {
  // WriteFile on the handle itself: the C runtime's stderr is in text mode
  // and would turn a lone line feed into CR LF.
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()),
                   &written, nullptr) ||
        written == 0)
      return;
    bytes.remove_prefix(written);
  }
}
