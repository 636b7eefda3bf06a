// Event lines through the whole module, from MsgSample on the input port to
// the output sample at the downstream peer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace {

using namespace std::string_literals;
using testing_support::dialogue;
using testing_support::Harness;
using testing_support::kWorkedHeader;
using testing_support::LedgerClean;

using testing_support::kDefaultClose;
using testing_support::kDefaultOpen;

struct Row {
  std::string line;    // the sample's payload, byte for byte
  std::string markup;  // the output payload without its NUL; "-" for no output
};

class ConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module.open();
    ASSERT_TRUE(module.sendHeader(kWorkedHeader));
  }
  // Every row is checked the same way: the answer, the output, its NUL and
  // size, and the accounting of both buffers.
  void check(const Row& row) {
    const std::size_t before = module.sink.outputs.size();
    EXPECT_TRUE(module.sendSample(row.line, 11, 22)) << row.line;
    if (row.markup == "-") {
      EXPECT_EQ(module.sink.outputs.size(), before) << row.line;
      return;
    }
    ASSERT_EQ(module.sink.outputs.size(), before + 1) << row.line;
    const hostkit::ReceivedSample& output = module.sink.outputs.back();
    EXPECT_EQ(output.payload, row.markup + std::string(1, '\0')) << row.line;
    EXPECT_EQ(output.payloadSize, row.markup.size() + 1);
    EXPECT_EQ(output.passThrough[0], 11u);
    EXPECT_EQ(output.passThrough[1], 22u);
    EXPECT_EQ(module.ledger.counts().live, 1u) << "only the format record is held";
  }
  void TearDown() override {
    module.releasePlugin();
    EXPECT_TRUE(LedgerClean(module.ledger));
    EXPECT_TRUE(module.sink.problems.empty());
  }
  Harness module;
};

TEST_F(ConversionTest, WorkedExamples) {
  const Row rows[] = {
      {dialogue("Default", "Hello, world"), kDefaultOpen + "Hello, world" + kDefaultClose},
      {dialogue("Default", "{\\i1}word{\\i0}"), kDefaultOpen + "<i>word</i>" + kDefaultClose},
      {dialogue("Other", "Line one\\NLine {\\c&H0000FF&}two"),
       "Line one\nLine <font color=\"#FF0000\">two"},
      {dialogue("Note", "n"),
       "<font face=\"Tahoma\" size=\"+4\" color=\"#FF0000\"><i>n</i></font>"},
      {dialogue("Other", "{\\1c&H0000FF&}r"), "<font color=\"#FF0000\">r"},
      {dialogue("Other", "{\\fs20\\b1}Big"), "<font size=\"-1\">Big"},
      {dialogue("Other", "{\\pos(10,20)}Hi"), "Hi"},
      {dialogue("Other", "{\\an8}x"), "x"},
      {dialogue("Other", "{\\3c&H000000&}x"), "x"},
      {dialogue("Other", "{\\B1}x"), "x"},
      {dialogue("Other", "{\\b}x"), "x"},
      {dialogue("Other", "{\\fs}x"), "x"},
      {dialogue("Other", "{\\bord2}x{Sign}y"), "</b>x</i>y"},
      {dialogue("Other", "{\\b700}x"), "</b>x"},
      {dialogue("Other", "{\\i10}x"), "<i>x"},
      {dialogue("Other", "{\\u1}u{\\u0}{\\s1}s{\\s0}"), "<u>u</u><s>s</s>"},
      {dialogue("Other", "{\\fnTimes New Roman}z{\\fs30}w{\\fs22}v{\\fs21}u"),
       "<font face=\"Times New Roman\">z<font size=\"+4\">w<font size=\"\">v<font size=\"-0\">u"},
      {dialogue("Other", "{\\fn}x"), "<font face=\"\">x"},
      {dialogue("Other", "{\\r}x{\\k20}y"), "xy"},
      {dialogue("Other", "a{b{\\i1}c}d{e"), "ac}d{e"},
      {dialogue("Other", "a\\hb\\nc"), "a b\nc"},
      {dialogue("Other", "a<b & c>d"), "a<b & c>d"},
      {"Dialogue: 0,0:00:01.00,0:00:03.50,Default,{x,y},0,0,0,,T, and more",
       kDefaultOpen + "T, and more" + kDefaultClose},
      {dialogue(" Default ", "x"), kDefaultOpen + "x" + kDefaultClose},
      {dialogue("default", "x"), "x"},
      {dialogue("Default", "  spaced\\N  "), kDefaultOpen + "spaced\n" + kDefaultClose},
      {"Dialogue: a,b", "-"},
      {"Comment: 0,0:00:01.00,0:00:03.50,Default,,0,0,0,,Hi", "-"},
      {"Dialogue:", "-"},
  };
  for (const Row& row : rows) check(row);
}

