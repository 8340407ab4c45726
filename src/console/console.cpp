#include "console/console.h"

#include <iostream>
#include <system_error>

#include "platform/platform.h"

namespace {

// A line that cannot be written must end the run: what follows a lost line
// would be deletions with no record of them.
void check_output(bool written) {
  if (!written)
    throw std::system_error(std::make_error_code(std::errc::io_error),
                            "standard output");
}

bool to_terminal() {
  static const bool terminal = output_is_terminal();
  return terminal;
}

}  // namespace

void write_line(const std::string& text) {
  if (to_terminal()) {
    check_output(write_terminal_text(text + '\n'));
    return;
  }
  std::cout << text << '\n';
  check_output(static_cast<bool>(std::cout));
}

void write_text(const std::string& text) {
  if (to_terminal()) {
    check_output(write_terminal_text(text));
    return;
  }
  std::cout << text;
  check_output(static_cast<bool>(std::cout));
}

void flush_output() {
  std::cout.flush();
  check_output(static_cast<bool>(std::cout));
}

void salvage_output() noexcept {
  try {
    std::cout.flush();
  } catch (...) {
    // Nothing more can be done for standard output here.
  }
}
