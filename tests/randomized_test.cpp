// Runs the program on seeded random directories and checks every run against
// an oracle computed apart from the program: sizes and times from lstat,
// digests from the system's sha1sum. The pools are small on purpose, so that
// equal sizes with different contents, exact copies and equal times are
// common, and names collide in their leading bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace fs = boost::filesystem;

namespace {

std::string patterned(std::size_t size, std::size_t changed_at) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(i * 7 % 251);
  bytes[changed_at] ^= 1;
  return bytes;
}

// Pairs of equal size with different contents, and three contents larger
// than the program's whole 4 MiB read buffer (each file reads through a
// slice of it, 256 KiB with sixteen lanes) that differ in their first or
// last read only.
const std::vector<std::string>& content_pool() {
  static const std::vector<std::string> pool = {"",
                                                "a",
                                                "b",
                                                "hello",
                                                "world",
                                                std::string("\0\xff", 2),
                                                std::string("\xff\0", 2),
                                                patterned(4194307, 0),
                                                patterned(4194307, 1),
                                                patterned(4194307, 4194306)};
  return pool;
}

// Hex digest of every content in the pool, computed by sha1sum in one call.
const std::map<std::string, std::string>& pool_digests() {
  static const std::map<std::string, std::string> digests = [] {
    temp_dir scratch;
    std::string command = "sha1sum";
    for (std::size_t i = 0; i < content_pool().size(); ++i) {
      const std::string name = scratch.path + "/" + std::to_string(i);
      std::ofstream out(name, std::ios::binary);
      out << content_pool()[i];
      out.close();
      require(!out.fail(), "writing " + name);
      command += " '" + name + "'";
    }
    std::map<std::string, std::string> by_content;
    std::FILE* pipe = popen(command.c_str(), "r");
    require(pipe != nullptr, "starting sha1sum");
    char line[4096];
    for (const std::string& contents : content_pool())
      if (std::fgets(line, sizeof line, pipe) != nullptr)
        by_content[contents] = std::string(line, 40);
    require(pclose(pipe) == 0 && by_content.size() == content_pool().size(),
            "computing digests with sha1sum");
    return by_content;
  }();
  return digests;
}

// A time beyond 2262 and one before 1970 besides the ordinary ones; the
// nanoseconds make times that differ only below the second.
timespec random_time(std::mt19937_64* random) {
  static const std::int64_t seconds[] = {-1000, 1000, 2000, 13569465600};
  static const long nanoseconds[] = {0, 1, 999999999};
  return timespec{seconds[(*random)() % 4], nanoseconds[(*random)() % 3]};
}

// Short names from a small alphabet: blanks, a backslash, a line feed and
// bytes above 0x7F, so that ties on time are broken by unsigned byte order.
std::string random_name(std::mt19937_64* random, std::set<std::string>* used) {
  static const char alphabet[] = "abz .\\\n\x80\xe9\xff";
  for (;;) {
    std::string name(1 + (*random)() % 4, ' ');
    for (char& c : name) c = alphabet[(*random)() % (sizeof alphabet - 1)];
    if (name != "." && name != ".." && used->insert(name).second) return name;
  }
}

void write_with_time(const std::string& path, const std::string& contents,
                     const timespec& time) {
  std::ofstream out(path, std::ios::binary);
  out << contents;
  out.close();
  require(!out.fail(), "writing " + path);
  const timespec times[2] = {time, time};
  require(utimensat(AT_FDCWD, path.c_str(), times, 0) == 0,
          "setting the time of " + path);
}

const std::string& random_contents(std::mt19937_64* random) {
  const std::vector<std::string>& pool = content_pool();
  // The large contents cost time to write and hash; one file in a hundred.
  if ((*random)() % 100 == 0) return pool[7 + (*random)() % 3];
  return pool[(*random)() % 7];
}

// Fills the scanned directory with plain files, hard links, links and
// subdirectories, and the directory beside it with files of the same names
// and contents. Returns the names of the plain files.
std::vector<std::string> populate(const temp_dir& dir,
                                  std::mt19937_64* random) {
  std::set<std::string> used;
  std::vector<std::string> files;
  const std::string sibling = dir.root + "/sibling";
  fs::create_directory(sibling);
  const int file_count = static_cast<int>((*random)() % 15);
  for (int i = 0; i < file_count; ++i) {
    files.push_back(random_name(random, &used));
    const std::string& contents = random_contents(random);
    write_with_time(dir.path + "/" + files.back(), contents,
                    random_time(random));
    if ((*random)() % 4 == 0)
      write_with_time(sibling + "/" + files.back(), contents,
                      random_time(random));
  }
  if (!files.empty() && (*random)() % 4 == 0) {
    files.push_back(random_name(random, &used));
    require(link((dir.path + "/" + files[0]).c_str(),
                 (dir.path + "/" + files.back()).c_str()) == 0,
            "linking " + files.back());
  }
  for (int i = static_cast<int>((*random)() % 3); i > 0; --i) {
    const std::string target = files.empty() || (*random)() % 2 == 0
                                   ? "../sibling/missing"
                                   : files[(*random)() % files.size()];
    const std::string name = random_name(random, &used);
    require(symlink(target.c_str(), (dir.path + "/" + name).c_str()) == 0,
            "making the link " + name);
  }
  for (int i = static_cast<int>((*random)() % 3); i > 0; --i) {
    const std::string sub = dir.path + "/" + random_name(random, &used);
    fs::create_directory(sub);
    write_with_time(sub + "/copy", random_contents(random),
                    random_time(random));
  }
  return files;
}

