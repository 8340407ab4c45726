// Path text rules of POSIX systems, as plain string functions.
#pragma once

#include <string>

/// `path` without its final '/', unless the path is "/" alone.
std::string drop_final_separator(const std::string& path);

/// The absolute `path` with empty and "." components removed and each ".."
/// folded into its parent by text alone (".." at the root stays at the
/// root), without a trailing '/' unless the result is the root "/".
std::string fold_dot_components(const std::string& path);
