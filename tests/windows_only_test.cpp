// Cases that only the Windows program has: drive roots, both separators, the
// name rules of Windows, long names, sizes past 32 bits, and the read-only
// attribute.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace fs = boost::filesystem;

namespace {

// Wine's own mount manager request (ddk/mountmgr.h in Wine's sources): maps
// a drive letter to a host folder, or unmaps it with type DRIVE_NO_ROOT_DIR.
struct wine_unix_drive {
  ULONG size = 0;
  ULONG type = 0;
  ULONG fs_type = 0;
  DWORD serial = 0;
  ULONGLONG unix_dev = 0;
  WCHAR letter = 0;
  USHORT mount_point_offset = 0;
  USHORT device_offset = 0;
  USHORT label_offset = 0;
};

bool wine_map_drive(char letter, const std::string& host_folder) {
  wine_unix_drive drive;
  std::vector<char> request(sizeof drive + host_folder.size() + 1);
  drive.size = static_cast<ULONG>(request.size());
  drive.type = host_folder.empty() ? DRIVE_NO_ROOT_DIR : DRIVE_FIXED;
  drive.letter = static_cast<WCHAR>(letter);
  if (!host_folder.empty()) drive.mount_point_offset = sizeof drive;
  std::memcpy(request.data(), &drive, sizeof drive);
  std::memcpy(request.data() + sizeof drive, host_folder.c_str(),
              host_folder.size() + 1);
  const HANDLE manager = CreateFileW(
      L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (manager == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const bool done =
      DeviceIoControl(manager,
                      CTL_CODE(0x6d, 32, METHOD_BUFFERED,
                               FILE_READ_ACCESS | FILE_WRITE_ACCESS),
                      request.data(), static_cast<DWORD>(request.size()),
                      nullptr, 0, &returned, nullptr) != 0;
  CloseHandle(manager);
  return done;
}

// The host's name of `path` under Wine; empty on Windows itself.
std::optional<std::string> wine_host_path(const std::string& path) {
  using unix_name = char*(CDECL*)(const WCHAR*);
  const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                       "wine_get_unix_file_name");
  if (found == nullptr) return std::nullopt;
  const std::wstring wide = fs::path(path).wstring();
  char* name =
      reinterpret_cast<unix_name>(reinterpret_cast<void*>(found))(wide.c_str());
  if (name == nullptr) return std::nullopt;
  const std::string host = name;
  HeapFree(GetProcessHeap(), 0, name);
  return host;
}

// Drive Y: mapped to a temporary folder for one test and unmapped at its
// end, so that a test needing a drive root of its own never touches a real
// drive. Where the letter is already in use the drive is left alone and the
// fixture is not usable.
struct drive_y {
  drive_y() {
    if (GetLogicalDrives() & (1u << ('Y' - 'A'))) return;
    dos_device = DefineDosDeviceA(0, "Y:", folder.path.c_str()) != 0;
    usable = dos_device && shows_folder();
    if (usable) return;
    undo();
    // Wine's file services do not follow a mapping made that way; its mount
    // manager maps the folder's host name instead, as winecfg does.
    const std::optional<std::string> host = wine_host_path(folder.path);
    wine_drive = host && wine_map_drive('y', *host);
    usable = wine_drive && shows_folder();
  }
  ~drive_y() { undo(); }
  drive_y(const drive_y&) = delete;
  drive_y& operator=(const drive_y&) = delete;

  void write(const std::string& name, const std::string& contents,
             std::time_t write_time) const {
    const std::string path = "Y:\\" + name;
    std::ofstream(path, std::ios::binary) << contents;
    fs::last_write_time(path, write_time);
  }

  // A file made in the folder shows on the drive, alone there.
  bool shows_folder() const {
    const std::string marker = folder.path + "\\marker";
    std::ofstream(marker, std::ios::binary) << "y";
    boost::system::error_code error;
    const bool shown = fs::exists("Y:\\marker", error) &&
                       std::distance(fs::directory_iterator("Y:\\", error),
                                     fs::directory_iterator()) == 1;
    fs::remove(marker, error);
    return shown && !error;
  }

  void undo() {
    if (dos_device)
      DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE,
                       "Y:", folder.path.c_str());
    if (wine_drive) wine_map_drive('y', "");
    dos_device = wine_drive = false;
  }

  temp_dir folder;
  bool dos_device = false;
  bool wine_drive = false;
  bool usable = false;
};

std::string with_slashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

}  // namespace

