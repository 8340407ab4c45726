#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32_path_rules.h"

namespace {

std::uint64_t join_halves(DWORD high, DWORD low) {
  return (std::uint64_t{high} << 32) | low;
}

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
// reach still gets its absolute name, to be reported as not found.
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

}  // namespace

std::optional<file_info> query_file_info(const std::string& name) {
  // A name that breaks the rules ("a." or "a ", made through "\\?\" names)
  // would reach another file: the ANSI services strip the dot or blank.
  if (!is_valid_win32_path(name)) return std::nullopt;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  // Reparse points (symbolic links, junctions) are never candidates, just as
  // links are not on POSIX.
  if (data.dwFileAttributes &
      (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
    return std::nullopt;
  return file_info{join_halves(data.nFileSizeHigh, data.nFileSizeLow),
                   join_halves(data.ftLastWriteTime.dwHighDateTime,
                               data.ftLastWriteTime.dwLowDateTime)};
}

std::FILE* open_regular_file(const std::string& name) {
  if (!is_valid_win32_path(name)) return nullptr;
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which the check below
  // then refuses; without FILE_FLAG_BACKUP_SEMANTICS a directory won't open.
  const HANDLE handle = CreateFileA(
      name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
      nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // A device name such as "con" opens the device, whatever the folder.
  BY_HANDLE_FILE_INFORMATION info;
  const bool regular =
      GetFileType(handle) == FILE_TYPE_DISK &&
      GetFileInformationByHandle(handle, &info) &&
      !(info.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  const int fd = regular
                     ? _open_osfhandle(reinterpret_cast<std::intptr_t>(handle),
                                       _O_RDONLY | _O_BINARY)
                     : -1;
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "rb");
  if (file == nullptr) {
    _close(fd);  // Closes the handle too.
    return nullptr;
  }
  // Reads go straight into the caller's large buffer.
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

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
