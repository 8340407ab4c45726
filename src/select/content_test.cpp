#include "select/content.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e_support.h"

namespace {

std::string hex(const sha1_digest& digest) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : digest) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0f];
  }
  return text;
}

}  // namespace

TEST(HashStream, GivesOneDigestWhateverTheBufferSize) {
  temp_dir dir;
  write_file(dir, "abc",
             "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1000);
  for (std::size_t buffer_size : {1u, 7u, 56u, 64u, 100u}) {
    std::FILE* file = std::fopen(full_name(dir, "abc").c_str(), "rb");
    ASSERT_NE(nullptr, file);
    unsigned char buffer[100];
    sha1_digest digest{};
    EXPECT_TRUE(hash_stream(file, buffer, buffer_size, &digest));
    std::fclose(file);
    EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1", hex(digest))
        << buffer_size;
  }
}

TEST(HashStream, FailsOnAReadErrorInsteadOfHashingWhatWasRead) {
  temp_dir dir;
  // Reading a directory stream fails (EISDIR) after a successful open: a real
  // read error, which must not pass for the end of an empty file.
  std::FILE* file = std::fopen(dir.path.c_str(), "rb");
  if (file == nullptr) GTEST_SKIP() << "directories cannot be opened here";
  unsigned char buffer[64];
  sha1_digest digest{};
  EXPECT_FALSE(hash_stream(file, buffer, sizeof buffer, &digest));
  std::fclose(file);
}
