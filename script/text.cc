#include "script/text.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace ssa {

namespace {

// White space as "%d" skips it in the C locale.
constexpr bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void putHexByte(char* out, std::uint32_t byte) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  out[0] = kDigits[(byte >> 4) & 0xF];
  out[1] = kDigits[byte & 0xF];
}

}  // namespace

std::vector<std::string> tokenize(std::string_view delimiters, std::string_view text) {
  std::vector<std::string> pieces;
  std::size_t start = text.find_first_not_of(delimiters);
  while (start != std::string_view::npos) {
    const std::size_t stop = text.find_first_of(delimiters, start);
    const std::string_view piece =
        stop == std::string_view::npos ? text.substr(start) : text.substr(start, stop - start);
    pieces.emplace_back(trim(piece));
    if (stop == std::string_view::npos) break;
    start = text.find_first_not_of(delimiters, stop);
  }
  return pieces;
}

std::uint32_t parseLeadingDigits(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text) {
    if (!isDigit(c)) break;
    value = value * 10u + static_cast<std::uint32_t>(c - '0');  // wraps modulo 2^32
  }
  return value;
}

std::size_t writeRelativeFontSize(std::string_view text, char* out) {
  const std::uint32_t size = parseLeadingDigits(text);
  if (size == 0 || size == 22) return 0;
  // 21 and 23 give "-0" and "+0": the sign is written whatever the magnitude.
  out[0] = size < 22 ? '-' : '+';
  std::uint32_t magnitude = size < 22 ? (22u - size) / 2u : (size - 22u) / 2u;
  char digits[kMaxRelativeSize];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10u);
    magnitude /= 10u;
  } while (magnitude != 0);
  for (std::size_t i = 0; i < count; ++i) out[1 + i] = digits[count - 1 - i];
  return 1 + count;
}

std::string relativeFontSize(std::string_view text) {
  char size[kMaxRelativeSize];
  return std::string(size, writeRelativeFontSize(text, size));
}

bool writeDecimalColour(std::string_view text, char* out) {
  std::size_t pos = 0;
  while (pos < text.size() && isCSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos >= text.size() || !isDigit(text[pos])) return false;
  // Out of range clamps to INT32_MIN/INT32_MAX, as the 32-bit C library's "%d" does.
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; pos < text.size() && isDigit(text[pos]); ++pos) {
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (text[pos] - '0');
  }
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  const auto v = static_cast<std::uint32_t>(value);
  putHexByte(out, v & 0xFF);
  putHexByte(out + 2, (v >> 8) & 0xFF);
  putHexByte(out + 4, (v >> 16) & 0xFF);
  return true;
}

namespace {

// A colour text, or the empty text when `written` is false.
std::string colourText(bool written, const char* digits) {
  return written ? std::string(digits, kColourDigits) : std::string();
}

}  // namespace

std::string convertColour(std::string_view text) {
  char digits[kColourDigits];
  return colourText(writeColour(text, digits), digits);
}

std::string reorderHexColour(std::string_view digits) {
  char colour[kColourDigits];
  return colourText(writeHexColour(digits, colour), colour);
}

std::string decimalColour(std::string_view text) {
  char digits[kColourDigits];
  return colourText(writeDecimalColour(text, digits), digits);
}

std::string overrideColour(std::string_view block) {
  char digits[kColourDigits];
  return colourText(writeOverrideColour(block, digits), digits);
}

}  // namespace ssa
