#include "e2e_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace {

// The build gives the program's path as the build host sees it; under Wine
// drive Z: is the host's root.
std::string windows_path(std::string path) {
  if (!path.empty() && path.front() == '/') path = "Z:" + path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// One argument as the C runtime splits a command line: backslashes count
// only before a double quote, so those and a final run are doubled.
std::string quoted(const std::string& argument) {
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

// As require, with the system's own error code and text.
void require_win32(bool ok, const std::string& what) {
  if (!ok)
    throw std::system_error(static_cast<int>(GetLastError()),
                            std::system_category(), what);
}

HANDLE inheritable_file(const std::string& name) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  const HANDLE file =
      CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  require_win32(file != INVALID_HANDLE_VALUE, "creating " + name);
  return file;
}

// Runs `command_line` in `working_directory` with standard output and error
// in the two files and returns its exit code.
int run_with_output(std::string command_line,
                    const std::string& working_directory, HANDLE out,
                    HANDLE err) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  const std::string application = windows_path(program_path());
  require_win32(
      CreateProcessA(application.c_str(), command_line.data(), nullptr, nullptr,
                     TRUE, 0, nullptr, working_directory.c_str(), &startup,
                     &process) != 0,
      "starting " + application);
  DWORD code = 0;
  const bool ended =
      WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.hProcess, &code) != 0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  require_win32(ended, "waiting for " + application);
  return static_cast<int>(code);
}

// The C runtime writes standard output in text mode; the program's lines
// end in a lone LF as far as it is concerned.
std::string without_carriage_returns(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      out += text[i];
  }
  return out;
}

// The read-only attribute makes DeleteFile fail with "access denied".
bool set_read_only(const std::string& path, bool on) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD changed = on ? attributes | FILE_ATTRIBUTE_READONLY
                           : attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
  return SetFileAttributesA(path.c_str(), changed) != 0;
}

}  // namespace

int usage_exit_code() { return -1; }

// A final '/' is refused on Windows: the program appends a backslash to it,
// which makes an empty component.
std::string native_separators(std::string text) {
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

run_result run_program(const std::vector<std::string>& arguments,
                       const run_options& options) {
  // Program name as written by the build, so the usage text shows it so.
  std::string command_line = quoted(program_path());
  for (const std::string& argument : arguments)
    command_line += " " + quoted(argument);

  // The program runs in the capture directory's empty "d" unless told
  // otherwise.
  temp_dir capture;
  const std::string out_name = capture.root + "\\out";
  const std::string err_name = capture.root + "\\err";
  const HANDLE out = inheritable_file(out_name);
  const HANDLE err = inheritable_file(err_name);
  run_result result;
  result.exit_code = run_with_output(command_line,
                                     options.working_directory.empty()
                                         ? capture.path
                                         : options.working_directory,
                                     out, err);
  CloseHandle(out);
  CloseHandle(err);
  result.out = without_carriage_returns(read_file(out_name));
  result.err = read_file(err_name);
  return result;
}

undeletable_file::undeletable_file(const std::string& path)
    : path(path), made(set_read_only(path, true)) {}

undeletable_file::~undeletable_file() {
  // A file the run deleted after all has nothing to give back.
  if (made && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
      !set_read_only(path, false))
    std::fprintf(stderr, "%s stays read-only\n", path.c_str());
}

bool make_hard_link(const std::string& existing, const std::string& name) {
  return CreateHardLinkA(name.c_str(), existing.c_str(), nullptr) != 0;
}
