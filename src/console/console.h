// Every message of the program goes through here to standard output.
#pragma once

#include <string>

/// Writes `text` and a line feed to standard output and flushes it, so a
/// finished line is visible at once and never lost if the run ends abnormally.
/// Throws std::system_error when standard output fails, so that nothing is
/// deleted that was not announced.
void write_line(const std::string& text);

/// Writes `text` to standard output without ending the line; the rest of the
/// line follows through write_line. Throws as write_line does.
void write_text(const std::string& text);
