#include <windows.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <string>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "platform/deletion.h"
#include "platform/directory.h"
#include "platform/file_state.h"
#include "platform/open_file.h"
#include "platform/platform.h"

namespace fs = boost::filesystem;

namespace {

// A fresh directory under the Windows temporary folder, removed at the end.
struct scratch_dir {
  scratch_dir()
      : path(fs::temp_directory_path() / fs::unique_path("dupsweep-%%%%%%")) {
    fs::create_directory(path);
  }
  ~scratch_dir() { fs::remove_all(path); }

  std::string name() const { return path.string(); }
  std::string file(const std::string& entry, const std::string& contents,
                   std::time_t write_time) const {
    const fs::path file_path = path / entry;
    std::ofstream(file_path.string(), std::ios::binary) << contents;
    fs::last_write_time(file_path, write_time);
    return file_path.string();
  }

  fs::path path;
};

// Sets the process's current directory for one test.
struct current_directory {
  explicit current_directory(const fs::path& dir) : saved(fs::current_path()) {
    fs::current_path(dir);
  }
  ~current_directory() { fs::current_path(saved); }
  fs::path saved;
};

std::string with_slashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

TEST(Win32Directory, GivesStatesOfRegularFilesOnly) {
  scratch_dir dir;
  dir.file("older.txt", "12345", 1000000000);
  dir.file("newer.txt", "", 1000000001);
  fs::create_directory(dir.path / "sub");
  const directory_handle held = open_directory(dir.name());
  ASSERT_TRUE(held);

  const std::optional<file_state> older = query_entry(*held, "older.txt");
  const std::optional<file_state> newer = query_entry(*held, "newer.txt");
  ASSERT_TRUE(older && newer);
  EXPECT_EQ(5u, older->size);
  EXPECT_EQ(0u, newer->size);
  EXPECT_LT(older->write_time, newer->write_time);
  EXPECT_FALSE(query_entry(*held, "sub"));
  EXPECT_FALSE(query_entry(*held, "missing.txt"));
  // Names the ANSI services would shorten to "older.txt" are not its names.
  EXPECT_FALSE(query_entry(*held, "older.txt."));
  EXPECT_FALSE(query_entry(*held, "older.txt "));
  EXPECT_FALSE(open_entry(*held, "older.txt."));
  EXPECT_FALSE(inspect_entry(*held, "sub"));

  // The full state tells files apart by identity, whatever their name.
  const std::optional<file_state> full = inspect_entry(*held, "older.txt");
  ASSERT_TRUE(full && full->has_identity && full->has_change_time);
  EXPECT_TRUE(same_unchanged_file(*older, *full));
  EXPECT_FALSE(full->identity == inspect_entry(*held, "newer.txt")->identity);
}

TEST(Win32Directory, HoldsTheDirectoryAndDeletesThroughTheClaimedHandle) {
  scratch_dir dir;
  dir.file("a.txt", "abc", 1000000000);
  const directory_handle held = open_directory(dir.name());
  ASSERT_TRUE(held);
  // Held without sharing deletion: the directory keeps its name.
  EXPECT_FALSE(MoveFileA(dir.name().c_str(), (dir.name() + "x").c_str()));

  // A file claimed for deleting or for keeping: no other program may write,
  // rename or delete it while it is claimed, but the program may read it.
  dir.file("kept.txt", "abc", 1000000000);
  claimed_handle file;
  claimed_handle kept;
  ASSERT_EQ(claim_result::claimed,
            claim_entry(*held, "a.txt", claim_purpose::deleting, &file));
  ASSERT_EQ(claim_result::claimed,
            claim_entry(*held, "kept.txt", claim_purpose::keeping, &kept));
  for (const char* name : {"a.txt", "kept.txt"}) {
    const std::string path = dir.name() + "\\" + name;
    EXPECT_EQ(
        INVALID_HANDLE_VALUE,
        CreateFileA(path.c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr))
        << name;
    EXPECT_FALSE(MoveFileA(path.c_str(), (path + "x").c_str())) << name;
    EXPECT_TRUE(open_entry(*held, name)) << name;
  }
  delete_claimed(file.get());
  file.reset();
  EXPECT_FALSE(fs::exists(dir.path / "a.txt"));
  EXPECT_EQ(claim_result::gone,
            claim_entry(*held, "a.txt", claim_purpose::deleting, &file));
}

TEST(Win32ResolveDirectory, DropsTheFinalSeparatorAndWritesBackslashes) {
  scratch_dir dir;
  const std::string name = dir.name();

  for (const std::string& text :
       {name + "\\", name, with_slashes(name) + "/", with_slashes(name)}) {
    const std::optional<resolved_directory> resolved = resolve_directory(text);
    ASSERT_TRUE(resolved) << text;
    EXPECT_EQ(name, resolved->name) << text;
    EXPECT_TRUE(resolved->found) << text;
  }
}

TEST(Win32ResolveDirectory, FoldsDotComponentsWithoutAskingTheFileSystem) {
  scratch_dir dir;
  const std::string name = dir.name();

  EXPECT_EQ(name, resolve_directory(name + "\\.\\missing\\..\\")->name);
  EXPECT_TRUE(resolve_directory(name + "\\.\\missing\\..\\")->found);
  EXPECT_EQ(name, resolve_directory(name + "\\sub\\..")->name);
}

TEST(Win32ResolveDirectory, CompletesRelativeTextsAgainstTheCurrentDirectory) {
  scratch_dir dir;
  fs::create_directory(dir.path / "sub");
  current_directory inside(dir.path);

  EXPECT_EQ(dir.name(), resolve_directory(".\\")->name);
  EXPECT_EQ(dir.name() + "\\sub", resolve_directory("sub\\")->name);
  EXPECT_TRUE(resolve_directory("sub\\")->found);
  EXPECT_EQ(dir.path.parent_path().string(), resolve_directory("..\\")->name);
}

TEST(Win32ResolveDirectory, KeepsTheBackslashOfADriveRoot) {
  const std::string drive = fs::temp_directory_path().string().substr(0, 2);

  EXPECT_EQ(drive + "\\", resolve_directory(drive + "\\")->name);
  EXPECT_TRUE(resolve_directory(drive + "\\")->found);
  EXPECT_EQ(drive + "\\", resolve_directory(drive + "\\x\\..\\..\\")->name);
  EXPECT_EQ(drive + "\\", resolve_directory(drive + "/")->name);
}

TEST(Win32ResolveDirectory, ResolvesAMissingNameButDoesNotFindIt) {
  scratch_dir dir;

  const std::optional<resolved_directory> resolved =
      resolve_directory(dir.name() + "\\missing\\");

  ASSERT_TRUE(resolved);
  EXPECT_EQ(dir.name() + "\\missing", resolved->name);
  EXPECT_FALSE(resolved->found);
}

TEST(Win32ResolveDirectory, RefusesMalformedTextsAndDeviceNames) {
  scratch_dir dir;
  const std::string name = dir.name();

  EXPECT_FALSE(resolve_directory(name + "/\\"));
  EXPECT_FALSE(resolve_directory(name + "\\\\"));
  EXPECT_FALSE(resolve_directory(name + "\\old.\\"));
  EXPECT_FALSE(resolve_directory(name + "\\old \\"));
  EXPECT_FALSE(resolve_directory(name + "\\a:b\\"));
  EXPECT_FALSE(resolve_directory("\\\\.\\pipe\\"));
  // The full-path service turns a device name anywhere into "\\.\nul".
  EXPECT_FALSE(resolve_directory(name + "\\nul\\"));
}

}  // namespace
