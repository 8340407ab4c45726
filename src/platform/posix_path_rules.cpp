#include "platform/posix_path_rules.h"

#include <vector>

std::string drop_final_separator(const std::string& path) {
  if (path.size() > 1 && path.back() == '/')
    return path.substr(0, path.size() - 1);
  return path;
}

std::string fold_dot_components(const std::string& path) {
  std::vector<std::string> kept;
  std::string::size_type start = 0;
  while (start <= path.size()) {
    std::string::size_type end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
    } else if (!part.empty() && part != ".") {
      kept.push_back(part);
    }
    start = end + 1;
  }
  std::string folded;
  for (const std::string& part : kept) folded += "/" + part;
  return folded.empty() ? "/" : folded;
}
