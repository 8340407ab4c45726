#include "erase/erase.h"

#include <boost/filesystem.hpp>

#include "console/console.h"

namespace fs = boost::filesystem;

void erase_marked(const file_list& files) {
  bool found = false;
  for (const file_record& record : files) {
    if (!record.erase_mark) continue;
    found = true;
    // Announced and flushed first, so after a refused deletion the last line
    // written names the file that is still there.
    write_line("Erasing : " + record.name);
    // A file already gone is passed over: remove() then returns false.
    fs::remove(fs::system_complete(fs::path(record.name)));
  }
  if (!found) write_line("Nothing to erase (no duplicate found).");
}
