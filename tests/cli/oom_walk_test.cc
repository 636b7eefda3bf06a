// One whole conversion by subrite-host, in process, with the plug-in linked
// in, running out of memory at each of its allocations in turn: reading the
// script, the plug-in's start, streaming, writing the cues, committing the
// output through its temporary file, teardown. Host and plug-in alike fail;
// nothing is exempt. Each time the process goes on, the call answers the
// unfailed run's exact output or status 2 with a message saying why, the
// folder holds no temporary file, an output that was there is left as it
// was, and nothing is left on the heap or open.
//
// Each allocation fails once (Heap::failAfter): what runs after the failure,
// unwinding and the message included, gets its memory.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/conversion.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "tests/cli/run_host.h"
#include "tests/support/harness.h"

namespace {

namespace fs = std::filesystem;
using cli_test::namesIn;
using cli_test::readFile;
using cli_test::ScratchDir;
using testing_support::Heap;

// Descriptors open in the process (the listing's own left out).
int openDescriptors() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;
}

// Standard error goes to `file` while this lives: the messages of a run.
class StderrTo {
 public:
  explicit StderrTo(const fs::path& file) {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
  }
  ~StderrTo() {
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  StderrTo(const StderrTo&) = delete;
  StderrTo& operator=(const StderrTo&) = delete;

 private:
  int saved_;
};

struct Run {
  int status = -1;
  bool failed = false;  // the armed allocation was reached
  std::int64_t liveAfter = 0;
  std::string messages;
};

// One conversion, allocation `n` failing (-1: none).
Run convertOnce(const cli::ConversionRequest& request, const cli::Options& options, std::int64_t n,
                const fs::path& messagesFile) {
  Run run;
  {
    StderrTo capture(messagesFile);
    {
      cli::Messages messages;
      cli::ConversionStats stats;
      Heap::failAfter(n);
      try {
        run.status = cli::convert(request, options, &_getPlugin, "libsubrite.so", messages, &stats);
      } catch (...) {
        run.status = -2;  // anything that leaves convert() is a fault
      }
      run.failed = n >= 0 && !Heap::failurePending();
      Heap::failAfter(-1);
    }
    run.liveAfter = Heap::live();
  }
  run.messages = readFile(messagesFile);
  return run;
}

struct FormRow {
  cli::OutputForm form;
  const char* name;  // of the output file
  const char* label;
  // Lines added to the sample: past a few hundred buffers the ledger
  // reuses them, which the plug-in's teardown meets.
  int addedLines = 0;
};

void PrintTo(const FormRow& row, std::ostream* out) { *out << row.label; }

const FormRow kForms[] = {
    {cli::OutputForm::Srt, "sample.srt", "srt"},
    {cli::OutputForm::Vtt, "sample.vtt", "vtt"},
    {cli::OutputForm::Jsonl, "sample.jsonl", "jsonl"},
    {cli::OutputForm::Markup, "sample.markup", "markup"},
    {cli::OutputForm::Srt, "sample.srt", "srt_of_300_more_lines", 300},
};

// A conversion of the sample makes a few hundred allocations (some 250 to
// 350 natively), so every one is failed in turn, under the emulator too.
constexpr std::int64_t kMostAllocations = 100000;

// Answers how many allocations the conversion made; fails the test at the
// first fault.
std::int64_t walk(const FormRow& row, bool outputExists) {
  const ScratchDir dir;
  std::string text = readFile(SUBRITE_SAMPLE_SCRIPT);
  for (int i = 0; i < row.addedLines; ++i) {
    text +=
        "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\i1}line " + std::to_string(i) + "\n";
  }
  const fs::path script = dir.write("sample.ass", text);
  const fs::path folder = dir.path() / "out";
  fs::create_directory(folder);
  const fs::path output = folder / row.name;
  const fs::path messagesFile = dir.path() / "messages";
  const std::string earlier = "an earlier output, which a failed run leaves as it was\n";
  const std::vector<std::string> justTheOutput = {row.name};

  cli::ConversionRequest request;
  request.script = script.string();
  request.output = output.string();
  cli::Options options;
  options.form = row.form;

  const auto prepare = [&] {
    if (outputExists) {
      std::ofstream(output, std::ios::binary) << earlier;
    } else {
      fs::remove(output);
    }
  };
  // Unfailed first: the output to expect, and what a first conversion sets
  // up for good (the signal handlers, the umask) is not taken for a leak.
  prepare();
  const Run clean = convertOnce(request, options, -1, messagesFile);
  EXPECT_EQ(clean.status, cli::kExitDone) << clean.messages;
  const std::string expected = readFile(output);
  EXPECT_NE(expected.find("Subrite sample"), std::string::npos);
  if (::testing::Test::HasFailure()) return -1;

  for (std::int64_t n = 0; n < kMostAllocations; ++n) {
    prepare();
    const std::int64_t liveBefore = Heap::live();
    const int descriptorsBefore = openDescriptors();
    const Run run = convertOnce(request, options, n, messagesFile);
    const std::string at = std::string(row.name) + (outputExists ? " over an earlier file" : "") +
                           ", allocation " + std::to_string(n) + " failing: ";

    EXPECT_EQ(run.liveAfter, liveBefore) << at << "blocks left on the heap";
    EXPECT_EQ(openDescriptors(), descriptorsBefore) << at << "descriptors left open";
    if (run.status == cli::kExitDone) {
      EXPECT_EQ(namesIn(folder), justTheOutput) << at;
      EXPECT_EQ(readFile(output), expected) << at << "a success with another output";
    } else {
      EXPECT_EQ(run.status, cli::kExitFailed) << at << run.messages;
      EXPECT_TRUE(run.failed) << at << "failed with nothing failing";
      // The module answers a construction that ran out of memory with no
      // object, which cannot say why.
      const bool said = run.messages.find("out of memory") != std::string::npos ||
                        run.messages.find("_getPlugin gave no plug-in object") != std::string::npos;
      EXPECT_TRUE(said) << at << "the message does not say why: " << run.messages;
      if (outputExists) {
        EXPECT_EQ(namesIn(folder), justTheOutput) << at << "a temporary file is left";
        EXPECT_EQ(readFile(output), earlier) << at << "the earlier output was changed";
      } else {
        EXPECT_EQ(namesIn(folder), std::vector<std::string>())
            << at << "a file is left; status " << run.status << ": " << run.messages;
      }
    }
    if (::testing::Test::HasFailure()) return -1;
    if (!run.failed) return n;  // every allocation has failed once
  }
  ADD_FAILURE() << row.name << ": more than " << kMostAllocations << " allocations";
  return -1;
}

class CliOutOfMemoryWalkTest : public ::testing::TestWithParam<FormRow> {};

TEST_P(CliOutOfMemoryWalkTest, EveryAllocationOfAConversionFailingInTurn) {
  for (const bool outputExists : {false, true}) {
    const std::int64_t allocations = walk(GetParam(), outputExists);
    if (allocations < 0) return;
    RecordProperty(outputExists ? "allocationsOverAnEarlierFile" : "allocations",
                   std::to_string(allocations));
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, CliOutOfMemoryWalkTest, ::testing::ValuesIn(kForms),
                         [](const auto& info) { return std::string(kForms[info.index].label); });

}  // namespace
