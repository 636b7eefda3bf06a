// subrite-host: the reference host program. Loads the plug-in as the media
// host does, streams a script through it line by line, and writes the cues.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/cli.h"
#include "host/plugin_library.h"
#include "host/script_reader.h"
#include "host/session.h"
#include "host/writers.h"

extern const char kSampleScript[];
extern const std::size_t kSampleScriptSize;

namespace {

constexpr char kProgram[] = "subrite-host";
constexpr int kExitBroken = 1;  // the plug-in broke the host's rules
constexpr int kExitUsage = 2;   // anything the user can put right

int fail(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return kExitUsage;
}

struct Counts {
  std::uint64_t events = 0;     // lines sent to the plug-in
  std::uint64_t dialogue = 0;   // of them, "Dialogue:" lines
  std::uint64_t cues = 0;
};

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

void printStats(const Counts& counts, std::uint64_t linesRead, const hostcli::Session& session,
                double seconds) {
  const host::Ledger::Counts buffers = session.counts();
  std::fprintf(stderr,
               "lines read:           %" PRIu64 "\n"
               "dialogue lines:       %" PRIu64 "\n"
               "cues written:         %" PRIu64 "\n"
               "lines without output: %" PRIu64 "\n"
               "buffers allocated:    %" PRIu64 "\n"
               "buffers released:     %" PRIu64 "\n"
               "elapsed:              %.3f s\n"
               "lines per second:     %.0f\n"
               "peak memory:          %.1f MiB\n",
               linesRead, counts.dialogue, counts.cues, counts.events - counts.cues, buffers.made,
               buffers.released, seconds, seconds > 0 ? static_cast<double>(linesRead) / seconds : 0.0,
               static_cast<double>(peakKiB()) / 1024.0);
}

int run(const hostcli::Options& options) {
  const auto started = std::chrono::steady_clock::now();

  std::string error;
  std::string pluginPath = options.plugin;
  if (pluginPath.empty()) {
    std::string searched;
    pluginPath = hostcli::defaultPluginPath(&searched);
    if (pluginPath.empty()) {
      return fail("plug-in not found (looked for " + searched + "); give one with --plugin PATH");
    }
  }
  hostcli::PluginLibrary library;
  if (!library.load(pluginPath, &error)) return fail(error);

  // The script: a file, standard input, or the bundled sample.
  int fd = -1;
  std::string scriptName = "the bundled sample";
  if (options.script && *options.script == "-") {
    fd = STDIN_FILENO;
    scriptName = "standard input";
  } else if (options.script) {
    scriptName = *options.script;
    fd = ::open(scriptName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("cannot open " + scriptName + ": " + std::strerror(errno));
  }
  struct CloseOnExit {
    int fd;
    ~CloseOnExit() {
      if (fd > STDIN_FILENO) ::close(fd);
    }
  } closer{fd};
  hostcli::LineReader reader = fd >= 0 ? hostcli::LineReader(fd)
                                       : hostcli::LineReader(std::string_view(
                                             kSampleScript, kSampleScriptSize));
  hostcli::ScriptHeader header;
  if (!hostcli::readHeader(reader, &header, &error)) return fail(scriptName + ": " + error);

  hostcli::Session session;
  if (!session.create(library.entry(), &error) || !session.open(header.inputFormat, &error)) {
    return fail(pluginPath + ": " + error);
  }
  const hostcli::Properties properties = session.properties();
  if (options.info) {
    std::printf("Plug-in:      %s\n"
                "Name:         %s\n"
                "Type:         %s\n"
                "InputFormat:  %s\n"
                "OutputFormat: %s\n",
                pluginPath.c_str(), properties.name.c_str(), properties.type.c_str(),
                properties.inputFormat.c_str(), properties.outputFormat.c_str());
  }

  std::FILE* out = stdout;
  if (!options.info && !options.output.empty()) {
    out = std::fopen(options.output.c_str(), "wb");
    if (out == nullptr) return fail("cannot write " + options.output + ": " + std::strerror(errno));
  }
  // The writers gather cues into large writes themselves.
  if (!options.info) std::setvbuf(out, nullptr, _IONBF, 0);

  Counts counts;
  if (!options.info) {
    if (!session.sendHeader(header.text)) {
      std::fprintf(stderr,
                   "%s: warning: %s has no Text column in its events format; the plug-in "
                   "takes the first field of each line as its text\n",
                   kProgram, scriptName.c_str());
    }
    // The plug-in has its own copy now; a header with embedded fonts can be large.
    std::string().swap(header.text);
    const std::unique_ptr<hostcli::CueWriter> writer = hostcli::makeWriter(options.form, out);
    hostcli::EventReader events(header.columns);
    hostcli::EventFields fields;
    std::uint64_t lineNumber = 0;
    session.onMarkup = [&](std::uint64_t, std::string_view markup) {
      writer->write(hostcli::Cue{++counts.cues, lineNumber, fields.start, fields.end,
                                 fields.style, markup});
    };
    const auto send = [&](std::string_view text, std::uint64_t number) {
      if (text.empty()) return;
      lineNumber = number;
      fields = hostcli::EventFields{};
      if (hostcli::isDialogue(text)) {
        ++counts.dialogue;
        fields = events.read(text);
      }
      session.sendEvent(text, ++counts.events);
    };
    if (header.firstEvent) send(*header.firstEvent, reader.linesRead());
    for (std::string_view line; reader.next(&line);) send(line, reader.linesRead());
    writer->flush();
  }
  session.onMarkup = nullptr;
  session.close();

  int status = 0;
  if (!reader.error().empty()) {
    std::fprintf(stderr, "%s: cannot read %s: %s\n", kProgram, scriptName.c_str(),
                 reader.error().c_str());
    status = kExitUsage;
  }
  if (std::fflush(out) != 0 || std::ferror(out) || (out != stdout && std::fclose(out) != 0)) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", kProgram,
                 options.output.empty() ? "standard output" : options.output.c_str(),
                 std::strerror(errno));
    status = kExitUsage;
  }
  const std::vector<std::string> problems = session.problems();
  for (const std::string& problem : problems) {
    std::fprintf(stderr, "%s: plug-in fault: %s\n", kProgram, problem.c_str());
  }
  if (!problems.empty()) status = kExitBroken;

  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  if (options.stats) printStats(counts, reader.linesRead(), session, elapsed.count());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  hostcli::Options options;
  std::string error;
  if (!hostcli::parseOptions(args, &options, &error)) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, error.c_str(), kProgram);
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(hostcli::usage(kProgram).c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s\n", kProgram, SUBRITE_VERSION);
    return 0;
  }
  return run(options);
}
