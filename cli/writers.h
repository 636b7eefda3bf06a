// The forms subrite-host writes its cues in. Markup, SubRip and JSON lines
// are written as the cues arrive, gathered into writes of about 64 KiB, so
// nothing but the current cue and that much output is held; WebVTT, whose
// cues go in order of their start and whose STYLE block comes first, is
// written at the end (vtt_writer.h). Markup and JSON lines carry the markup
// as the module made it; SubRip and WebVTT carry its cue text (balance.h).
// SubRip numbers only the cues it writes; WebVTT writes no numbers, and
// both leave out drawings (drawing.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "cli/balance.h"
#include "cli/count_rows.h"
#include "cli/cue_time.h"
#include "script/text_buffer.h"

namespace cli {

enum class OutputForm { Markup, Srt, Vtt, Jsonl };

// Between a cue's start and end in every form.
inline constexpr std::string_view kCueArrow = " --> ";

// The file name extension of each form's output.
const char* extensionOf(OutputForm form);

// One converted event.
struct Cue {
  std::uint64_t number;    // the plug-in's output sample, from 1 (markup and JSON lines show it)
  std::uint64_t line;      // the event's line in the script, from 1
  std::string_view start;  // Start, End and Style as the script writes them
  std::string_view end;
  std::string_view style;
  std::string_view markup;  // as the module sent it, without the NUL
  // Its Text is a drawing and nothing else; only known to writers that
  // leave drawings out.
  bool drawing = false;
};

// What a writer did with the cues it was given.
struct WriterCounts {
  std::uint64_t written = 0;
  // SubRip and WebVTT: cues left without text once balanced (not written).
  std::uint64_t withoutText = 0;
  std::uint64_t firstWithoutText = 0;  // its script line; one script's, so not added up
  // SubRip and WebVTT: cues that are drawings (not written).
  std::uint64_t drawings = 0;
  std::uint64_t firstDrawing = 0;  // as firstWithoutText
  // SubRip and WebVTT: cues whose end was before their start (SubRip:
  // written ending at their start) or not after it (WebVTT: ending a
  // millisecond after it).
  std::uint64_t endsRaised = 0;
  // SubRip and WebVTT: what the balancing changed.
  BalanceCounts balance;
  // Of the cues written: times that --shift would have put before 0,
  // written as 0, and (SubRip and WebVTT) times that cannot be read, taken
  // as 0.
  std::uint64_t timesClamped = 0;
  std::uint64_t timesUnreadable = 0;
  std::uint64_t firstUnreadable = 0;  // its cue's script line, as firstWithoutText

  // A cue on script line `line` not written: without text once balanced, or
  // a drawing.
  void addWithoutText(std::uint64_t line) {
    if (withoutText++ == 0) firstWithoutText = line;
  }
  void addDrawing(std::uint64_t line) {
    if (drawings++ == 0) firstDrawing = line;
  }
  // The times of the cue on script line `line`.
  void addTimes(const TimeCounts& times, std::uint64_t line) {
    if (timesUnreadable == 0 && times.unreadable != 0) firstUnreadable = line;
    timesClamped += times.clamped;
    timesUnreadable += times.unreadable;
  }

  WriterCounts& operator+=(const WriterCounts& other);
};

// Every count but the first lines (one script's) and the balancing's
// (kBalanceRows, printed after the raised ends), in the order --stats
// prints them.
inline constexpr CountRow<WriterCounts> kWriterRows[] = {
    {"cues written:", "", &WriterCounts::written, false},
    {"cues without text:", " (not written)", &WriterCounts::withoutText, true},
    {"drawings:", " (not written)", &WriterCounts::drawings, true},
    {"ends raised:", " (an end before its start, or not after it in WebVTT)",
     &WriterCounts::endsRaised, true},
    {"unreadable times:", " (taken as 0 before any shift)", &WriterCounts::timesUnreadable, true},
    {"times before 0:", " (shifted to 0)", &WriterCounts::timesClamped, false},
};
static_assert(sizeof(WriterCounts) ==
                  sizeof(BalanceCounts) + (std::size(kWriterRows) + 3) * sizeof(std::uint64_t),
              "a count without a row would be neither printed nor added up");

inline WriterCounts& WriterCounts::operator+=(const WriterCounts& other) {
  addRows(kWriterRows, other, this);
  balance += other.balance;
  return *this;
}

// A writer's output, gathered and written in pieces of about 64 KiB, so
// that nothing but that much is held. After a write fails nothing more is
// written.
class ChunkedOutput {
 public:
  static constexpr std::size_t kChunk = 64 * 1024;
  // The chunks go straight to the stream's descriptor, which a writer uses
  // alone (a stream in memory is written as a stream).
  explicit ChunkedOutput(std::FILE* out) : out_(out) { pending_.reserve(0, 2 * kChunk); }
  ssa::TextBuffer& pending() { return pending_; }
  // Writes what is pending once it makes a piece.
  void writeIfFull() {
    if (pending_.size() >= kChunk) write();
  }
  void write();
  // The errno of the first write that failed; 0 when none has.
  int error() const { return error_; }

 private:
  std::FILE* out_;
  ssa::TextBuffer pending_;
  int error_ = 0;
};

class CueWriter {
 public:
  virtual ~CueWriter() = default;
  virtual void write(const Cue& cue) = 0;
  // Writes what is still held, once all cues are in; nothing may be written
  // after it. A writer destroyed without it (a run that failed, perhaps for
  // want of memory) writes nothing more: WebVTT would build its whole file
  // there. After a write fails nothing more is written.
  virtual void finish() = 0;
  virtual const WriterCounts& counts() const = 0;
  // Whether cues that are drawings are left out: Cue::drawing is worth
  // finding out.
  virtual bool leavesOutDrawings() const { return false; }
  // The errno of the first write that failed; 0 when none has.
  virtual int writeError() const = 0;
};

// Times are moved by `shift` milliseconds (not in the markup form, which
// shows them as the script writes them). WebVTT has its STYLE block unless
// `vttStyle` is false.
std::unique_ptr<CueWriter> makeWriter(OutputForm form, std::FILE* out, std::int64_t shift = 0,
                                      bool vttStyle = true);

}  // namespace cli
