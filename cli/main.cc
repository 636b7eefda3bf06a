// subrite-host: the reference host program. Loads the plug-in as the media
// host does, streams scripts through it line by line, and writes the cues.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/conversion.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/output_file.h"
#include "cli/plugin_library.h"

namespace {

constexpr const char* kProgram = cli::kProgramName;

// Peak resident set in KiB: this program's own (VmHWM starts afresh at exec),
// else what getrusage says.
long peakKiB() {
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
    }
    std::fclose(status);
    if (kib >= 0) return kib;
  }
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The plug-in named by --plugin, or the default one; false when it cannot
// be found or loaded (said on standard error).
bool load(const cli::Options& options, cli::PluginLibrary* library, std::string* path,
          cli::Messages& messages) {
  *path = options.plugin;
  if (path->empty()) {
    std::string searched;
    *path = cli::defaultPluginPath(&searched);
    if (path->empty()) {
      messages.say("plug-in not found (" + searched + "); give one with --plugin PATH");
      return false;
    }
  }
  std::string error;
  if (!library->load(*path, &error)) {
    messages.say(error);
    return false;
  }
  return true;
}

// SubRip and WebVTT: cue text made for their readers, with counts of its own.
bool writesCueText(const cli::Options& options) {
  return options.form == cli::OutputForm::Srt || options.form == cli::OutputForm::Vtt;
}

// One line of --stats: the label in 22 columns, the count, its note.
void printCount(const char* label, std::uint64_t count, const char* note = "") {
  std::fprintf(stderr, "%-22s%" PRIu64 "%s\n", label, count, note);
}

template <typename Counts>
void printRow(const cli::CountRow<Counts>& row, const Counts& counts, bool cueText) {
  if (!row.cueTextOnly || cueText) printCount(row.label, counts.*row.count, row.note);
}

// One script's, or a batch's totals (which have no one encoding).
void printStats(const cli::ConversionStats& stats, bool cueText, double seconds) {
  printCount("lines read:", stats.linesRead);
  if (!stats.encoding.empty())
    std::fprintf(stderr, "%-22s%s\n", "encoding:", stats.encoding.c_str());
  printCount("replaced by U+FFFD:", stats.replaced);
  printCount("dialogue lines:", stats.stream.dialogue);
  for (const cli::CountRow<cli::WriterCounts>& row : cli::kWriterRows) {
    printRow(row, stats.writer, cueText);
    if (row.count == &cli::WriterCounts::written) {
      printCount("lines without output:", stats.stream.events - stats.stream.outputs);
    } else if (row.count == &cli::WriterCounts::endsRaised) {
      for (const cli::CountRow<cli::BalanceCounts>& balanceRow : cli::kBalanceRows) {
        printRow(balanceRow, stats.writer.balance, cueText);
      }
    }
  }
  printCount("buffers allocated:", stats.buffers.made);
  printCount("buffers released:", stats.buffers.released);
  std::fprintf(stderr,
               "elapsed:              %.3f s\n"
               "lines per second:     %.0f\n"
               "peak memory:          %.1f MiB\n",
               seconds, seconds > 0 ? static_cast<double>(stats.linesRead) / seconds : 0.0,
               static_cast<double>(peakKiB()) / 1024.0);
}

void printBatchStats(const cli::BatchTotals& totals, bool cueText, double seconds) {
  std::fprintf(stderr,
               "files:                %" PRIu64
               "\n"
               "files not converted:  %" PRIu64 "\n",
               totals.files, totals.failed);
  printStats(totals.counts, cueText, seconds);
}

