#include "platform/platform.h"

#include <windows.h>

#include <string>
#include <system_error>
#include <vector>

#include "platform/win32_path_rules.h"

namespace {

// `text` in the process's ANSI code page as UTF-16; empty when it is no
// valid text in that code page.
std::optional<std::wstring> wide_text(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS,
                                         text.data(), size, nullptr, 0);
  if (length == 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size,
                          wide.data(), length) != length)
    return std::nullopt;
  return wide;
}

// `wide` in the ANSI code page; empty unless those bytes read back as the
// very same text (no best-fit or default character stands in).
std::optional<std::string> ansi_text(const std::wstring& wide) {
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr,
                                         0, nullptr, nullptr);
  if (length == 0) return std::nullopt;
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), size, text.data(), length,
                      nullptr, nullptr);
  if (wide_text(text) != wide) return std::nullopt;
  return text;
}

// The ANSI service refuses a result longer than MAX_PATH unless the process
// may use long paths (the manifest's longPathAware and the system's policy);
// the wide one has no such limit, so a directory out of the ANSI services'
// reach still gets its absolute name, which the attribute query then
// refuses: the run ends rather than call it not found.
std::optional<std::string> wide_full_path_name(const std::string& text) {
  const std::optional<std::wstring> wide = wide_text(text);
  if (!wide || wide->empty()) return std::nullopt;
  const DWORD needed = GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::vector<wchar_t> buffer(needed);
  const DWORD length =
      GetFullPathNameW(wide->c_str(), needed, buffer.data(), nullptr);
  if (length == 0 || length >= needed) return std::nullopt;
  return ansi_text(std::wstring(buffer.data(), length));
}

// The platform's full-path service: against the current directory, or for
// "d:name" against drive d's own current directory.
std::optional<std::string> full_path_name(const std::string& text) {
  const DWORD needed = GetFullPathNameA(text.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide_full_path_name(text);
  std::vector<char> buffer(needed);
  const DWORD length =
      GetFullPathNameA(text.c_str(), needed, buffer.data(), nullptr);
  if (length == 0 || length >= needed) return wide_full_path_name(text);
  return std::string(buffer.data(), length);
}

// The attribute query's answers that mean nothing is there: no such file or
// folder, drive, server or share, no medium in the drive, or a name that
// cannot be anyone's.
bool names_nothing(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return true;
    default:
      return false;
  }
}

// `text` as the console shows it: the line ends the C runtime's text mode
// gives elsewhere, and a byte that is no text in the ANSI code page as the
// replacement character rather than nothing at all.
std::wstring console_text(std::string_view text) {
  std::string lines;
  for (const char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  if (lines.empty()) return std::wstring();
  const int size = static_cast<int>(lines.size());
  const int length =
      MultiByteToWideChar(CP_ACP, 0, lines.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, lines.data(), size, wide.data(), length);
  return wide;
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
  return resolved_directory{name, name_exists(name)};
}

bool name_exists(const std::string& name) {
  if (GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  if (names_nothing(error)) return false;
  throw std::system_error(static_cast<int>(error), std::system_category(),
                          "GetFileAttributesA");
}

// A console, not any character device: NUL is one too, and only a console
// takes text as UTF-16.
bool output_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool write_terminal_text(std::string_view text) {
  const std::wstring wide = console_text(text);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  std::wstring_view left = wide;
  while (!left.empty()) {
    DWORD written = 0;
    if (!WriteConsoleW(output, left.data(), static_cast<DWORD>(left.size()),
                       &written, nullptr) ||
        written == 0)
      return false;
    left.remove_prefix(written);
  }
  return true;
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

// Handles, which the program opens its files as, are limited only by memory
// (about sixteen million a process); the C runtime's descriptors, which it
// does not use for files, are not the limit.
std::size_t raise_open_file_limit() { return 16777216; }
