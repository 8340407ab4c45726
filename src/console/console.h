// Every message of the program goes through here to standard output.
#pragma once

#include <string>

/// Writes `text` and a line feed to standard output and flushes it, so a
/// finished line is visible at once and never lost if the run ends abnormally.
void write_line(const std::string& text);

/// Writes `text` to standard output without ending the line; the rest of the
/// line follows through write_line.
void write_text(const std::string& text);
