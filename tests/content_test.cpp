#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

TEST(ContentRun, ErasesOnlyTrueDuplicatesButTheNewest) {
  temp_dir dir;
  write_file(dir, "hello.old", "hello", 1000);
  write_file(dir, "hello.new", "hello", 3000);
  write_file(dir, "hello.mid", "hello", 2000);
  write_file(dir, "world", "world", 500);  // same size, other contents
  write_file(dir, "empty.a", "", 1000);
  write_file(dir, "empty.b", "", 1000);
  write_file(dir, "solo", "four", 1000);  // no size partner: never read

  const std::string expected = working_in(
      dir, digest_lines(dir, {{"hello.old", hello_digest},
                              {"hello.new", hello_digest},
                              {"hello.mid", hello_digest},
                              {"world", world_digest},
                              {"empty.a", empty_digest},
                              {"empty.b", empty_digest}}) +
               erasing_lines(dir, {"hello.old", "hello.mid", "empty.a"}));

  const run_result run = run_program({dir.path});

  EXPECT_EQ(expected, run.out);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"empty.b", "hello.new", "solo", "world"}),
            sorted_file_names(dir));
}

TEST(ContentRun, KeepsEqualSizesWithDifferentContents) {
  temp_dir dir;
  write_file(dir, "hello", "hello", 1000);
  write_file(dir, "world", "world", 2000);

  const std::string expected = working_in(
      dir,
      digest_lines(dir, {{"hello", hello_digest}, {"world", world_digest}}) +
          "Nothing to erase (no duplicate found).\n");

  const run_result run = run_program({dir.path});

  EXPECT_EQ(expected, run.out);
  EXPECT_EQ((std::vector<std::string>{"hello", "world"}),
            sorted_file_names(dir));
}

TEST(ContentRun, HashesLargeFilesInChunksAndOddNamesByteForByte) {
  temp_dir dir;
  // Two times the whole 4 MiB read buffer and a remainder: several reads of
  // a file's slice of it, however many lanes share it.
  std::string large(2 * 4194304 + 1000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i)
    large[i] = static_cast<char>(i * 31 + (i >> 12));
  const std::string blank = "with blank";
  // 0xC3 sorts after 'w' only as an unsigned byte.
  const std::string accented = "\xC3\xA9t\xC3\xA9 \xC3\xA9";
  write_file(dir, blank, large, 1000);
  write_file(dir, accented, large, 1000);  // Equal time: the name decides.

  // Digest from an independent SHA-1 of the same bytes.
  const std::string digest = "3abb2890679d5226683cb021167059cfb2fdcadb";
  const std::string expected =
      working_in(dir, digest_lines(dir, {{blank, digest}, {accented, digest}}) +
                          erasing(dir, blank));

  const run_result run = run_program({dir.path});

  EXPECT_EQ(expected, run.out);
  EXPECT_EQ(std::vector<std::string>{accented}, sorted_file_names(dir));
  EXPECT_TRUE(large == read_file(full_name(dir, accented)));
}

TEST(ContentRun, ReportsManyFilesOfMixedSizesInListOrder) {
  // More files than the CPU hashes at once, short ones ending while long
  // ones (several reads, one past the read buffer) are still being read:
  // every line must still come out in list order with the right digest.
  temp_dir dir;
  std::map<std::string, std::string> digests;
  std::vector<std::string> erased;
  for (int i = 0; i < 10; ++i) {
    const std::string number = std::to_string(i);
    write_file(dir, "hello" + number, "hello", 1000 + i);
    write_file(dir, "world" + number, "world", 2000 - i);
    digests["hello" + number] = hello_digest;
    digests["world" + number] = world_digest;
    if (i != 9) erased.push_back("hello" + number);
    if (i != 0) erased.push_back("world" + number);
  }
  const std::string long_text(600000, 'z');
  const std::string huge_text(4194304 + 5, 'x');
  write_file(dir, "long.a", long_text, 1000);
  write_file(dir, "long.b", long_text, 2000);
  write_file(dir, "long.c", long_text.substr(1) + "y", 3000);
  write_file(dir, "huge.a", huge_text, 1000);
  write_file(dir, "huge.b", huge_text, 2000);
  write_file(dir, "empty.a", "", 1000);
  write_file(dir, "empty.b", "", 2000);
  digests["long.a"] = digests["long.b"] =
      "29b2cacd1211b0446cb29de373376d0e814d866e";
  digests["long.c"] = "7f751e777a73ea6e39048ec690a548ad8bb0b777";
  digests["huge.a"] = digests["huge.b"] =
      "85d31feca035a122f52421df8ad08afbdb109f36";
  digests["empty.a"] = digests["empty.b"] = empty_digest;
  erased.insert(erased.end(), {"long.a", "huge.a", "empty.a"});

  const std::string expected =
      working_in(dir, digest_lines(dir, digests) + erasing_lines(dir, erased));

  const run_result run = run_program({dir.path});

  EXPECT_EQ(expected, run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"empty.b", "hello9", "huge.b", "long.b",
                                      "long.c", "world0"}),
            sorted_file_names(dir));
}

TEST(ContentRun, HashesEveryFileWhenAllEndInOneRead) {
  // Files that each end in their first read settle together, whatever the
  // number read at once; the rest of the list must still be read.
  temp_dir dir;
  std::map<std::string, std::string> digests;
  std::vector<std::string> erased;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "hello" + std::to_string(i);
    write_file(dir, name, "hello", 1000 + i);
    digests[name] = hello_digest;
    if (i != 39) erased.push_back(name);
  }
  const std::string expected =
      working_in(dir, digest_lines(dir, digests) + erasing_lines(dir, erased));

  const run_result run = run_program({dir.path});

  EXPECT_EQ(expected, run.out);
  EXPECT_EQ(std::vector<std::string>{"hello39"}, sorted_file_names(dir));
}

TEST(ContentRun, KeepsFilesWithOneDigestButOtherBytes) {
  // A published SHA-1 collision: two different files, one digest.
  temp_dir dir;
  write_file(dir, "m1", test_data("sha-mbles-1.bin"), 1000);
  write_file(dir, "m2", test_data("sha-mbles-2.bin"), 2000);
  const char collided[] = "8ac60ba76f1999a1ab70223f225aefdc78d4ddc0";

  const run_result run = run_program({dir.path});

  EXPECT_EQ(
      working_in(dir,
                 digest_lines(dir, {{"m1", collided}, {"m2", collided}}) +
                     kept(dir, "m1",
                          "its contents differ from " + full_name(dir, "m2"))),
      run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"m1", "m2"}), sorted_file_names(dir));
  EXPECT_EQ(test_data("sha-mbles-1.bin"), read_file(full_name(dir, "m1")));
}

TEST(ContentRun, KeepsTwoNamesOfOneFileInBothModes) {
  temp_dir dir;
  write_file(dir, "a", "hello", 1000);
  ASSERT_TRUE(make_hard_link(full_name(dir, "a"), full_name(dir, "b")));
  // One file, one time: the name that sorts last is the one kept.
  const std::string kept_a =
      kept(dir, "a", "it is the same file as " + full_name(dir, "b"));

  run_result run = run_program({dir.path});

  EXPECT_EQ(working_in(dir, digest_lines(dir, {{"a", hello_digest},
                                               {"b", hello_digest}}) +
                                kept_a),
            run.out);
  EXPECT_EQ(0, run.exit_code);

  run = run_program({"--nosha1", dir.path});

  EXPECT_EQ(working_in(dir, kept_a), run.out);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), sorted_file_names(dir));
}
