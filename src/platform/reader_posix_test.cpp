#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "platform/directory.h"
#include "platform/file_state.h"
#include "platform/open_file.h"
#include "platform/reader.h"
#include "platform/reader_seams.h"

namespace {

enum class reader_kind { plain, batching };

// Both readers must give the same results; the batching one only where the
// system lets it be set up.
class BothReaders : public testing::TestWithParam<reader_kind> {
 protected:
  batch_reader_handle make(const directory& held) {
    batch_reader_handle reader = GetParam() == reader_kind::plain
                                     ? make_plain_reader(held)
                                     : make_batching_reader(held);
    if (reader) {
      EXPECT_EQ(GetParam() == reader_kind::batching, batches_calls(*reader));
    }
    return reader;
  }
};

std::vector<const char*> pointers(const std::vector<std::string>& all) {
  std::vector<const char*> result;
  for (const std::string& name : all) result.push_back(name.c_str());
  return result;
}

std::string text(const unsigned char* bytes, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(bytes), count);
}

std::size_t open_descriptors() {
  std::size_t count = 0;
  DIR* listing = opendir("/proc/self/fd");
  while (listing != nullptr && readdir(listing) != nullptr) ++count;
  if (listing != nullptr) closedir(listing);
  return count;
}

}  // namespace

TEST_P(BothReaders, OpensRegularFilesOnlyWithoutWaiting) {
  temp_dir dir;
  write_file(dir, "file", "abc", 1000);
  write_file(dir, "sub/x", "", 1000);
  ASSERT_EQ(0, symlink("file", full_name(dir, "link").c_str()));
  ASSERT_EQ(0, mkfifo(full_name(dir, "pipe").c_str(), 0600));
  const directory_handle held = open_directory(dir.path);
  ASSERT_TRUE(held);
  const batch_reader_handle reader = make(*held);
  if (!reader) GTEST_SKIP() << "io_uring cannot be set up here";
  const std::vector<std::string> names = {"pipe", "file", "link",
                                          "gone", "sub",  "file"};

  const std::vector<std::optional<opened_file>> opened =
      open_entries(reader.get(), pointers(names));

  ASSERT_EQ(6u, opened.size());
  const std::optional<file_state> listed = query_entry(*held, "file");
  ASSERT_TRUE(listed && opened[1] && opened[5]);
  EXPECT_TRUE(same_unchanged_file(*listed, opened[1]->state));
  EXPECT_EQ(3u, opened[1]->state.size);
  EXPECT_TRUE(opened[1]->state.has_identity &&
              opened[1]->state.has_change_time);
  EXPECT_NE(opened[1]->number, opened[5]->number);
  for (std::size_t i : {0, 2, 3, 4}) EXPECT_FALSE(opened[i]) << names[i];
}

TEST_P(BothReaders, ReadsSlicesSideBySideToEachEnd) {
  temp_dir dir;
  write_file(dir, "ten", "0123456789", 1000);
  write_file(dir, "empty", "", 1000);
  write_file(dir, "eight", "abcdefgh", 1000);
  const directory_handle held = open_directory(dir.path);
  ASSERT_TRUE(held);
  const std::size_t descriptors = open_descriptors();
  batch_reader_handle reader = make(*held);
  if (!reader) GTEST_SKIP() << "io_uring cannot be set up here";
  const std::vector<std::string> names = {"ten", "empty", "eight"};
  const std::vector<std::optional<opened_file>> opened =
      open_entries(reader.get(), pointers(names));
  ASSERT_TRUE(opened[0] && opened[1] && opened[2]);
  const std::size_t with_three = open_descriptors();
  unsigned char buffer[3][4] = {};
  std::vector<read_request> requests;
  for (std::size_t i = 0; i < 3; ++i)
    requests.push_back({opened[i]->number, buffer[i], 4});

  std::vector<read_result> reads = read_files(reader.get(), requests);
  ASSERT_EQ(3u, reads.size());
  EXPECT_EQ("0123", text(buffer[0], reads[0].count));
  EXPECT_FALSE(reads[0].end);
  EXPECT_EQ(0u, reads[1].count);
  EXPECT_TRUE(reads[1].end);
  EXPECT_FALSE(reads[1].failed);
  EXPECT_EQ("abcd", text(buffer[2], reads[2].count));
  EXPECT_FALSE(reads[2].end);
  close_file(reader.get(), opened[1]->number);
  requests.erase(requests.begin() + 1);

  // Closed by the next batch at the latest.
  reads = read_files(reader.get(), requests);
  EXPECT_EQ(with_three - 1, open_descriptors());
  EXPECT_EQ("4567", text(buffer[0], reads[0].count));
  EXPECT_EQ("efgh", text(buffer[2], reads[1].count));
  EXPECT_FALSE(reads[0].end || reads[1].end);
  reads = read_files(reader.get(), requests);
  EXPECT_EQ("89", text(buffer[0], reads[0].count));
  EXPECT_TRUE(reads[0].end);
  EXPECT_EQ(0u, reads[1].count);
  EXPECT_TRUE(reads[1].end);
  EXPECT_FALSE(reads[0].failed || reads[1].failed);

  // A number given again after a close reads its new file.
  close_file(reader.get(), opened[0]->number);
  const std::vector<std::string> again = {"eight"};
  const std::optional<opened_file> reopened =
      open_entries(reader.get(), pointers(again)).front();
  ASSERT_TRUE(reopened);
  reads = read_files(reader.get(), {{reopened->number, buffer[0], 4}});
  EXPECT_EQ("abcd", text(buffer[0], reads[0].count));
  reader.reset();
  EXPECT_EQ(descriptors, open_descriptors());
}

