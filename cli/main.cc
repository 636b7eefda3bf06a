// subrite-host: the reference host program. Loads the plug-in as the media
// host does, streams a script through it line by line, and writes the cues.
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

#include "cli/encoding.h"
#include "cli/event_fields.h"
#include "cli/options.h"
#include "cli/output_file.h"
#include "cli/plugin_library.h"
#include "cli/script_input.h"
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
  std::uint64_t cues = 0;      // output samples
  std::uint64_t firstEventLine = 0;
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
Counts stream(cli::ScriptInput& script, cli::Session& session, cli::CueWriter& writer) {
  Counts counts;
  if (!session.sendHeader(script.header().text)) {
    say("warning: " + script.name() +
        " has no Text column in its events format; the plug-in takes the first field of each "
        "line as its text");
  }
  // The plug-in has its own copy now; a header with embedded fonts can be large.
  std::string().swap(script.header().text);
  cli::EventFieldReader events(script.header().columns);
  cli::EventFields fields;
  std::uint64_t lineNumber = 0;
  session.onMarkup = [&](std::string_view markup) {
    writer.write(
        cli::Cue{++counts.cues, lineNumber, fields.start, fields.end, fields.style, markup});
  };
  const auto send = [&](std::string_view text, std::uint64_t number) {
    lineNumber = number;
    if (counts.events == 0) counts.firstEventLine = number;
    fields = cli::EventFields{};
    if (cli::isDialogue(text)) {
      ++counts.dialogue;
      fields = events.read(text);
    }
    session.sendEvent(text, ++counts.events);
  };
  hostkit::LineReader& reader = script.reader();
  if (script.header().firstEvent) send(*script.header().firstEvent, reader.linesRead());
  for (std::string_view event; hostkit::nextEvent(reader, &event);) {
    send(event, reader.linesRead());
  }
  writer.flush();
  session.onMarkup = nullptr;
  return counts;
}

void printStats(const Counts& counts, const cli::ScriptInput& script, const cli::CueWriter* writer,
                bool srt, const cli::Session& session, double seconds, std::uint64_t linesRead) {
  const cli::DecodingSource* decoding = script.decoding();
  const cli::WriterCounts written = writer != nullptr ? writer->counts() : cli::WriterCounts{};
  std::fprintf(stderr,
               "lines read:           %" PRIu64
               "\n"
               "encoding:             %s (%s)\n"
               "replaced by U+FFFD:   %" PRIu64
               "\n"
               "dialogue lines:       %" PRIu64
               "\n"
               "cues written:         %" PRIu64
               "\n"
               "lines without output: %" PRIu64 "\n",
               linesRead, script.encoding().name.c_str(), script.encoding().how.c_str(),
               decoding != nullptr ? decoding->replaced() : 0, counts.dialogue, written.written,
               counts.events - counts.cues);
  if (srt) {
    const cli::BalanceCounts& balance = written.balance;
    std::fprintf(stderr,
                 "cues without text:    %" PRIu64
                 " (not written)\n"
                 "ends before starts:   %" PRIu64
                 " (ended at their start)\n"
                 "tags closed at end:   %" PRIu64
                 "\n"
                 "tags crossed:         %" PRIu64
                 " (closed and reopened)\n"
                 "stray closings:       %" PRIu64
                 " (dropped)\n"
                 "repeated openings:    %" PRIu64
                 " (dropped)\n"
                 "empty attributes:     %" PRIu64
                 " (dropped)\n"
                 "empty fonts:          %" PRIu64 " (dropped)\n",
                 written.withoutText, written.endsRaised, balance.closedAtEnd, balance.reopened,
                 balance.strayClosings, balance.repeatedOpenings, balance.emptyAttributes,
                 balance.emptyFonts);
  }
  const hostkit::Ledger::Counts buffers = session.counts();
  std::fprintf(stderr,
               "buffers allocated:    %" PRIu64
               "\n"
               "buffers released:     %" PRIu64
               "\n"
               "elapsed:              %.3f s\n"
               "lines per second:     %.0f\n"
               "peak memory:          %.1f MiB\n",
               buffers.made, buffers.released, seconds,
               seconds > 0 ? static_cast<double>(linesRead) / seconds : 0.0,
               static_cast<double>(peakKiB()) / 1024.0);
}

// Closes the session and says what went wrong, and what the user should
// know: the exit status.
int report(cli::ScriptInput& script, cli::Session& session, const Counts& counts) {
  session.close();
  int status = 0;
  if (!script.reader().error().empty()) {
    say("cannot read " + script.name() + ": " + script.reader().error());
    status = kExitUsage;
  }
  if (const cli::DecodingSource* decoding = script.decoding();
      decoding != nullptr && decoding->replaced() > 0) {
    const std::uint64_t line = script.firstReplacedLine();
    const std::string where = line != 0 ? "on line " + std::to_string(line) + " (byte " +
                                              std::to_string(decoding->firstOffset()) + ")"
                                        : "at byte " + std::to_string(decoding->firstOffset());
    say("warning: " + script.name() + ": " + std::to_string(decoding->replaced()) +
        (decoding->replaced() == 1 ? " sequence" : " sequences") + " could not be read as " +
        script.encoding().name + " and became U+FFFD; the first is " + where);
  }
  if (counts.events > 0 && counts.cues == 0) {
    say("warning: " + script.name() + ": none of its " + std::to_string(counts.events) +
        " event lines gave a cue (the first is line " + std::to_string(counts.firstEventLine) +
        ")");
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
  cli::ScriptInput script;
  std::string error;
  if (!script.open(options.script, std::string_view(kSampleScript, kSampleScriptSize), &error)) {
    say(error);
    return kExitUsage;
  }
  const bool toFile = !options.info && !options.output.empty() && options.output != "-";
  if (toFile && script.fd() >= 0 && cli::isSameFile(script.fd(), options.output)) {
    say("refusing to write " + options.output + ": it is the script being read (" + script.name() +
        "); choose another output");
    return kExitUsage;
  }
  if (!script.start(options.encoding, &error)) {
    say(error);
    return kExitUsage;
  }
  if (const std::string notice = script.notice(); !notice.empty()) say(notice);

  cli::Session session;
  if (!session.start(library.entry(), script.header().inputFormat, &error)) {
    say(pluginPath + ": " + error);
    return kExitUsage;
  }
  Counts counts;
  cli::OutputFile output;
  std::unique_ptr<cli::CueWriter> writer;
  if (options.info) {
    printInfo(pluginPath, session.properties());
  } else {
    if (!output.open(options.output, &error)) {
      say(error);
      return kExitUsage;
    }
    // The writers gather cues into large writes themselves.
    std::setvbuf(output.stream(), nullptr, _IONBF, 0);
    writer = cli::makeWriter(options.form, output.stream());
    counts = stream(script, session, *writer);
  }
  int status = report(script, session, counts);
  if (writer != nullptr) {
    if (status == 0 && !output.commit(writer->writeError(), &error)) {
      say(error);
      status = kExitUsage;
    } else if (status != 0 && output.discard()) {
      say(output.name() + " not written; a file there is left as it was");
    }
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  if (options.stats) {
    printStats(counts, script, writer.get(), options.form == cli::OutputForm::Srt, session,
               elapsed.count(), script.reader().linesRead());
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
