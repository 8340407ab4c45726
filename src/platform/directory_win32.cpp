// The held directory on Windows, and the files of it opened for reading or
// claimed for a deletion (directory.h, open_file.h, deletion.h) in one file:
// all three reach a file by the one checked way of opening its name
// (open_name) and describe it by the one query of a handle
// (state_of_handle).
#include "platform/directory.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

#include <boost/filesystem.hpp>

#include "platform/deletion.h"
#include "platform/file_state.h"
#include "platform/open_file.h"
#include "platform/open_file_win32.h"
#include "platform/win32_path_rules.h"

namespace fs = boost::filesystem;

struct directory {
  std::string name;
  HANDLE handle = INVALID_HANDLE_VALUE;
};

struct open_file {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::optional<file_state> state;
};

struct claimed_file {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {

std::system_error system_failure(const char* what) {
  return std::system_error(static_cast<int>(GetLastError()),
                           std::system_category(), what);
}

std::uint64_t join_halves(DWORD high, DWORD low) {
  return (std::uint64_t{high} << 32) | low;
}

std::uint64_t ticks_of(const FILETIME& t) {
  return join_halves(t.dwHighDateTime, t.dwLowDateTime);
}

// FILETIME counts 100-nanosecond ticks since 1601.
file_time time_of(std::uint64_t ticks) {
  return file_time{static_cast<std::int64_t>(ticks / 10000000),
                   static_cast<std::uint32_t>(ticks % 10000000)};
}

// A drive root is the one directory name that ends in a backslash.
std::string full_name(const directory& held, const char* entry) {
  if (!held.name.empty() && held.name.back() == '\\') return held.name + entry;
  return held.name + '\\' + entry;
}

bool is_regular(DWORD attributes) {
  return !(attributes &
           (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// The full state of an open handle; empty for anything but a regular file
// on a disk (a device name such as "con" opens the device).
std::optional<file_state> state_of_handle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (GetFileType(handle) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(handle, &info) ||
      !is_regular(info.dwFileAttributes) ||
      !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic,
                                    sizeof basic))
    return std::nullopt;
  file_state state;
  state.has_identity = true;
  state.has_other_names = info.nNumberOfLinks > 1;
  state.identity =
      file_identity{info.dwVolumeSerialNumber,
                    join_halves(info.nFileIndexHigh, info.nFileIndexLow)};
  state.size = join_halves(info.nFileSizeHigh, info.nFileSizeLow);
  state.write_time = time_of(ticks_of(info.ftLastWriteTime));
  state.has_change_time = true;
  state.change_time =
      time_of(static_cast<std::uint64_t>(basic.ChangeTime.QuadPart));
  return state;
}

// FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which state_of_handle
// then refuses; FILE_FLAG_BACKUP_SEMANTICS is left out, so a directory does
// not open at all.
HANDLE open_name(const directory& held, const char* entry, DWORD access,
                 DWORD share, DWORD flags) {
  const std::string name = full_name(held, entry);
  // A name that breaks the rules ("a." or "a ") would reach another file:
  // the ANSI services strip the dot or blank.
  if (!is_valid_win32_path(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(name.c_str(), access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr);
}

}  // namespace

void directory_closer::operator()(directory* held) const {
  if (held->handle != INVALID_HANDLE_VALUE) CloseHandle(held->handle);
  delete held;
}

void open_file_closer::operator()(open_file* file) const {
  if (file->handle != INVALID_HANDLE_VALUE) CloseHandle(file->handle);
  delete file;
}

void claimed_file_closer::operator()(claimed_file* file) const {
  if (file->handle != INVALID_HANDLE_VALUE) CloseHandle(file->handle);
  delete file;
}

directory_handle open_directory(const std::string& name) {
  // No FILE_SHARE_DELETE: while the handle is open, the directory and every
  // directory above it keep their names.
  const HANDLE handle = CreateFileA(
      name.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return directory_handle(new directory{name, handle});
}

const std::string& directory_name(const directory& held) { return held.name; }

void list_entries(const directory& held,
                  const std::function<void(const char* entry)>& take) {
  try {
    for (fs::directory_iterator it(held.name), end; it != end; ++it) {
      // Asked of the entry rather than of its name: the listing gives the
      // attributes with each entry, which spares a query.
      boost::system::error_code failed;
      if (fs::is_directory(it->status(failed))) continue;
      take(it->path().filename().string().c_str());
    }
  } catch (const fs::filesystem_error& failure) {
    throw std::system_error(failure.code().value(), std::system_category(),
                            "directory_iterator");
  }
}

std::optional<file_state> query_entry(const directory& held,
                                      const char* entry) {
  const std::string name = full_name(held, entry);
  if (!is_valid_win32_path(name)) return std::nullopt;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data) ||
      !is_regular(data.dwFileAttributes))
    return std::nullopt;
  file_state state;
  state.size = join_halves(data.nFileSizeHigh, data.nFileSizeLow);
  state.write_time = time_of(ticks_of(data.ftLastWriteTime));
  return state;
}

std::optional<file_state> inspect_entry(const directory& held,
                                        const char* entry) {
  // Attributes only: such an open never conflicts with another program's,
  // nor with a file this program has claimed.
  const HANDLE handle =
      open_name(held, entry, FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  const std::optional<file_state> state = state_of_handle(handle);
  CloseHandle(handle);
  return state;
}

open_file_handle open_entry(const directory& held, const char* entry) {
  const HANDLE handle =
      open_name(held, entry, GENERIC_READ,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                FILE_FLAG_SEQUENTIAL_SCAN);
  if (handle == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_TOO_MANY_OPEN_FILES)
      throw system_failure("CreateFileA");
    return nullptr;
  }
  open_file_handle file(new open_file{handle, std::nullopt});
  file->state = state_of_handle(handle);
  if (!file->state) return nullptr;
  return file;
}

std::optional<file_state> state_of(const open_file& file) { return file.state; }

HANDLE handle_of(const open_file& file) { return file.handle; }

// Windows keeps a network file's cached pages coherent with the server by
// its oplocks and leases, and has no FUSE.
void read_afresh(const open_file&) {}

read_result read_from(open_file* file, unsigned char* buffer,
                      std::size_t size) {
  read_result read;
  while (read.count < size) {
    const DWORD ask =
        static_cast<DWORD>(std::min<std::size_t>(size - read.count, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file->handle, buffer + read.count, ask, &got, nullptr)) {
      read.end = read.failed = true;
      break;
    }
    if (got == 0) {
      read.end = true;
      break;
    }
    read.count += got;
  }
  return read;
}

// A synchronous handle reads at the offset an OVERLAPPED gives, and reports
// the end of the file as an error of its own.
read_result read_at(const open_file& file, std::uint64_t offset,
                    unsigned char* buffer, std::size_t size) {
  read_result read;
  while (read.count < size) {
    const std::uint64_t at = offset + read.count;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD ask =
        static_cast<DWORD>(std::min<std::size_t>(size - read.count, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file.handle, buffer + read.count, ask, &got, &where)) {
      read.end = true;
      read.failed = GetLastError() != ERROR_HANDLE_EOF;
      break;
    }
    if (got == 0) {
      read.end = true;
      break;
    }
    read.count += got;
  }
  return read;
}

namespace {

bool opens_for_reading(const directory& held, const char* entry, DWORD share) {
  const HANDLE handle = open_name(held, entry, FILE_READ_DATA, share, 0);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

// Whether a claim refused for sharing was refused because another program
// may write the file: it opens for reading when writing is shared, and not
// when it is not.
bool open_for_writing(const directory& held, const char* entry) {
  return opens_for_reading(
             held, entry,
             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) &&
         !opens_for_reading(held, entry, FILE_SHARE_READ | FILE_SHARE_DELETE) &&
         GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

claim_result claim_entry(const directory& held, const char* entry,
                         claim_purpose purpose, claimed_handle* result) {
  // Sharing reading only: no other program can write, rename or delete the
  // file between its check and the deletion. The system enforces a handle's
  // sharing only when it may read, write or delete, so a kept file is claimed
  // with the right to read it.
  const DWORD access =
      (purpose == claim_purpose::deleting ? DELETE : FILE_READ_DATA) |
      FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  const HANDLE handle = open_name(held, entry, access, FILE_SHARE_READ, 0);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_INVALID_NAME)
      return claim_result::gone;
    if (error == ERROR_SHARING_VIOLATION && open_for_writing(held, entry))
      return claim_result::open_for_writing;
    return claim_result::refused;
  }
  result->reset(new claimed_file{handle});
  return claim_result::claimed;
}

std::optional<file_state> state_of(const claimed_file& file) {
  return state_of_handle(file.handle);
}

void delete_claimed(claimed_file* file) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (!SetFileInformationByHandle(file->handle, FileDispositionInfo,
                                  &disposition, sizeof disposition))
    throw system_failure("SetFileInformationByHandle");
  // The name goes when the last handle closes.
  CloseHandle(file->handle);
  file->handle = INVALID_HANDLE_VALUE;
}
