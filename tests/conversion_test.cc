// Event lines through the whole module, from MsgSample on the input port to
// the output sample at the downstream peer.
#include <gtest/gtest.h>

#include <string>
#include <utility>
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

// A downstream peer that calls back into the component while it has the
// output, on the same thread: the lock is recursive, and the sample being
// converted is released once, by whoever drops it first.
TEST(ReentrantPeerTest, FlushFromInsideTheHandOff) {
  Harness module;
  module.open();
  module.sendHeader(kWorkedHeader);
  int flushes = 0;
  module.sink.onOutput = [&](const hostkit::ReceivedSample&) {
    ++flushes;
    EXPECT_TRUE(module.control(module.out, FLM::MsgFlush, nullptr));
  };
  EXPECT_TRUE(module.sendSample(dialogue("Default", "a")));
  EXPECT_TRUE(module.sendSample(dialogue("Default", "b")));
  EXPECT_EQ(flushes, 2);
  EXPECT_EQ(module.ledger.counts().live, 1u);
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

TEST(ReentrantPeerTest, SampleFromInsideTheHandOff) {
  Harness module;
  module.open();
  module.sendHeader(kWorkedHeader);
  int depth = 0;
  module.sink.onOutput = [&](const hostkit::ReceivedSample& output) {
    if (++depth < 4) {
      // The nested sample replaces the one being converted.
      EXPECT_TRUE(module.sendSample(dialogue("Other", "nested " + output.payload.substr(0, 1))));
    }
  };
  EXPECT_TRUE(module.sendSample(dialogue("Other", "outer")));
  ASSERT_EQ(module.markups().size(), 4u);
  EXPECT_EQ(module.markups()[0], "outer");
  EXPECT_EQ(module.markups()[3], "nested n");
  EXPECT_EQ(module.ledger.counts().live, 1u) << "only the record is held";
  // A nested sample that stays held (no payload) is left for the next one.
  depth = 0;
  module.sink.onOutput = [&](const hostkit::ReceivedSample&) {
    if (depth++ > 0) return;
    hostkit::Buffer* empty = module.ledger.sample("Dialogue: x", hostkit::Holder::Component);
    empty->setHasPayload(false);
    FLM::TypedValue value = hostkit::objectValue(empty);
    EXPECT_TRUE(module.stream(FLM::MsgSample, &value));
  };
  EXPECT_TRUE(module.sendSample(dialogue("Other", "holds")));
  EXPECT_EQ(module.ledger.counts().live, 2u) << "the record and the nested sample";
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

// The allocator may call back into the component as well, before the output
// sample exists: after a flush or another sample the line being converted is
// gone, so nothing of it is handed on, and every buffer is released once.
TEST(ReentrantAllocatorTest, FlushOrSampleFromInsideTheAllocation) {
  struct Row {
    const char* name;
    bool flush;                        // else another sample
    std::vector<std::string> markups;  // what reaches the peer
  };
  const Row rows[] = {
      {"flush", true, {}},
      {"sample", false, {"nested"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Harness module;
    module.open();
    module.sendHeader(kWorkedHeader);
    bool once = false;
    module.allocator.onAllocate = [&] {
      if (std::exchange(once, true)) return;
      if (row.flush) {
        EXPECT_TRUE(module.control(module.out, FLM::MsgFlush, nullptr));
      } else {
        EXPECT_TRUE(module.sendSample(dialogue("Other", "nested"), 5, 6));
      }
    };
    EXPECT_FALSE(module.sendSample(dialogue("Other", "outer, a line long enough to move"), 1, 2));
    EXPECT_EQ(module.markups(), row.markups);
    for (const auto& output : module.sink.outputs) EXPECT_EQ(output.passThrough[0], 5u);
    EXPECT_EQ(module.ledger.counts().live, 1u) << "only the record is held";
    EXPECT_EQ(module.sendSample(dialogue("Other", "after")), true);
    module.releasePlugin();
    EXPECT_TRUE(LedgerClean(module.ledger));
  }
}

// The output port wired into the component's own input: a line whose text is
// itself a dialogue line comes back round, one level deeper each time. The
// nesting stops long before the stack would, and every buffer is released.
TEST(ReentrantPeerTest, SamplesRoundALoopOfPortsStop) {
  Harness module;
  module.open();
  module.sendHeader(kWorkedHeader);
  FLM::TypedValue self = hostkit::objectValue(module.in);
  ASSERT_TRUE(module.control(module.out, FLM::MsgConnect, &self));
  constexpr int kLevels = 1000;
  std::string line = "x";
  for (int i = 0; i < kLevels; ++i) line = dialogue("Other", line);
  EXPECT_FALSE(module.sendSample(line));
  EXPECT_GE(module.allocator.calls, 4) << "a peer may still answer with a sample of its own";
  EXPECT_LT(module.allocator.calls, 100);
  EXPECT_EQ(module.ledger.counts().live, 1u) << "only the record is held";
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

}  // namespace