// Standard input is a file, a pipe or a socket: what a user who forgot the "-" meant
// to convert, where a terminal or /dev/null holds nothing.
bool standardInputHoldsData() {
  struct stat info {};
  return ::fstat(STDIN_FILENO, &info) == 0 &&
         (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

int run(const cli::Options& options) {
  const auto started = std::chrono::steady_clock::now();
  cli::Messages messages;
  if (options.scripts.empty() && !options.info && standardInputHoldsData()) {
    messages.say(
        "no script given, and standard input is a file, a pipe or a socket: give - to convert it"
        " (without a script, and with nothing on standard input, the bundled sample is"
        " converted)");
    cli::endUnopenedPipe(options.output);
    return cli::kExitFailed;
  }
  cli::PluginLibrary library;
  std::string pluginPath;
  if (!load(options, &library, &pluginPath, messages)) {
    cli::endUnopenedPipe(options.output);
    return cli::kExitFailed;
  }
  const auto seconds = [&started] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  if (!options.outputDir.empty()) {
    cli::BatchTotals totals;
    const int status = cli::convertBatch(options, library.entry(), pluginPath, messages, &totals);
    if (options.stats) printBatchStats(totals, writesCueText(options), seconds());
    return status;
  }
  cli::ConversionRequest request;
  if (!options.scripts.empty()) request.script = options.scripts.front();
  request.output = options.output;
  cli::ConversionStats stats;
  const int status = cli::convert(request, options, library.entry(), pluginPath, messages, &stats);
  if (options.stats && !options.info) {
    printStats(stats, writesCueText(options), seconds());
  }
  return status;
}

// What was printed must have reached standard output: `--help > /dev/full`
// fails. A failure that was reported already keeps its status.
int checkedStandardOutput(int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  if (status != 0) return status;
  std::fprintf(stderr, "%s: cannot write standard output: %s\n", kProgram,
               std::strerror(errno != 0 ? errno : EIO));
  return cli::kExitFailed;
}

// Which of standard input, output and error were closed when the program
// started, by bit (1 << descriptor). Each is opened on /dev/null instead, so
// that no file the program opens takes its number: a script would pass for
// standard input, an output file would receive the messages.
unsigned reopenClosedStandardStreams() {
  unsigned closed = 0;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    closed |= 1u << fd;
    // The lowest free descriptor: this one, as those below it are open.
    if (::open("/dev/null", O_RDWR) != fd) std::_Exit(cli::kExitFailed);
  }
  return closed;
}

// What the run would write to standard output, or read from its input.
bool writesStandardOutput(const cli::Options& options) {
  return options.help || options.version ||
         (options.outputDir.empty() && (options.output.empty() || options.output == "-"));
}
bool readsStandardInput(const cli::Options& options) {
  for (const std::string& script : options.scripts) {
    if (script == "-") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned closed = reopenClosedStandardStreams();
  cli::ignoreFileSizeSignal();
  const std::vector<std::string> args(argv + 1, argv + argc);
  cli::Options options;
  std::string error;
  if (!cli::parseOptions(args, &options, &error)) {
    // The values in it are the user's, control characters and all.
    cli::Messages().say(error);
    std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
    cli::endUnopenedPipe(options.output);
    return cli::kExitFailed;
  }
  const bool outputClosed = (closed & 1u << STDOUT_FILENO) != 0 && writesStandardOutput(options);
  if (outputClosed || ((closed & 1u << STDIN_FILENO) != 0 && readsStandardInput(options))) {
    std::fprintf(stderr, "%s: cannot %s: %s\n", kProgram,
                 outputClosed ? "write standard output" : "read standard input",
                 std::strerror(EBADF));
    return cli::kExitFailed;
  }
  if (options.help) {
    std::fputs(cli::usage(kProgram).c_str(), stdout);
    return checkedStandardOutput(0);
  }
  if (options.version) {
    std::printf("%s %s\n", kProgram, SUBRITE_VERSION);
    return checkedStandardOutput(0);
  }
  int status = cli::kExitFailed;
  try {
    status = run(options);
  } catch (const std::bad_alloc&) {
    // Conversions say so for themselves; this is for what lies around them.
    std::fprintf(stderr, "%s: out of memory\n", kProgram);
  }
  return checkedStandardOutput(status);
}