TEST_F(ConversionTest, PayloadSizesOfTheWorkedExamples) {
  check({dialogue("Default", "Hello, world"), kDefaultOpen + "Hello, world" + kDefaultClose});
  EXPECT_EQ(module.sink.outputs.back().payloadSize, 72u);
  check({dialogue("Default", "{\\i1}word{\\i0}"), kDefaultOpen + "<i>word</i>" + kDefaultClose});
  EXPECT_EQ(module.sink.outputs.back().payloadSize, 71u);
  check({dialogue("Other", "Line one\\NLine {\\c&H0000FF&}two"),
         "Line one\nLine <font color=\"#FF0000\">two"});
  EXPECT_EQ(module.sink.outputs.back().payloadSize, 40u);
}

// An empty Text field: with no NUL counted, the ninth comma is the last byte
// and never a field comma, so there is no Text field; with a counted NUL the
// text is that NUL alone, sent inside the style's markup.
TEST_F(ConversionTest, EmptyTextWithAndWithoutACountedNul) {
  check({dialogue("Default", ""), "-"});
  check({dialogue("Default", "") + '\0', kDefaultOpen + '\0' + kDefaultClose});
  check({dialogue("Default", "x") + '\0', kDefaultOpen + "x" + kDefaultClose});
}

TEST_F(ConversionTest, EmptyMarkupStillGivesASampleOfOneByte) {
  check({dialogue("Other", "{\\pos(1,2)}"), ""});
  EXPECT_EQ(module.sink.outputs.back().payloadSize, 1u);
}

// Without a parsed header the whole rest of the line is the text, and the
// column table keeps Text at 0 for every later line.
TEST(ConversionWithoutHeaderTest, WholeLineIsTheText) {
  Harness module;
  module.open();
  module.sendSample("Dialogue: 0,0:00:01.00,0:00:03.50,Default,,0,0,0,,Hi, there");
  module.sendSample("Dialogue:");
  module.sendSample("Dialogue: a,b");
  ASSERT_EQ(module.sink.outputs.size(), 3u);
  EXPECT_EQ(module.markups()[0], "0,0:00:01.00,0:00:03.50,Default,,0,0,0,,Hi, there");
  EXPECT_EQ(module.sink.outputs[1].payloadSize, 1u);
  EXPECT_EQ(module.markups()[2], "a,b");
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

// A header that arrives after lines were converted without one replaces the
// columns and styles those lines used, from the next line on.
TEST(ConversionWithoutHeaderTest, LaterHeaderTakesOver) {
  Harness module;
  module.open();
  module.sendSample(dialogue("Default", "{\\i1}a"));
  ASSERT_TRUE(module.sendHeader(kWorkedHeader));
  module.sendSample(dialogue("Default", "{\\i1}a"));
  ASSERT_EQ(module.sink.outputs.size(), 2u);
  EXPECT_EQ(module.markups()[0], "0,0:00:01.00,0:00:03.50,Default,,0000,0000,0000,,<i>a");
  EXPECT_EQ(module.markups()[1], kDefaultOpen + "<i>a" + kDefaultClose);
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

TEST(ConversionWithoutHeaderTest, ShortPayloadsAreConsumedWithoutOutput) {
  Harness module;
  module.open();
  for (std::size_t size : {0u, 1u, 8u}) {
    EXPECT_TRUE(module.sendSample(std::string("Dialogue:").substr(0, size)));
  }
  EXPECT_TRUE(module.sink.outputs.empty());
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

}  // namespace
