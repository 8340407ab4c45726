#include "console/console.h"

#include <iostream>
#include <system_error>

#include "platform/platform.h"

namespace {

// A line that cannot be written must end the run: what follows a lost line
// would be deletions with no record of them.
void check_output() {
  if (!std::cout)
    throw std::system_error(std::make_error_code(std::errc::io_error),
                            "standard output");
}

bool flush_each_line() {
  static const bool terminal = output_is_terminal();
  return terminal;
}

}  // namespace

void write_line(const std::string& text) {
  std::cout << text << '\n';
  if (flush_each_line()) std::cout.flush();
  check_output();
}

void write_text(const std::string& text) {
  std::cout << text;
  check_output();
}

void flush_output() {
  std::cout.flush();
  check_output();
}

void salvage_output() noexcept {
  try {
    std::cout.flush();
  } catch (...) {
    // Nothing more can be done for standard output here.
  }
}
