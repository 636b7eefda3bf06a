// The output file on its own: which names are the script, and that a file
// takes the destination's place whole, with the right permissions, or not
// at all.
#include "cli/output_file.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/paths.h"
#include "tests/cli/run_host.h"

namespace {

namespace fs = std::filesystem;
using cli_test::namesIn;
using cli_test::readFile;
using cli_test::ScratchDir;

const auto rowName = [](const auto& info) { return "Row" + std::to_string(info.index); };

// Little-endian fields of an access control list as the system stores it.
std::string entry16(unsigned value) { return {char(value & 0xFF), char(value >> 8 & 0xFF)}; }
std::string entry32(unsigned value) { return entry16(value & 0xFFFF) + entry16(value >> 16); }

// One entry of an access control list: its tag (user owner 0x01, named user
// 0x02, group owner 0x04, mask 0x10, others 0x20), permissions and id.
struct AclEntry {
  unsigned tag;
  unsigned perm;
  unsigned id;
};

// The list as the system keeps it in an extended attribute: version 2,
// then the entries.
std::string aclBytes(std::initializer_list<AclEntry> entries) {
  std::string acl = entry32(2);
  for (const AclEntry& e : entries) acl += entry16(e.tag) + entry16(e.perm) + entry32(e.id);
  return acl;
}

std::string attribute(const fs::path& path, const char* name) {
  char value[256];
  const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? "(none)" : std::string(value, static_cast<std::size_t>(size));
}

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

constexpr char kAccessList[] = "system.posix_acl_access";

// Gives `folder` a default access control list: owner rw, user 65534 r,
// group nothing, mask r, others nothing. False when the file system takes
// none.
bool shareWithOneUser(const fs::path& folder) {
  const std::string acl =
      aclBytes({{0x01, 6, ~0u}, {0x02, 4, 65534u}, {0x04, 0, ~0u}, {0x10, 4, ~0u}, {0x20, 0, ~0u}});
  return ::setxattr(folder.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) == 0;
}

// The hidden temporary file being written in `folder`, if there is one.
fs::path temporaryIn(const fs::path& folder) {
  for (const std::string& name : namesIn(folder)) {
    if (name[0] == '.') return folder / name;
  }
  return fs::path();
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

// `bytes` written to `path` through an output file, committed.
void writeWhole(const fs::path& path, const std::string& bytes) {
  cli::OutputFile output;
  std::string error;
  ASSERT_TRUE(output.open(path.string(), &error)) << error;
  write(output, bytes);
  ASSERT_TRUE(output.commit(0, &error)) << error;
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

// Workers of a batch make new files at once; the umask must come out of
// it as it went in, and each file get its mode from it.
TEST(CliOutputFileTest, NewFilesMadeOnManyThreadsLeaveTheUmaskAsItWas) {
  const ScratchDir dir;
  const mode_t before = ::umask(022);
  constexpr int kThreads = 8;
  constexpr int kFilesEach = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&dir, t] {
      for (int i = 0; i < kFilesEach; ++i) {
        cli::OutputFile output;
        std::string error;
        const fs::path target = dir.path() / (std::to_string(t) + "-" + std::to_string(i));
        if (output.open(target.string(), &error)) output.commit(0, &error);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const mode_t after = ::umask(before);
  EXPECT_EQ(after, mode_t{022});
  const std::vector<std::string> names = namesIn(dir.path());
  EXPECT_EQ(names.size(), std::size_t{kThreads * kFilesEach});
  for (const std::string& name : names) EXPECT_EQ(modeOf(dir.path() / name), 0644u) << name;
}

// In a shared folder the shell's ">" and cp make a file with what the
// folder's default access control list gives, whatever the umask: an
// output must not be readable by the others it shuts out (umask 022), nor
// shut out the user it names (umask 077).
class CliNewFileAccessListTest : public ::testing::TestWithParam<mode_t> {};

TEST_P(CliNewFileAccessListTest, GetsWhatAnyNewFileInTheFolderGets) {
  const ScratchDir dir;
  const fs::path folder = dir.path() / "shared";
  fs::create_directory(folder);
  if (!shareWithOneUser(folder)) {
    GTEST_SKIP() << "this file system takes no access control list: " << std::strerror(errno);
  }
  const fs::path made = folder / "made.srt";
  const fs::path output = folder / "out.srt";
  const mode_t before = ::umask(GetParam());
  const int fd = ::open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  writeWhole(output, "cues\n");
  ::umask(before);
  if (HasFatalFailure()) return;
  ASSERT_GE(fd, 0) << std::strerror(errno);
  ::close(fd);
  EXPECT_EQ(modeOf(output), modeOf(made));
  EXPECT_EQ(modeOf(output), 0640u) << "the group's bits are the list's mask";
  EXPECT_EQ(attribute(output, kAccessList), attribute(made, kAccessList));
  EXPECT_NE(attribute(output, kAccessList), "(none)");
}

INSTANTIATE_TEST_SUITE_P(Umasks, CliNewFileAccessListTest, ::testing::Values(022, 077, 0),
                         [](const auto& info) {
                           char name[16];
                           std::snprintf(name, sizeof name, "Umask%03o",
                                         static_cast<unsigned>(info.param));
                           return std::string(name);
                         });

// The new text is no one else's to read before it has the old file's
// permissions, and then it has those alone: not what the folder's default
// list would give a new file.
TEST(CliOutputFileTest, AReplacementIsPrivateUntilItTakesTheOldFilesPermissions) {
  const ScratchDir dir;
  const fs::path folder = dir.path() / "shared";
  fs::create_directory(folder);
  const fs::path target = folder / "out.srt";
  std::ofstream(target) << "old\n";
  ::chmod(target.c_str(), 0644);
  if (!shareWithOneUser(folder)) {
    GTEST_SKIP() << "this file system takes no access control list: " << std::strerror(errno);
  }
  cli::OutputFile output;
  std::string error;
  ASSERT_TRUE(output.open(target.string(), &error)) << error;
  write(output, "new\n");
  const fs::path temporary = temporaryIn(folder);
  ASSERT_FALSE(temporary.empty());
  EXPECT_EQ(modeOf(temporary), 0600u) << "the list's mask is the group's bits: no one";
  ASSERT_TRUE(output.commit(0, &error)) << error;
  EXPECT_EQ(readFile(target), "new\n");
  EXPECT_EQ(modeOf(target), 0644u);
  EXPECT_EQ(attribute(target, kAccessList), "(none)");
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
  ASSERT_NO_FATAL_FAILURE(writeWhole(target, "cues\n"));
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
  ASSERT_NO_FATAL_FAILURE(writeWhole(link, "cues\n"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readFile(dir.path() / "real" / "movie.srt"), "cues\n");
  EXPECT_EQ(namesIn(dir.path() / "links"), std::vector<std::string>{"movie.srt"});
}

// Where an output's folder is looked at, a link's relative target read from
// and a plug-in looked for beside the program: the path cut at its last "/".
TEST(CliPathTest, CutsAtTheLastSlash) {
  const struct {
    const char* path;
    const char* folder;
    const char* name;
  } rows[] = {{"movie.srt", ".", "movie.srt"},
              {"/movie.srt", "/", "movie.srt"},
              {"a/movie.srt", "a", "movie.srt"},
              {"/a/b/movie.srt", "/a/b", "movie.srt"},
              {"a/b/", "a/b", ""},
              {"./movie.srt", ".", "movie.srt"},
              {"", ".", ""}};
  for (const auto& row : rows) {
    EXPECT_EQ(cli::folderOf(row.path), row.folder) << row.path;
    EXPECT_EQ(cli::nameOf(row.path), row.name) << row.path;
  }
}

// An access control list, and any other extended attribute, stays with
// the file it belongs to.
TEST(CliOutputFileTest, AReplacedFileKeepsItsExtendedAttributes) {
  const ScratchDir dir;
  const fs::path target = dir.write("out.srt", "old\n");
  // Owner rw, user 65534 rw, group r, mask rw, others r.
  const std::string acl =
      aclBytes({{0x01, 6, ~0u}, {0x02, 6, 65534u}, {0x04, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 4, ~0u}});
  if (::setxattr(target.c_str(), "user.comment", "checked", 7, 0) != 0 ||
      ::setxattr(target.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "no extended attributes here: " << std::strerror(errno);
  }
  const mode_t mode = modeOf(target);
  ASSERT_NO_FATAL_FAILURE(writeWhole(target, "new\n"));
  EXPECT_EQ(readFile(target), "new\n");
  EXPECT_EQ(attribute(target, "user.comment"), "checked");
  EXPECT_EQ(attribute(target, "system.posix_acl_access"), acl);
  EXPECT_EQ(modeOf(target), mode);
}

// A member of the file's group who is not its owner keeps the group on it:
// the other members can still write the file.
TEST(CliOutputFileTest, AReplacedFileKeepsItsGroupForARunnerOfIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run as another user";
  const ScratchDir dir;
  constexpr gid_t kTeam = 4242;
  constexpr uid_t kMember = 4343;
  const fs::path folder = dir.path() / "team";
  fs::create_directory(folder);
  const fs::path target = folder / "ep1.srt";
  std::ofstream(target) << "old\n";
  ASSERT_EQ(::chown(folder.c_str(), 0, kTeam), 0);
  ASSERT_EQ(::chown(target.c_str(), 0, kTeam), 0);
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(folder.c_str(), 0775);
  ::chmod(target.c_str(), 0664);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const gid_t groups[] = {kTeam};
    if (::setgroups(1, groups) != 0 || ::setresgid(kMember, kMember, kMember) != 0 ||
        ::setresuid(kMember, kMember, kMember) != 0) {
      ::_exit(2);
    }
    cli::OutputFile output;
    std::string error;
    if (!output.open(target.string(), &error)) ::_exit(3);
    std::fputs("new\n", output.stream());
    ::_exit(output.commit(0, &error) ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot run as another user here";
  ASSERT_EQ(WEXITSTATUS(status), 0);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(readFile(target), "new\n");
  EXPECT_EQ(info.st_uid, kMember);  // only root may give a file away
  EXPECT_EQ(info.st_gid, kTeam);
  EXPECT_EQ(info.st_mode & 07777, 0664u);
}

struct ReplaceRow {
  const char* what;
  mode_t folderMode;
  uid_t folderOwner;
  uid_t fileOwner;
  bool mountRoot;
  uid_t runner;
  std::string why;  // "" when a rename may replace the file
};

void PrintTo(const ReplaceRow& row, std::ostream* out) { *out << row.what; }

class CliReplaceableTest : public ::testing::TestWithParam<ReplaceRow> {};

TEST_P(CliReplaceableTest, SaysWhyARenameCannotReplaceTheFile) {
  const ReplaceRow& row = GetParam();
  struct stat file {};
  struct stat folder {};
  file.st_uid = row.fileOwner;
  folder.st_uid = row.folderOwner;
  folder.st_mode = S_IFDIR | row.folderMode;
  const std::string why = cli::whyNotReplaceable(file, folder, row.mountRoot, row.runner);
  if (row.why.empty()) {
    EXPECT_EQ(why, "");
  } else {
    EXPECT_EQ(why.rfind(row.why, 0), 0u) << why;
    EXPECT_NE(why.find("give -o - and redirect standard output to it instead"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliReplaceableTest,
    ::testing::Values(ReplaceRow{"a plain folder, another's file", 0777, 0, 1000, false, 1001, ""},
                      ReplaceRow{"sticky, the runner's own file", 01777, 0, 1000, false, 1000, ""},
                      ReplaceRow{"sticky, another's file", 01777, 0, 1000, false, 1001,
                                 "it is another user's file in a sticky folder"},
                      ReplaceRow{"sticky, the runner's folder", 01777, 1001, 1000, false, 1001, ""},
                      ReplaceRow{"sticky, run as root", 01777, 5, 1000, false, 0, ""},
                      ReplaceRow{"a file bound over another", 0755, 0, 0, true, 0,
                                 "it is a mount point"}),
    rowName);

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

// A temporary file that cannot be removed stays (an append-only folder,
// chattr +a, lets it be made but neither renamed nor removed); the message
// names it, so that the user can remove it.
class CliStrandedTemporaryTest : public ::testing::TestWithParam<bool> {};

TEST_P(CliStrandedTemporaryTest, TheMessageNamesATemporaryFileLeftBehind) {
  const bool commit = GetParam();
  const ScratchDir dir;
  const fs::path target = dir.write("out.srt", "old\n");
  cli::OutputFile output;
  std::string error;
  ASSERT_TRUE(output.open(target.string(), &error)) << error;
  write(output, "new\n");
  // A folder in its place, which no user may unlink nor rename over a file.
  const fs::path temporary = temporaryIn(dir.path());
  ASSERT_FALSE(temporary.empty());
  fs::remove(temporary);
  fs::create_directory(temporary);
  std::string message;
  if (commit) {
    EXPECT_FALSE(output.commit(0, &message));
    EXPECT_EQ(message.rfind("cannot write " + target.string() + ": Not a directory; ", 0), 0u)
        << message;
  } else {
    EXPECT_TRUE(output.discard(&message));
    EXPECT_EQ(message.rfind("; ", 0), 0u) << message;
  }
  const std::string left = "its temporary file ";
  const std::string why =
      temporary.filename().string() + " could not be removed (Is a directory): remove it yourself";
  EXPECT_NE(message.find(left), std::string::npos) << message;
  EXPECT_EQ(message.size() >= why.size() ? message.substr(message.size() - why.size()) : "", why)
      << message;
  EXPECT_EQ(readFile(target), "old\n");
  EXPECT_FALSE(output.discard()) << "let go of, as any other";
}

INSTANTIATE_TEST_SUITE_P(Ways, CliStrandedTemporaryTest, ::testing::Values(true, false),
                         [](const auto& info) {
                           return std::string(info.param ? "Commit" : "Discard");
                         });

// A run that fails before it opens a pipe ends it for a reader; with no
// reader it has no one to wait for.
TEST(CliOutputFileTest, EndingAPipeNobodyReadsDoesNotWait) {
  const ScratchDir dir;
  const fs::path pipe = dir.path() / "out.srt";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(30);  // ends a child that waits, instead of the test
    cli::endUnopenedPipe(pipe.string());
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "it waited for a reader";
}

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
