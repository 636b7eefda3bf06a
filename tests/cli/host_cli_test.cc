// subrite-host as a user runs it: the built program, the built module, files
// on disk, exit statuses and messages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/run_host.h"
#include "tests/cli/srt_check.h"

namespace {

// Parameterised rows are named by their position; they print as what they test.
const auto rowName = [](const auto& info) { return "Row" + std::to_string(info.index); };

namespace fs = std::filesystem;
using cli_test::Outcome;
using cli_test::readFile;
using cli_test::runHost;
using cli_test::ScratchDir;
using cli_test::statsOf;

const fs::path kCliDir = SUBRITE_CLI_DIR;
const fs::path kSample = SUBRITE_SAMPLE_SCRIPT;

std::string golden(const std::string& form) {
  return readFile(kCliDir / ("sample." + form + ".golden"));
}

::testing::AssertionResult Succeeded(const Outcome& run) {
  if (run.status == 0 && run.signal == 0 && run.err.find("fault") == std::string::npos) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "status " << run.status << ", signal " << run.signal << ", stderr:\n"
         << run.err;
}

// --- The bundled sample against the checked outputs ----------------------------

struct GoldenRow {
  const char* what;
  std::vector<std::string> args;
  bool sampleOnStdin;
  std::string form;
};

void PrintTo(const GoldenRow& row, std::ostream* out) { *out << row.what; }

class CliGoldenTest : public ::testing::TestWithParam<GoldenRow> {};

TEST_P(CliGoldenTest, ConvertsTheSampleAsChecked) {
  const GoldenRow& row = GetParam();
  const Outcome run = runHost(row.args, row.sampleOnStdin ? kSample : fs::path("/dev/null"));
  ASSERT_TRUE(Succeeded(run));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, golden(row.form));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliGoldenTest,
    ::testing::Values(GoldenRow{"bundled, default form", {}, false, "markup"},
                      GoldenRow{"bundled, markup", {"--to", "markup"}, false, "markup"},
                      GoldenRow{"bundled, srt", {"--to", "srt"}, false, "srt"},
                      GoldenRow{"bundled, jsonl", {"--to=jsonl"}, false, "jsonl"},
                      GoldenRow{"the same file by path", {SUBRITE_SAMPLE_SCRIPT}, false, "markup"},
                      GoldenRow{
                          "srt by path", {"--to", "srt", SUBRITE_SAMPLE_SCRIPT}, false, "srt"},
                      GoldenRow{"standard input", {"-"}, true, "markup"}),
    rowName);

// Converting the sample where the user piped in a script and forgot the
// "-" would look like success.
TEST(CliGoldenTest, NoScriptWithAScriptOnStandardInputIsRefused) {
  const Outcome run = runHost({"--to", "srt"}, kSample);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("give - to convert it"), std::string::npos) << run.err;
}

TEST(CliGoldenFileTest, TheCheckedSubRipIsValid) {
  const cli_test::SrtVerdict verdict = cli_test::checkSrt(golden("srt"));
  EXPECT_TRUE(verdict.valid) << verdict.error;
  EXPECT_EQ(verdict.cues, 11u);
}

TEST(CliOutputFileTest, WritesToTheFileAndNothingToStandardOutput) {
  const ScratchDir dir;
  const fs::path out = dir.path() / "sample.srt";
  const Outcome run = runHost({"--to", "srt", "-o", out.string()});
  ASSERT_TRUE(Succeeded(run));
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(readFile(out), golden("srt"));
}

// --- Line ends and the byte-order mark ---------------------------------------------

std::string withLineEnds(const std::string& text, const std::string& end) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += end;
    } else {
      out += c;
    }
  }
  return out;
}

struct LineEndRow {
  const char* what;
  std::string end;
  bool mark;
  bool finalEnd;
};

void PrintTo(const LineEndRow& row, std::ostream* out) { *out << row.what; }

class CliLineEndTest : public ::testing::TestWithParam<LineEndRow> {};

TEST_P(CliLineEndTest, EveryFormOfTheSampleGivesTheSameCues) {
  const LineEndRow& row = GetParam();
  std::string script = withLineEnds(readFile(kSample), row.end);
  if (!row.finalEnd) script.resize(script.size() - row.end.size());
  if (row.mark) script = "\xEF\xBB\xBF" + script;
  const ScratchDir dir;
  const Outcome run = runHost({dir.write("variant.ass", script).string()});
  ASSERT_TRUE(Succeeded(run));
  EXPECT_EQ(run.out, golden("markup"));
}

INSTANTIATE_TEST_SUITE_P(Rows, CliLineEndTest,
                         ::testing::Values(LineEndRow{"CRLF", "\r\n", false, true},
                                           LineEndRow{"CR", "\r", false, true},
                                           LineEndRow{"mark and LF", "\n", true, true},
                                           LineEndRow{"mark and CRLF", "\r\n", true, true},
                                           LineEndRow{"no final line end", "\n", false, false},
                                           LineEndRow{"CR, none at the end", "\r", true, false}),
                         rowName);

// --- Error paths ----------------------------------------------------------------------

struct ErrorRow {
  const char* what;
  std::vector<std::string> args;  // "@TEXT": a file of plain text; "@DIR": a directory
  int status;
  std::string message;
};

void PrintTo(const ErrorRow& row, std::ostream* out) { *out << row.what; }

class CliErrorTest : public ::testing::TestWithParam<ErrorRow> {};

TEST_P(CliErrorTest, SaysWhatIsWrongWithItsStatus) {
  const ErrorRow& row = GetParam();
  const ScratchDir dir;
  const fs::path text = dir.write("notes.txt", "Shopping list\neggs, milk\n");
  std::vector<std::string> args;
  for (const std::string& arg : row.args) {
    args.push_back(arg == "@TEXT" ? text.string() : arg == "@DIR" ? dir.path().string() : arg);
  }
  const Outcome run = runHost(args);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, row.status) << run.err;
  EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
  if (row.status == 2) {
    EXPECT_EQ(run.out, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliErrorTest,
    ::testing::Values(
        ErrorRow{"missing script",
                 {"/nonexistent/movie.ass"},
                 2,
                 "cannot open /nonexistent/movie.ass: No such file"},
        ErrorRow{"a directory", {"@DIR"}, 2, "cannot read: Is a directory"},
        ErrorRow{"not a script", {"@TEXT"}, 2, "no [Events] section: not an SSA/ASS script"},
        ErrorRow{"missing plug-in",
                 {"--plugin", "/nonexistent/libsubrite.so"},
                 2,
                 "plug-in not found: /nonexistent/libsubrite.so"},
        ErrorRow{"not a library", {"--plugin", "@TEXT"}, 2, "cannot load plug-in"},
        ErrorRow{"no entry point",
                 {"--plugin", SUBRITE_NO_ENTRY_PLUGIN},
                 2,
                 "has no _getPlugin entry point"},
        ErrorRow{"no plug-in object",
                 {"--plugin", SUBRITE_NULL_PLUGIN},
                 2,
                 "_getPlugin gave no plug-in object"},
        ErrorRow{"unknown option", {"--frobnicate"}, 2, "unknown option --frobnicate"},
        ErrorRow{"unknown form", {"--to", "ass"}, 2, "unknown output form 'ass'"},
        ErrorRow{"unknown encoding", {"--encoding", "klingon"}, 2, "unknown encoding 'klingon'"},
        // A value with a line break and a terminal escape stays on one line.
        ErrorRow{"a value with control characters",
                 {"--to", "srt\n\x1B[2J"},
                 2,
                 "unknown output form 'srt\\n\\x1B[2J' (markup"},
        ErrorRow{"two scripts", {"a.ass", "b.ass"}, 2, "only one script"},
        ErrorRow{"unwritable output",
                 {"-o", "/nonexistent/dir/out.srt"},
                 2,
                 "cannot write /nonexistent/dir/out.srt"},
        ErrorRow{"a plug-in that keeps its samples",
                 {"--plugin", SUBRITE_LEAKY_PLUGIN},
                 1,
                 "never released (held by the component)"},
        ErrorRow{"a plug-in that answers for the wrong event",
                 {"--plugin", SUBRITE_STRAY_PLUGIN},
                 1,
                 "an output sample carries event 2 while event 1 was being sent"}),
    rowName);

// A fault on a line that holds a NUL byte is a fault like any other: it is
// not hidden behind the NUL.
TEST(CliFaultTest, AFaultOnALineWithANulIsReported) {
  const ScratchDir dir;
  const std::string head = "[Events]\nFormat: Layer, Start, End, Style, Text\n";
  const fs::path clean =
      dir.write("clean.ass", head + "Dialogue: 0,0:00:01.00,0:00:02.00,S,fine\n");
  const fs::path nul =
      dir.write("nul.ass", head + std::string("Dialogue: 0,0:00:01.00,0:00:02.00,S,a\0b\n", 40));
  const Outcome control = runHost({"--plugin", SUBRITE_NUL_PLUGIN, clean.string()});
  EXPECT_EQ(control.status, 0) << control.err;
  const Outcome run = runHost({"--plugin", SUBRITE_NUL_PLUGIN, nul.string()});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("not NUL-terminated at payloadSize"), std::string::npos) << run.err;
}

