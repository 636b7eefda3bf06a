// The search for the few bytes that matter in a line: three byte values at
// once, 32 bytes at a time, in the widest way the processor offers.
//
// The module runs in a 32-bit host on a processor nobody chose, so nothing
// beyond the i686 instruction set is used unless the processor says it has
// it: the SSE2 and AVX2 window scans are picked at run time, and plain
// word-at-a-time code does the same work everywhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace ssa {

constexpr std::size_t kWindow = 32;

// The three byte values looked for, each repeated over a window, so that no
// scan has to spread them out at every call; a search for fewer repeats one.
// None may be NUL: the last window of a text is padded with NULs.
struct ByteTrio {
  alignas(kWindow) char first[kWindow];
  alignas(kWindow) char second[kWindow];
  alignas(kWindow) char third[kWindow];
};

constexpr ByteTrio makeTrio(char first, char second, char third) {
  ByteTrio trio{};
  for (std::size_t i = 0; i < kWindow; ++i) {
    trio.first[i] = first;
    trio.second[i] = second;
    trio.third[i] = third;
  }
  return trio;
}

// Bit i of the answer is set when byte i of the 32 bytes at `window` is one
// of the trio. Reads exactly 32 bytes.
using WindowScan = std::uint32_t (*)(const char* window, const ByteTrio& trio);

enum class ScanKind { Words, Sse2, Avx2 };
constexpr ScanKind kScanKinds[] = {ScanKind::Words, ScanKind::Sse2, ScanKind::Avx2};

const char* scanName(ScanKind kind);

// Whether this processor can run the kind.
bool scanSupported(ScanKind kind);

// The kind's window scan, whether or not this processor can run it.
WindowScan windowScan(ScanKind kind);

// The window scan in use: the widest this processor has, unless useScan
// chose another.
WindowScan currentScan();

// Makes every later search use `kind` (tests and benchmarks compare the
// kinds with it); false, and nothing changes, when the processor lacks it.
bool useScan(ScanKind kind);

// Positions of the trio's bytes in a text, in increasing order, each once.
// The text and the trio must outlive the finder.
class ByteFinder {
 public:
  ByteFinder(std::string_view text, const ByteTrio& trio, WindowScan scan)
      : text(text), trio(trio), scan(scan), bits(load(0)) {}

  // The next position, or the text's size when there is none left.
  std::size_t next() {
    while (bits == 0) {
      base += kWindow;
      if (base >= text.size()) return text.size();
      bits = load(base);
    }
    const std::size_t at = base + static_cast<std::size_t>(__builtin_ctz(bits));
    bits &= bits - 1;
    return at;
  }

  // Passes over `position`, which the caller knows to be the next one.
  void passNext(std::size_t position) {
    if (position - base < kWindow) bits &= bits - 1;  // else it is read with the next window
  }

 private:
  // The last window of a text is copied out, so no byte past it is read;
  // the zeros that pad it match none of the bytes ever looked for.
  std::uint32_t load(std::size_t from) const {
    const std::size_t left = text.size() - from;
    if (left >= kWindow) return scan(text.data() + from, trio);
    if (left == 0) return 0;
    char window[kWindow] = {};
    std::memcpy(window, text.data() + from, left);
    return scan(window, trio);
  }

  const std::string_view text;
  const ByteTrio& trio;
  const WindowScan scan;
  std::size_t base = 0;  // start of the window `bits` covers
  std::uint32_t bits;    // the window's positions not yet answered
};

}  // namespace ssa
