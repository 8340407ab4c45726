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

void append_escaped(std::string* shown, unsigned char byte) {
  static const char digits[] = "0123456789ABCDEF";
  *shown += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
}

// U+0080 to U+009F in UTF-8, the C1 controls, which a terminal reading
// UTF-8 may act on as it does on ESC.
bool starts_c1_control(const std::string& text, std::size_t i) {
  if (i + 1 >= text.size() || static_cast<unsigned char>(text[i]) != 0xC2)
    return false;
  const auto next = static_cast<unsigned char>(text[i + 1]);
  return next >= 0x80 && next < 0xA0;
}

// A terminal acts on control characters instead of showing them: a name
// holding a line feed would print a line of its own, one holding ESC or a
// carriage return could rewrite or blank what is shown. So they are shown
// escaped, as ls does on a terminal. The program's own texts hold none.
std::string shown_on_terminal(const std::string& text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (starts_c1_control(text, i)) {
      append_escaped(&shown, byte);
      append_escaped(&shown, static_cast<unsigned char>(text[++i]));
    } else if (byte < 0x20 || byte == 0x7F) {
      append_escaped(&shown, byte);
    } else {
      shown += text[i];
    }
  }
  return shown;
}

}  // namespace

void write_line(const std::string& text) {
  if (to_terminal()) {
    check_output(write_terminal_text(shown_on_terminal(text) + '\n'));
    return;
  }
  std::cout << text << '\n';
  check_output(static_cast<bool>(std::cout));
}

void write_text(const std::string& text) {
  if (to_terminal()) {
    check_output(write_terminal_text(shown_on_terminal(text)));
    return;
  }
  std::cout << text;
  check_output(static_cast<bool>(std::cout));
}

bool writes_show_at_once() { return to_terminal(); }

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