TEST(WindowsRun, ListsADriveRootWithASingleBackslash) {
  drive_y drive;
  if (!drive.usable) GTEST_SKIP() << "drive Y: is in use or cannot be mapped";
  fs::create_directory("Y:\\sub");

  for (const char* text : {"Y:", "Y:\\", "Y:/sub/..\\"}) {
    drive.write("old.txt", "abc", 1000);
    drive.write("new.txt", "xyz", 2000);

    const run_result run = run_program({"--nosha1", text});

    EXPECT_EQ(
        "\nWorking in directory: Y:\\\n\n"
        "Erasing : Y:\\old.txt\n",
        run.out)
        << text;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(0, run.exit_code);
    EXPECT_FALSE(fs::exists("Y:\\old.txt"));
    EXPECT_TRUE(fs::exists("Y:\\new.txt"));
  }
}

TEST(WindowsRun, PrintsTheResolvedNameWithBackslashesOnly) {
  temp_dir dir;
  write_file(dir, "one", "a", 1000);
  const std::string nothing = "Nothing to erase (no duplicate found).\n";

  for (const std::string& text :
       {dir.path, dir.path + "\\", with_slashes(dir.path),
        with_slashes(dir.path) + "/.\\", dir.path + "\\sub\\..",
        dir.root + "\\x\\..\\.\\d\\"}) {
    const run_result run = run_program({"--nosha1", text});
    EXPECT_EQ(working_in(dir, nothing), run.out) << text;
    EXPECT_EQ(0, run.exit_code) << text;
  }
  run_options in_root;
  in_root.working_directory = dir.root;
  EXPECT_EQ(working_in(dir, nothing),
            run_program({"--nosha1", "d"}, in_root).out);
  EXPECT_EQ(working_in(dir, nothing),
            run_program({"--nosha1", ".\\d\\..\\d"}, in_root).out);
}

TEST(WindowsRun, RefusesDirectoryTextsThatBreakTheNameRules) {
  // Were the rules not applied, the full-path service would strip the dot or
  // blank and the run would erase in "old". Such a text names no directory,
  // and is reported as it was given: a directory that was not read must not
  // pass for one without duplicates.
  temp_dir dir;
  write_file(dir, "old/x", "abc", 1000);
  write_file(dir, "old/y", "xyz", 2000);
  const std::string old = full_name(dir, "old");

  // The last is what cmd passes for "...\old\": the backslash escapes the
  // closing quote.
  for (const std::string& text :
       {old + ".\\", old + " \\", old + ". ", old + "/", old + "\\\\",
        dir.path + "\\\\old", dir.path + "\\a:b", dir.path + "\\a|b",
        dir.path + "\\\x01", dir.path + "\\<old>", old + "\""}) {
    const run_result run = run_program({"--nosha1", text});
    EXPECT_EQ(
        "\nNot found: " + text + "\nNothing to erase (no duplicate found).\n",
        run.out)
        << text;
    EXPECT_EQ("", run.err) << text;
    EXPECT_EQ(0, run.exit_code) << text;
  }
  EXPECT_TRUE(fs::exists(full_name(dir, "old\\x")));
  EXPECT_TRUE(fs::exists(full_name(dir, "old\\y")));
}

TEST(WindowsRun, EndsAbnormallyWhereTheDirectoryCannotBeOpened) {
  // There, but out of reach: here another program holds it without sharing
  // (as does a folder the user may not list, under Wine). It is no missing
  // directory, which would read as one without duplicates.
  temp_dir dir;
  write_file(dir, "old", "abc", 1000);
  write_file(dir, "new", "abc", 2000);
  const HANDLE held =
      CreateFileA(dir.path.c_str(), FILE_LIST_DIRECTORY, 0, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  const run_result run = run_program({"--nosha1", dir.path});
  CloseHandle(held);

  EXPECT_EQ("", run.out);
  EXPECT_EQ(termination_notice, run.err);
  EXPECT_EQ(3, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"new", "old"}), sorted_file_names(dir));
}

TEST(WindowsRun, ReachesNamesOutsideTheSystemCodePage) {
  // Greek alpha has no byte in the Western code pages; under one of them the
  // listing spells it "?", whose query fails, and the file is passed over.
  // With UTF-8 as the code page (the manifest) every name has its bytes.
  temp_dir dir;
  const std::string alpha = "\xCE\xB1";
  write_file(dir, alpha, "abc", 1000);
  write_file(dir, "b", "abc", 2000);
  ASSERT_TRUE(fs::exists(fs::path(dir.path) / L"\u03B1"));

  const run_result run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, erasing(dir, alpha)), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ(std::vector<std::string>{"b"}, sorted_file_names(dir));
}

