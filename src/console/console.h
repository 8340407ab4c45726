// Every message of the program goes through here to standard output.
#pragma once

#include <string>

/// Writes `text` and a line feed to standard output. On a terminal the line
/// is written at once, as text, with every control character in `text`
/// shown as "\xHH", so that a file name can neither forge nor blank a line;
/// otherwise the bytes are written as they are, and lines gather until
/// flush_output, so that a run with many files is not one write per line.
/// Throws std::system_error when standard output fails, so that nothing is
/// deleted that was not announced.
void write_line(const std::string& text);

/// Writes `text` to standard output without ending the line; the rest of the
/// line follows through write_line. Throws as write_line does.
void write_text(const std::string& text);

/// True when standard output is a terminal, where every write shows at once
/// and nothing gathers.
bool writes_show_at_once();

/// Writes out every line gathered so far. Throws as write_line does.
void flush_output();

/// For the failure boundary: writes out the lines gathered so far if it can,
/// and never throws.
void salvage_output() noexcept;
