// The window scans of every kind against a byte-by-byte search, and the
// finder that walks a text with them, on every kind this processor runs.
#include "script/scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace ssa {
namespace {

constexpr ByteTrio kTrios[] = {makeTrio('{', '}', '\\'), makeTrio(',', '{', '}'),
                               makeTrio('\x80', '\xFF', '\x7F'), makeTrio('a', 'a', 'a')};

bool inTrio(char c, const ByteTrio& trio) {
  return c == trio.first[0] || c == trio.second[0] || c == trio.third[0];
}

// Bytes that are mostly the trio's, their neighbours and the bytes whose
// high bit is set, where a word-at-a-time test would go wrong first.
std::string randomBytes(std::mt19937& engine, std::size_t size, const ByteTrio& trio) {
  const std::string alphabet = std::string{trio.first[0], trio.second[0], trio.third[0]} +
                               std::string("\x00\x01\x7F\x80\xFF{}|\\,+-zA", 15);
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint32_t pick = engine() % 4;
    bytes += pick == 0 ? static_cast<char>(engine() % 256) : alphabet[engine() % alphabet.size()];
  }
  return bytes;
}

ScanKind widestSupported() {
  ScanKind widest = ScanKind::Words;
  for (const ScanKind kind : kScanKinds) {
    if (scanSupported(kind)) widest = kind;
  }
  return widest;
}

class ScanTest : public ::testing::TestWithParam<ScanKind> {
 protected:
  void SetUp() override {
    if (!scanSupported(GetParam())) {
      GTEST_SKIP() << "this processor does not run the " << scanName(GetParam()) << " scan";
    }
  }
};

TEST_P(ScanTest, WindowMarksExactlyTheTriosBytes) {
  const WindowScan scan = windowScan(GetParam());
  std::mt19937 engine(11);
  for (const ByteTrio& trio : kTrios) {
    for (int round = 0; round < 2000; ++round) {
      const std::string window = randomBytes(engine, kWindow, trio);
      std::uint32_t expected = 0;
      for (std::size_t i = 0; i < kWindow; ++i) {
        if (inTrio(window[i], trio)) expected |= std::uint32_t{1} << i;
      }
      ASSERT_EQ(scan(window.data(), trio), expected) << "round " << round;
    }
  }
}

// Every length from empty to past three windows: the last window is read
// from a copy, and no position is answered twice or left out.
TEST_P(ScanTest, FinderAnswersEveryPositionOnce) {
  const WindowScan scan = windowScan(GetParam());
  std::mt19937 engine(5);
  for (const ByteTrio& trio : kTrios) {
    for (std::size_t size = 0; size <= 3 * kWindow + 5; ++size) {
      // Exactly `size` bytes on the heap, so that a read past them is seen.
      const std::string bytes = randomBytes(engine, size, trio);
      const std::vector<char> heap(bytes.begin(), bytes.end());
      const std::string_view text(heap.data(), heap.size());
      std::vector<std::size_t> expected;
      for (std::size_t i = 0; i < size; ++i) {
        if (inTrio(text[i], trio)) expected.push_back(i);
      }
      std::vector<std::size_t> found;
      ByteFinder find(text, trio, scan);
      for (std::size_t i = find.next(); i < size; i = find.next()) found.push_back(i);
      ASSERT_EQ(found, expected) << "size " << size;
      EXPECT_EQ(find.next(), size) << "the end is answered again";
    }
  }
}

TEST_P(ScanTest, ChosenForEverySearch) {
  ASSERT_TRUE(useScan(GetParam()));
  EXPECT_EQ(currentScan(), windowScan(GetParam()));
  useScan(widestSupported());
}

INSTANTIATE_TEST_SUITE_P(Kinds, ScanTest, ::testing::ValuesIn(kScanKinds),
                         [](const auto& info) { return std::string(scanName(info.param)); });

// Whatever the processor, the word-at-a-time scan runs; the log says which
// others this one (or the emulator) has, so that a reader sees what ran.
TEST(ScanChoiceTest, SupportedKinds) {
  EXPECT_TRUE(scanSupported(ScanKind::Words));
  std::printf("scans this processor runs: words%s%s\n",
              scanSupported(ScanKind::Sse2) ? ", sse2" : "",
              scanSupported(ScanKind::Avx2) ? ", avx2" : "");
  // A processor with AVX2 has SSE2.
  EXPECT_TRUE(!scanSupported(ScanKind::Avx2) || scanSupported(ScanKind::Sse2));
}

}  // namespace
}  // namespace ssa
