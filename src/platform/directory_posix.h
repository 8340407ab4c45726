// What a held directory is on POSIX: its descriptor, through which every
// file of it is reached by entry name. Only POSIX sources include it.
#pragma once

#include <string>

struct directory {
  std::string name;
  int fd = -1;
};
