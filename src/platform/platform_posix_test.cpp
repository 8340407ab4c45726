#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "platform/platform.h"

TEST(PosixQueryFileInfo, AnswersOnlyForRegularFiles) {
  temp_dir dir;
  write_file(dir, "early", "abc", 1000);
  write_file(dir, "late", "", 2000);
  write_file(dir, "sub/x", "", 1000);
  ASSERT_EQ(0, symlink("early", full_name(dir, "link").c_str()));
  ASSERT_EQ(0, mkfifo(full_name(dir, "pipe").c_str(), 0600));

  const std::optional<file_info> early =
      query_file_info(full_name(dir, "early"));
  const std::optional<file_info> late = query_file_info(full_name(dir, "late"));
  ASSERT_TRUE(early && late);
  EXPECT_EQ(3u, early->size);
  EXPECT_EQ(0u, late->size);
  EXPECT_LT(early->write_time, late->write_time);
  for (const char* name : {"link", "pipe", "sub", "gone"})
    EXPECT_FALSE(query_file_info(full_name(dir, name))) << name;
}

TEST(PosixQueryFileInfo, OrdersTimesBeyondTheNanosecondRange) {
  // Nanoseconds since 1970 overflow 64 bits after 2262 and before 1677; a
  // wrapped time made the newest file look oldest, so it was erased.
  temp_dir dir;
  const std::pair<const char*, std::time_t> files[] = {
      {"past", -11676096000}, {"present", 1577836800}, {"future", 13569465600}};
  for (const auto& [name, seconds] : files) {
    write_file(dir, name, "", 1000);
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, full_name(dir, name).c_str(), times, 0));
  }
  const std::optional<file_info> past = query_file_info(full_name(dir, "past"));
  const std::optional<file_info> present =
      query_file_info(full_name(dir, "present"));
  const std::optional<file_info> future =
      query_file_info(full_name(dir, "future"));
  ASSERT_TRUE(past && present && future);
  EXPECT_LT(past->write_time, present->write_time);
  EXPECT_LT(present->write_time, future->write_time);
}

TEST(PosixQueryFileInfo, ReadsSizesBeyondFourGibibytes) {
  temp_dir dir;
  const std::string name = full_name(dir, "sparse");
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_LE(0, fd);
  const bool sized = ftruncate(fd, 0x100000003LL) == 0;
  close(fd);
  if (!sized) GTEST_SKIP() << "no sparse files here";
  const std::optional<file_info> info = query_file_info(name);
  ASSERT_TRUE(info);
  EXPECT_EQ(0x100000003u, info->size);
}

TEST(PosixResolveDirectory, ResolvesLinksAndFoldsMissingNamesByText) {
  temp_dir dir;
  write_file(dir, "real/x", "", 1000);
  ASSERT_EQ(0, symlink("real", full_name(dir, "alias").c_str()));

  std::optional<resolved_directory> resolved =
      resolve_directory(full_name(dir, "alias") + "/");
  ASSERT_TRUE(resolved);
  EXPECT_TRUE(resolved->found);
  EXPECT_EQ(full_name(dir, "real"), resolved->name);

  resolved = resolve_directory(dir.path + "/./missing/../gone/");
  ASSERT_TRUE(resolved);
  EXPECT_FALSE(resolved->found);
  EXPECT_EQ(full_name(dir, "gone"), resolved->name);

  resolved = resolve_directory("/");
  ASSERT_TRUE(resolved);
  EXPECT_TRUE(resolved->found);
  EXPECT_EQ("/", resolved->name);
}

TEST(PosixOpenRegularFile, RefusesPipesAndLinksWithoutWaiting) {
  temp_dir dir;
  write_file(dir, "file", "abc", 1000);
  ASSERT_EQ(0, symlink("file", full_name(dir, "link").c_str()));
  ASSERT_EQ(0, mkfifo(full_name(dir, "pipe").c_str(), 0600));

  std::FILE* file = open_regular_file(full_name(dir, "file"));
  ASSERT_NE(nullptr, file);
  char bytes[4] = {};
  EXPECT_EQ(3u, std::fread(bytes, 1, sizeof bytes, file));
  EXPECT_EQ(std::string("abc"), bytes);
  std::fclose(file);
  EXPECT_EQ(nullptr, open_regular_file(full_name(dir, "pipe")));
  EXPECT_EQ(nullptr, open_regular_file(full_name(dir, "link")));
  EXPECT_EQ(nullptr, open_regular_file(full_name(dir, "gone")));
}
