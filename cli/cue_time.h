// Script times read ("H:MM:SS.cc") and cue times written (SubRip's,
// WebVTT's and the script's own form), in milliseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/decimal.h"

namespace cli {

// What reading a cue's times found: counted in a writer's tally only once
// the cue is written.
struct TimeCounts {
  std::uint64_t unreadable = 0;
  std::uint64_t clamped = 0;
};

// The milliseconds of a cue's time as the script writes it, moved by
// `shift`. A time that cannot be read is taken as 0, and moved as the
// others are (a cue keeps its length); one that would fall before 0 is 0.
// Both are counted in *counts.
std::uint64_t cueTime(std::string_view text, std::int64_t shift, TimeCounts* counts);

// An SSA time "H:MM:SS.cc" (1 to 9 digits in each of the three parts; the
// fraction optional, of any length, read as a decimal fraction of a second),
// spaces and tabs around it passed over, in milliseconds; nothing for
// anything else.
std::optional<std::uint64_t> parseScriptTime(std::string_view text);

// The same by the general rule alone. parseScriptTime reads the form nearly
// every script writes, exactly "H:MM:SS.cc", by position first, and this
// otherwise; tests hold the two to the same answers.
std::optional<std::uint64_t> parseScriptTimeByParts(std::string_view text);

// Without the spaces and tabs at its ends. The field cut keeps tabs, as the
// module's does; a time may stand between them as between spaces.
std::string_view trimSpacesAndTabs(std::string_view text);

// "hh:mm:ss,mmm"; hours take more digits when they need them. For the tests:
// the writer puts its times in place.
std::string srtTime(std::uint64_t milliseconds);

// "hh:mm:ss.mmm", the same for WebVTT.
std::string vttTime(std::uint64_t milliseconds);

// "H:MM:SS.cc" as scripts write times, with a third decimal when the
// milliseconds need it.
std::string scriptTime(std::uint64_t milliseconds);

// Writes "hh:mm:ss,mmm" (or "." for `separator`) at `p`, at most 30 bytes
// (up to 20 digits of hours); answers the end. Below the hour the arithmetic
// is 32-bit, which is cheaper.
inline char* putCueTime(char* p, std::uint64_t milliseconds, char separator = ',') {
  const std::uint64_t hours = milliseconds / 3600000;
  const auto rest = static_cast<unsigned>(milliseconds % 3600000);
  p = hours < 100 ? putTwoDigits(p, static_cast<unsigned>(hours)) : putNumber(p, hours);
  *p++ = ':';
  p = putTwoDigits(p, rest / 60000);
  *p++ = ':';
  p = putTwoDigits(p, rest / 1000 % 60);
  *p++ = separator;
  *p++ = static_cast<char>('0' + rest % 1000 / 100);
  return putTwoDigits(p, rest % 100);
}

}  // namespace cli
