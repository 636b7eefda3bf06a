#include "script/scan.h"

#include <immintrin.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace ssa {
namespace {

// --- Words: any processor ---------------------------------------------------

using Word = std::uintptr_t;  // 4 bytes on i386, 8 on x86_64
constexpr std::size_t kWordBytes = sizeof(Word);
constexpr Word kOnes = ~Word{0} / 0xFF;  // 0x01 in every byte
constexpr Word kLow7 = kOnes * 0x7F;

// The high bit of each byte that is zero in x, and no other bit. Exact: no
// carry crosses a byte, since the low seven bits are added apart.
constexpr Word zeroBytes(Word x) { return ~(((x & kLow7) + kLow7) | x | kLow7); }

// Gathers the high bits of the bytes into the low bits of the answer, byte i
// to bit i: shifted down to bit 8i, each lands at bit 8(n-1)+i of the
// product with this multiplier, and no two partial products share a bit.
constexpr Word gatherMultiplier() {
  Word multiplier = 0;
  for (std::size_t j = 0; j < kWordBytes; ++j)
    multiplier |= Word{1} << (8 * (kWordBytes - 1) - 7 * j);
  return multiplier;
}

std::uint32_t gatherHighBits(Word flags) {
  return static_cast<std::uint32_t>(((flags >> 7) * gatherMultiplier()) >> (8 * (kWordBytes - 1)));
}

std::uint32_t scanWords(const char* window, const ByteTrio& trio) {
  Word first;
  Word second;
  Word third;
  std::memcpy(&first, trio.first, kWordBytes);
  std::memcpy(&second, trio.second, kWordBytes);
  std::memcpy(&third, trio.third, kWordBytes);
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < kWindow; i += kWordBytes) {
    Word word;
    std::memcpy(&word, window + i, kWordBytes);
    const Word flags = zeroBytes(word ^ first) | zeroBytes(word ^ second) | zeroBytes(word ^ third);
    bits |= gatherHighBits(flags) << i;
  }
  return bits;
}

// --- SSE2 and AVX2: only after the processor said it has them ---------------

__attribute__((target("sse2"))) std::uint32_t scanSse2(const char* window, const ByteTrio& trio) {
  const __m128i first = _mm_load_si128(reinterpret_cast<const __m128i*>(trio.first));
  const __m128i second = _mm_load_si128(reinterpret_cast<const __m128i*>(trio.second));
  const __m128i third = _mm_load_si128(reinterpret_cast<const __m128i*>(trio.third));
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < kWindow; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + i));
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, first), _mm_cmpeq_epi8(bytes, second)),
                     _mm_cmpeq_epi8(bytes, third));
    bits |= static_cast<std::uint32_t>(_mm_movemask_epi8(hits)) << i;
  }
  return bits;
}

__attribute__((target("avx2"))) std::uint32_t scanAvx2(const char* window, const ByteTrio& trio) {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window));
  const __m256i first = _mm256_load_si256(reinterpret_cast<const __m256i*>(trio.first));
  const __m256i second = _mm256_load_si256(reinterpret_cast<const __m256i*>(trio.second));
  const __m256i third = _mm256_load_si256(reinterpret_cast<const __m256i*>(trio.third));
  const __m256i hits = _mm256_or_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(bytes, first), _mm256_cmpeq_epi8(bytes, second)),
      _mm256_cmpeq_epi8(bytes, third));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(hits));
}

ScanKind widestSupported() {
  if (scanSupported(ScanKind::Avx2)) return ScanKind::Avx2;
  if (scanSupported(ScanKind::Sse2)) return ScanKind::Sse2;
  return ScanKind::Words;
}

// Null until the first search asks; any thread may set it, to a scan this
// processor runs.
std::atomic<WindowScan> chosenScan{nullptr};

}  // namespace

const char* scanName(ScanKind kind) {
  switch (kind) {
    case ScanKind::Sse2:
      return "sse2";
    case ScanKind::Avx2:
      return "avx2";
    case ScanKind::Words:
      break;
  }
  return "words";
}

bool scanSupported(ScanKind kind) {
  // Reads the processor's answers once; harmless to repeat.
  __builtin_cpu_init();
  switch (kind) {
    case ScanKind::Sse2:
      return __builtin_cpu_supports("sse2");
    case ScanKind::Avx2:
      // Also false when the system does not save the AVX registers.
      return __builtin_cpu_supports("avx2");
    case ScanKind::Words:
      break;
  }
  return true;
}

WindowScan windowScan(ScanKind kind) {
  switch (kind) {
    case ScanKind::Sse2:
      return scanSse2;
    case ScanKind::Avx2:
      return scanAvx2;
    case ScanKind::Words:
      break;
  }
  return scanWords;
}

WindowScan currentScan() {
  WindowScan scan = chosenScan.load(std::memory_order_relaxed);
  if (scan == nullptr) {
    scan = windowScan(widestSupported());
    chosenScan.store(scan, std::memory_order_relaxed);
  }
  return scan;
}

bool useScan(ScanKind kind) {
  if (!scanSupported(kind)) return false;
  chosenScan.store(windowScan(kind), std::memory_order_relaxed);
  return true;
}

}  // namespace ssa