// Faults of the teardown, few and grave, are named however many faults the
// lines had.
TEST(CliFaultTest, AFaultOfTheTeardownIsNamedFirstDespiteAFaultOnEveryLine) {
  const ScratchDir dir;
  std::string script = "[Events]\nFormat: Layer, Start, End, Style, Text\n";
  for (int i = 0; i < 40; ++i) script += "Dialogue: 0,0:00:01.00,0:00:02.00,S,line\n";
  const fs::path path = dir.write("many.ass", script);
  const Outcome run = runHost({"--plugin", SUBRITE_STRAY_PLUGIN, path.string()});
  EXPECT_EQ(run.status, 1) << run.err;
  const std::size_t teardown = run.err.find("the plug-in refused to close its output port");
  EXPECT_NE(teardown, std::string::npos) << run.err;
  EXPECT_LT(teardown, run.err.find("while event 1 was being sent")) << run.err;
  EXPECT_NE(run.err.find(": ... and 20 more\n"), std::string::npos) << run.err;
}

// A plug-in that keeps every sample leaves a buffer a line: the report names
// the first few, each on a line of its own, and counts the rest.
TEST(CliFaultTest, ABufferLeftOnEveryLineIsReportedInAFewWholeLines) {
  const ScratchDir dir;
  std::string script = "[Events]\nFormat: Layer, Start, End, Style, Text\n";
  for (int i = 0; i < 40; ++i) script += "Dialogue: 0,0:00:01.00,0:00:02.00,S,line\n";
  const fs::path path = dir.write("many.ass", script);
  const Outcome run = runHost({"--plugin", SUBRITE_LEAKY_PLUGIN, path.string()});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err.find("\\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("buffer accounting: made "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("buffer accounting: ... and 30 more never released\n"), std::string::npos)
      << run.err;
  EXPECT_LT(std::count(run.err.begin(), run.err.end(), '\n'), 20) << run.err;
}

// The downstream peer's complaints are cut the same way: none is lost
// without a word.
TEST(CliFaultTest, AFaultDownstreamOnEveryLineIsCountedPastTheFirstFew) {
  const ScratchDir dir;
  std::string script = "[Events]\nFormat: Layer, Start, End, Style, Text\n";
  for (int i = 0; i < 30; ++i) {
    script += std::string("Dialogue: 0,0:00:01.00,0:00:02.00,S,a\0b\n", 40);
  }
  const fs::path path = dir.write("nuls.ass", script);
  const Outcome run = runHost({"--plugin", SUBRITE_NUL_PLUGIN, path.string()});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("downstream: ... and 10 more\n"), std::string::npos) << run.err;
}

TEST(CliHelpTest, ListsTheOptionsAndAnExample) {
  const Outcome run = runHost({"--help"});
  ASSERT_TRUE(Succeeded(run));
  for (const char* text : {"Usage: subrite-host [options] [SCRIPT]",
                           "--to FORM",
                           "markup",
                           "srt",
                           "jsonl",
                           "-o, --output FILE",
                           "--encoding NAME",
                           "--plugin PATH",
                           "--info",
                           "--stats",
                           "--version",
                           "--no-style",
                           "-h, --help",
                           "-d, --output-dir DIR",
                           "-j, --jobs N",
                           "--shift TIME",
                           "vtt",
                           "Examples:\n  subrite-host --to srt movie.ass -o movie.srt\n",
                           "subrite-host --to vtt -d subs/ -j 4 season1/\n",
                           "subrite-host --to srt --shift -1.5 movie.ass -o movie.srt\n"}) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text;
  }
  // Read in a terminal of 80 columns.
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

TEST(CliHelpTest, WhatCannotBePrintedFails) {
  cli_test::RunSetup setup;
  setup.appendOutputTo = "/dev/full";
  for (const char* option : {"--help", "--version", "--info"}) {
    const Outcome run = cli_test::runHostWith({option}, setup);
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_NE(run.err.find("cannot write standard output: No space left on device"),
              std::string::npos)
        << option << ": " << run.err;
  }
}

// --- Properties -----------------------------------------------------------------------

struct InfoRow {
  const char* what;
  std::string script;  // "" for the bundled sample
  std::string inputFormat;
};

void PrintTo(const InfoRow& row, std::ostream* out) { *out << row.what; }

class CliInfoTest : public ::testing::TestWithParam<InfoRow> {};

TEST_P(CliInfoTest, ReportsThePropertiesWithThePortsOpen) {
  const ScratchDir dir;
  std::vector<std::string> args = {"--info"};
  if (!GetParam().script.empty()) args.push_back(dir.write("s.ass", GetParam().script).string());
  const Outcome run = runHost(args);
  ASSERT_TRUE(Succeeded(run));
  const std::map<std::string, std::string> info = statsOf(run.out);
  EXPECT_EQ(info.at("Name"), "Glyphtide Subtitle Decoder");
  EXPECT_EQ(info.at("Type"), "Overlay|Decoder|Glyphtide");
  EXPECT_EQ(info.at("InputFormat"), GetParam().inputFormat);
  EXPECT_EQ(info.at("OutputFormat"), "UTF8");
  EXPECT_EQ(info.at("Plug-in"), SUBRITE_MODULE_PATH);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliInfoTest,
    ::testing::Values(InfoRow{"bundled sample", "", "ASS"},
                      InfoRow{"SSA styles", "[V4 Styles]\n[Events]\nFormat: Text\n", "SSA"},
                      InfoRow{"ASS styles", "[V4+ Styles]\n[Events]\nFormat: Text\n", "ASS"},
                      InfoRow{"no style section", "[Events]\nFormat: Text\n", "ASS"}),
    rowName);

// --- Statistics and streaming ----------------------------------------------------------

TEST(CliStatsTest, CountsTheSampleAndItsBuffers) {
  const Outcome run = runHost({"--stats", "-o", "/dev/null"});
  ASSERT_TRUE(Succeeded(run));
  const std::map<std::string, std::string> stats = statsOf(run.err);
  EXPECT_EQ(stats.at("lines read"), "32");
  EXPECT_EQ(stats.at("dialogue lines"), "11");
  EXPECT_EQ(stats.at("cues written"), "11");
  // The Comment line and a ";" line in the events.
  EXPECT_EQ(stats.at("lines without output"), "2");
  // The format record, 13 event samples and 11 output samples.
  EXPECT_EQ(stats.at("buffers allocated"), "25");
  EXPECT_EQ(stats.at("buffers released"), "25");
  EXPECT_NE(stats.count("elapsed"), 0u);
  EXPECT_NE(stats.count("lines per second"), 0u);
}

