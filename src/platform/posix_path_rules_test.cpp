#include "platform/posix_path_rules.h"

#include <gtest/gtest.h>

TEST(PosixPathRules, DropsOnlyOneFinalSeparatorAndNeverTheRoot) {
  EXPECT_EQ("/a/b", drop_final_separator("/a/b/"));
  EXPECT_EQ("a", drop_final_separator("a/"));
  EXPECT_EQ("a/", drop_final_separator("a//"));
  EXPECT_EQ("/", drop_final_separator("/"));
  EXPECT_EQ("/a", drop_final_separator("/a"));
}

TEST(PosixPathRules, FoldsDotsAndEmptyComponentsByText) {
  EXPECT_EQ("/a/c", fold_dot_components("/a/b/../c/"));
  EXPECT_EQ("/a/b", fold_dot_components("/a/./b/."));
  EXPECT_EQ("/a/b", fold_dot_components("//a//b"));
  EXPECT_EQ("/", fold_dot_components("/a/.."));
  EXPECT_EQ("/", fold_dot_components("/../.."));
  EXPECT_EQ("/x", fold_dot_components("/../x"));
  EXPECT_EQ("/...", fold_dot_components("/..."));
  EXPECT_EQ("/", fold_dot_components("/"));
}
