// Script times read ("H:MM:SS.cc") and cue times written (SubRip's,
// WebVTT's and the script's own form), in milliseconds.
#pragma once

#include <cstdint>
#include <cstring>
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
// Both are counted in *counts. *digits, when asked for, is set to the text
// when the cue time repeats its digits (putCueTimeDigits), else to null.
std::uint64_t cueTime(std::string_view text, std::int64_t shift, TimeCounts* counts,
                      const char** digits = nullptr);

// An SSA time "H:MM:SS.cc" (1 to 9 digits in each of the three parts; the
// fraction optional, of any length, read as a decimal fraction of a second),
// spaces and tabs around it passed over, in milliseconds; nothing for
// anything else.
std::optional<std::uint64_t> parseScriptTime(std::string_view text);

// "H:MM:SS.cc" exactly, read by position: the form nearly every script
// writes. Nothing for any other text (the general rule may still read it).
// *repeated says whether the minutes and the seconds are below 60, so that a
// cue time unmoved repeats its digits. Inline: it reads every time of every
// cue.
inline std::optional<std::uint64_t> readUsualTime(std::string_view text, bool* repeated) {
  // Nearly every script writes its times as H:MM:SS.cc: those are read by
  // position, the eight bytes "MM:SS.cc" as one word, a tenth of the general
  // reading's work.
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte 0 of the word is text[2]");
  if (text.size() == 10 && text[1] == ':') {
    const unsigned hours = static_cast<unsigned char>(text[0]) - unsigned{'0'};  // wraps when below
    std::uint64_t word;
    std::memcpy(&word, text.data() + 2, sizeof word);
    constexpr std::uint64_t kDigits = 0xFFFF00FFFF00FFFFu;       // bytes 0, 1, 3, 4, 6 and 7
    constexpr std::uint64_t kPunctuation = 0x00002E00003A0000u;  // ':' at 2, '.' at 5
    constexpr std::uint64_t kHighNibbles = 0xF0F000F0F000F0F0u & kDigits;
    constexpr std::uint64_t kThrees = 0x3030003030003030u;  // what a digit's high nibble is
    constexpr std::uint64_t kSixes = 0x0606000606000606u;   // pushes 0x3A-0x3F out of 0x3_
    // Once every digit byte is 0x30-0x3F, adding 6 carries into no other byte.
    if (hours <= 9 && (word & ~kDigits) == kPunctuation && (word & kHighNibbles) == kThrees &&
        ((word + kSixes) & kHighNibbles) == kThrees) {
      const std::uint64_t values = word & (kDigits & 0x0F0F0F0F0F0F0F0Fu);
      // Byte 0 becomes ten times the minutes' first digit plus the second,
      // byte 3 the seconds' and byte 6 the hundredths'; no byte passes 99.
      const std::uint64_t pairs = values * 10 + (values >> 8);
      const auto minutes = static_cast<unsigned>(pairs & 0xFF);
      const auto seconds = static_cast<unsigned>((pairs >> 24) & 0xFF);
      const auto hundredths = static_cast<unsigned>((pairs >> 48) & 0xFF);
      *repeated = minutes < 60 && seconds < 60;
      return std::uint64_t{(hours * 60 + minutes) * 60 + seconds} * 1000 + hundredths * 10;
    }
  }
  return std::nullopt;
}

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

// The SubRip cue time, "0H:MM:SS,cc0", of a script time
// whose digits it repeats (see cueTime), at `p`; answers the end. The bytes
// are moved, not computed from the milliseconds: nearly every cue of nearly
// every script comes here, and the divisions cost several times as much.
inline char* putCueTimeDigits(char* p, const char* digits) {
  *p = '0';
  std::memcpy(p + 1, digits, 10);  // "H:MM:SS.cc"
  p[8] = ',';
  p[11] = '0';
  return p + 12;
}

}  // namespace cli