TEST_P(BothReaders, ReportsAFailedRead) {
  // Reading a process's memory at address 0, which is never mapped, fails
  // with EIO: a regular file whose read fails, without a failing disk.
  const directory_handle held =
      open_directory("/proc/" + std::to_string(getpid()));
  ASSERT_TRUE(held);
  const batch_reader_handle reader = make(*held);
  if (!reader) GTEST_SKIP() << "io_uring cannot be set up here";
  const std::vector<std::string> names = {"mem"};
  const std::optional<opened_file> opened =
      open_entries(reader.get(), pointers(names)).front();
  ASSERT_TRUE(opened);
  unsigned char buffer[16];

  const std::vector<read_result> reads =
      read_files(reader.get(), {{opened->number, buffer, sizeof buffer}});

  EXPECT_EQ(0u, reads[0].count);
  EXPECT_TRUE(reads[0].end);
  EXPECT_TRUE(reads[0].failed);
}

TEST_P(BothReaders, ReadsAFileThatGrewSinceItWasOpenedToItsNewEnd) {
  // Its first read stops short at the size it had when opened; the bytes
  // written since are still the file's.
  temp_dir dir;
  write_file(dir, "grown", "0123456789", 1000);
  const directory_handle held = open_directory(dir.path);
  ASSERT_TRUE(held);
  const batch_reader_handle reader = make(*held);
  if (!reader) GTEST_SKIP() << "io_uring cannot be set up here";
  const std::optional<opened_file> opened =
      open_entries(reader.get(), {"grown"}).front();
  ASSERT_TRUE(opened);
  const std::string added(10000, 'g');
  std::FILE* appending = std::fopen(full_name(dir, "grown").c_str(), "ab");
  ASSERT_TRUE(appending != nullptr);
  std::fputs(added.c_str(), appending);
  std::fclose(appending);
  std::vector<unsigned char> buffer(8192);
  std::string read;

  for (bool ended = false; !ended;) {
    const read_result got =
        read_files(reader.get(), {{opened->number, buffer.data(), 8192}})[0];
    ASSERT_FALSE(got.failed);
    ASSERT_TRUE(got.end || got.count == 8192) << got.count;
    read += text(buffer.data(), got.count);
    ended = got.end;
  }

  EXPECT_TRUE("0123456789" + added == read) << read.size();
}

TEST_P(BothReaders, ReadsOnPastAShortReadAtTheReportedSize) {
  // The file reports 4096 bytes and its reads give 4096 at a time: the first
  // read is short and ends at the reported size, but the file goes on.
  temp_dir dir;
  std::string contents;
  for (int i = 0; contents.size() < 3 * 4096 + 5; ++i)
    contents += std::to_string(i) + ",";
  write_file(dir, "long", contents, 1000);
  const lying_mount mounted(dir, 4096, 4096);
  if (!mounted.skipped.empty()) GTEST_SKIP() << mounted.skipped;
  const directory_handle held = open_directory(dir.path);
  ASSERT_TRUE(held);
  const batch_reader_handle reader = make(*held);
  if (!reader) GTEST_SKIP() << "io_uring cannot be set up here";
  const std::optional<opened_file> opened =
      open_entries(reader.get(), {"long"}).front();
  ASSERT_TRUE(opened);
  ASSERT_EQ(4096u, opened->state.size);
  std::vector<unsigned char> buffer(65536);

  const std::vector<read_result> reads =
      read_files(reader.get(), {{opened->number, buffer.data(), 65536}});

  EXPECT_EQ(contents.size(), reads[0].count);
  EXPECT_TRUE(contents == text(buffer.data(), reads[0].count));
  EXPECT_TRUE(reads[0].end);
  EXPECT_FALSE(reads[0].failed);
}

INSTANTIATE_TEST_SUITE_P(Reader, BothReaders,
                         testing::Values(reader_kind::plain,
                                         reader_kind::batching),
                         [](const testing::TestParamInfo<reader_kind>& kind) {
                           return kind.param == reader_kind::plain ? "Plain"
                                                                   : "Batching";
                         });
