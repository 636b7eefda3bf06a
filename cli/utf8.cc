#include "cli/utf8.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cli {

int utf8Sequence(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  int length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<std::size_t>(i) >= bytes.size()) return 0;
    const unsigned char c = byte(static_cast<std::size_t>(i));
    if (c < low || c > high) return -i;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

namespace {

#if defined(__SSE2__)

// Every x86_64 processor has SSE2: 16 bytes a compare, 64 a round while they
// are ASCII. The first byte from `p` that is not ASCII, or one of the last 15
// before `end`.
const char* skipAscii(const char* p, const char* end) {
  const auto load = [](const char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  while (end - p >= 64 &&
         _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(load(p), load(p + 16)),
                                        _mm_or_si128(load(p + 32), load(p + 48)))) == 0) {
    p += 64;
  }
  for (; end - p >= 16; p += 16) {
    const int high = _mm_movemask_epi8(load(p));
    if (high != 0) return p + __builtin_ctz(static_cast<unsigned>(high));
  }
  return p;
}

#else

constexpr std::uint64_t kHighBits = 0x8080808080808080u;

std::uint64_t word(const char* p) {
  std::uint64_t bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  return bytes;
}

// Processors without SSE2 (the i386 build assumes none): whole words, 32
// bytes at a time while they are ASCII. The start of the first 8-byte word
// from `p` that holds a byte that is not ASCII, or one of the last 7 before
// `end`: callers go on byte by byte.
const char* skipAscii(const char* p, const char* end) {
  while (end - p >= 32 &&
         ((word(p) | word(p + 8) | word(p + 16) | word(p + 24)) & kHighBits) == 0) {
    p += 32;
  }
  while (end - p >= 8 && (word(p) & kHighBits) == 0) p += 8;
  return p;
}

#endif

}  // namespace

bool isAscii(std::string_view bytes) {
  const char* const end = bytes.data() + bytes.size();
  for (const char* p = skipAscii(bytes.data(), end); p != end; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  }
  return true;
}

std::size_t validUtf8Prefix(std::string_view bytes) {
  const char* const begin = bytes.data();
  const char* const end = begin + bytes.size();
  const char* p = begin;
  for (;;) {
    p = skipAscii(p, end);
    while (p != end && static_cast<unsigned char>(*p) < 0x80) ++p;
    if (p == end) return bytes.size();
    const int length = utf8Sequence(std::string_view(p, static_cast<std::size_t>(end - p)));
    if (length <= 0) return static_cast<std::size_t>(p - begin);
    p += length;
  }
}

void appendUtf8(std::string* out, std::uint32_t code) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace cli
