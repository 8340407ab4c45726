#include "e2e_support.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <sstream>
#include <system_error>

#include <boost/filesystem.hpp>

namespace fs = boost::filesystem;

const char termination_notice[] =
    "\r\nThis application has requested the Runtime to terminate it in an "
    "unusual way.\nPlease contact the application's support team for more "
    "information.\r\n";

temp_dir::temp_dir() {
  const fs::path made = fs::temp_directory_path() /
                        fs::unique_path("dupsweep-test-%%%%-%%%%-%%%%");
  // A folder of that name already there would not be the test's own.
  require(fs::create_directory(made), "creating " + made.string());
  root = fs::canonical(made).make_preferred().string();
  path = (fs::path(root) / "d").string();
  fs::create_directory(path);
}

namespace {

// A test may end early in a folder it took its owner's rights from; the
// owner may always give them back, and needs them to remove what is inside.
void give_back_rights(const fs::path& dir) {
  boost::system::error_code ignored;
  fs::permissions(dir, fs::add_perms | fs::owner_all, ignored);
  for (fs::directory_iterator it(dir, ignored), end; it != end;
       it.increment(ignored)) {
    if (fs::is_directory(it->symlink_status())) give_back_rights(it->path());
  }
}

}  // namespace

temp_dir::~temp_dir() {
  give_back_rights(root);
  boost::system::error_code ignored;
  fs::remove_all(root, ignored);
}

void require(bool ok, const std::string& what) {
  if (!ok) throw std::system_error(errno, std::generic_category(), what);
}

std::string program_path() { return DUPSWEEP_PROGRAM; }

std::string test_data(const std::string& name) {
  return read_file(std::string(DUPSWEEP_TEST_DATA) + "/" + name);
}

void write_file(const temp_dir& dir, const std::string& name,
                const std::string& contents, std::int64_t write_time) {
  const fs::path file = fs::path(dir.path) / name;
  fs::create_directories(file.parent_path());
  std::ofstream out(file.string(), std::ios::binary);
  out << contents;
  out.close();
  require(!out.fail(), "writing " + file.string());
  fs::last_write_time(file, static_cast<std::time_t>(write_time));
}

std::string full_name(const temp_dir& dir, const std::string& name) {
  return (fs::path(dir.path) / name).make_preferred().string();
}

std::vector<std::string> sorted_file_names(const temp_dir& dir) {
  std::vector<std::string> names;
  for (fs::directory_iterator it(dir.path), end; it != end; ++it)
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> in_listing_order(
    const temp_dir& dir, const std::vector<std::string>& names) {
  std::vector<std::string> ordered;
  for (fs::directory_iterator it(dir.path), end; it != end; ++it) {
    const std::string name = it->path().filename().string();
    if (std::find(names.begin(), names.end(), name) != names.end())
      ordered.push_back(name);
  }
  return ordered;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

std::string working_in(const temp_dir& dir, const std::string& rest) {
  return "\nWorking in directory: " +
         fs::path(dir.path).make_preferred().string() + "\n\n" + rest;
}

const char hello_digest[] = "aaf4c61ddcc5e8a2dabede0f3b482cd9aea9434d";
const char world_digest[] = "7c211433f02071597741e6ff5a8ea34789abbf43";
const char empty_digest[] = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

std::string done_with(const std::string& digest) {
  return " ( " + digest + " ) done.";
}

std::string digest_line(const temp_dir& dir, const std::string& name,
                        const std::string& ending) {
  return "Calculating sha1 for " + full_name(dir, name) + " ..." + ending +
         "\n";
}

std::string digest_lines(const temp_dir& dir,
                         const std::map<std::string, std::string>& digests) {
  std::vector<std::string> names;
  for (const auto& entry : digests) names.push_back(entry.first);
  std::string lines = "Calculating sha1 ...\n";
  for (const std::string& name : in_listing_order(dir, names))
    lines += digest_line(dir, name, done_with(digests.at(name)));
  return lines;
}

std::string erasing(const temp_dir& dir, const std::string& name) {
  return "Erasing : " + full_name(dir, name) + "\n";
}

std::string kept(const temp_dir& dir, const std::string& name,
                 const std::string& why) {
  return erasing(dir, name) + "Kept : " + full_name(dir, name) + " (" + why +
         ")\n";
}

std::string erasing_lines(const temp_dir& dir,
                          const std::vector<std::string>& names) {
  std::string lines;
  for (const std::string& name : in_listing_order(dir, names))
    lines += erasing(dir, name);
  return lines;
}

std::size_t lines_starting(const std::string& out, const std::string& start) {
  std::size_t lines = 0;
  for (std::size_t at = out.find("\n" + start); at != std::string::npos;
       at = out.find("\n" + start, at + 1))
    ++lines;
  return lines;
}