// The times of a cue count once it is written, as its raised end does; and
// a file refused still says how many lines were read of it.
TEST(CliStatsTest, CountsTimesOfWrittenCuesAndTheLinesOfARefusedFile) {
  const ScratchDir dir;
  const fs::path script =
      dir.write("drop.ass",
                "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
                "Effect, Text\n"
                "Dialogue: 0,x,y,Default,,0,0,0,,{\\i0}\n"
                "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\i0}\n"
                "Dialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,ok\n");
  for (const char* form : {"srt", "vtt"}) {
    const Outcome run = runHost({"--to", form, "--shift", "-1.5", "--stats", script.string()});
    ASSERT_TRUE(Succeeded(run)) << form;
    const std::map<std::string, std::string> stats = statsOf(run.err);
    EXPECT_EQ(stats.at("cues written"), "1") << form;
    EXPECT_EQ(stats.at("cues without text"), "2 (not written)") << form;
    EXPECT_EQ(stats.at("unreadable times"), "0 (taken as 0 before any shift)") << form;
    EXPECT_EQ(stats.at("times before 0"), "0 (shifted to 0)") << form;
  }
  const Outcome refused =
      runHost({"--stats", dir.write("notascript.ass", "one\ntwo\nthree\n").string()});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(statsOf(refused.err).at("lines read"), "3");
}

TEST(CliStreamingTest, ALongScriptRunsInFlatMemory) {
  // Under an emulator or a sanitizer a tenth of it shows the same, sooner.
  const int lines = cli_test::measuredDirectly() ? 200000 : 20000;
  const ScratchDir dir;
  const fs::path script = dir.path() / "long.ass";
  {
    std::ofstream out(script, std::ios::binary);
    out << "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\n"
           "Style: Default,Arial,20,&HFFFFFF,0,0\n[Events]\n"
           "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    for (int i = 0; i < lines; ++i) {
      out << "Dialogue: 0,0:" << (i / 60 % 60) << ':' << (i % 60)
          << ".00,0:00:00.50,Default,,0,0,0,,"
          << "{\\i1}Line{\\i0} " << i << ", with a\\Nbreak\r\n";
    }
  }
  const fs::path srt = dir.path() / "long.srt";
  const Outcome run = runHost({"--to", "srt", "--stats", "-o", srt.string(), script.string()});
  ASSERT_TRUE(Succeeded(run));
  const std::map<std::string, std::string> stats = statsOf(run.err);
  EXPECT_EQ(stats.at("cues written"), std::to_string(lines));
  EXPECT_EQ(stats.at("buffers allocated"), stats.at("buffers released"));
  const cli_test::SrtVerdict verdict = cli_test::checkSrt(readFile(srt));
  EXPECT_TRUE(verdict.valid) << verdict.error;
  EXPECT_EQ(verdict.cues, static_cast<std::size_t>(lines));
  if (cli_test::measuredDirectly()) {
    EXPECT_LT(run.peakKiB, 16 * 1024) << "peak resident set in KiB";
  }
}

// --- Where the plug-in is found ----------------------------------------------------------

struct LayoutRow {
  const char* what;
  const char* programDir;  // relative to a scratch directory
  const char* moduleDir;   // "" for no module
  int status;
  std::string message;  // in standard output or error
};

void PrintTo(const LayoutRow& row, std::ostream* out) { *out << row.what; }

class CliPluginLayoutTest : public ::testing::TestWithParam<LayoutRow> {};

TEST_P(CliPluginLayoutTest, FindsTheModuleBesideOrInLib) {
  const LayoutRow& row = GetParam();
  const ScratchDir dir;
  const fs::path program = dir.path() / row.programDir / "subrite-host";
  fs::create_directories(program.parent_path());
  fs::copy_file(SUBRITE_HOST_PROGRAM, program);
  if (*row.moduleDir != '\0') {
    fs::create_directories(dir.path() / row.moduleDir);
    fs::copy_file(SUBRITE_MODULE_PATH, dir.path() / row.moduleDir / "libsubrite.so");
  }
  const Outcome run = cli_test::runProgram(program, {"--info"});
  EXPECT_EQ(run.status, row.status) << run.err;
  EXPECT_NE((run.out + run.err).find(row.message), std::string::npos) << run.out << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliPluginLayoutTest,
    ::testing::Values(LayoutRow{"beside", "tree", "tree", 0, "tree/libsubrite.so"},
                      LayoutRow{"installed", "tree/bin", "tree/lib", 0, "bin/../lib/libsubrite.so"},
                      LayoutRow{"nowhere", "tree/bin", "", 2, "plug-in not found (looked for "}),
    rowName);

// In a chroot or sandbox without /proc the module beside the program is
// still found, and a file of that name in the folder it runs in is not
// loaded (it would run whatever someone left there).
TEST(CliPluginLayoutTest, WithoutProcTheModuleBesideTheProgramIsLoaded) {
  if (!cli_test::measuredDirectly()) {
    GTEST_SKIP() << "an emulator or a sanitizer reads /proc itself";
  }
  if (std::system("unshare -m true 2> /dev/null") != 0) {
    GTEST_SKIP() << "needs a mount namespace of its own (unshare -m, as root)";
  }
  const ScratchDir dir;
  dir.write("libsubrite.so", "not a library");
  std::vector<std::string> args = {
      "-m", "sh",
      "-c", "mount -t tmpfs none /proc && cd \"$1\" && shift && exec \"$@\"",
      "sh", dir.path().string()};
  for (const std::string& word : cli_test::hostCommand({"--info"})) args.push_back(word);
  const Outcome run = cli_test::runProgram("/usr/bin/unshare", args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(fs::path(SUBRITE_MODULE_PATH).string()), std::string::npos) << run.out;
}

// --- Scripts that are odd but must not break anything --------------------------------------

struct OddRow {
  const char* what;
  std::string script;
  std::size_t cues;
};

void PrintTo(const OddRow& row, std::ostream* out) { *out << row.what; }

class CliOddScriptTest : public ::testing::TestWithParam<OddRow> {};

TEST_P(CliOddScriptTest, RunsCleanlyAndWritesValidSubRip) {
  const ScratchDir dir;
  const fs::path script = dir.write("odd.ass", GetParam().script);
  for (const char* form : {"markup", "jsonl"}) {
    EXPECT_TRUE(Succeeded(runHost({"--to", form, script.string()}))) << form;
  }
  const Outcome run = runHost({"--to", "srt", script.string()});
  ASSERT_TRUE(Succeeded(run));
  const cli_test::SrtVerdict verdict = cli_test::checkSrt(run.out);
  EXPECT_TRUE(verdict.valid) << verdict.error << "\n" << run.out;
  EXPECT_EQ(verdict.cues, GetParam().cues) << run.out;
}

const std::string kEvents =
    "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, CliOddScriptTest,
    ::testing::Values(
        OddRow{"events and nothing else", kEvents, 0},
        OddRow{"no Text column", "[Events]\nFormat: Start, End\nDialogue: 0:00:01.00,x\n", 1},
        OddRow{"empty Format", "[Events]\nFormat:\nDialogue: whole line\n", 1},
        OddRow{"no Format line", "[Events]\nDialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,a\n", 1},
        OddRow{"short lines", kEvents + "Dialogue:\nDialogue: 0,1\nDialogue: 0,a,b,c,d,e,f,g,h,\n",
               0},
        // A cue with no text is not written to SubRip.
        OddRow{"empty text after a space", kEvents + "Dialogue: 0,a,b,c,d,e,f,g,h, \n", 0},
        OddRow{"blank lines in the markup",
               kEvents + "Dialogue: 0,a,b,S,,0,0,0,,\\N\\N\\Nx\\N \\N\n", 1},
        OddRow{"only codes", kEvents + "Dialogue: 0,a,b,S,,0,0,0,,{\\pos(1,2)}\n", 0},
        OddRow{"open brace", kEvents + "Dialogue: 0,a,b,S,,0,0,0,,{\\b1 never closed\n", 1},
        OddRow{"NUL bytes in the text",
               kEvents + std::string("Dialogue: 0,a,b,S,,0,0,0,,x\0y\n", 30), 1},
        OddRow{"bytes that are no text", kEvents + "Dialogue: 0,a,b,S,,0,0,0,,\xFF\xFE\x01\x85\n",
               1},
        OddRow{"a long line",
               kEvents + "Dialogue: 0,a,b,S,,0,0,0,," + std::string(1 << 20, 'w') + "\n", 1},
        OddRow{"indented lines",
               " [Events]\n " + kEvents.substr(9) + "\t Dialogue: 0,a,b,S,,0,0,0,,x\n", 1},
        OddRow{"dialogue in the header is not an event",
               "Dialogue: 0,a,b,S,,0,0,0,,early\n" + kEvents + "Comment: 0,a,b,S,,0,0,0,,c\n", 0}),
    rowName);

