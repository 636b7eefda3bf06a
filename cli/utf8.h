// The UTF-8 rules subrite-host holds text to, in one place: what a valid
// sequence is, and how much of a malformed one one U+FFFD replaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

// The sequence at the start of `bytes` (not empty): its length, 1 to 4, when
// it is valid (no overlong forms, surrogates or code points past U+10FFFF);
// 0 when `bytes` ends inside a sequence that is valid so far; otherwise
// minus the bytes one U+FFFD stands for (its longest valid beginning, at
// least one byte).
int utf8Sequence(std::string_view bytes);

// Appends code point `code` (at most U+10FFFF, no surrogate) as UTF-8.
void appendUtf8(std::string* out, std::uint32_t code);

// True when every byte is below 0x80.
bool isAscii(std::string_view bytes);

// How many bytes from the start of `bytes` are whole valid sequences. Runs
// of ASCII are checked many bytes at a time (16 with SSE2, which every
// x86_64 processor has, else 8): most scripts are mostly ASCII.
std::size_t validUtf8Prefix(std::string_view bytes);

}  // namespace cli
