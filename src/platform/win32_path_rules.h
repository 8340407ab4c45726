// Path text rules of Windows, as plain string functions, so that every host
// compiles and tests them and platform_win32.cpp only applies them.
#pragma once

#include <string>

/// True when `text` is a well-formed Windows path: an optional drive prefix
/// ("d:") or network prefix (two separators and a server name), an optional
/// root separator, then components separated by one '\' or '/' each, with at
/// most one separator after the last. Each component is non-empty, holds no
/// byte 0x00-0x1F nor any of < > : " / \ |, and ends in neither a blank nor a
/// dot unless it is "." or "..". False for the empty text.
bool is_valid_win32_path(const std::string& text);

/// `text` without its final separator, unless that separator is the root
/// separator ("d:\", "\", "\\server\" keep theirs).
std::string drop_win32_final_separator(const std::string& text);

/// `path` with every separator written as '\', "." components removed and
/// each ".." folded into the component before it by text alone. A ".." with
/// nothing before it is dropped when the path is rooted ("d:\.." is "d:\")
/// and kept otherwise; the share of a network name ("\\server\share") is
/// never folded away. A final separator is dropped as by
/// drop_win32_final_separator. Expects a path that is_valid_win32_path.
std::string fold_win32_dot_components(const std::string& path);
