// Decimal digits written in place, for the numbers and times of the
// writers' output. Inline: they run several times for every cue.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace cli {

// "00" to "99": two digits at once.
constexpr std::array<char, 200> digitPairs() {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}
inline constexpr std::array<char, 200> kDigitPairs = digitPairs();

// Two digits of `value` (below 100), a leading zero included.
inline char* putTwoDigits(char* p, unsigned value) {
  std::memcpy(p, &kDigitPairs[2 * value], 2);
  return p + 2;
}

// 1, 10, 100, ... 10^19.
constexpr std::array<std::uint64_t, 20> powersOfTen() {
  std::array<std::uint64_t, 20> powers{};
  std::uint64_t power = 1;
  for (auto& entry : powers) {
    entry = power;
    power *= 10;
  }
  return powers;
}
inline constexpr std::array<std::uint64_t, 20> kPowersOfTen = powersOfTen();

// The decimal digits of `value`, without dividing: its bit length times
// log10(2) (1233 / 4096) is the number of digits or one more, which one
// comparison settles. 0 is taken for 1, which has as many.
inline int digitCount(std::uint64_t value) {
  const std::uint64_t nonZero =
      value | 1;  // as many digits, since every power of ten past 1 is even
  const int estimate = ((64 - __builtin_clzll(nonZero)) * 1233) >> 12;  // at most 19
  return estimate + 1 - (nonZero < kPowersOfTen[static_cast<std::size_t>(estimate)] ? 1 : 0);
}

// Writes `value` in decimal at `p`; answers the end. Pieces of a cue are
// written through a pointer into room reserved for them, which costs far
// less than formatted output or appends; the digits go two at a time, from
// the last, once their number is known.
inline char* putNumber(char* p, std::uint64_t value) {
  char* const end = p + digitCount(value);
  char* q = end;
  for (; value >= 100; value /= 100) {
    q -= 2;
    std::memcpy(q, &kDigitPairs[2 * (value % 100)], 2);
  }
  if (value >= 10) {
    std::memcpy(q - 2, &kDigitPairs[2 * value], 2);
  } else {
    q[-1] = static_cast<char>('0' + value);
  }
  return end;
}

}  // namespace cli
