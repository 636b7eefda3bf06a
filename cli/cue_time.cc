#include "cli/cue_time.h"

#include "script/text.h"

namespace cli {

std::uint64_t cueTime(std::string_view text, std::int64_t shift, TimeCounts* counts,
                      const char** digits) {
  bool repeated = false;
  std::optional<std::uint64_t> read = readUsualTime(text, &repeated);
  if (digits != nullptr) *digits = read && repeated && shift == 0 ? text.data() : nullptr;
  if (!read) read = parseScriptTimeByParts(text);
  if (!read) ++counts->unreadable;
  const std::uint64_t time = read.value_or(0);
  if (shift >= 0) return time + static_cast<std::uint64_t>(shift);
  const auto back = static_cast<std::uint64_t>(-shift);
  if (time >= back) return time - back;
  ++counts->clamped;
  return 0;
}

std::optional<std::uint64_t> parseScriptTime(std::string_view text) {
  bool repeated;
  if (const std::optional<std::uint64_t> read = readUsualTime(text, &repeated)) return read;
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
