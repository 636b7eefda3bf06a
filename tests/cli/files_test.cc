// subrite-host and the user's files: it never writes over the script it
// reads, and a run that fails or is interrupted leaves an existing output
// file as it was, with nothing half-written beside it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/run_host.h"

namespace {

namespace fs = std::filesystem;
using cli_test::namesIn;
using cli_test::Outcome;
using cli_test::readFile;
using cli_test::runHost;
using cli_test::ScratchDir;

const auto rowName = [](const auto& info) { return "Row" + std::to_string(info.index); };

const std::string kScript =
    "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,Hello\n";

// --- The output is the script --------------------------------------------------------------

struct SameRow {
  const char* what;
  // The -o argument for a script at `script`, made in `dir`.
  std::function<std::string(const fs::path& dir, const fs::path& script)> output;
  bool scriptOnStdin;
};

void PrintTo(const SameRow& row, std::ostream* out) { *out << row.what; }

class CliSameFileRefusalTest : public ::testing::TestWithParam<SameRow> {};

TEST_P(CliSameFileRefusalTest, RefusesAndLeavesTheScriptAlone) {
  const ScratchDir dir;
  const fs::path script = dir.write("movie.ass", kScript);
  fs::create_directory(dir.path() / "sub");
  const std::string output = GetParam().output(dir.path(), script);
  const Outcome run = GetParam().scriptOnStdin
                          ? runHost({"--to", "srt", "-", "-o", output}, script)
                          : runHost({"--to", "srt", script.string(), "-o", output});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("refusing to write " + output + ": it is the script being read"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(readFile(script), kScript);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliSameFileRefusalTest,
    ::testing::Values(SameRow{"the same path",
                              [](const fs::path&, const fs::path& s) { return s.string(); }, false},
                      SameRow{"another path to it",
                              [](const fs::path& d, const fs::path&) {
                                return (d / "sub/../movie.ass").string();
                              },
                              false},
                      SameRow{"a hard link",
                              [](const fs::path& d, const fs::path& s) {
                                fs::create_hard_link(s, d / "movie.srt");
                                return (d / "movie.srt").string();
                              },
                              false},
                      SameRow{"a symbolic link",
                              [](const fs::path& d, const fs::path& s) {
                                fs::create_symlink(s, d / "sub" / "movie.srt");
                                return (d / "sub" / "movie.srt").string();
                              },
                              false},
                      SameRow{"standard input read from it",
                              [](const fs::path&, const fs::path& s) { return s.string(); }, true}),
    rowName);

// `>> movie.ass`: the same refusal when standard output is the script.
TEST(CliSameFileRefusalTest, StandardOutputAppendedToTheScript) {
  const ScratchDir dir;
  const fs::path script = dir.write("movie.ass", kScript);
  for (const bool fromStdin : {false, true}) {
    cli_test::RunSetup setup;
    setup.appendOutputTo = script;
    if (fromStdin) setup.input = script;
    const Outcome run =
        cli_test::runHostWith({"--to", "srt", fromStdin ? "-" : script.string()}, setup);
    const Outcome info = cli_test::runHostWith({"--info", script.string()}, setup);
    EXPECT_EQ(info.status, 2) << "--info: " << info.err;
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("refusing to write standard output: it is the script being read"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readFile(script), kScript);
  }
}

// A name of the open standard output is that stream: what the file held
// before stays, and the output follows it.
TEST(CliOutputStreamTest, ANameOfStandardOutputAppendsToWhatItIsOpenOn) {
  const ScratchDir dir;
  const fs::path script = dir.write("movie.ass", kScript);
  const std::string kept = "what the file held\n";
  const std::string alone = runHost({"--to", "srt", script.string()}).out;
  ASSERT_FALSE(alone.empty());
  for (const std::string name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    const fs::path all = dir.write("all.txt", kept);
    cli_test::RunSetup setup;
    setup.appendOutputTo = all;
    const Outcome run = cli_test::runHostWith({"--to", "srt", script.string(), "-o", name}, setup);
    EXPECT_EQ(run.status, 0) << name << ": " << run.err;
    EXPECT_EQ(readFile(all), kept + alone) << name;
    EXPECT_EQ(cli_test::namesIn(dir.path()), (std::vector<std::string>{"all.txt", "movie.ass"}))
        << name;
  }
}

// A standard stream closed at the start: nothing the program opens takes
// its place, so no file passes for it.
TEST(CliOutputStreamTest, AClosedStandardStreamIsSaidSoAndTakesNoFilesPlace) {
  const ScratchDir dir;
  // One line that gives no cue, for a warning on standard error.
  const fs::path script = dir.write("movie.ass", kScript + "Dialogue: nothing\n");
  const fs::path output = dir.path() / "movie.srt";
  const auto closing = [](std::vector<int> closed) {
    cli_test::RunSetup setup;
    setup.closed = std::move(closed);
    return setup;
  };
  const Outcome noOutput =
      cli_test::runHostWith({"--to", "srt", script.string()}, closing({STDOUT_FILENO}));
  EXPECT_EQ(noOutput.status, 2);
  EXPECT_NE(noOutput.err.find("cannot write standard output: Bad file descriptor"),
            std::string::npos)
      << noOutput.err;
  const Outcome noInput =
      cli_test::runHostWith({"--to", "srt", "-", "-o", output.string()}, closing({STDIN_FILENO}));
  EXPECT_EQ(noInput.status, 2);
  EXPECT_NE(noInput.err.find("cannot read standard input: Bad file descriptor"), std::string::npos)
      << noInput.err;
  const std::string alone = runHost({"--to", "srt", script.string()}).out;
  const Outcome toFile =
      cli_test::runHostWith({"--to", "srt", script.string(), "-o", output.string()},
                            closing({STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}));
  EXPECT_EQ(toFile.status, 0);
  EXPECT_EQ(readFile(output), alone);  // and none of the messages
}

// --- A run that fails --------------------------------------------------------------------

TEST(CliOutputDeviceTest, AFullDeviceFailsWithAMessage) {
  const Outcome run = runHost({"--to", "srt", "--stats", "-o", "/dev/full"});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.signal, 0);
  EXPECT_NE(run.err.find("cannot write /dev/full: No space left on device"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("cues written:         0\n"), std::string::npos) << run.err;
}

// More than a line may hold: a file of zero bytes has no line end.
constexpr std::uintmax_t kZeroBytes = (std::uintmax_t{64} << 20) + 1;

struct FailedRow {
  const char* what;
  std::vector<std::string> args;  // "@SCRIPT", "@TEXT", "@DIR" stand for files made here
  int status;
  std::string message;
};

void PrintTo(const FailedRow& row, std::ostream* out) { *out << row.what; }

class CliFailedRunTest : public ::testing::TestWithParam<FailedRow> {};

TEST_P(CliFailedRunTest, LeavesAnExistingOutputAsItWas) {
  const ScratchDir dir;
  const fs::path output = dir.write("out.srt", "the user's own file\n");
  ::chmod(output.c_str(), 0640);
  std::vector<std::string> args;
  fs::create_directory(dir.path() / "in");
  for (const std::string& arg : GetParam().args) {
    if (arg == "@SCRIPT") {
      args.push_back(dir.write("in/movie.ass", kScript).string());
    } else if (arg == "@TEXT") {
      args.push_back(dir.write("in/notes.txt", "Shopping list\n").string());
    } else if (arg == "@DIR") {
      args.push_back((dir.path() / "in").string());
    } else if (arg == "@ZEROS" || arg == "@SCRIPT+ZEROS") {
      // Sparse: the zero bytes take no room on the disk.
      const fs::path zeros = dir.write("in/zeros.ass", arg == "@ZEROS" ? "" : kScript);
      fs::resize_file(zeros, fs::file_size(zeros) + kZeroBytes);
      args.push_back(zeros.string());
    } else {
      args.push_back(arg);
    }
  }
  args.insert(args.end(), {"--to", "srt", "-o", output.string()});
  const Outcome run = runHost(args);
  EXPECT_EQ(run.status, GetParam().status) << run.err;
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
  EXPECT_EQ(readFile(output), "the user's own file\n");
  struct stat info {};
  ::stat(output.c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"in", "out.srt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliFailedRunTest,
    ::testing::Values(FailedRow{"a plug-in fault after every cue was written",
                                {"--plugin", SUBRITE_LEAKY_PLUGIN, "@SCRIPT"},
                                1,
                                "out.srt not written; a file there is left as it was"},
                      FailedRow{"an unreadable script", {"@DIR"}, 2, "cannot read: Is a directory"},
                      FailedRow{"not a script", {"@TEXT"}, 2, "not an SSA/ASS script"},
                      FailedRow{"a file of zero bytes",
                                {"@ZEROS"},
                                2,
                                "line 1 is longer than 64 MiB: not an SSA/ASS script"},
                      FailedRow{"zero bytes after the events",
                                {"@SCRIPT+ZEROS"},
                                2,
                                "line 4 is longer than 64 MiB"},
                      FailedRow{"a plug-in that cannot be loaded",
                                {"--plugin", "/nonexistent.so", "@SCRIPT"},
                                2,
                                "plug-in not found"}),
    rowName);

// The shell's ">" opens a pipe before the program runs, so that a reader
// waiting on it sees its end whatever the program does; -o opens it once the
// script is read, and a run refused before that must end it too.
struct PipeRow {
  const char* what;
  std::vector<std::string> args;  // "@SCRIPT", "@TEXT" stand for files made here
  bool textOnStandardInput;
  std::string message;
};

void PrintTo(const PipeRow& row, std::ostream* out) { *out << row.what; }

class CliFailedRunPipeTest : public ::testing::TestWithParam<PipeRow> {};

TEST_P(CliFailedRunPipeTest, AReaderWaitingOnThePipeSeesItsEnd) {
  const ScratchDir dir;
  const fs::path text = dir.write("notes.txt", "Shopping list\n");
  const fs::path pipe = dir.path() / "out.srt";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
  // Opened without waiting for a writer: poll says the pipe ended (POLLHUP)
  // only once a writer has come and gone, and never blocks.
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0) << std::strerror(errno);
  std::vector<std::string> args;
  for (const std::string& arg : GetParam().args) {
    args.push_back(arg == "@SCRIPT" ? dir.write("movie.ass", kScript).string()
                   : arg == "@TEXT" ? text.string()
                                    : arg);
  }
  args.insert(args.end(), {"--to", "srt", "-o", pipe.string()});
  const Outcome run = runHost(args, GetParam().textOnStandardInput ? text : fs::path("/dev/null"));
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
  pollfd waiting{reader, POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 0), 1) << "the reader would wait for ever";
  EXPECT_NE(waiting.revents & POLLHUP, 0);
  char byte = 0;
  EXPECT_EQ(::read(reader, &byte, 1), 0);
  ::close(reader);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliFailedRunPipeTest,
    ::testing::Values(PipeRow{"not a script", {"@TEXT"}, false, "not an SSA/ASS script"},
                      PipeRow{"a script that cannot be read",
                              {"/nonexistent.ass"},
                              false,
                              "No such file or directory"},
                      PipeRow{"a plug-in that cannot be loaded",
                              {"--plugin", "/nonexistent.so", "@SCRIPT"},
                              false,
                              "plug-in not found"},
                      PipeRow{"a script on standard input without -", {}, true, "give - to"},
                      // Usage errors before -o on the command line, and after.
                      PipeRow{"an unknown option", {"--frobnicate"}, false, "unknown option"},
                      PipeRow{"a bad value", {"--shift", "abc"}, false, "--shift"},
                      PipeRow{"options that do not go together", {"--info"}, false, "--info"}),
    rowName);

TEST(CliOutputFileTest, ANewFileGetsAPlainFilesModeAndReplacesAnOldOneWhole) {
  const ScratchDir dir;
  const fs::path fresh = dir.path() / "fresh.srt";
  const fs::path old = dir.write("old.srt", std::string(100000, 'x'));
  ::chmod(old.c_str(), 0604);
  ASSERT_EQ(runHost({"--to", "srt", "-o", fresh.string()}).status, 0);
  ASSERT_EQ(runHost({"--to", "srt", "-o", old.string()}).status, 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat info {};
  ::stat(fresh.c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
  ::stat(old.c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  EXPECT_EQ(readFile(old), readFile(fresh));
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"fresh.srt", "old.srt"}));
}

TEST(CliOutputFileTest, ADashIsStandardOutput) {
  const Outcome run = runHost({"--to", "srt", "-o", "-"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, cli_test::readFile(fs::path(SUBRITE_CLI_DIR) / "sample.srt.golden"));
}

// --- A run that is interrupted -------------------------------------------------------------

// The program reads a script from a pipe that stays open, so that it is
// still writing when the signal comes.
class CliInterruptTest : public ::testing::TestWithParam<int> {};

TEST_P(CliInterruptTest, ASignalLeavesTheOutputAsItWasAndNoTemporaryFile) {
  const ScratchDir dir;
  const fs::path output = dir.write("out.srt", "the user's own file\n");
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  std::vector<std::string> command =
      cli_test::hostCommand({"--to", "srt", "-", "-o", output.string()});
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(pipeEnds[0], STDIN_FILENO);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    const struct rlimit noCore {};  // SIGQUIT would leave one
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeEnds[0]);
  // More than the first MiB the program looks at before it starts.
  ::signal(SIGPIPE, SIG_IGN);
  std::string script = kScript;
  while (script.size() < (3u << 19)) script += "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,More\n";
  for (std::size_t at = 0; at < script.size();) {
    const ssize_t n = ::write(pipeEnds[1], script.data() + at, script.size() - at);
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0) << "the program stopped reading";
    at += static_cast<std::size_t>(n);
  }
  // The temporary file beside the output shows the program is writing.
  bool writing = false;
  for (int wait = 0; wait < 600 && !writing; ++wait) {
    writing = namesIn(dir.path()).size() == 2;
    if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(writing) << "no temporary file beside the output";
  ::kill(child, GetParam());
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ::close(pipeEnds[1]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam()) << "status " << status;
  EXPECT_EQ(readFile(output), "the user's own file\n");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.srt"});
}

// Ctrl-C and Ctrl-\ at a terminal, a profiler's timer, a real-time signal.
INSTANTIATE_TEST_SUITE_P(Signals, CliInterruptTest,
                         ::testing::Values(SIGTERM, SIGQUIT, SIGPROF, SIGRTMIN + 1),
                         [](const auto& info) {
                           return info.param == SIGTERM   ? std::string("Term")
                                  : info.param == SIGQUIT ? std::string("Quit")
                                  : info.param == SIGPROF ? std::string("Prof")
                                                          : std::string("RealTime");
                         });

// Past a file size limit (ulimit -f) the run fails as on a full disk, not
// killed in the middle of a write.
TEST(CliOutputDeviceTest, AFileSizeLimitFailsLikeAFullDisk) {
  const ScratchDir dir;
  const fs::path output = dir.write("out.srt", "the user's own file\n");
  std::string text = kScript;
  while (text.size() < 100000) text += "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,More\n";
  const fs::path script = dir.write("movie.ass", text);
  cli_test::RunSetup setup;
  setup.fileSizeLimit = 16384;
  const Outcome run =
      cli_test::runHostWith({"--to", "srt", script.string(), "-o", output.string()}, setup);
  EXPECT_EQ(run.status, 2) << "signal " << run.signal << ": " << run.err;
  EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
  EXPECT_EQ(readFile(output), "the user's own file\n");
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"movie.ass", "out.srt"}));

  // Standard output into a file cannot be kept whole, but the run still
  // ends as a failed write, not by the signal.
  setup.appendOutputTo = output;
  const Outcome piped = cli_test::runHostWith({"--to", "srt", script.string()}, setup);
  EXPECT_EQ(piped.status, 2) << "signal " << piped.signal << ": " << piped.err;
  EXPECT_NE(piped.err.find("File too large"), std::string::npos) << piped.err;
}

}  // namespace
