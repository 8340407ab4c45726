#include "console/console.h"

#include <iostream>

void write_line(const std::string& text) {
  std::cout << text << '\n';
  std::cout.flush();
}

void write_text(const std::string& text) { std::cout << text; }
