// The output file on its own: which names are the script, and that a file
// takes the destination's place whole, with the right permissions, or not
// at all.
#include "cli/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/run_host.h"

namespace {

namespace fs = std::filesystem;
using cli_test::namesIn;
using cli_test::readFile;
using cli_test::ScratchDir;

const auto rowName = [](const auto& info) { return "Row" + std::to_string(info.index); };

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

// --- The same file under any name ----------------------------------------------------------

struct SameRow {
  const char* what;
  std::function<fs::path(const ScratchDir&, const fs::path& script)> name;
  bool same;
};

void PrintTo(const SameRow& row, std::ostream* out) { *out << row.what; }

class CliSameFileTest : public ::testing::TestWithParam<SameRow> {};

TEST_P(CliSameFileTest, KnowsTheScriptUnderAnyName) {
  const ScratchDir dir;
  const fs::path script = dir.write("movie.ass", "[Events]\n");
  fs::create_directory(dir.path() / "sub");
  const fs::path name = GetParam().name(dir, script);
  FILE* open = std::fopen(script.c_str(), "rb");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(cli::isSameFile(::fileno(open), name.string()), GetParam().same) << name;
  std::fclose(open);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliSameFileTest,
    ::testing::Values(
        SameRow{"the same path", [](const ScratchDir&, const fs::path& s) { return s; }, true},
        SameRow{"another spelling",
                [](const ScratchDir& d, const fs::path&) { return d.path() / "sub/../movie.ass"; },
                true},
        SameRow{"a hard link",
                [](const ScratchDir& d, const fs::path& s) {
                  fs::create_hard_link(s, d.path() / "hard.srt");
                  return d.path() / "hard.srt";
                },
                true},
        SameRow{"a symbolic link",
                [](const ScratchDir& d, const fs::path& s) {
                  fs::create_symlink(s, d.path() / "sub" / "soft.srt");
                  return d.path() / "sub" / "soft.srt";
                },
                true},
        SameRow{"a copy",
                [](const ScratchDir& d, const fs::path& s) {
                  fs::copy_file(s, d.path() / "copy.ass");
                  return d.path() / "copy.ass";
                },
                false},
        SameRow{"a new file", [](const ScratchDir& d, const fs::path&) { return d.path() / "new"; },
                false}),
    rowName);

// --- Writing -------------------------------------------------------------------------------

std::string write(cli::OutputFile& output, const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), output.stream());
  return bytes;
}

TEST(CliOutputFileTest, ANewFileAppearsOnlyAtCommitWithAPlainFilesMode) {
  const ScratchDir dir;
  const fs::path target = dir.path() / "out.srt";
  cli::OutputFile output;
  std::string error;
  ASSERT_TRUE(output.open(target.string(), &error)) << error;
  write(output, "cues\n");
  output.startWriteback();  // nothing to do: a new file is not synced
  EXPECT_FALSE(fs::exists(target));
  ASSERT_EQ(namesIn(dir.path()).size(), 1u);
  EXPECT_EQ(namesIn(dir.path())[0].rfind(".out.srt.", 0), 0u) << "a hidden name beside it";
  ASSERT_TRUE(output.commit(0, &error)) << error;
  EXPECT_EQ(readFile(target), "cues\n");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.srt"});
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(modeOf(target), 0666 & ~mask);
}

// Titles in CJK or Cyrillic reach the longest name a folder allows soon,
// and the temporary name must not be longer than the file's.
TEST(CliOutputFileTest, ANameAsLongAsTheFolderAllowsIsWritten) {
  const ScratchDir dir;
  std::string name;
  for (int i = 0; i < 83; ++i) name += "\xE5\xAD\x97";  // U+5B57
  name += "-1.srt";
  ASSERT_EQ(name.size(), 255u);
  const fs::path target = dir.path() / name;
  cli::OutputFile output;
  std::string error;
  ASSERT_TRUE(output.open(target.string(), &error)) << error;
  write(output, "cues\n");
  ASSERT_TRUE(output.commit(0, &error)) << error;
  EXPECT_EQ(readFile(target), "cues\n");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{name});
}

