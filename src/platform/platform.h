// The few operating-system services the phases need. This header is the same
// on every system; platform_posix.cpp or platform_win32.cpp implements it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

/// The separator the driver appends to the directory text and that joins a
/// directory and an entry into a full name.
char path_separator();

/// A directory text resolved to an absolute name.
struct resolved_directory {
  /// The absolute name as printed: no trailing separator except at a root.
  std::string name;
  /// False when nothing is there under `name`; `name` is then the text made
  /// absolute.
  bool found = false;
};

/// Checks `text` against the platform's path syntax and resolves it to an
/// absolute directory name, dropping a final separator first. Empty when the
/// text, or the name it resolves to, is refused by the syntax rules or cannot
/// be made absolute. Throws std::system_error when the system cannot tell
/// whether anything is there (a name longer than it takes, no access to a
/// directory on the way): that may be a directory with files in it.
std::optional<resolved_directory> resolve_directory(const std::string& text);

/// True when something is there under the absolute name `name`, false when
/// the system answers that nothing is. Throws std::system_error when it
/// cannot tell, as resolve_directory does.
bool name_exists(const std::string& name);

/// True when standard output is a terminal (on Windows a console), where a
/// person reads each line as it comes.
bool output_is_terminal();

/// Writes `text`, whose lines end in a line feed, to the terminal that
/// output_is_terminal found, at once and shown as the text it spells: a
/// Windows console takes it as UTF-16 with CR LF line ends, since the bytes
/// would be read in the console's own code page. False when it cannot be
/// written.
bool write_terminal_text(std::string_view text);

/// Writes `bytes` to standard error at once, unbuffered and untranslated (no
/// line-end conversion). Used only by the failure boundary, so it allocates
/// nothing and reports nothing.
void write_error_bytes(std::string_view bytes);

/// Raises the number of files the process may have open at once to the most
/// the system lets it have, and returns that number, the standard streams
/// included. Throws std::system_error when the system cannot tell it.
std::size_t raise_open_file_limit();
