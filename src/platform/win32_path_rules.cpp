#include "platform/win32_path_rules.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_forbidden(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 ||
         std::string_view("<>:\"/\\|").find(c) != std::string_view::npos;
}

bool is_valid_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (is_forbidden(c)) return false;
  }
  if (name == "." || name == "..") return true;
  return name.back() != ' ' && name.back() != '.';
}

// A server name must be a plain name: "." and "?" would open the device and
// verbatim namespaces ("\\.\pipe", "\\?\"), where no duplicate files live but
// pipes and devices do. GetFullPathNameA also turns a device name such as
// "nul" into "\\.\nul", so this keeps such a resolved name out as well.
bool is_valid_server(std::string_view server) {
  return is_valid_name(server) && server != "." && server != ".." &&
         server.find_first_of("?*") == std::string_view::npos;
}

// Length of the drive or network prefix; `*valid` turns false for a network
// prefix whose server name is not acceptable.
std::size_t prefix_length(std::string_view text, bool* valid) {
  if (text.size() >= 2 && text[1] == ':' && !is_forbidden(text[0])) return 2;
  if (text.size() < 2 || !is_separator(text[0]) || !is_separator(text[1]))
    return 0;
  std::size_t end = 2;
  while (end < text.size() && !is_separator(text[end])) ++end;
  *valid = is_valid_server(text.substr(2, end - 2));
  return end;
}

struct path_parts {
  std::string_view prefix;
  bool rooted = false;
  std::string_view rest;  ///< The components, each ended by a separator but
                          ///< perhaps the last.
};

path_parts split_root(std::string_view text, bool* valid) {
  path_parts parts;
  parts.prefix = text.substr(0, prefix_length(text, valid));
  std::string_view after = text.substr(parts.prefix.size());
  parts.rooted = !after.empty() && is_separator(after.front());
  parts.rest = after.substr(parts.rooted ? 1 : 0);
  return parts;
}

std::vector<std::string_view> split_components(std::string_view rest) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = start;
    while (end < rest.size() && !is_separator(rest[end])) ++end;
    components.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

std::string backslashed(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

}  // namespace

bool is_valid_win32_path(const std::string& text) {
  bool valid = !text.empty();
  const path_parts parts = split_root(text, &valid);
  for (std::string_view component : split_components(parts.rest)) {
    valid = valid && is_valid_name(component);
  }
  return valid;
}

std::string drop_win32_final_separator(const std::string& text) {
  bool valid = true;
  const path_parts parts = split_root(text, &valid);
  if (parts.rest.empty() || !is_separator(parts.rest.back())) return text;
  return text.substr(0, text.size() - 1);
}

std::string fold_win32_dot_components(const std::string& path) {
  bool valid = true;
  const path_parts parts = split_root(path, &valid);
  // The share of a network name is part of its root: ".." never leaves it.
  const std::size_t floor =
      parts.rooted && !parts.prefix.empty() && is_separator(parts.prefix[0]);
  std::vector<std::string_view> kept;
  for (std::string_view component : split_components(parts.rest)) {
    if (component.empty() || component == ".") continue;
    if (component == ".." && kept.size() > floor && kept.back() != "..") {
      kept.pop_back();
    } else if (component != ".." || !parts.rooted) {
      kept.push_back(component);
    }
  }
  std::string folded = backslashed(parts.prefix) + (parts.rooted ? "\\" : "");
  for (std::size_t i = 0; i < kept.size(); ++i) {
    folded += (i == 0 ? "" : "\\") + std::string(kept[i]);
  }
  return folded;
}
