#include <cstdlib>

#include "driver/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  try {
    return run_dupsweep(argc, argv);
  } catch (...) {
    // The failure boundary: every finished line is already flushed, and
    // _Exit drops whatever else is buffered, so nothing follows on standard
    // output. Files deleted so far stay deleted.
    write_error_bytes(termination_notice);
    std::_Exit(exit_failure);
  }
}
