#include "platform/win32_path_rules.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using std::string_literals::operator""s;

TEST(Win32PathSyntax, AcceptsDrivesRootsAndRelativeTexts) {
  EXPECT_TRUE(is_valid_win32_path("d:\\temp\\"));
  EXPECT_TRUE(is_valid_win32_path("d:\\temp"));
  EXPECT_TRUE(is_valid_win32_path("d:/temp/x\\"));
  EXPECT_TRUE(is_valid_win32_path("d:"));
  EXPECT_TRUE(is_valid_win32_path("d:\\"));
  EXPECT_TRUE(is_valid_win32_path("d:temp\\"));
  EXPECT_TRUE(is_valid_win32_path("\\"));
  EXPECT_TRUE(is_valid_win32_path("sub\\dir\\"));
  EXPECT_TRUE(is_valid_win32_path(".\\"));
  EXPECT_TRUE(is_valid_win32_path("d:\\temp\\..\\"));
  EXPECT_TRUE(is_valid_win32_path("d:\\.x\\ y\\"));
  EXPECT_TRUE(is_valid_win32_path("d:\\a*b?\\"));
  EXPECT_TRUE(is_valid_win32_path("\\\\server\\share\\dir\\"));
  EXPECT_TRUE(is_valid_win32_path("//server/share"));
  EXPECT_TRUE(is_valid_win32_path("d:\\\xE9t\xE9\\"));
}

TEST(Win32PathSyntax, RefusesEmptyComponents) {
  EXPECT_FALSE(is_valid_win32_path(""));
  EXPECT_FALSE(is_valid_win32_path("d:\\temp\\\\"));
  EXPECT_FALSE(is_valid_win32_path("d:\\temp/\\"));
  EXPECT_FALSE(is_valid_win32_path("d:\\\\"));
  EXPECT_FALSE(is_valid_win32_path("d:\\a\\\\b"));
  EXPECT_FALSE(is_valid_win32_path("\\\\"));
  EXPECT_FALSE(is_valid_win32_path("\\\\\\share"));
}

TEST(Win32PathSyntax, RefusesForbiddenCharacters) {
  EXPECT_FALSE(is_valid_win32_path("d:\\a:b\\"));
  EXPECT_FALSE(is_valid_win32_path("d:a:b"));
  EXPECT_FALSE(is_valid_win32_path("::\\a"));
  EXPECT_FALSE(is_valid_win32_path("d:\\a<b"));
  EXPECT_FALSE(is_valid_win32_path("d:\\a>b"));
  EXPECT_FALSE(is_valid_win32_path("d:\\a\"b"));
  EXPECT_FALSE(is_valid_win32_path("d:\\a|b"));
  EXPECT_FALSE(is_valid_win32_path("d:\\a\x01"));
  EXPECT_FALSE(is_valid_win32_path("d:\\a\x1F"));
  EXPECT_FALSE(is_valid_win32_path("\\\\ser:ver\\share"));
  // An embedded NUL would make the platform see a different, shorter name.
  EXPECT_FALSE(is_valid_win32_path("d:\\a\0b"s));
}

TEST(Win32PathSyntax, RefusesNamesEndingInDotOrBlank) {
  EXPECT_FALSE(is_valid_win32_path("d:\\old.\\"));
  EXPECT_FALSE(is_valid_win32_path("d:\\old \\"));
  EXPECT_FALSE(is_valid_win32_path("d:\\...\\"));
  EXPECT_FALSE(is_valid_win32_path("old."));
  EXPECT_FALSE(is_valid_win32_path("\\\\server.\\share"));
}

TEST(Win32PathSyntax, RefusesDeviceAndVerbatimNamespaces) {
  EXPECT_FALSE(is_valid_win32_path("\\\\.\\pipe\\x"));
  EXPECT_FALSE(is_valid_win32_path("\\\\.\\nul"));
  EXPECT_FALSE(is_valid_win32_path("\\\\?\\c:\\x"));
  EXPECT_FALSE(is_valid_win32_path("\\\\?\\UNC\\server\\share"));
  EXPECT_FALSE(is_valid_win32_path("\\\\..\\share"));
}

TEST(Win32FinalSeparator, DropsAllButTheRootSeparator) {
  EXPECT_EQ("d:\\temp", drop_win32_final_separator("d:\\temp\\"));
  EXPECT_EQ("d:\\temp", drop_win32_final_separator("d:\\temp/"));
  EXPECT_EQ("d:\\temp", drop_win32_final_separator("d:\\temp"));
  EXPECT_EQ("d:\\", drop_win32_final_separator("d:\\"));
  EXPECT_EQ("d:/", drop_win32_final_separator("d:/"));
  EXPECT_EQ("d:", drop_win32_final_separator("d:"));
  EXPECT_EQ("\\", drop_win32_final_separator("\\"));
  EXPECT_EQ("sub", drop_win32_final_separator("sub\\"));
  EXPECT_EQ("\\\\server\\", drop_win32_final_separator("\\\\server\\"));
  EXPECT_EQ("\\\\server\\share",
            drop_win32_final_separator("\\\\server\\share\\"));
}

TEST(Win32DotFolding, FoldsByTextAndWritesBackslashes) {
  EXPECT_EQ("d:\\temp\\x", fold_win32_dot_components("d:/temp/x"));
  EXPECT_EQ("d:\\a\\c", fold_win32_dot_components("d:\\a\\.\\b\\..\\c"));
  EXPECT_EQ("d:\\", fold_win32_dot_components("d:\\temp\\..\\"));
  EXPECT_EQ("d:\\", fold_win32_dot_components("d:\\.."));
  EXPECT_EQ("d:\\x", fold_win32_dot_components("d:\\..\\..\\x"));
  EXPECT_EQ("d:\\", fold_win32_dot_components("d:\\.\\"));
  EXPECT_EQ("d:\\Temp\\Sub", fold_win32_dot_components("d:\\Temp\\Sub\\"));
  EXPECT_EQ("\\", fold_win32_dot_components("\\a\\.."));
}

TEST(Win32DotFolding, KeepsUnresolvedParentsOfRelativeTexts) {
  EXPECT_EQ("..\\a", fold_win32_dot_components("..\\a"));
  EXPECT_EQ("..", fold_win32_dot_components("a\\..\\.."));
  EXPECT_EQ("d:..\\x", fold_win32_dot_components("d:..\\x"));
}

TEST(Win32DotFolding, NeverLeavesTheShareOfANetworkName) {
  EXPECT_EQ("\\\\server\\share\\x",
            fold_win32_dot_components("\\\\server\\share\\..\\x"));
  EXPECT_EQ("\\\\server\\share",
            fold_win32_dot_components("//server/share/a/../.."));
}

}  // namespace