TEST(WindowsRun, PassesOverNamesTheServicesWouldShorten) {
  // "x." can only be made through a "\\?\" name; every other name of it
  // loses the dot and so names "x". Taken as a candidate, it would be hashed
  // and deleted as "x": "x" would go as its own duplicate, "x." would stay.
  temp_dir dir;
  write_file(dir, "x", "abc", 2000);
  const std::string dotted = "\\\\?\\" + dir.path + "\\x.";
  std::ofstream(dotted, std::ios::binary) << "xyz";
  ASSERT_TRUE(fs::exists(dotted));
  fs::last_write_time(dotted, 1000);

  const run_result run = run_program({dir.path});
  const bool dotted_kept = fs::exists(dotted);
  fs::remove(dotted);

  EXPECT_EQ(working_in(dir,
                       "Calculating sha1 ...\n"
                       "Nothing to erase (no duplicate found).\n"),
            run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_TRUE(dotted_kept);
  EXPECT_EQ("abc", read_file(full_name(dir, "x")));
}

TEST(WindowsRun, WorksInALongDirectoryOrEndsAbnormally) {
  // Past MAX_PATH (260 bytes) the ANSI services the program uses take a name
  // only where the manifest's longPathAware and the system's policy allow
  // it (not under Wine). Out of their reach the directory is still there:
  // neither missing nor without duplicates, so the run fails.
  temp_dir dir;
  write_file(dir, "old", "abc", 1000);
  write_file(dir, "new", "xyz", 2000);
  const std::string parent =
      dir.root + "\\" + std::string(120, 'l') + "\\" + std::string(120, 'm');
  fs::create_directories(parent);
  const std::string deep = parent + "\\d";
  fs::rename(dir.path, deep);
  ASSERT_GT(deep.size(), std::size_t{MAX_PATH});
  // The tests carry the program's manifest, so the system answers them alike.
  const bool reachable =
      GetFileAttributesA((deep + "\\old").c_str()) != INVALID_FILE_ATTRIBUTES;

  const run_result run = run_program({"--nosha1", deep});

  if (reachable) {
    EXPECT_EQ(
        "\nWorking in directory: " + deep + "\n\nErasing : " + deep + "\\old\n",
        run.out);
    EXPECT_FALSE(fs::exists(deep + "\\old"));
    EXPECT_EQ("", run.err);
    EXPECT_EQ(0, run.exit_code);
  } else {
    EXPECT_EQ("", run.out);
    EXPECT_EQ(termination_notice, run.err);
    EXPECT_EQ(3, run.exit_code);
    EXPECT_TRUE(fs::exists(deep + "\\old"));
  }
  EXPECT_TRUE(fs::exists(deep + "\\new"));
}

TEST(WindowsRun, ComparesSizesBeyondFourGibibytesInFull) {
  // Sizes come from the system in two 32-bit halves; taken from the low half
  // alone, "small" would share its size with the other two and be erased.
  // Made by setting the end of file, so they take no space on a sparse file
  // system (and no time to write anywhere).
  temp_dir dir;
  const std::uintmax_t low = 12345;
  const std::uintmax_t big = (std::uintmax_t{1} << 32) + low;
  const std::vector<std::pair<std::string, std::time_t>> files = {
      {"big.old", 1000}, {"big.new", 2000}, {"small", 500}};
  for (const auto& [name, write_time] : files) {
    write_file(dir, name, "", write_time);
    fs::resize_file(full_name(dir, name), name == "small" ? low : big);
    fs::last_write_time(full_name(dir, name), write_time);
  }

  const run_result run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, erasing(dir, "big.old")), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"big.new", "small"}),
            sorted_file_names(dir));
  EXPECT_EQ(big, fs::file_size(full_name(dir, "big.new")));
  EXPECT_EQ(low, fs::file_size(full_name(dir, "small")));
}

TEST(WindowsRun, KeepsAFileAnotherProgramHasOpenForWriting) {
  // This test is the other program: it holds `a`, or the keeper `c`, open
  // for writing, sharing everything, through the run. The file is neither
  // deleted nor kept in place of a copy, and the run goes on.
  for (const std::string holder : {"a", "c"}) {
    SCOPED_TRACE(holder);
    temp_dir dir;
    write_file(dir, "a", "hello", 1000);
    write_file(dir, "b", "hello", 2000);
    write_file(dir, "c", "hello", 3000);
    std::string expected = digest_lines(
        dir, {{"a", hello_digest}, {"b", hello_digest}, {"c", hello_digest}});
    for (const std::string& name : in_listing_order(dir, {"a", "b"})) {
      if (holder == "c")
        expected +=
            kept(dir, name, full_name(dir, "c") + " is open for writing");
      else if (name == "a")
        expected += kept(dir, name, "it is open for writing");
      else
        expected += erasing(dir, name);
    }
    const std::vector<std::string> left =
        holder == "c" ? std::vector<std::string>{"a", "b", "c"}
                      : std::vector<std::string>{"a", "c"};
    const HANDLE writer =
        CreateFileA(full_name(dir, holder).c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);

    const run_result run = run_program({dir.path});
    CloseHandle(writer);

    EXPECT_EQ(working_in(dir, expected), run.out);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(left, sorted_file_names(dir));
  }
}
