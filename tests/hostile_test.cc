// Sizes no real script has: a line of 64 MiB, a header of 100,000 styles, a
// line of 1,000,000 override blocks, and samples of 0 to 10 bytes. Each is
// converted exactly, and afterwards nothing is left: no host buffer, no heap
// block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "tests/support/harness.h"

namespace {

using testing_support::dialogue;
using testing_support::Harness;
using testing_support::Heap;
using testing_support::kWorkedHeader;
using testing_support::LedgerClean;

using testing_support::kDefaultClose;
using testing_support::kDefaultOpen;

// Emulated (i386 under qemu) and sanitized builds take a quarter of the big
// sizes (16 MiB, 250,000 blocks, 25,000 styles), which keeps each test to
// seconds there; the shapes stay the same, and a quadratic pass would still
// not finish.
#if defined(__i386__) || defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kScale = 4;
#else
constexpr std::size_t kScale = 1;
#endif
constexpr std::size_t kLineBytes = (std::size_t{64} << 20) / kScale;
constexpr std::size_t kBlocks = 1000000 / kScale;
constexpr std::size_t kStyles = 100000 / kScale;

std::string repeat(std::string_view piece, std::size_t count) {
  std::string text;
  text.reserve(piece.size() * count);
  for (std::size_t i = 0; i < count; ++i) text.append(piece);
  return text;
}

// One module, the header given (or none), the line sent; checks the only
// output, then that the last release leaves nothing behind.
class HostileTest : public ::testing::Test {
 protected:
  // A null header sends none; "-" for no output.
  void expectMarkup(const std::string* header, const std::string& line, const std::string& markup) {
    const std::int64_t baseline = Heap::live();
    {
      Harness module;
      module.open();
      if (header != nullptr) {
        ASSERT_TRUE(module.sendHeader(*header));
      }
      EXPECT_TRUE(module.sendSample(line));
      if (markup == "-") {
        EXPECT_TRUE(module.sink.outputs.empty());
      } else {
        ASSERT_EQ(module.sink.outputs.size(), 1u);
        const hostkit::ReceivedSample& output = module.sink.outputs[0];
        EXPECT_EQ(output.payloadSize, markup.size() + 1);
        // Compared whole, but reported by length and first difference.
        const std::string& payload = output.payload;
        EXPECT_EQ(payload.size(), markup.size() + 1);
        const auto mismatch =
            std::mismatch(markup.begin(), markup.end(), payload.begin(),
                          payload.begin() + std::min(payload.size(), markup.size()));
        EXPECT_EQ(mismatch.first - markup.begin(), static_cast<std::ptrdiff_t>(markup.size()))
            << "first difference at this byte";
        EXPECT_EQ(payload.back(), '\0');
      }
      module.releasePlugin();
      EXPECT_TRUE(LedgerClean(module.ledger));
      EXPECT_TRUE(module.sink.problems.empty());
    }
    EXPECT_EQ(Heap::live(), baseline) << "heap blocks left after the last release";
  }
};

TEST_F(HostileTest, LinesOf64MiB) {
  const std::size_t n = kLineBytes / 8;
  // Plain text with commas and line breaks in the Text field.
  expectMarkup(&kWorkedHeader, dialogue("Default", repeat("word, \\N", n)),
               kDefaultOpen + repeat("word, \n", n) + kDefaultClose);
  // One font block over the whole line: the face is 64 MiB.
  expectMarkup(&kWorkedHeader, dialogue("Other", "{\\fn" + repeat("Face ", n) + "}end"),
               "<font face=\"" + repeat("Face ", n) + "\">end");
  // A "{" that is never closed: the rest passes through as it is.
  expectMarkup(&kWorkedHeader, dialogue("Other", "{" + repeat(" \\i1 open", n)),
               "{" + repeat(" \\i1 open", n));
  // No header: the whole line, commas and all, is the text.
  expectMarkup(nullptr, "Dialogue:" + repeat(",,,,", n), repeat(",,,,", n));
}

TEST_F(HostileTest, LinesOfAMillionOverrideBlocks) {
  const std::size_t n = kBlocks;
  expectMarkup(&kWorkedHeader, dialogue("Other", repeat("{\\b1}x", n)), repeat("<b>x", n));
  expectMarkup(&kWorkedHeader, dialogue("Other", repeat("{\\c&HFF8000&}", n)),
               repeat("<font color=\"#0080FF\">", n));
  // Deleted blocks: the markup is empty, and still wrapped in the style.
  expectMarkup(&kWorkedHeader, dialogue("Default", repeat("{\\pos(1,2)}", n)),
               kDefaultOpen + kDefaultClose);
  // Font names that each open the next block: every pass peels one "{\fn"
  // off the carried text, which a search from the start would rescan.
  expectMarkup(&kWorkedHeader, dialogue("Other", repeat("{\\fn", n) + repeat("}", n)),
               repeat("<font face=\"", n) + repeat("\">", n));
  // Empty blocks between stray braces: the first "}" opens nothing and the
  // last "{" is never closed.
  expectMarkup(&kWorkedHeader, dialogue("Other", repeat("}{", n)), "}{");
}

TEST_F(HostileTest, HeaderOf100000Styles) {
  std::string header = "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, Bold\n";
  for (std::size_t i = 0; i < kStyles; ++i) {
    header += "Style: S" + std::to_string(i) + ",Face" + std::to_string(i % 97) + "," +
              std::to_string(i % 40) + ",&H" + std::to_string(100000 + i % 900000) + "," +
              (i % 2 == 0 ? "-1" : "0") + "\n";
  }
  header +=
      "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
      "Effect, Text\n";
  const std::size_t last = kStyles - 1;  // odd: not bold
  const std::string colour = std::to_string(100000 + last % 900000);
  expectMarkup(&header, dialogue("S" + std::to_string(last), "x"),
               "<font face=\"Face" + std::to_string(last % 97) + "\" size=\"" +
                   (last % 40 == 0 || last % 40 == 22
                        ? std::string()
                        : (last % 40 < 22 ? "-" + std::to_string((22 - last % 40) / 2)
                                          : "+" + std::to_string((last % 40 - 22) / 2))) +
                   "\" color=\"#" + colour.substr(4, 2) + colour.substr(2, 2) +
                   colour.substr(0, 2) + "\">x</font>");
  expectMarkup(&header, dialogue("S0", "y"),
               "<font face=\"Face0\" size=\"\" color=\"#000010\"><b>y</b></font>");
}

// payloadSize at and around the 9-byte "Dialogue:" prefix, counted against
// a buffer of exactly that size, and against a longer one.
TEST_F(HostileTest, PayloadsAroundThePrefix) {
  const struct {
    std::string bytes;
    std::uint32_t payloadSize;
    bool withHeader;
    std::string markup;  // "-" for no output
  } rows[] = {
      {"", 0, true, "-"},
      {"Dialogue", 8, true, "-"},
      {"Dialogue:", 9, true, "-"},  // one empty field; Text is the tenth
      // No columns: the empty rest is the text. As the first line of a fresh
      // component its markup views a buffer that never grew.
      {"Dialogue:", 9, false, ""},
      {"Dialogue:x", 10, true, "-"},
      {"Dialogue:x", 10, false, "x"},
      {dialogue("Default", "cut off"), 0, true, "-"},
      {dialogue("Default", "cut off"), 8, true, "-"},
      {dialogue("Default", "cut off"), 9, false, ""},
      {dialogue("Default", "cut off"), 10, false, " "},  // one byte is kept as it is
      {dialogue("Default", "cut off"), 11, false, "0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes + " with payloadSize " + std::to_string(row.payloadSize));
    const std::int64_t baseline = Heap::live();
    {
      Harness module;
      module.open();
      if (row.withHeader) {
        ASSERT_TRUE(module.sendHeader(kWorkedHeader));
      }
      hostkit::Buffer* sample = module.ledger.sample(row.bytes, hostkit::Holder::Component);
      sample->payloadSize = row.payloadSize;
      FLM::TypedValue value = hostkit::objectValue(sample);
      EXPECT_TRUE(module.in->streamMessage(FLM::MsgSample, &value));
      if (row.markup == "-") {
        EXPECT_TRUE(module.sink.outputs.empty());
      } else {
        ASSERT_EQ(module.sink.outputs.size(), 1u);
        EXPECT_EQ(module.sink.outputs[0].payload, row.markup + '\0');
      }
      module.releasePlugin();
      EXPECT_TRUE(LedgerClean(module.ledger));
      EXPECT_TRUE(module.sink.problems.empty());
    }
    EXPECT_EQ(Heap::live(), baseline);
  }
}

}  // namespace