TEST(CliOddScriptOutputTest, WarnsWhenTheEventsHaveNoTextColumn) {
  const ScratchDir dir;
  const Outcome run = runHost(
      {dir.write("s.ass", "[Events]\nFormat: Start, End\nDialogue: 0:00:01.00,x\n").string()});
  ASSERT_TRUE(Succeeded(run));
  EXPECT_NE(run.err.find("no Text column"), std::string::npos) << run.err;
  // The module then takes the first field as the text.
  EXPECT_NE(run.out.find("\n0:00:01.00\n\n"), std::string::npos) << run.out;
}

TEST(CliOddScriptOutputTest, SaysSoWhenNoEventGivesACue) {
  const ScratchDir dir;
  const Outcome run =
      runHost({dir.write("s.ass", kEvents + "\n0,a,b,S,,0,0,0,,no key\n; a note\n").string()});
  ASSERT_TRUE(Succeeded(run));
  EXPECT_NE(run.err.find("none of the 2 lines after its header gave a cue (the first is line 4)"),
            std::string::npos)
      << run.err;
}

// A Dialogue line that lost a comma has no Text field and gives no cue:
// among lines that convert it would go unseen. An empty Text is no loss.
TEST(CliOddScriptOutputTest, SaysSoWhenADialogueLineIsCutShort) {
  const ScratchDir dir;
  const std::string good = "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,ok\n";
  const std::string empty = "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,\n";
  const std::string shortLine = "Dialogue: 0,0:00:01.00,0:00:02.00,S,0,0,0,lost\n";
  const struct {
    std::string events;
    std::string says;  // "" for no warning
  } rows[] = {{good + empty, ""},
              {good + shortLine + empty,
               "a Dialogue line has fewer fields than the events format and no text, so no cue "
               "(line 4)"},
              {shortLine + good + shortLine,
               "2 Dialogue lines have fewer fields than the events format and no text, so no cue "
               "(the first is line 3)"}};
  for (const auto& row : rows) {
    for (const char* form : {"markup", "srt"}) {
      const Outcome run =
          runHost({"--to", form, dir.write("s.ass", kEvents + row.events).string()});
      ASSERT_TRUE(Succeeded(run)) << row.events;
      if (row.says.empty()) {
        EXPECT_EQ(run.err, "") << row.events;
      } else {
        EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
      }
    }
  }
}

// Markup of tags alone ("</i>") is a cue of the plug-in's that SubRip and
// WebVTT leave out: a file of no cue says so, and one with a cue does not.
TEST(CliOddScriptOutputTest, SaysSoWhenNoCueKeepsText) {
  const ScratchDir dir;
  const std::string tagsOnly = dir.write(
      "s.ass", kEvents + "Dialogue: 0,a,b,S,,0,0,0,,{\\i0}\nDialogue: 0,a,b,S,,0,0,0,,{\\b0}\n");
  // Times that can be read: those that cannot are warned of too.
  const std::string oneText =
      dir.write("t.ass", kEvents +
                             "Dialogue: 0,a,b,S,,0,0,0,,{\\i0}\n"
                             "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,x\n");
  for (const char* form : {"srt", "vtt"}) {
    const Outcome none = runHost({"--to", form, tagsOnly});
    ASSERT_TRUE(Succeeded(none)) << form;
    EXPECT_NE(none.err.find("none of its 2 cues has text once balanced for " + std::string(form) +
                            " (the first is line 3), so the output holds no cue"),
              std::string::npos)
        << none.err;
    const Outcome some = runHost({"--to", form, oneText});
    ASSERT_TRUE(Succeeded(some)) << form;
    EXPECT_EQ(some.err, "") << form;
  }
  const Outcome markup = runHost({"--to", "markup", tagsOnly});
  ASSERT_TRUE(Succeeded(markup));
  EXPECT_EQ(markup.err, "");
}

// A drawing ("{\p1}m 0 0 l ...") is left out of SubRip and WebVTT and
// counted; markup and JSON lines keep it as the module made it.
TEST(CliDrawingOutputTest, SubRipAndWebVttLeaveOutDrawings) {
  const ScratchDir dir;
  const std::string script = dir.write(
      "d.ass", kEvents +
                   "Dialogue: 0,0:00:01.00,0:00:04.00,S,,0,0,0,,{\\an7\\pos(10,10)\\p1}m 0 0 l "
                   "100 0 100 100 0 100{\\p0}\n"
                   "Dialogue: 0,0:00:01.00,0:00:04.00,S,,0,0,0,,Real dialogue\n"
                   "Dialogue: 0,0:00:02.00,0:00:04.00,S,,0,0,0,,{\\p1}m 0 0 l 1 1{\\p0}Mixed\n");
  for (const char* form : {"srt", "vtt"}) {
    const Outcome run = runHost({"--to", form, "--stats", script});
    ASSERT_TRUE(Succeeded(run)) << form;
    EXPECT_EQ(run.out.find("100 100"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Real dialogue"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("m 0 0 l 1 1Mixed"), std::string::npos) << run.out;
    const std::map<std::string, std::string> stats = statsOf(run.err);
    EXPECT_EQ(stats.at("cues written"), "2") << form;
    EXPECT_EQ(stats.at("drawings"), "1 (not written)") << form;
    EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
  }
  const Outcome srt = runHost({"--to", "srt", script});
  EXPECT_EQ(srt.out,
            "1\n00:00:01,000 --> 00:00:04,000\nReal dialogue\n\n"
            "2\n00:00:02,000 --> 00:00:04,000\nm 0 0 l 1 1Mixed\n\n");
  const Outcome markup = runHost({"--to", "markup", script});
  ASSERT_TRUE(Succeeded(markup));
  EXPECT_EQ(markup.out,
            "#1 line 3 0:00:01.00 --> 0:00:04.00 S\nm 0 0 l 100 0 100 100 0 100\n\n"
            "#2 line 4 0:00:01.00 --> 0:00:04.00 S\nReal dialogue\n\n"
            "#3 line 5 0:00:02.00 --> 0:00:04.00 S\nm 0 0 l 1 1Mixed\n\n");
  const Outcome jsonl = runHost({"--to", "jsonl", script});
  ASSERT_TRUE(Succeeded(jsonl));
  EXPECT_NE(jsonl.out.find("\"line\":3,\"start\":\"0:00:01.00\",\"end\":\"0:00:04.00\","
                           "\"style\":\"S\",\"markup\":\"m 0 0 l 100 0 100 100 0 100\"}\n"),
            std::string::npos)
      << jsonl.out;
  EXPECT_EQ(std::count(jsonl.out.begin(), jsonl.out.end(), '\n'), 3);
}

// A file whose every cue is a drawing says why it holds none.
TEST(CliDrawingOutputTest, SaysSoWhenEveryCueIsADrawing) {
  const ScratchDir dir;
  const std::string drawings =
      dir.write("d.ass", kEvents +
                             "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,{\\p1}m 0 0 l 1 1\n"
                             "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,{\\p1}m 0 0 l 2 2\n");
  const std::string mixed =
      dir.write("m.ass", kEvents +
                             "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,{\\i0}\n"
                             "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,{\\p1}m 0 0 l 2 2\n");
  for (const char* form : {"srt", "vtt"}) {
    const Outcome all = runHost({"--to", form, drawings});
    ASSERT_TRUE(Succeeded(all)) << form;
    EXPECT_NE(all.err.find("its 2 cues are drawings, which " + std::string(form) +
                           " leaves out (the first is line 3), so the output holds no cue"),
              std::string::npos)
        << all.err;
    const Outcome some = runHost({"--to", form, mixed});
    ASSERT_TRUE(Succeeded(some)) << form;
    EXPECT_NE(some.err.find("of its 2 cues, 1 is a drawing, which " + std::string(form) +
                            " leaves out, and 1 has no text once balanced (the first is line "
                            "3), so the output holds no cue"),
              std::string::npos)
        << some.err;
  }
}

// Times that cannot be read are taken as 0, and said so once; so is an
// events format that names no Start or End column as the module reads it.
struct TimesRow {
  const char* what;
  std::string script;
  std::vector<std::string> args;
  std::string warning;  // "" for none
};

void PrintTo(const TimesRow& row, std::ostream* out) { *out << row.what; }

class CliTimesWarningTest : public ::testing::TestWithParam<TimesRow> {};

TEST_P(CliTimesWarningTest, SaysWhenTimesWereTakenAsZero) {
  const ScratchDir dir;
  std::vector<std::string> args = GetParam().args;
  args.push_back(dir.write("t.ass", GetParam().script).string());
  const Outcome run = runHost(args);
  ASSERT_TRUE(Succeeded(run));
  if (GetParam().warning.empty()) {
    EXPECT_EQ(run.err, "");
  } else {
    EXPECT_EQ(run.err, "subrite-host: warning: " + (dir.path() / "t.ass").string() + ": " +
                           GetParam().warning + "\n");
  }
}

const std::string kUnreadable = kEvents +
                                "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,ok\n"
                                "Dialogue: 0,0:05.00,0:06.00,S,,0,0,0,,mm:ss\n"
                                "Dialogue: 0,5.00,0:00:06.00,S,,0,0,0,,seconds\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, CliTimesWarningTest,
    ::testing::Values(
        TimesRow{"times read",
                 kEvents + "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,ok\n",
                 {"--to", "srt"},
                 ""},
        TimesRow{"some unreadable, srt",
                 kUnreadable,
                 {"--to", "srt"},
                 "3 of the 6 times of the cues written could not be read and were taken as 0; "
                 "the first is on line 4"},
        TimesRow{"some unreadable, vtt, shifted",
                 kUnreadable,
                 {"--to", "vtt", "--shift", "2"},
                 "3 of the 6 times of the cues written could not be read and were taken as 0; "
                 "the first is on line 4"},
        TimesRow{"one",
                 kEvents + "Dialogue: 0,0:00:01.00,soon,S,,0,0,0,,x\n",
                 {"--to", "srt"},
                 "1 of the 2 times of the cues written could not be read and was taken as 0; "
                 "the first is on line 3"},
        TimesRow{"only of cues written",
                 kEvents + "Dialogue: 0,x,y,S,,0,0,0,,{\\i0}\n"
                           "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,ok\n",
                 {"--to", "srt"},
                 ""},
        TimesRow{"the markup form copies them", kUnreadable, {"--to", "markup"}, ""},
        TimesRow{"JSON lines copy them", kUnreadable, {"--to", "jsonl"}, ""},
        TimesRow{"columns named in lower case",
                 "[Events]\nFormat: Layer, start, end, Style, Name, MarginL, MarginR, MarginV, "
                 "Effect, Text\nDialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,x\n",
                 {"--to", "srt"},
                 "its events format has no Start or End column (the names are "
                 "case-sensitive, and a tab beside one is part of it), so every time was taken "
                 "as 0"},
        TimesRow{"a tab before a column name",
                 "[Events]\nFormat: Layer,\tStart, End, Style, Name, MarginL, MarginR, MarginV, "
                 "Effect, Text\nDialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,x\n",
                 {"--to", "srt"},
                 "its events format has no Start column (the names are case-sensitive, and a "
                 "tab beside one is part of it), so every start was taken as 0"},
        TimesRow{"no End column",
                 "[Events]\nFormat: Start, Text\nDialogue: 0:00:01.00,x\n",
                 {"--to", "vtt"},
                 "its events format has no End column (the names are case-sensitive, and a "
                 "tab beside one is part of it), so every end was taken as 0"}),
    rowName);

TEST(CliOddScriptOutputTest, JsonCarriesANulByteEscaped) {
  const ScratchDir dir;
  const Outcome run = runHost(
      {"--to", "jsonl",
       dir.write("s.ass", kEvents + std::string("Dialogue: 0,a,b,S,,0,0,0,,x\0y\n", 30)).string()});
  ASSERT_TRUE(Succeeded(run));
  EXPECT_NE(run.out.find("\"markup\":\"x\\u0000y\""), std::string::npos) << run.out;
}

// --- Character sets -------------------------------------------------------------------------

// `utf8` in `encoding`, by iconv.
std::string fromUtf8(const std::string& utf8, const std::string& encoding) {
  const iconv_t converter = ::iconv_open(encoding.c_str(), "UTF-8");
  EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1)) << encoding;
  std::string out(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* to = out.data();
  std::size_t outLeft = out.size();
  EXPECT_NE(::iconv(converter, &in, &inLeft, &to, &outLeft), static_cast<std::size_t>(-1));
  ::iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}

