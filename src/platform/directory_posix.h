// What a held directory is on POSIX, for the parts of the platform layer
// that work through its descriptor. Only POSIX sources include it.
#pragma once

#include <string>

struct directory {
  std::string name;
  int fd = -1;
};
