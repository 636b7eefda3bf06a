// subrite-host with many scripts (-d DIR, -j N): where each output goes,
// that each file fails or succeeds by itself, and the exit status of the
// whole; and the shift of every time, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/run_host.h"
#include "tests/cli/srt_check.h"

namespace {

namespace fs = std::filesystem;
using cli_test::namesIn;
using cli_test::Outcome;
using cli_test::readFile;
using cli_test::runHost;
using cli_test::ScratchDir;

std::string script(const std::string& text) {
  return "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, "
         "Text\nDialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,," +
         text + "\n";
}

TEST(CliBatchTest, WritesOneFileAScriptUnderItsNameInFoldersItMakes) {
  const ScratchDir dir;
  fs::create_directory(dir.path() / "season");
  dir.write("season/a.ass", script("one"));
  dir.write("season/a.ssa", script("two"));
  dir.write("season/B.SSA", script("three"));
  dir.write("season/a.ass.ass", script("five"));
  dir.write("season/notes.txt", "not a script");
  const fs::path c = dir.write("c.ass", script("four"));
  const fs::path out = dir.path() / "subs" / "srt";
  const Outcome run =
      runHost({"--to", "srt", "-d", out.string(), (dir.path() / "season").string(), c.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  // a.ass and a.ssa would share "a.srt": both keep their extension; and
  // a.ass.ass, whose "a.ass.srt" that leaves taken, keeps its own.
  EXPECT_EQ(namesIn(out), (std::vector<std::string>{"B.srt", "a.ass.ass.srt", "a.ass.srt",
                                                    "a.ssa.srt", "c.srt"}));
  EXPECT_EQ(readFile(out / "a.ass.ass.srt"), "1\n00:00:01,000 --> 00:00:02,000\nfive\n\n");
  EXPECT_EQ(readFile(out / "a.ssa.srt"), "1\n00:00:01,000 --> 00:00:02,000\ntwo\n\n");
  EXPECT_EQ(readFile(out / "c.srt"), "1\n00:00:01,000 --> 00:00:02,000\nfour\n\n");
}

TEST(CliBatchTest, AFileThatFailsIsNamedAndTheOthersGoOn) {
  const ScratchDir dir;
  const fs::path good = dir.write("good.ass", script("fine"));
  const fs::path text = dir.write("list.ass", "eggs, milk\n");
  // One folder for each episode: the scripts are a level further down.
  fs::create_directories(dir.path() / "season" / "ep1");
  dir.write("season/ep1/ep1.ass", script("deeper"));
  const fs::path out = dir.path() / "out";
  const std::string missing = (dir.path() / "missing.ass").string();
  const std::string season = (dir.path() / "season").string();
  const Outcome run = runHost({"--to", "vtt", "-j", "3", "-d", out.string(), good.string(),
                               text.string(), missing, season});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(namesIn(out), (std::vector<std::string>{"good.vtt"}));
  EXPECT_EQ(readFile(out / "good.vtt"), "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nfine\n\n");
  // What went wrong, then the name, for every path given that gave nothing.
  for (const std::string& failed : {text.string(), missing, season}) {
    EXPECT_NE(run.err.find("not converted: " + failed + "\n"), std::string::npos) << run.err;
  }
  EXPECT_NE(run.err.find("cannot open " + missing), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("no .ass or .ssa file in " + season), std::string::npos) << run.err;
  // Standard error is not a terminal here: no progress line.
  EXPECT_EQ(run.err.find('\r'), std::string::npos);
}

// In a folder, what is named as a script but cannot be read as one is named
// as well: a link to a drive not mounted, a pipe (not waited on); a folder
// of that name is not searched.
TEST(CliBatchTest, WhatAFolderHoldsThatCannotBeReadIsNamed) {
  const ScratchDir dir;
  fs::create_directories(dir.path() / "in" / "extras.ass");
  dir.write("in/ep01.ass", script("one"));
  fs::create_symlink("/nowhere/ep02.ass", dir.path() / "in" / "ep02.ass");
  const fs::path pipe = dir.path() / "in" / "ep03.ass";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const fs::path out = dir.path() / "out";
  const Outcome run = runHost({"--to", "srt", "-d", out.string(), (dir.path() / "in").string()});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(namesIn(out), (std::vector<std::string>{"ep01.srt"}));
  for (const char* name : {"ep02.ass", "ep03.ass"}) {
    const std::string path = (dir.path() / "in" / name).string();
    EXPECT_NE(run.err.find("not converted: " + path + "\n"), std::string::npos) << run.err;
  }
  EXPECT_NE(run.err.find("cannot open " + (dir.path() / "in" / "ep02.ass").string()),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(pipe.string() + " is not a regular file"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("extras"), std::string::npos) << run.err;
}

// A name's line break would cut its "not converted" line in two, and a
// terminal would act on an escape sequence.
TEST(CliBatchTest, ControlCharactersInNamesAreShownAsEscapes) {
  const ScratchDir dir;
  dir.write("bad\nname.ass", "no script");
  dir.write("bad\x1B[2Jname.ass", "no script");
  const Outcome run = runHost({"--to", "srt", "-d", (dir.path() / "out").string(),
                               (dir.path() / "bad\nname.ass").string(),
                               (dir.path() / "bad\x1B[2Jname.ass").string()});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("not converted: " + dir.path().string() + "/bad\\nname.ass\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("not converted: " + dir.path().string() + "/bad\\x1B[2Jname.ass\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find('\x1B'), std::string::npos);
  std::size_t lines = 0;
  for (std::size_t at = 0; at < run.err.size(); at = run.err.find('\n', at) + 1, ++lines) {
    EXPECT_EQ(run.err.compare(at, 14, "subrite-host: "), 0) << run.err.substr(at);
  }
  EXPECT_EQ(lines, 4u);  // why, and "not converted", for each
}

// Side by side, workers say what went wrong with their scripts: each
// script's lines stay together.
TEST(StressBatchTest, WhatIsSaidOfAScriptStaysTogether) {
  const ScratchDir dir;
  fs::create_directory(dir.path() / "in");
  constexpr int kScripts = 60;
  for (int file = 0; file < kScripts; ++file) {
    dir.write("in/s" + std::to_string(file) + ".ass", "no script " + std::to_string(file));
  }
  const Outcome run = runHost({"--to", "srt", "-j", "4", "-d", (dir.path() / "out").string(),
                               (dir.path() / "in").string()});
  EXPECT_EQ(run.status, 2);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < run.err.size();) {
    const std::size_t end = run.err.find('\n', at);
    lines.push_back(run.err.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(lines.size(), 2u * kScripts) << run.err;
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    const std::size_t named = lines[i + 1].find("not converted: ");
    ASSERT_NE(named, std::string::npos) << lines[i + 1];
    EXPECT_EQ(lines[i].find("subrite-host: " + lines[i + 1].substr(named + 15) + ": "), 0u)
        << lines[i] << "\n"
        << lines[i + 1];
  }
}

TEST(CliBatchTest, AFileUnderTwoNamesIsConvertedOnceAndNamed) {
  const ScratchDir dir;
  const fs::path first = dir.write("b.ass", script("once"));
  const fs::path alias = dir.path() / "a.ass";
  fs::create_hard_link(first, alias);
  const fs::path out = dir.path() / "out";
  const Outcome run =
      runHost({"--to", "srt", "-d", out.string(), first.string(), alias.string(), first.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(namesIn(out), std::vector<std::string>{"b.srt"});
  EXPECT_EQ(run.err, "subrite-host: " + alias.string() + " is " + first.string() +
                         " under another name: converted once\n");
}

TEST(CliBatchTest, APlugInThatBreaksTheRulesOnAFileGivesStatusOne) {
  const ScratchDir dir;
  const fs::path out = dir.path() / "out";
  const Outcome run =
      runHost({"--plugin", SUBRITE_LEAKY_PLUGIN, "--to", "srt", "-d", out.string(),
               dir.write("a.ass", script("x")).string(), dir.write("b.txt", "no script").string()});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(namesIn(out).empty());
}

TEST(CliBatchTest, NoOutputReplacesAScriptBeingRead) {
  const ScratchDir dir;
  // Written into its own folder, "x.srt" would be the output of "x.srt" itself.
  const fs::path odd = dir.write("x.srt", script("odd"));
  const std::string before = readFile(odd);
  const Outcome run = runHost({"--to", "srt", "-d", dir.path().string(), odd.string()});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("one of the scripts being read"), std::string::npos) << run.err;
  EXPECT_EQ(readFile(odd), before);
}

// Two scripts whose outputs would be one file: the first is converted
// under its own output name, the second is refused and named.
TEST(CliBatchTest, OfTwoOutputsThatWouldMeetTheFirstIsWritten) {
  {
    SCOPED_TRACE("one name in two folders");
    const ScratchDir dir;
    fs::create_directories(dir.path() / "s1");
    fs::create_directories(dir.path() / "s2");
    dir.write("s1/01.ass", script("first season"));
    const fs::path second = dir.write("s2/01.ass", script("second season"));
    const fs::path out = dir.path() / "out";
    const Outcome run = runHost({"--to", "srt", "-d", out.string(), (dir.path() / "s1").string(),
                                 (dir.path() / "s2").string()});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(namesIn(out), std::vector<std::string>{"01.srt"});
    EXPECT_NE(readFile(out / "01.srt").find("first season"), std::string::npos);
    EXPECT_NE(run.err.find("not converted: " + second.string() + ": its output"), std::string::npos)
        << run.err;
  }
  {
    SCOPED_TRACE("a link in the folder to another output");
    const ScratchDir dir;
    const fs::path out = dir.path() / "out";
    fs::create_directory(out);
    fs::create_symlink("y.srt", out / "x.srt");
    const fs::path x = dir.write("x.ass", script("from x"));
    const fs::path y = dir.write("y.ass", script("from y"));
    const Outcome run = runHost({"--to", "srt", "-d", out.string(), x.string(), y.string()});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(readFile(out / "y.srt").find("from x"), std::string::npos);
    EXPECT_NE(run.err.find("not converted: " + y.string() + ": its output"), std::string::npos)
        << run.err;
  }
}

TEST(CliBatchTest, APipeWhereAnOutputGoesIsRefusedNotWaitedOn) {
  const ScratchDir dir;
  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  ASSERT_EQ(::mkfifo((out / "a.srt").c_str(), 0600), 0);
  const fs::path a = dir.write("a.ass", script("a"));
  const fs::path b = dir.write("b.ass", script("b"));
  const Outcome run = runHost({"--to", "srt", "-d", out.string(), a.string(), b.string()});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("not converted: " + a.string() + ": its output " +
                         (out / "a.srt").string() + " is not a regular file"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(readFile(out / "b.srt"), "1\n00:00:01,000 --> 00:00:02,000\nb\n\n");
}

TEST(CliBatchTest, NothingToConvertMakesNoFolder) {
  const ScratchDir dir;
  fs::create_directory(dir.path() / "empty");
  const Outcome run = runHost(
      {"--to", "srt", "-d", (dir.path() / "out").string(), (dir.path() / "empty").string()});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

// A folder that is not one, or a link to nothing, is named for what it is.
TEST(CliBatchTest, AnOutputFolderThatCannotBeOneIsSaidSo) {
  const ScratchDir dir;
  const std::string a = dir.write("a.ass", script("a")).string();
  const fs::path file = dir.write("file", "x");
  const fs::path dangling = dir.path() / "dangling";
  fs::create_symlink(dir.path() / "nowhere", dangling);
  const struct {
    fs::path folder;
    std::string says;
  } rows[] = {
      {file, "cannot write into " + file.string() + ": it is not a folder"},
      {dangling, "cannot write into " + dangling.string() + ": it is a symbolic link to nothing"}};
  for (const auto& row : rows) {
    const Outcome run = runHost({"--to", "srt", "-d", row.folder.string(), a});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));
}

TEST(CliBatchTest, AnExistingOutputIsReplacedWhole) {
  const ScratchDir dir;
  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  dir.write("out/a.srt", std::string(10000, 'z'));
  const Outcome run =
      runHost({"--to", "srt", "-d", out.string(), dir.write("a.ass", script("new")).string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readFile(out / "a.srt"), "1\n00:00:01,000 --> 00:00:02,000\nnew\n\n");
  EXPECT_EQ(namesIn(out), (std::vector<std::string>{"a.srt"}));
}

// `scripts` scripts in dir/in, "s0.ass" of "line 0" on, converted with
// -j 64 into `out` under `setup`'s limits.
Outcome runWideBatch(const ScratchDir& dir, int scripts, const fs::path& out,
                     const cli_test::RunSetup& setup) {
  fs::create_directory(dir.path() / "in");
  for (int file = 0; file < scripts; ++file) {
    dir.write("in/s" + std::to_string(file) + ".ass", script("line " + std::to_string(file)));
  }
  return cli_test::runHostWith(
      {"--to", "srt", "-j", "64", "-d", out.string(), (dir.path() / "in").string()}, setup);
}

// Under a low limit on open files, more workers than it leaves room for
// would fail scripts at random: fewer run, and every script converts.
TEST(CliBatchTest, NoMoreWorkersThanTheOpenFilesAllow) {
  const ScratchDir dir;
  const fs::path out = dir.path() / "out";
  cli_test::RunSetup setup;
  setup.descriptorLimit = 32;
  const Outcome run = runWideBatch(dir, 40, out, setup);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("the limit on open files leaves room for "), std::string::npos) << run.err;
  EXPECT_EQ(namesIn(out).size(), 40u);
}

// Each worker takes a stack and memory of its own: under a limit of the
// address space only some of 64 can start, and those do the work. What
// they then find no memory for fails as such a script does.
TEST(CliBatchTest, WorkersThatCannotStartLeaveTheWorkToThoseThatDid) {
  if (!cli_test::measuredDirectly()) {
    GTEST_SKIP() << "an emulator or a sanitizer takes the address space for itself";
  }
  const ScratchDir dir;
  const fs::path out = dir.path() / "out";
  cli_test::RunSetup setup;
  setup.addressSpaceLimit = long{256} << 20;
  const Outcome run = runWideBatch(dir, 64, out, setup);
  EXPECT_EQ(run.signal, 0);
  EXPECT_TRUE(run.status == 0 || run.status == 2) << run.status;
  EXPECT_NE(run.err.find(" of 64 workers ("), std::string::npos) << run.err;
  const std::vector<std::string> names = namesIn(out);
  for (int file = 0; file < 64; ++file) {
    const std::string name = "s" + std::to_string(file);
    const bool written = std::count(names.begin(), names.end(), name + ".srt") == 1;
    const bool named = run.err.find("not converted: " + (dir.path() / "in" / name).string() +
                                    ".ass\n") != std::string::npos;
    EXPECT_NE(written, named) << name << "\n" << run.err;
    if (written) {
      EXPECT_EQ(readFile(out / (name + ".srt")),
                "1\n00:00:01,000 --> 00:00:02,000\nline " + std::to_string(file) + "\n\n");
    }
  }
  for (const std::string& name : names) EXPECT_NE(name[0], '.') << "left behind: " << name;
}

// Named for the stress tests, which the ThreadSanitizer build runs: workers
// that convert side by side share the module, the messages and the list of
// temporary files.
TEST(StressBatchTest, FourWorkersWriteWhatOneWrites) {
  const ScratchDir dir;
  fs::create_directory(dir.path() / "in");
  for (int file = 0; file < 8; ++file) {
    std::string lines;
    for (int i = 0; i < 200; ++i) {
      lines += "Dialogue: 0,0:00:0" + std::to_string(i % 10) + ".00,0:00:10.00,S,,0,0,0,,{\\i1}" +
               std::to_string(file) + " line " + std::to_string(i) + "{\\c&HFF00&}!\n";
    }
    dir.write("in/s" + std::to_string(file) + ".ass", script("first") + lines);
  }
  for (const char* form : {"srt", "vtt"}) {
    SCOPED_TRACE(form);
    const fs::path one = dir.path() / (std::string("one-") + form);
    const fs::path four = dir.path() / (std::string("four-") + form);
    const Outcome serial =
        runHost({"--to", form, "-j", "1", "-d", one.string(), (dir.path() / "in").string()});
    const Outcome parallel =
        runHost({"--to", form, "-j", "4", "-d", four.string(), (dir.path() / "in").string()});
    ASSERT_EQ(serial.status, 0) << serial.err;
    ASSERT_EQ(parallel.status, 0) << parallel.err;
    EXPECT_EQ(parallel.err, "");
    ASSERT_EQ(namesIn(four), namesIn(one));
    for (const std::string& name : namesIn(one)) {
      EXPECT_EQ(readFile(four / name), readFile(one / name)) << name;
    }
  }
}

TEST(CliShiftTest, MovesEveryCueAndCountsTheTimesItStopsAtZero) {
  const ScratchDir dir;
  const fs::path input = dir.write("a.ass", script("x"));
  const Outcome later = runHost({"--to", "srt", "--shift", "1:02:03.45", input.string()});
  ASSERT_EQ(later.status, 0) << later.err;
  EXPECT_EQ(later.out, "1\n01:02:04,450 --> 01:02:05,450\nx\n\n");
  const Outcome earlier = runHost({"--to", "srt", "--stats", "--shift", "-1.5", input.string()});
  ASSERT_EQ(earlier.status, 0) << earlier.err;
  EXPECT_EQ(earlier.out, "1\n00:00:00,000 --> 00:00:00,500\nx\n\n");
  EXPECT_NE(earlier.err.find("times before 0:       1 (shifted to 0)"), std::string::npos)
      << earlier.err;
  EXPECT_TRUE(cli_test::checkSrt(earlier.out).valid);
}

TEST(CliShiftTest, ABatchCountsWhatItsScriptsDid) {
  const ScratchDir dir;
  const fs::path a = dir.write("a.ass", script("{\\b1}a"));
  const fs::path b = dir.write("b.ass", script("b"));
  const Outcome run = runHost({"--to", "srt", "--stats", "--shift", "-1.5", "-d",
                               (dir.path() / "out").string(), a.string(), b.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {"files:                2\n", "cues written:         2\n",
                           "tags closed at end:   1\n", "times before 0:       2 "}) {
    EXPECT_NE(run.err.find(line), std::string::npos) << line << run.err;
  }
}

// An unreadable time is 0 before the shift as without one: the cue keeps
// its length instead of stretching over the time shifted.
TEST(CliShiftTest, AnUnreadableTimeIsMovedAsZeroAndCounted) {
  const ScratchDir dir;
  const fs::path input =
      dir.write("a.ass",
                "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, "
                "MarginV, Effect, Text\nDialogue: 0,soon,0:00:04.00,S,,0,0,0,,x\n");
  for (const char* form : {"srt", "vtt"}) {
    const Outcome run = runHost({"--to", form, "--stats", "--shift", "60", input.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(std::string(form) == "srt" ? "00:01:00,000 --> 00:01:04,000"
                                                      : "00:01:00.000 --> 00:01:04.000"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("unreadable times:     1 (taken as 0 before any shift)"),
              std::string::npos)
        << run.err;
  }
}

}  // namespace
