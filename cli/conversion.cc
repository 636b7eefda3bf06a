#include "cli/conversion.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/drawing.h"
#include "cli/event_fields.h"
#include "cli/output_file.h"
#include "cli/script_input.h"
#include "cli/session.h"
#include "hostkit/script_source.h"

extern const char kSampleScript[];
extern const std::size_t kSampleScriptSize;

namespace cli {
namespace {

void printInfo(const std::string& pluginPath, const Properties& properties) {
  std::printf(
      "Plug-in:      %s\n"
      "Name:         %s\n"
      "Type:         %s\n"
      "InputFormat:  %s\n"
      "OutputFormat: %s\n",
      pluginPath.c_str(), properties.name.c_str(), properties.type.c_str(),
      properties.inputFormat.c_str(), properties.outputFormat.c_str());
}

// Events between two requests to start writing the output to disk.
constexpr std::uint64_t kWritebackEvents = 4096;

// A video can carry a script's header as text, [Events] and all, and its
// events in a binary form: no cue, and a start that is no text. No output
// must replace a file for it, nor go to standard output.
bool isNoScript(ScriptInput& script, const StreamCounts& counts) {
  return counts.outputs == 0 && !script.startReadsAsText();
}

// Sends the header and every event line after it, writing a cue for each
// output sample.
StreamCounts stream(ScriptInput& script, Session& session, CueWriter& writer, OutputFile& output,
                    Messages& messages) {
  StreamCounts counts;
  if (!session.sendHeader(script.header().text)) {
    messages.say("warning: " + script.name() +
                 " has no Text column in its events format; the plug-in takes the first field "
                 "of each line as its text");
  }
  // The plug-in has its own copy now; a header with embedded fonts can be large.
  std::string().swap(script.header().text);
  EventFieldReader events(script.header().columns);
  EventFields fields;
  std::uint64_t lineNumber = 0;
  std::string_view line;  // the line being sent
  const bool drawingsLeftOut = writer.leavesOutDrawings();
  session.onMarkup = [&](std::string_view markup) {
    // The markup's quick test first: the line is cut again only for a cue
    // that looks drawn.
    const bool drawing =
        drawingsLeftOut && mayBeDrawing(markup) && isDialogue(line) && isDrawing(events.text(line));
    writer.write(
        Cue{++counts.outputs, lineNumber, fields.start, fields.end, fields.style, markup, drawing});
  };
  // Kept inline: out of line it costs some twenty instructions a line.
  const auto send = [&](std::string_view text, std::uint64_t number)
      __attribute__((always_inline)) {
    lineNumber = number;
    if (counts.events == 0) counts.firstEventLine = number;
    line = text;
    fields = EventFields{};
    const bool dialogue = isDialogue(text);
    if (dialogue) {
      ++counts.dialogue;
      fields = events.read(text);
    }
    const std::uint64_t outputs = counts.outputs;
    session.sendEvent(text, ++counts.events);
    if (dialogue && counts.outputs == outputs && !events.reachesText(text) &&
        counts.shortDialogue++ == 0) {
      counts.firstShortDialogue = number;
    }
  };
  hostkit::LineReader& reader = script.reader();
  if (script.header().firstEvent) send(*script.header().firstEvent, reader.linesRead());
  for (std::string_view event; hostkit::nextEvent(reader, &event);) {
    send(event, reader.linesRead());
    if (counts.events % kWritebackEvents == 0) output.startWriteback();
  }
  if (!isNoScript(script, counts)) writer.finish();
  session.onMarkup = nullptr;
  return counts;
}

// Why a script's cues gave no SubRip or WebVTT cue: they have no text once
// balanced, or are drawings.
std::string whyNoCue(const StreamCounts& counts, const WriterCounts& written, OutputForm form) {
  const std::string as = extensionOf(form) + 1;
  if (written.drawings == 0) {
    const std::string first = std::to_string(written.firstWithoutText);
    return counts.outputs == 1
               ? "its one cue has no text once balanced for " + as + " (line " + first + ")"
               : "none of its " + std::to_string(counts.outputs) +
                     " cues has text once balanced for " + as + " (the first is line " + first +
                     ")";
  }
  if (written.withoutText == 0) {
    const std::string first = std::to_string(written.firstDrawing);
    return counts.outputs == 1
               ? "its one cue is a drawing, which " + as + " leaves out (line " + first + ")"
               : "its " + std::to_string(counts.outputs) + " cues are drawings, which " + as +
                     " leaves out (the first is line " + first + ")";
  }
  const std::uint64_t first = std::min(written.firstWithoutText, written.firstDrawing);
  return "of its " + std::to_string(counts.outputs) + " cues, " + std::to_string(written.drawings) +
         (written.drawings == 1 ? " is a drawing" : " are drawings") + ", which " + as +
         " leaves out, and " + std::to_string(written.withoutText) +
         (written.withoutText == 1 ? " has" : " have") +
         " no text once balanced (the first is line " + std::to_string(first) + ")";
}

// What to say of the times of the cues written that were taken as 0 (SubRip
// and WebVTT read them; the other forms copy them): the events format names
// no Start or End column (the names are case-sensitive, and a tab is not
// trimmed from them), or some could not be read. Empty when all were read.
std::string timesNotRead(ScriptInput& script, const WriterCounts& written, OutputForm form) {
  if (form != OutputForm::Srt && form != OutputForm::Vtt) return {};
  const ssa::EventColumns& columns = script.header().columns;
  const bool start = columns.count(kStartColumn) != 0;
  const bool end = columns.count(kEndColumn) != 0;
  if (!start || !end) {
    return std::string("its events format has no ") +
           (!start && !end ? "Start or End column"
            : !start       ? "Start column"
                           : "End column") +
           " (the names are case-sensitive, and a tab beside one is part of it), so every " +
           (!start && !end ? "time"
            : !start       ? "start"
                           : "end") +
           " was taken as 0";
  }
  if (written.timesUnreadable == 0) return {};
  const std::uint64_t times = 2 * written.written;
  return std::to_string(written.timesUnreadable) + " of the " + std::to_string(times) +
         " times of the cues written could not be read and " +
         (written.timesUnreadable == 1 ? "was" : "were") + " taken as 0; the first is on line " +
         std::to_string(written.firstUnreadable);
}

// Says what went wrong, and what the user should know, once the session
// is closed: the exit status. `writer` is null when nothing was written.
int report(ScriptInput& script, Session& session, const StreamCounts& counts,
           const CueWriter* writer, OutputForm form, Messages& messages) {
  int status = kExitDone;
  if (!script.reader().error().empty()) {
    messages.say("cannot read " + script.name() + ": " + script.reader().error());
    status = kExitFailed;
  }
  const bool noScript = writer != nullptr && isNoScript(script, counts);
  if (noScript) {
    messages.say(script.name() +
                 ": no cue, and the start of it holds many control bytes, which text does not: "
                 "not an SSA/ASS script");
    status = kExitFailed;
  } else if (const DecodingSource* decoding = script.decoding();
             decoding != nullptr && decoding->replaced() > 0) {
    const std::uint64_t line = script.firstReplacedLine();
    const std::string where = line != 0 ? "on line " + std::to_string(line) + " (byte " +
                                              std::to_string(decoding->firstOffset()) + ")"
                                        : "at byte " + std::to_string(decoding->firstOffset());
    messages.say("warning: " + script.name() + ": " + std::to_string(decoding->replaced()) +
                 (decoding->replaced() == 1 ? " sequence" : " sequences") +
                 " could not be read as " + script.encoding().name +
                 (script.encoding().basis == Encoding::Basis::ValidFirstMiB
                      ? ", which its first MiB is,"
                      : "") +
                 " and became U+FFFD; the first is " + where +
                 (script.encoding().basis == Encoding::Basis::Given
                      ? ""
                      : "; give --encoding NAME if it is written in another"));
  }
  if (!noScript && counts.events > 0 && counts.outputs == 0) {
    const std::string first = std::to_string(counts.firstEventLine);
    messages.say("warning: " + script.name() + ": " +
                 (counts.events == 1
                      ? "its one line after the header gave no cue (line " + first
                      : "none of the " + std::to_string(counts.events) +
                            " lines after its header gave a cue (the first is line " + first) +
                 ")");
  } else if (writer != nullptr && counts.outputs > 0 && writer->counts().written == 0) {
    // Cues whose markup is only tags, such as a lone "</i>", or drawings:
    // an empty file would otherwise pass for a good one.
    messages.say("warning: " + script.name() + ": " + whyNoCue(counts, writer->counts(), form) +
                 ", so the output holds no cue");
  }
  if (counts.outputs > 0 && counts.shortDialogue > 0) {
    // Lost among lines that converted, a line cut short would go unseen.
    messages.say("warning: " + script.name() + ": " +
                 (counts.shortDialogue == 1
                      ? "a Dialogue line has"
                      : std::to_string(counts.shortDialogue) + " Dialogue lines have") +
                 " fewer fields than the events format and no text, so no cue (" +
                 (counts.shortDialogue == 1 ? "line " : "the first is line ") +
                 std::to_string(counts.firstShortDialogue) + ")");
  }
  if (writer != nullptr && writer->counts().written > 0) {
    const std::string times = timesNotRead(script, writer->counts(), form);
    if (!times.empty()) messages.say("warning: " + script.name() + ": " + times);
  }
  const std::vector<std::string> problems = session.problems();
  for (const std::string& problem : problems) {
    messages.say("plug-in fault on " + script.name() + ": " + problem);
  }
  if (!problems.empty()) status = kExitBroken;
  return status;
}

// Whether the output asked for is the script itself, under any name, or
// standard output appends to it (as `>> movie.ass` would have it); says so.
bool writesOverScript(ScriptInput& script, const ConversionRequest& request, const Options& options,
                      Messages& messages) {
  if (script.fd() < 0) return false;
  const bool toFile = !options.info && !request.output.empty() && request.output != "-";
  const bool same = toFile ? isSameFile(script.fd(), request.output)
                           : isSameRegularFile(script.fd(), STDOUT_FILENO);
  if (!same) return false;
  messages.say("refusing to write " + (toFile ? request.output : "standard output") +
               ": it is the script being read (" + script.name() + "); choose another output");
  return true;
}

// `written` is the writer of an output that was committed, else null: cues
// count as written only once the output holds them.
void fillStats(ScriptInput& script, const StreamCounts& counts, const CueWriter* written,
               const Session& session, ConversionStats* stats) {
  stats->linesRead = script.linesRead();
  stats->stream = counts;
  stats->replaced = script.decoding() != nullptr ? script.decoding()->replaced() : 0;
  stats->encoding = script.encoding().name + " (" + howDecided(script.encoding()) + ")";
  if (written != nullptr) stats->writer = written->counts();
  stats->buffers = session.counts();
}

void sayNotices(const ScriptInput& script, Messages& messages) {
  for (const std::string& notice : script.notices()) messages.say(notice);
}

// Says the script's notices now, or answers true to hold them until a cue
// is made. A set given that garbles the header is the likely cause of a
// refusal; one auto chose for what is no script (a video) says nothing of
// use, so for a start that is no text it waits for a cue.
bool sayOrHoldNotices(ScriptInput& script, const Options& options, bool started,
                      Messages& messages) {
  if (script.notices().empty()) return false;
  if (options.encoding != "auto" || (started && script.startReadsAsText())) {
    sayNotices(script, messages);
    return false;
  }
  return started;
}

// Puts the output in place when the conversion went well, else leaves a
// file there as it was: the status, which a failed commit turns to
// kExitFailed (and its cues to none written).
int finishOutput(OutputFile& output, const CueWriter& writer, int status, Messages& messages,
                 ConversionStats* stats) {
  if (status == kExitDone) {
    std::string error;
    if (output.commit(writer.writeError(), &error)) return status;
    messages.say(error);
    if (stats != nullptr) stats->writer = WriterCounts{};
    return kExitFailed;
  }
  if (std::string stranded; output.discard(&stranded)) {
    messages.say(output.name() + " not written; a file there is left as it was" + stranded);
  }
  return status;
}

// *outputOpened is set once the output is open.
int convertScript(const ConversionRequest& request, const Options& options,
                  hostkit::GetPlugin entry, const std::string& pluginPath, Messages& messages,
                  ConversionStats* stats, bool* outputOpened) {
  ScriptInput script;
  std::string error;
  if (!script.open(request.script, std::string_view(kSampleScript, kSampleScriptSize), &error)) {
    messages.say(error);
    return kExitFailed;
  }
  if (writesOverScript(script, request, options, messages)) return kExitFailed;
  const bool started = script.start(options.encoding, &error);
  const bool noticesHeld = sayOrHoldNotices(script, options, started, messages);
  if (!started) {
    messages.say(error);
    if (stats != nullptr) stats->linesRead = script.linesRead();
    return kExitFailed;
  }

  Session session;
  if (!session.start(entry, script.header().inputFormat, &error)) {
    messages.say(pluginPath + ": " + error);
    return kExitFailed;
  }
  StreamCounts counts;
  OutputFile output;
  std::unique_ptr<CueWriter> writer;
  if (options.info) {
    printInfo(pluginPath, session.properties());
  } else {
    if (!output.open(request.output, &error)) {
      messages.say(error);
      return kExitFailed;
    }
    *outputOpened = true;
    // The writers write their chunks to the descriptor themselves: nothing
    // is left in the stream's buffer for the commit's flush.
    std::setvbuf(output.stream(), nullptr, _IONBF, 0);
    writer = makeWriter(options.form, output.stream(), options.shift.value_or(0), options.vttStyle);
    counts = stream(script, session, *writer, output, messages);
    if (noticesHeld && counts.outputs > 0) sayNotices(script, messages);
  }
  // The plug-in's faults are all known once its object is gone.
  session.close();
  const int status = report(script, session, counts, writer.get(), options.form, messages);
  // Before the commit: once the output is in place, running out of memory
  // must not report it as not converted.
  if (stats != nullptr) {
    fillStats(script, counts, status == kExitDone ? writer.get() : nullptr, session, stats);
  }
  return writer != nullptr ? finishOutput(output, *writer, status, messages, stats) : status;
}

}  // namespace

void addCounts(const ConversionStats& one, ConversionStats* sum) {
  sum->linesRead += one.linesRead;
  sum->stream.events += one.stream.events;
  sum->stream.dialogue += one.stream.dialogue;
  sum->stream.outputs += one.stream.outputs;
  sum->replaced += one.replaced;
  sum->writer += one.writer;
  sum->buffers += one.buffers;
}

int convert(const ConversionRequest& request, const Options& options, hostkit::GetPlugin entry,
            const std::string& pluginPath, Messages& messages, ConversionStats* stats) {
  bool outputOpened = false;
  int status = kExitFailed;
  try {
    status = convertScript(request, options, entry, pluginPath, messages, stats, &outputOpened);
  } catch (const std::bad_alloc&) {
    // Unwound: the temporary output is gone, and the memory with it.
    const std::string name = !request.script          ? "the sample script"
                             : *request.script == "-" ? "standard input"
                                                      : *request.script;
    messages.say("cannot convert " + name + ": out of memory");
  }
  if (!outputOpened) endUnopenedPipe(request.output);
  return status;
}

}  // namespace cli