const std::string kFrench =
    kEvents +
    "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,Caf\xC3\xA9 cr\xC3\xA8me\r\n"
    "Dialogue: 0,0:00:03.00,0:00:04.00,S,,0,0,0,,{\\i1}s'il vous pla\xC3\xAEt\r\n";

struct EncodedRow {
  const char* what;
  std::string bytes;
  std::vector<std::string> args;
  bool onStdin;
  std::string says;  // in standard error; "" for nothing at all
};

void PrintTo(const EncodedRow& row, std::ostream* out) { *out << row.what; }

class CliEncodingTest : public ::testing::TestWithParam<EncodedRow> {};

TEST_P(CliEncodingTest, GivesTheCuesOfTheUtf8Script) {
  const EncodedRow& row = GetParam();
  const ScratchDir dir;
  const fs::path reference = dir.write("reference.ass", kFrench);
  const fs::path script = dir.write("script.ass", row.bytes);
  std::vector<std::string> args = row.args;
  args.push_back(row.onStdin ? "-" : script.string());
  const Outcome run = runHost(args, row.onStdin ? script : fs::path("/dev/null"));
  ASSERT_TRUE(Succeeded(run));
  EXPECT_EQ(run.out, runHost({reference.string()}).out);
  if (row.says.empty()) {
    EXPECT_EQ(run.err, "");
  } else {
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliEncodingTest,
    ::testing::Values(
        EncodedRow{"UTF-8", kFrench, {}, false, ""},
        EncodedRow{"UTF-8 with a mark", "\xEF\xBB\xBF" + kFrench, {}, false, ""},
        EncodedRow{"UTF-16LE with a mark",
                   "\xFF\xFE" + fromUtf8(kFrench, "UTF-16LE"),
                   {},
                   false,
                   // A mark decides whatever --encoding says: no advice.
                   "read as UTF-16LE (byte-order mark)\n"},
        EncodedRow{"UTF-16BE with a mark",
                   "\xFE\xFF" + fromUtf8(kFrench, "UTF-16BE"),
                   {},
                   false,
                   "read as UTF-16BE (byte-order mark)"},
        EncodedRow{
            "UTF-16LE without a mark",
            fromUtf8(kFrench, "UTF-16LE"),
            {},
            false,
            "read as UTF-16LE (no byte-order mark; a zero byte beside each ASCII character)"},
        EncodedRow{"UTF-32BE without a mark",
                   fromUtf8(kFrench, "UTF-32BE"),
                   {},
                   false,
                   "read as UTF-32BE (no byte-order mark; three zero bytes beside each ASCII "
                   "character)"},
        EncodedRow{"UTF-32LE with a mark",
                   std::string("\xFF\xFE\0\0", 4) + fromUtf8(kFrench, "UTF-32LE"),
                   {},
                   false,
                   "read as UTF-32LE (byte-order mark)"},
        EncodedRow{"UTF-16LE on standard input",
                   "\xFF\xFE" + fromUtf8(kFrench, "UTF-16LE"),
                   {},
                   true,
                   "standard input: read as UTF-16LE"},
        EncodedRow{"UTF-8 on standard input", kFrench, {}, true, ""},
        EncodedRow{"Windows-1252, given",
                   fromUtf8(kFrench, "WINDOWS-1252"),
                   {"--encoding", "cp1252"},
                   false,
                   ""},
        EncodedRow{"UTF-16 with its mark, given",
                   fromUtf8(kFrench, "UTF-16"),
                   {"--encoding", "UTF-16"},
                   false,
                   ""},
        // iconv would read these as little-endian.
        EncodedRow{"UTF-16BE without a mark, given UTF-16",
                   fromUtf8(kFrench, "UTF-16BE"),
                   {"--encoding", "utf-16"},
                   false,
                   ""},
        EncodedRow{"UTF-32BE without a mark, given UTF-32",
                   fromUtf8(kFrench, "UTF-32BE"),
                   {"--encoding", "UTF32"},
                   true,
                   ""},
        // One --encoding for a whole folder of scripts.
        EncodedRow{"UTF-8 with a mark, given another",
                   "\xEF\xBB\xBF" + kFrench,
                   {"--encoding", "latin1"},
                   false,
                   "read as UTF-8, as its byte-order mark says, not as latin1"},
        EncodedRow{"UTF-16LE with a mark, given UTF-8",
                   "\xFF\xFE" + fromUtf8(kFrench, "UTF-16LE"),
                   {"--encoding", "utf-8"},
                   true,
                   "read as UTF-16LE, as its byte-order mark says, not as utf-8"}),
    rowName);

// Seven bits, so valid UTF-8 too, but not to be read as it: its escapes
// send it to the detector, from a file and from a pipe alike.
TEST(CliEncodingTest, ReadsIso2022JpForWhatItIs) {
  const std::string japanese =
      kEvents +
      "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"
      "{\\i1}\xE3\x81\xA7\xE3\x81\x99\n";
  const ScratchDir dir;
  const fs::path reference = dir.write("reference.ass", japanese);
  const fs::path script = dir.write("script.ass", fromUtf8(japanese, "ISO-2022-JP"));
  ASSERT_NE(fs::file_size(script), japanese.size());
  for (const bool onStdin : {false, true}) {
    const Outcome run =
        runHost({onStdin ? "-" : script.string()}, onStdin ? script : fs::path("/dev/null"));
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(run.out, runHost({reference.string()}).out);
    EXPECT_NE(run.err.find("read as ISO-2022-JP (detected)"), std::string::npos) << run.err;
  }
}

// Scripts in the pages their languages are written in, a few letters a
// line: what the detector names, read as such scripts are written, gives
// back the text.
struct PageRow {
  const char* what;
  const char* page;
  std::vector<std::string> lines;
  std::string says;
  std::vector<std::string> shown;  // when not `lines`
};

void PrintTo(const PageRow& row, std::ostream* out) { *out << row.what; }

class CliDetectionTest : public ::testing::TestWithParam<PageRow> {};

TEST_P(CliDetectionTest, ReadsTheTextAsWritten) {
  const PageRow& row = GetParam();
  const auto script = [](const std::vector<std::string>& lines) {
    std::string text = kEvents;
    for (std::size_t i = 0; i < 60; ++i) {
      text += "Dialogue: 0,0:00:" + std::to_string(10 + i % 50) +
              ".00,0:00:" + std::to_string(10 + i % 50) + ".50,S,,0,0,0,," +
              lines[i % lines.size()] + "\n";
    }
    return text;
  };
  const ScratchDir dir;
  const fs::path written = dir.write("written.ass", fromUtf8(script(row.lines), row.page));
  const fs::path shown = dir.write("shown.ass", script(row.shown.empty() ? row.lines : row.shown));
  const Outcome run = runHost({written.string()});
  ASSERT_TRUE(Succeeded(run));
  EXPECT_EQ(run.out, runHost({shown.string()}).out);
  // What the detector named, in brackets, may change with its version.
  const std::string readAs = row.says.substr(0, row.says.find(" ("));
  EXPECT_NE(run.err.find(readAs), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliDetectionTest,
    ::testing::Values(
        PageRow{"Lithuanian",
                "WINDOWS-1257",
                {"Labas, kaip sekasi?", "Ačiū, gerai.", "Šiandien labai šilta.", "Kur tu eini?",
                 "Aš nežinau.", "Ką tu darai?", "Žiūrėk, ten žmogus!", "Eime namo.",
                 "Tai buvo ilga diena.", "Gerai, einam.", "Mano brolis yra mokytojas."},
                "read as ISO-8859-13 (detected)",
                {}},
        PageRow{"Latvian",
                "WINDOWS-1257",
                {"Sveiki, kā jums iet?", "Paldies, labi.", "Šodien ir ļoti silts.", "Es nezinu.",
                 "Ejam mājās.", "Tā bija gara diena."},
                "read as ISO-8859-13 (detected)",
                {}},
        // Written with the cedilla Windows has, shown with the comma.
        PageRow{"Romanian",
                "WINDOWS-1250",
                {"Bună ziua, ce mai faci?", "Mulţumesc, bine.", "Astăzi este foarte cald.",
                 "Nu ştiu.", "Hai acasă.", "Mă auzi?"},
                "read as ISO-8859-16 (detected)",
                {"Bună ziua, ce mai faci?", "Mulțumesc, bine.", "Astăzi este foarte cald.",
                 "Nu știu.", "Hai acasă.", "Mă auzi?"}},
        PageRow{"Thai with Windows quotes",
                "WINDOWS-874",
                {"“สวัสดีครับ” วันนี้เป็นอย่างไรบ้าง…", "ผมสบายดี – ขอบคุณมาก", "ไปบ้านกันเถอะ"},
                "read as WINDOWS-874 (detected as TIS-620)",
                {}},
        PageRow{"Ukrainian",
                "KOI8-U",
                {"Привіт, як справи?", "Дякую, добре.", "Їжак їсть яблуко.", "Ґанок і Єнот."},
                "read as KOI8-U (detected as KOI8-R)",
                {}},
        PageRow{"English with Windows apostrophes",
                "WINDOWS-1252",
                {"Don’t go.", "Where are you going?", "It was a long day.", "I can’t."},
                "read as WINDOWS-1252 (detected as MAC-CENTRALEUROPE)",
                {}}),
    rowName);

// Read as asked, since the name may be right; but the user hears of it.
TEST(CliEncodingTest, SaysWhenAScriptGivenAnotherEncodingReadsAsUtf8) {
  const ScratchDir dir;
  const fs::path script = dir.write("script.ass", kFrench);
  const Outcome run = runHost({"--to", "srt", "--encoding", "cp1252", script.string()});
  ASSERT_TRUE(Succeeded(run));
  EXPECT_NE(run.out.find("Caf\xC3\x83\xC2\xA9"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("read as cp1252 as asked, though it reads as UTF-8"), std::string::npos)
      << run.err;
  const Outcome ascii =
      runHost({"--to", "srt", "--encoding", "cp1252",
               dir.write("ascii.ass", kEvents + "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,x\n")
                   .string()});
  EXPECT_EQ(ascii.err, "");
}

// What cannot be read twice is judged by its first MiB.
TEST(CliEncodingTest, SaysWhenStandardInputWasJudgedByItsFirstMiB) {
  const ScratchDir dir;
  std::string bytes = kFrench;
  while (bytes.size() < (5u << 18)) bytes += "Dialogue: 0,0:00:05.00,0:00:06.00,S,,0,0,0,,more\n";
  bytes += "Dialogue: 0,0:00:07.00,0:00:08.00,S,,0,0,0,,Caf\xE9\n";
  const fs::path script = dir.write("script.ass", bytes);
  const Outcome run =
      runHost({"--to", "srt", "-", "-o", (dir.path() / "out.srt").string()}, script);
  ASSERT_TRUE(Succeeded(run));
  EXPECT_NE(run.err.find("1 sequence could not be read as UTF-8, which its first MiB is, and "
                         "became U+FFFD"),
            std::string::npos)
      << run.err;
}

// A pipe that another program on it has left non-blocking: its bytes are
// waited for as a blocking read waits, and its room as a blocking write
// waits, not taken for an error. The output fills the pipe many times over.
TEST(CliEncodingTest, ANonBlockingPipeIsWaitedFor) {
  if (std::system("perl -e 1 2> /dev/null") != 0) {
    GTEST_SKIP() << "needs perl, to make the pipe non-blocking";
  }
  const ScratchDir dir;
  std::string events = kEvents;
  for (int i = 0; i < 4000; ++i) {
    events += "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,line " + std::to_string(i) +
              " of a script read late and written to a slow reader\n";
  }
  const fs::path script = dir.write("s.ass", events);
  const std::string expected = runHost({"--to", "srt", script.string()}).out;
  ASSERT_GT(expected.size(), std::size_t{256} << 10);
  const auto nonBlocking = [](const char* handle) {
    return std::string("perl -e 'use Fcntl; fcntl(") + handle + ", F_SETFL, fcntl(" + handle +
           ", F_GETFL, 0) | O_NONBLOCK) or die'";
  };
  std::string host;
  for (const std::string& word : cli_test::hostCommand({"--to", "srt", "-"})) {
    host += " '" + word + "'";
  }
  const std::string input = "(sleep 0.3; cat '" + script.string() + "') | { " +
                            nonBlocking("STDIN") + " && exec" + host + "; }";
  const std::string output = "{ " + nonBlocking("STDOUT") + " && exec" + host + " < '" +
                             script.string() + "'; } | (sleep 0.3; cat)";
  // Run by the system's shell, not through the build's emulator.
  for (const std::string& command : {input, output}) {
    const fs::path run = dir.write("run.sh", command + " > '" + (dir.path() / "out").string() +
                                                 "' 2> '" + (dir.path() / "err").string() + "'\n");
    const int status = std::system(("sh " + run.string()).c_str());
    const std::string err = readFile(dir.path() / "err");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << err;
    EXPECT_TRUE(readFile(dir.path() / "out") == expected) << command << "\n" << err;
  }
  // A warning, to a standard error that a program before it filled.
  const fs::path lossy =
      dir.write("lossy.ass", kEvents + "Dialogue: 0,0:00:01.00,0:00:02.00,S,0,0,0,no Text field\n" +
                                 "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,a cue\n");
  const fs::path run = dir.write(
      "run.sh", "{ " + nonBlocking("STDERR") +
                    " && perl -e '1 while defined syswrite(STDERR, \"x\" x 4096)' &&" + host +
                    " < '" + lossy.string() + "' > /dev/null; echo $? > '" +
                    (dir.path() / "status").string() + "'; } 2>&1 | (sleep 0.3; tr -d x) > '" +
                    (dir.path() / "err").string() + "'\n");
  ASSERT_EQ(std::system(("sh " + run.string()).c_str()), 0);
  EXPECT_EQ(readFile(dir.path() / "status"), "0\n");
  EXPECT_NE(readFile(dir.path() / "err").find("a Dialogue line has fewer fields"),
            std::string::npos)
      << readFile(dir.path() / "err");
}

// Standard input may stand part way into a file (a wrapper read its first
// line): the script begins there, also when the rest is read twice to
// decide its character set.
TEST(CliEncodingTest, StandardInputBeginsWhereTheFileStands) {
  std::string ascii = kEvents;
  while (ascii.size() < (3u << 19)) {
    ascii += "Dialogue: 0,0:00:05.00,0:00:06.00,S,,0,0,0,,a line of plain text\n";
  }
  const std::string accented = "Dialogue: 0,0:00:07.00,0:00:08.00,S,,0,0,0,,Caf\xE9\n";
  const struct {
    const char* what;
    std::string script;
  } rows[] = {{"ASCII", ascii},
              {"Windows-1252", ascii + accented},
              {"UTF-8 by its mark, with a byte that is not", "\xEF\xBB\xBF" + ascii + accented}};
  const std::string skipped = "# read by a wrapper\n";
  for (const auto& row : rows) {
    const ScratchDir dir;
    const fs::path plain = dir.write("plain.ass", row.script);
    cli_test::RunSetup setup;
    setup.input = dir.write("prefixed.ass", skipped + row.script);
    setup.inputOffset = static_cast<long>(skipped.size());
    const Outcome alone = runHost({"--to", "jsonl", plain.string()});
    const Outcome run = cli_test::runHostWith({"--to", "jsonl", "-"}, setup);
    ASSERT_TRUE(Succeeded(run)) << row.what;
    EXPECT_TRUE(run.out == alone.out) << row.what;
    std::string err = run.err;
    for (std::size_t at; (at = err.find("standard input")) != std::string::npos;) {
      err.replace(at, 14, plain.string());
    }
    EXPECT_EQ(err, alone.err) << row.what;
  }
}

// Scripts are written on Windows: a few of its apostrophes or accented
// letters are not a DOS or Mac page, whatever the detector guesses. Text
// of such a page with more to go on is read as it.
TEST(CliEncodingTest, AFewWindowsBytesAreReadAsWindows1252) {
  const struct {
    const char* word;
    const char* encoding;
    const char* says;
  } rows[] = {{"don\xE2\x80\x99t", "WINDOWS-1252", "read as WINDOWS-1252"},
              {"na\xC3\xAFve", "WINDOWS-1252", "read as WINDOWS-1252"},
              {"fa\xC3\xA7"
               "ade",
               "WINDOWS-1252", "read as WINDOWS-1252"},
              {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBA\xD0\xB0\xD0\xBA "
               "\xD0\xB4\xD0\xB5\xD0\xBB\xD0\xB0",
               "CP866", "read as IBM866"}};
  for (const auto& row : rows) {
    const bool dense = std::string_view(row.encoding) == "CP866";
    std::string text = kEvents;
    for (int i = 0; i < 300; ++i) {
      text += "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,";
      text += i % 10 == 0 || dense ? std::string(row.word) + " " : std::string();
      text += dense ? std::string(row.word) + "\n" : "what I know and where we go now\n";
    }
    const ScratchDir dir;
    const fs::path reference = dir.write("reference.ass", text);
    const fs::path script = dir.write("script.ass", fromUtf8(text, row.encoding));
    const Outcome run = runHost({"--to", "srt", script.string()});
    ASSERT_TRUE(Succeeded(run)) << row.word;
    EXPECT_TRUE(run.out == runHost({"--to", "srt", reference.string()}).out) << row.word;
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
  }
}

// iconv loads a set's tables when it is first asked for it: with the
// script open and no descriptor left, it fails as for a set it does not
// know. Under every limit the script is read as its set or not at all,
// never as UTF-8 with its letters replaced.
TEST(CliEncodingTest, NoDescriptorLeftForTheConverterFailsTheRun) {
  const ScratchDir dir;
  const fs::path reference = dir.write("reference.ass", kFrench);
  const std::string expected = runHost({"--to", "srt", reference.string()}).out;
  const struct {
    const char* what;
    std::string bytes;
  } rows[] = {{"detected", fromUtf8(kFrench, "WINDOWS-1252")},
              {"marked", std::string("\xFF\xFE") + fromUtf8(kFrench, "UTF-16LE")}};
  for (const auto& row : rows) {
    const fs::path script = dir.write(std::string(row.what) + ".ass", row.bytes);
    bool converted = false;
    bool toldWhy = false;  // at the limit that leaves the converter no descriptor
    for (long limit = 4; limit <= 64 && !converted; ++limit) {
      cli_test::RunSetup setup;
      setup.descriptorLimit = limit;
      const Outcome run = cli_test::runHostWith({"--to", "srt", script.string()}, setup);
      if (run.status != 0) {
        EXPECT_EQ(run.out, "") << row.what << " " << limit;
        EXPECT_EQ(run.err.find("not an SSA/ASS script"), std::string::npos) << run.err;
        toldWhy = toldWhy || run.err.find("cannot read it as ") != std::string::npos;
        continue;
      }
      converted = true;
      EXPECT_EQ(run.out, expected) << row.what << " " << limit << "\n" << run.err;
    }
    EXPECT_TRUE(converted) << row.what;
    // Under a sanitizer the limits that would leave the converter alone
    // short fail the sanitizer's own start instead.
    if (cli_test::measuredDirectly()) {
      EXPECT_TRUE(toldWhy) << row.what;
    }
  }
}

// Windows pages that the detector names by their ISO kin, whose controls
// their quotes and letters would become; and Shift-JIS given by name, whose
// standard form would read every backslash as a yen sign.
TEST(CliEncodingTest, ReadsQuotesLettersAndBackslashesAsWritten) {
  const struct {
    const char* text;  // UTF-8
    const char* encoding;
    std::vector<std::string> args;
    const char* says;
  } rows[] = {
      {"\xE2\x80\x9C\xC4\xB0yiyim,\xE2\x80\x9D dedi\xE2\x80\xA6 \xE2\x80\x93 "
       "te\xC5\x9F"
       "ekk\xC3\xBCrler.",
       "WINDOWS-1254",
       {},
       "read as WINDOWS-1254"},
      {"\xC5\xA0\xC5\xA5"
       "astn\xC3\xBD nov\xC3\xBD rok! \xC5\xBD\xC3\xA1"
       "dn\xC3\xBD "
       "probl\xC3\xA9m, \xC5\x99\xC3\xADkal.",
       "WINDOWS-1250",
       {},
       "read as WINDOWS-1250"},
      {"{\\i1}\xE6\x97\xA5\xE6\x9C\xAC{\\i0}\\N~",
       "SHIFT_JIS",
       {"--encoding", "shift_jis"},
       "read as CP932 (given as shift_jis)"},
      {"{\\i1}\xE6\x97\xA5\xE6\x9C\xAC{\\i0}\\N~",
       "SHIFT_JIS",
       {"--encoding", "SJIS"},
       "read as CP932 (given as SJIS)"},
  };
  for (const auto& row : rows) {
    std::string text = kEvents;
    for (int i = 0; i < 3; ++i)
      text += "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,," + std::string(row.text) + "\n";
    const ScratchDir dir;
    const fs::path reference = dir.write("reference.ass", text);
    const fs::path script = dir.write("script.ass", fromUtf8(text, row.encoding));
    std::vector<std::string> args = {"--to", "srt"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.push_back(script.string());
    const Outcome run = runHost(args);
    ASSERT_TRUE(Succeeded(run)) << row.says;
    EXPECT_EQ(run.out, runHost({"--to", "srt", reference.string()}).out) << row.says;
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
  }
}

// A set that loses the backslash converts, with a warning; one that garbles
// the header still says what the script was read as, before it is refused.
TEST(CliEncodingTest, WarnsOfAGivenSetThatLosesTheScript) {
  const ScratchDir dir;
  const std::string text =
      kEvents + "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,,{\\i1}\xE6\x97\xA5\\N\n";
  const fs::path script = dir.write("script.ass", fromUtf8(text, "SHIFT_JISX0213"));
  const Outcome lost = runHost({"--to", "srt", "--encoding", "SHIFT_JISX0213", script.string()});
  ASSERT_TRUE(Succeeded(lost));
  EXPECT_NE(lost.err.find("SHIFT_JISX0213 reads the backslash as U+00A5: override codes and line "
                          "breaks are lost"),
            std::string::npos)
      << lost.err;
  const Outcome garbled =
      runHost({"--to", "srt", "--encoding", "utf-16le", dir.write("utf8.ass", kFrench).string()});
  EXPECT_EQ(garbled.status, 2);
  EXPECT_NE(garbled.err.find("read as utf-16le as asked, though it reads as UTF-8"),
            std::string::npos)
      << garbled.err;
  EXPECT_NE(garbled.err.find("not an SSA/ASS script"), std::string::npos) << garbled.err;
  const Outcome swapped =
      runHost({"--to", "srt", "--encoding", "sjis", dir.path().string() + "/utf8.ass"});
  EXPECT_NE(swapped.err.find("read as CP932 (given as sjis) as asked, though it reads as UTF-8"),
            std::string::npos)
      << swapped.err;
}

// A video given by mistake is judged by its first MiB, not read whole to
// decide its character set first: a file of a tebibyte is refused as soon.
TEST(CliEncodingTest, AFileThatIsNotTextIsNotReadWhole) {
  const ScratchDir dir;
  std::string noise(1u << 20, '\0');
  std::uint32_t state = 12345;
  for (char& byte : noise) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  const fs::path video = dir.write("movie.mkv", noise);
  std::error_code error;
  fs::resize_file(video, std::uintmax_t{1} << 40, error);
  if (error) GTEST_SKIP() << "cannot make a sparse file of 1 TiB here: " << error.message();
  const Outcome run =
      runHost({"--to", "srt", video.string(), "-o", (dir.path() / "out.srt").string()});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("not an SSA/ASS script"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("read as"), std::string::npos) << "no advice on reading a video";
}

// Writes `bytes` into the FIFO at `path` from a thread of its own, for a
// host that reads it as standard input. Bounded: a host that never opens the
// FIFO, or stops reading, fails the write instead of hanging the test or
// ending it with SIGPIPE.
std::thread feedFifo(const fs::path& path, const std::string& bytes) {
  return std::thread([path, &bytes] {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);  // this thread's alone
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 3000; ++tries) {  // 30 s
      fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0) return;
    ::fcntl(fd, F_SETFL, 0);  // the host reads it at its pace
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
}

// A video can carry a script's header as text among its binary data: it is
// refused all the same, and the file it would have replaced is kept.
TEST(CliEncodingTest, AVideoThatHoldsAScriptHeaderIsNoScript) {
  const ScratchDir dir;
  std::string video(256 * 1024, '\0');
  std::uint32_t state = 777;
  for (char& byte : video) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  const std::string header =
      "[Script Info]\nScriptType: v4.00+\n\n[Events]\nFormat: Layer, Start, End, Style, Text\n";
  video.replace(4096, header.size(), header);
  const fs::path path = dir.write("episode.mks", video);
  const fs::path kept = dir.write("episode.srt", "hand-made\n");
  const Outcome run = runHost({"--to", "srt", path.string(), "-o", kept.string()});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("control bytes, which text does not: not an SSA/ASS script"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("U+FFFD"), std::string::npos) << "no advice on reading a video";
  EXPECT_EQ(run.err.find("read as"), std::string::npos) << "no advice on reading a video";
  EXPECT_EQ(readFile(kept), "hand-made\n");
  const Outcome toStdout = runHost({"--to", "vtt", path.string()});
  EXPECT_EQ(toStdout.status, 2) << toStdout.err;
  EXPECT_EQ(toStdout.out, "") << "no output for what is no script";
  const Outcome batch =
      runHost({"--to", "srt", "-d", (dir.path() / "out").string(), path.string()});
  EXPECT_EQ(batch.status, 2) << batch.err;
  // From a pipe, which cannot be read again to judge it.
  const fs::path pipe = dir.path() / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::thread writer = feedFifo(pipe, video);
  const Outcome piped = runHost({"--to", "srt", "-", "-o", kept.string()}, pipe);
  writer.join();
  EXPECT_EQ(piped.status, 2) << piped.err;
  EXPECT_EQ(readFile(kept), "hand-made\n");
}

struct MalformedRow {
  const char* what;
  std::vector<std::string> args;
  bool onStdin;
};

void PrintTo(const MalformedRow& row, std::ostream* out) { *out << row.what; }

class CliMalformedTest : public ::testing::TestWithParam<MalformedRow> {};

// Bytes that cannot be read become U+FFFD, and one warning says how many
// and where the first is.
TEST_P(CliMalformedTest, ReplacesWhatCannotBeReadAndSaysWhere) {
  const ScratchDir dir;
  std::string bytes = kFrench;
  bytes.insert(bytes.find("crème") + 2, "\xFF\xFE");  // on line 3
  bytes += "Dialogue: 0,0:00:05.00,0:00:06.00,S,,0,0,0,,\x80\n";
  const fs::path script = dir.write("bad.ass", bytes);
  std::vector<std::string> args = GetParam().args;
  args.push_back(GetParam().onStdin ? "-" : script.string());
  args.insert(args.end(), {"--to", "jsonl", "--stats"});
  const Outcome run = runHost(args, GetParam().onStdin ? script : fs::path("/dev/null"));
  ASSERT_TRUE(Succeeded(run));
  EXPECT_NE(run.out.find("\"markup\":\"Caf\xC3\xA9 cr\xEF\xBF\xBD\xEF\xBF\xBD\xC3\xA8me\""),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\"markup\":\"\xEF\xBF\xBD\""), std::string::npos) << run.out;
  const std::size_t at = kFrench.find("crème") + 2;
  EXPECT_NE(run.err.find("warning: "), std::string::npos);
  EXPECT_NE(run.err.find("3 sequences could not be read as " + GetParam().args[1] +
                         " and became U+FFFD; the first is "
                         "on line 3 (byte " +
                         std::to_string(at) + ")"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(statsOf(run.err).at("replaced by U+FFFD"), "3");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliMalformedTest,
    ::testing::Values(MalformedRow{"given as UTF-8", {"--encoding", "utf-8"}, false},
                      MalformedRow{"from standard input", {"--encoding", "UTF8"}, true}),
    rowName);

}  // namespace
