// The three forms subrite-host writes its cues in. Each cue is written as it
// arrives, gathered into writes of about 64 KiB, so nothing but the current
// cue and that much output is held.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

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

class CueWriter {
 public:
  virtual ~CueWriter() = default;
  virtual void write(const Cue& cue) = 0;
  // Hands what is gathered to the stream; the destructor does it too.
  virtual void flush() = 0;
};

std::unique_ptr<CueWriter> makeWriter(OutputForm form, std::FILE* out);

// An SSA time "H:MM:SS.cc" (any number of digits in each part, the fraction
// optional and read as a decimal fraction of a second) in milliseconds;
// nothing for anything else.
std::optional<std::uint64_t> parseScriptTime(std::string_view text);

// "hh:mm:ss,mmm"; hours take more digits when they need them.
std::string srtTime(std::uint64_t milliseconds);

// The markup as SubRip cue text: a blank line would end the cue, so lines
// that are empty or hold only spaces and tabs are dropped; the other lines
// are kept as they are, joined with "\n". Empty when nothing is left.
std::string srtText(std::string_view markup);

// Appends bytes as a JSON string, quotes included. Valid UTF-8 is kept;
// quote, backslash, control bytes, DEL, U+2028 and U+2029 are escaped; each
// malformed UTF-8 sequence becomes one U+FFFD.
void appendJsonString(std::string* out, std::string_view bytes);

}  // namespace cli
