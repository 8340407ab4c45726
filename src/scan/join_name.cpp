// Apart from the scan, which needs the file system, so that the rule is
// checked on its own by the tests and the fuzzer.
#include "scan/scan.h"

std::string join_name(const std::string& directory, const std::string& entry,
                      char separator) {
  if (!directory.empty() && directory.back() == separator)
    return directory + entry;
  return directory + separator + entry;
}
