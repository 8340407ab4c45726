#include "select/content.h"

#include <memory>
#include <string>

#include "console/console.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t read_buffer_size = 4194304;

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string hex_digest(const sha1_digest& digest) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : digest) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0f];
  }
  return text;
}

// Prints the file's progress line; false when the file leaves the run.
bool hash_record(file_record* record, unsigned char* buffer) {
  write_text("Calculating sha1 for " + record->name + " ...");
  std::unique_ptr<std::FILE, file_closer> file(open_regular_file(record->name));
  if (!file) {
    write_line("Error opening : " + record->name);
    return false;
  }
  if (!hash_stream(file.get(), buffer, read_buffer_size, &record->digest)) {
    write_line("Error reading : " + record->name);
    return false;
  }
  write_line(" ( " + hex_digest(record->digest) + " ) done.");
  return true;
}

}  // namespace

bool hash_stream(std::FILE* file, unsigned char* buffer,
                 std::size_t buffer_size, sha1_digest* digest) {
  sha1_context context;
  sha1_start(&context);
  for (;;) {
    const std::size_t count = std::fread(buffer, 1, buffer_size, file);
    if (count > 0)
      sha1_update(&context, buffer, static_cast<std::uint32_t>(count));
    // A short count means end of file or a read error; only the first ends
    // the digest, since a digest of a prefix would make different files equal.
    if (count < buffer_size) {
      if (std::ferror(file)) return false;
      break;
    }
  }
  sha1_finish(&context, digest->data());
  return true;
}

void content_pass(file_list* files) {
  write_line("Calculating sha1 ...");
  const std::unique_ptr<unsigned char[]> read_buffer(
      new unsigned char[read_buffer_size]);
  for (auto it = files->begin(); it != files->end();) {
    if (hash_record(&*it, read_buffer.get()))
      ++it;
    else
      it = files->erase(it);
  }
  mark_equal_digests(files);
}