TEST(CliOutputFileTest, AReplacedFileKeepsItsModeAndALinkKeepsPointingAtIt) {
  const ScratchDir dir;
  const fs::path target = dir.write("out.srt", "old\n");
  ::chmod(target.c_str(), 0640);
  const fs::path link = dir.path() / "link.srt";
  fs::create_symlink(target, link);
  cli::OutputFile output;
  std::string error;
  ASSERT_TRUE(output.open(link.string(), &error)) << error;
  write(output, "new\n");
  output.startWriteback();  // the new bytes go to disk early, under the temporary name
  EXPECT_EQ(readFile(target), "old\n");
  ASSERT_TRUE(output.commit(0, &error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readFile(target), "new\n");
  EXPECT_EQ(modeOf(target), 0640u);
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"link.srt", "out.srt"}));
}

TEST(CliOutputFileTest, ALinkToAFileNotMadeYetIsWrittenThrough) {
  const ScratchDir dir;
  fs::create_directories(dir.path() / "real");
  fs::create_directories(dir.path() / "links");
  const fs::path link = dir.path() / "links" / "movie.srt";
  fs::create_symlink("../real/movie.srt", link);
  cli::OutputFile output;
  std::string error;
  ASSERT_TRUE(output.open(link.string(), &error)) << error;
  write(output, "cues\n");
  ASSERT_TRUE(output.commit(0, &error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readFile(dir.path() / "real" / "movie.srt"), "cues\n");
  EXPECT_EQ(namesIn(dir.path() / "links"), std::vector<std::string>{"movie.srt"});
}

struct FailureRow {
  const char* what;
  bool commitWithError;  // else discard, or the object's end
  bool destroyOnly;
};

void PrintTo(const FailureRow& row, std::ostream* out) { *out << row.what; }

class CliOutputFailureTest : public ::testing::TestWithParam<FailureRow> {};

TEST_P(CliOutputFailureTest, LeavesTheDestinationAsItWasAndNoTemporaryFile) {
  const ScratchDir dir;
  const fs::path target = dir.write("out.srt", "old\n");
  {
    cli::OutputFile output;
    std::string error;
    ASSERT_TRUE(output.open(target.string(), &error)) << error;
    write(output, "half a fi");
    if (GetParam().commitWithError) {
      EXPECT_FALSE(output.commit(ENOSPC, &error));
      EXPECT_NE(error.find("cannot write " + target.string() + ": No space left"),
                std::string::npos)
          << error;
    } else if (!GetParam().destroyOnly) {
      EXPECT_TRUE(output.discard());
    }
  }
  EXPECT_EQ(readFile(target), "old\n");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.srt"});
}

INSTANTIATE_TEST_SUITE_P(Rows, CliOutputFailureTest,
                         ::testing::Values(FailureRow{"a write failed before", true, false},
                                           FailureRow{"discarded", false, false},
                                           FailureRow{"never committed", false, true}),
                         rowName);

struct OpenRow {
  const char* what;
  std::string path;  // "@DIR" for the scratch directory
  bool ok;
  std::string name;  // what messages call it, or the error
};

void PrintTo(const OpenRow& row, std::ostream* out) { *out << row.what; }

class CliOutputOpenTest : public ::testing::TestWithParam<OpenRow> {};

TEST_P(CliOutputOpenTest, OpensOrSaysWhy) {
  const ScratchDir dir;
  const std::string path = GetParam().path == "@DIR" ? dir.path().string() : GetParam().path;
  cli::OutputFile output;
  std::string error;
  ASSERT_EQ(output.open(path, &error), GetParam().ok) << error;
  if (GetParam().ok) {
    EXPECT_EQ(output.name(), GetParam().name);
    EXPECT_FALSE(output.discard()) << "no temporary file";
  } else {
    EXPECT_NE(error.find(GetParam().name), std::string::npos) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliOutputOpenTest,
    ::testing::Values(OpenRow{"no name", "", true, "standard output"},
                      OpenRow{"a dash", "-", true, "standard output"},
                      OpenRow{"a device, written directly", "/dev/null", true, "/dev/null"},
                      OpenRow{"a directory", "@DIR", false, "Is a directory"},
                      OpenRow{"a missing directory", "/nonexistent/dir/out.srt", false,
                              "cannot write /nonexistent/dir/out.srt: No such file"}),
    rowName);

}  // namespace
