// Text and colour helpers shared by the header parser and the line converter.
//
// Script text is bytes without a character set: every comparison is byte for
// byte and case-sensitive, and a NUL byte is an ordinary character. None of
// these functions keeps state; all are safe on any thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace ssa {

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }
// ASCII letters only: every other byte stays as it is.
constexpr char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char asciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Space or tab: what indents a line or pads a field or a cue's text.
constexpr bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

// True for the four bytes that trim removes: space, CR, LF and NUL. Tab is kept.
constexpr bool isTrimmable(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\0'; }

// Strips trimmable bytes at both ends. Deliberately keeps the last byte of a
// text made only of trimmable bytes ("   " gives " "), and leaves a one-byte
// text as it is; event fields and header lines rely on it.
// Inline: every line trims two fields.
inline std::string_view trim(std::string_view text) {
  if (text.size() <= 1) return text;
  std::size_t start = 0;
  std::size_t last = text.size() - 1;
  while (start < last && isTrimmable(text[start])) ++start;
  // When only trimmable bytes were seen, start == last and that byte stays.
  if (!isTrimmable(text[start])) {
    while (last > start && isTrimmable(text[last])) --last;
  }
  return std::string_view(text.data() + start, last - start + 1);
}

// Splits text at every byte of `delimiters`; runs of delimiters count as one,
// empty pieces never occur, and every piece is trimmed.
std::vector<std::string> tokenize(std::string_view delimiters, std::string_view text);

// Value of the leading decimal digits, wrapping modulo 2^32; 0 when none.
std::uint32_t parseLeadingDigits(std::string_view text);

// Point size to a relative size around 22 points ("-1", "+4"), or empty.
std::string relativeFontSize(std::string_view text);

// The longest relative size: a sign and the ten digits of (2^32 - 1 - 22) / 2.
inline constexpr std::size_t kMaxRelativeSize = 11;

// relativeFontSize written to `out` (room for kMaxRelativeSize bytes); answers
// its length.
std::size_t writeRelativeFontSize(std::string_view text, char* out);

// SSA colour (decimal, or hexadecimal after "&H") to RRGGBB text, or empty.
std::string convertColour(std::string_view text);

// "RR", "GGRR" or "BBGGRR" hexadecimal digits to RRGGBB; empty otherwise.
std::string reorderHexColour(std::string_view digits);

// Decimal number (read as "%d" reads it) to RRGGBB of its low three bytes.
std::string decimalColour(std::string_view text);

// Colour of one override block "{\c...}" or "{\1c...}", braces included.
std::string overrideColour(std::string_view block);

// A colour text is always six bytes.
inline constexpr std::size_t kColourDigits = 6;

// The forms of the colour functions above that write the six bytes to `out`
// and answer false where those answer the empty text. The sample path uses
// these; the string forms above wrap them for the header parse (convertColour)
// and for the tests and the fuzz targets (the other three).
bool writeDecimalColour(std::string_view text, char* out);
// Inline, the three below: a colour block of every other line goes through them.
inline bool writeHexColour(std::string_view digits, char* out) {
  // The pairs in reverse order, missing high pairs as "00". Odd lengths and
  // eight digits (alpha pair in front) are not recognised.
  const char* const d = digits.data();
  switch (digits.size()) {
    case 2:
      std::memcpy(out, d, 2);
      std::memcpy(out + 2, "0000", 4);
      return true;
    case 4:
      std::memcpy(out, d + 2, 2);
      std::memcpy(out + 2, d, 2);
      std::memcpy(out + 4, "00", 2);
      return true;
    case 6:
      std::memcpy(out, d + 4, 2);
      std::memcpy(out + 2, d + 2, 2);
      std::memcpy(out + 4, d, 2);
      return true;
    default:
      return false;
  }
}

inline bool writeColour(std::string_view text, char* out) {
  if (text.size() < 2) return false;
  if (text.back() == '&') text.remove_suffix(1);
  if (text.size() >= 2 && text[0] == '&' && text[1] == 'H') {
    return writeHexColour(text.substr(2), out);
  }
  return writeDecimalColour(text, out);
}

inline bool writeOverrideColour(std::string_view block, char* out) {
  // Byte tests rather than library compares: a colour block is a few bytes,
  // and the sample path meets many.
  if (block.size() < 9 || block[0] != '{' || block[1] != '\\') return false;
  std::size_t begin;
  if (block[2] == 'c') {
    begin = 3;
  } else if (block[2] == '1' && block[3] == 'c') {
    begin = 4;
  } else {
    return false;
  }
  const void* const end = std::memchr(block.data() + begin, '}', block.size() - begin);
  if (end == nullptr) return false;
  return writeColour(block.substr(begin, static_cast<const char*>(end) - block.data() - begin),
                     out);
}

}  // namespace ssa
