#include <cstdlib>

#include "console/console.h"
#include "driver/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  try {
    return run_dupsweep(argc, argv);
  } catch (...) {
    // The failure boundary: the finished lines go out first, then the
    // notice; _Exit then drops nothing more, so nothing follows on standard
    // output. Files deleted so far stay deleted.
    salvage_output();
    write_error_bytes(termination_notice);
    std::_Exit(exit_failure);
  }
}
