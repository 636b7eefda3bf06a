#include "cli/cue_time.h"

#include <cstring>

#include "script/text.h"

namespace cli {

std::uint64_t cueTime(std::string_view text, std::int64_t shift, TimeCounts* counts) {
  const std::optional<std::uint64_t> read = parseScriptTime(text);
  if (!read) ++counts->unreadable;
  const std::uint64_t time = read.value_or(0);
  if (shift >= 0) return time + static_cast<std::uint64_t>(shift);
  const auto back = static_cast<std::uint64_t>(-shift);
  if (time >= back) return time - back;
  ++counts->clamped;
  return 0;
}

std::optional<std::uint64_t> parseScriptTime(std::string_view text) {
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
      return std::uint64_t{(hours * 60 + minutes) * 60 + seconds} * 1000 + hundredths * 10;
    }
  }
  return parseScriptTimeByParts(text);
}

std::string_view trimSpacesAndTabs(std::string_view text) {
  while (!text.empty() && ssa::isSpaceOrTab(text.front())) text.remove_prefix(1);
  while (!text.empty() && ssa::isSpaceOrTab(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<std::uint64_t> parseScriptTimeByParts(std::string_view text) {
  text = trimSpacesAndTabs(text);
  const char* p = text.data();
  const char* const end = p + text.size();
  std::uint64_t seconds = 0;
  // Hours, minutes and seconds, apart by ':', of 1 to 9 digits each (more
  // could overflow and mean nothing as a time).
  for (int part = 0; part < 3; ++part) {
    if (part > 0 && (p == end || *p++ != ':')) return std::nullopt;
    const char* const first = p;
    std::uint64_t value = 0;
    for (; p != end && ssa::isDigit(*p); ++p)
      value = value * 10 + static_cast<std::uint64_t>(*p - '0');
    if (p == first || p - first > 9) return std::nullopt;
    seconds = seconds * 60 + value;
  }
  std::uint64_t milliseconds = 0;
  if (p != end && *p == '.') {
    ++p;
    for (std::uint64_t scale = 100; p != end && ssa::isDigit(*p); ++p, scale /= 10) {
      milliseconds += scale * static_cast<std::uint64_t>(*p - '0');
    }
  }
  if (p != end) return std::nullopt;
  return seconds * 1000 + milliseconds;
}

std::string srtTime(std::uint64_t milliseconds) {
  char text[32];
  return std::string(text, putCueTime(text, milliseconds));
}

std::string vttTime(std::uint64_t milliseconds) {
  char text[32];
  return std::string(text, putCueTime(text, milliseconds, '.'));
}

std::string scriptTime(std::uint64_t milliseconds) {
  char text[40];
  char* p = putNumber(text, milliseconds / 3600000);
  const auto rest = static_cast<unsigned>(milliseconds % 3600000);
  *p++ = ':';
  p = putTwoDigits(p, rest / 60000);
  *p++ = ':';
  p = putTwoDigits(p, rest / 1000 % 60);
  *p++ = '.';
  if (rest % 10 == 0) {
    p = putTwoDigits(p, rest % 1000 / 10);
  } else {
    *p++ = static_cast<char>('0' + rest % 1000 / 100);
    p = putTwoDigits(p, rest % 100);
  }
  return std::string(text, p);
}

}  // namespace cli
