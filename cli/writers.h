// The three forms subrite-host writes its cues in. Each cue is written as it
// arrives, gathered into writes of about 64 KiB, so nothing but the current
// cue and that much output is held. Markup and JSON lines carry the markup
// as the module made it; SubRip carries its cue text (balance.h), numbering
// only the cues that have text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/balance.h"

namespace cli {

enum class OutputForm { Markup, Srt, Jsonl };

// One converted event.
struct Cue {
  std::uint64_t number;    // 1, 2, ... in output order
  std::uint64_t line;      // the event's line in the script, from 1
  std::string_view start;  // Start, End and Style as the script writes them
  std::string_view end;
  std::string_view style;
  std::string_view markup;  // as the module sent it, without the NUL
};

// What a writer did with the cues it was given.
struct WriterCounts {
  std::uint64_t written = 0;
  // SubRip only: cues left without text once balanced (not written), cues
  // whose end came before their start (written ending at their start), and
  // what the balancing changed.
  std::uint64_t withoutText = 0;
  std::uint64_t endsRaised = 0;
  BalanceCounts balance;
};

class CueWriter {
 public:
  virtual ~CueWriter() = default;
  virtual void write(const Cue& cue) = 0;
  // Hands what is gathered to the stream; the destructor does it too. After
  // a write fails nothing more is written.
  virtual void flush() = 0;
  virtual const WriterCounts& counts() const = 0;
  // The errno of the first write that failed; 0 when none has.
  virtual int writeError() const = 0;
};

std::unique_ptr<CueWriter> makeWriter(OutputForm form, std::FILE* out);

// An SSA time "H:MM:SS.cc" (any number of digits in each part, the fraction
// optional and read as a decimal fraction of a second) in milliseconds;
// nothing for anything else.
std::optional<std::uint64_t> parseScriptTime(std::string_view text);

// "hh:mm:ss,mmm"; hours take more digits when they need them.
std::string srtTime(std::uint64_t milliseconds);

// Appends bytes as a JSON string, quotes included. Valid UTF-8 is kept;
// quote, backslash, control bytes, DEL, U+2028 and U+2029 are escaped; each
// malformed UTF-8 sequence becomes one U+FFFD.
void appendJsonString(std::string* out, std::string_view bytes);

}  // namespace cli
