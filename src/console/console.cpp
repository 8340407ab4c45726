#include "console/console.h"

#include <iostream>
#include <system_error>

namespace {

// A line that cannot be written must end the run: what follows a lost line
// would be deletions with no record of them.
void check_output() {
  if (!std::cout)
    throw std::system_error(std::make_error_code(std::errc::io_error),
                            "standard output");
}

}  // namespace

void write_line(const std::string& text) {
  std::cout << text << '\n';
  std::cout.flush();
  check_output();
}

void write_text(const std::string& text) {
  std::cout << text;
  check_output();
}