// Every entry under the test's root with its kind, contents or link target,
// and the last-write time of every entry but a directory.
std::map<std::string, std::string> snapshot(const temp_dir& dir) {
  std::map<std::string, std::string> entries;
  for (fs::recursive_directory_iterator it(dir.root), end; it != end; ++it) {
    const std::string path = it->path().string();
    struct stat st;
    lstat(path.c_str(), &st);
    std::string state = std::to_string(st.st_mode) + " ";
    // A directory's own time changes with every deletion inside it.
    if (!S_ISDIR(st.st_mode))
      state += std::to_string(st.st_mtim.tv_sec) + "." +
               std::to_string(st.st_mtim.tv_nsec) + " ";
    if (S_ISREG(st.st_mode))
      state += std::to_string(std::hash<std::string>()(read_file(path)));
    if (S_ISLNK(st.st_mode)) state += fs::read_symlink(it->path()).string();
    entries[path.substr(dir.root.size())] = state;
  }
  return entries;
}

std::pair<std::int64_t, long> comparable_time(const timespec& time) {
  return {time.tv_sec, time.tv_nsec};
}

struct oracle_record {
  std::string name;
  ino_t file = 0;  // Hard links share it.
  off_t size = 0;
  std::pair<std::pair<std::int64_t, long>, std::string> age;  // time, name
  std::string digest;
};

std::vector<oracle_record> oracle_records(
    const temp_dir& dir, const std::vector<std::string>& files) {
  std::vector<oracle_record> records;
  for (const std::string& name : in_listing_order(dir, files)) {
    const std::string path = full_name(dir, name);
    struct stat st;
    lstat(path.c_str(), &st);
    records.push_back(oracle_record{name,
                                    st.st_ino,
                                    st.st_size,
                                    {comparable_time(st.st_mtim), name},
                                    pool_digests().at(read_file(path))});
  }
  return records;
}

struct prediction {
  std::string out;
  std::set<std::string> erased;
};

// Of every group of equal keys among the files that share their size with
// another, all but the newest (ties: the name that sorts last) are erased,
// but for another name of the newest file itself.
prediction predict(const temp_dir& dir, const std::vector<std::string>& files,
                   bool content_mode) {
  std::vector<oracle_record> records = oracle_records(dir, files);
  std::map<off_t, int> size_count;
  for (const oracle_record& record : records) ++size_count[record.size];
  records.erase(std::remove_if(records.begin(), records.end(),
                               [&](const oracle_record& record) {
                                 return size_count[record.size] < 2;
                               }),
                records.end());
  std::map<std::string, const oracle_record*> newest;
  prediction predicted;
  if (content_mode) predicted.out += "Calculating sha1 ...\n";
  for (const oracle_record& record : records) {
    if (content_mode)
      predicted.out += digest_line(dir, record.name, done_with(record.digest));
    const std::string key =
        content_mode ? record.digest : std::to_string(record.size);
    const oracle_record*& slot = newest[key];
    if (slot == nullptr || slot->age < record.age) slot = &record;
  }
  bool marked = false;
  for (const oracle_record& record : records) {
    const std::string key =
        content_mode ? record.digest : std::to_string(record.size);
    const oracle_record* keeper = newest[key];
    if (keeper == &record) continue;
    marked = true;
    if (keeper->file == record.file) {
      predicted.out +=
          kept(dir, record.name,
               "it is the same file as " + full_name(dir, keeper->name));
      continue;
    }
    predicted.erased.insert(record.name);
    predicted.out += erasing(dir, record.name);
  }
  if (!marked) predicted.out += "Nothing to erase (no duplicate found).\n";
  return predicted;
}

// The directory as an absolute name, with a final separator, or relative to
// the working directory: every form names the same directory in the report.
std::string random_directory_text(const temp_dir& dir, std::mt19937_64* random,
                                  run_options* options) {
  switch ((*random)() % 4) {
    case 0:
      return dir.path;
    case 1:
      return dir.path + "/";
    case 2:
      options->working_directory = dir.root;
      return "d";
    default:
      options->working_directory = dir.path;
      return "../d/.";
  }
}

void check_random_run(std::uint64_t seed, bool content_mode) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  temp_dir dir;
  const std::vector<std::string> files = populate(dir, &random);
  const prediction predicted = predict(dir, files, content_mode);
  std::map<std::string, std::string> expected_after = snapshot(dir);
  for (const std::string& name : predicted.erased)
    expected_after.erase("/d/" + name);
  run_options options;
  std::vector<std::string> arguments;
  if (!content_mode) arguments.push_back("--nosha1");
  arguments.push_back(random_directory_text(dir, &random, &options));

  const run_result run = run_program(arguments, options);

  EXPECT_EQ(working_in(dir, predicted.out), run.out);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(expected_after, snapshot(dir));
}

constexpr int cases_per_mode = 150;

}  // namespace

TEST(RandomizedRun, ContentModeMatchesTheOracle) {
  ASSERT_EQ(content_pool().size(), pool_digests().size())
      << "sha1sum did not answer";
  for (int seed = 1; seed <= cases_per_mode && !HasFailure(); ++seed)
    check_random_run(seed, true);
}

TEST(RandomizedRun, SizeOnlyModeMatchesTheOracle) {
  ASSERT_EQ(content_pool().size(), pool_digests().size())
      << "sha1sum did not answer";
  for (int seed = 1001; seed <= 1000 + cases_per_mode && !HasFailure(); ++seed)
    check_random_run(seed, false);
}
