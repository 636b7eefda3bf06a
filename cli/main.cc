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
#include <optional>
#include <string>
#include <vector>

#include "cli/event_fields.h"
#include "cli/options.h"
#include "cli/plugin_library.h"
#include "cli/session.h"
#include "cli/writers.h"
#include "hostkit/script_source.h"

extern const char kSampleScript[];
extern const std::size_t kSampleScriptSize;

namespace {

constexpr char kProgram[] = "subrite-host";
constexpr int kExitBroken = 1;  // the plug-in broke the host's rules
constexpr int kExitUsage = 2;   // anything the user can put right

void say(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

struct Counts {
  std::uint64_t events = 0;    // lines sent to the plug-in
  std::uint64_t dialogue = 0;  // of them, "Dialogue:" lines
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

// The plug-in named by --plugin, or the default one; false when it cannot
// be found or loaded (said on standard error).
bool load(const cli::Options& options, cli::PluginLibrary* library, std::string* path) {
  *path = options.plugin;
  if (path->empty()) {
    std::string searched;
    *path = cli::defaultPluginPath(&searched);
    if (path->empty()) {
      say("plug-in not found (looked for " + searched + "); give one with --plugin PATH");
      return false;
    }
  }
  std::string error;
  if (!library->load(*path, &error)) {
    say(error);
    return false;
  }
  return true;
}

// The script being read: a file, standard input, or the bundled sample.
class Script {
 public:
  ~Script() {
    if (fd_ > STDIN_FILENO) ::close(fd_);
  }
  // Opens the script and reads its header; false when it cannot be read or
  // is not a script (said on standard error).
  bool open(const std::optional<std::string>& name) {
    if (name && *name == "-") {
      fd_ = STDIN_FILENO;
      name_ = "standard input";
    } else if (name) {
      name_ = *name;
      fd_ = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd_ < 0) {
        say("cannot open " + name_ + ": " + std::strerror(errno));
        return false;
      }
    }
    reader_.emplace(fd_ >= 0
                        ? hostkit::LineReader(fd_)
                        : hostkit::LineReader(std::string_view(kSampleScript, kSampleScriptSize)));
    std::string error;
    if (!hostkit::readHeader(*reader_, &header_, &error)) {
      say(name_ + ": " + error);
      return false;
    }
    return true;
  }

  const std::string& name() const { return name_; }
  hostkit::ScriptHeader& header() { return header_; }
  hostkit::LineReader& reader() { return *reader_; }

 private:
  int fd_ = -1;
  std::string name_ = "the bundled sample";
  std::optional<hostkit::LineReader> reader_;
  hostkit::ScriptHeader header_;
};

void printInfo(const std::string& pluginPath, const cli::Properties& properties) {
  std::printf(
      "Plug-in:      %s\n"
      "Name:         %s\n"
      "Type:         %s\n"
      "InputFormat:  %s\n"
      "OutputFormat: %s\n",
      pluginPath.c_str(), properties.name.c_str(), properties.type.c_str(),
      properties.inputFormat.c_str(), properties.outputFormat.c_str());
}

// Sends the header and every event line after it, writing a cue for each
// output sample.
Counts stream(Script& script, cli::Session& session, cli::OutputForm form, std::FILE* out) {
  Counts counts;
  if (!session.sendHeader(script.header().text)) {
    say("warning: " + script.name() +
        " has no Text column in its events format; the plug-in takes the first field of each "
        "line as its text");
  }
  // The plug-in has its own copy now; a header with embedded fonts can be large.
  std::string().swap(script.header().text);
  const std::unique_ptr<cli::CueWriter> writer = cli::makeWriter(form, out);
  cli::EventFieldReader events(script.header().columns);
  cli::EventFields fields;
  std::uint64_t lineNumber = 0;
  session.onMarkup = [&](std::string_view markup) {
    writer->write(
        cli::Cue{++counts.cues, lineNumber, fields.start, fields.end, fields.style, markup});
  };
  const auto send = [&](std::string_view text, std::uint64_t number) {
    if (text.empty()) return;
    lineNumber = number;
    fields = cli::EventFields{};
    if (cli::isDialogue(text)) {
      ++counts.dialogue;
      fields = events.read(text);
    }
    session.sendEvent(text, ++counts.events);
  };
  hostkit::LineReader& reader = script.reader();
  if (script.header().firstEvent) send(*script.header().firstEvent, reader.linesRead());
  for (std::string_view line; reader.next(&line);) send(line, reader.linesRead());
  writer->flush();
  session.onMarkup = nullptr;
  return counts;
}

void printStats(const Counts& counts, std::uint64_t linesRead, const cli::Session& session,
                double seconds) {
  const hostkit::Ledger::Counts buffers = session.counts();
  std::fprintf(stderr,
               "lines read:           %" PRIu64
               "\n"
               "dialogue lines:       %" PRIu64
               "\n"
               "cues written:         %" PRIu64
               "\n"
               "lines without output: %" PRIu64
               "\n"
               "buffers allocated:    %" PRIu64
               "\n"
               "buffers released:     %" PRIu64
               "\n"
               "elapsed:              %.3f s\n"
               "lines per second:     %.0f\n"
               "peak memory:          %.1f MiB\n",
               linesRead, counts.dialogue, counts.cues, counts.events - counts.cues, buffers.made,
               buffers.released, seconds,
               seconds > 0 ? static_cast<double>(linesRead) / seconds : 0.0,
               static_cast<double>(peakKiB()) / 1024.0);
}

// Closes the session and says what went wrong: the exit status.
int report(Script& script, cli::Session& session, const std::string& outputName, std::FILE* out) {
  session.close();
  int status = 0;
  if (!script.reader().error().empty()) {
    say("cannot read " + script.name() + ": " + script.reader().error());
    status = kExitUsage;
  }
  if (std::fflush(out) != 0 || std::ferror(out) || (out != stdout && std::fclose(out) != 0)) {
    say("cannot write " + outputName + ": " + std::strerror(errno));
    status = kExitUsage;
  }
  const std::vector<std::string> problems = session.problems();
  for (const std::string& problem : problems) say("plug-in fault: " + problem);
  if (!problems.empty()) status = kExitBroken;
  return status;
}

int run(const cli::Options& options) {
  const auto started = std::chrono::steady_clock::now();
  cli::PluginLibrary library;
  std::string pluginPath;
  if (!load(options, &library, &pluginPath)) return kExitUsage;
  Script script;
  if (!script.open(options.script)) return kExitUsage;

  cli::Session session;
  std::string error;
  if (!session.start(library.entry(), script.header().inputFormat, &error)) {
    say(pluginPath + ": " + error);
    return kExitUsage;
  }
  Counts counts;
  std::FILE* out = stdout;
  std::string outputName = "standard output";
  if (options.info) {
    printInfo(pluginPath, session.properties());
  } else {
    if (!options.output.empty()) {
      outputName = options.output;
      out = std::fopen(outputName.c_str(), "wb");
      if (out == nullptr) {
        say("cannot write " + outputName + ": " + std::strerror(errno));
        return kExitUsage;
      }
    }
    // The writers gather cues into large writes themselves.
    std::setvbuf(out, nullptr, _IONBF, 0);
    counts = stream(script, session, options.form, out);
  }
  const int status = report(script, session, outputName, out);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  if (options.stats) {
    printStats(counts, script.reader().linesRead(), session, elapsed.count());
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  cli::Options options;
  std::string error;
  if (!cli::parseOptions(args, &options, &error)) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, error.c_str(), kProgram);
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(cli::usage(kProgram).c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s\n", kProgram, SUBRITE_VERSION);
    return 0;
  }
  return run(options);
}
