// The message table of both ports: answers, forwarding and buffer accounting.
#include <gtest/gtest.h>

#include "tests/support/harness.h"

namespace {

using testing_support::dialogue;
using testing_support::Harness;
using testing_support::kWorkedHeader;
using testing_support::LedgerClean;

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { module.open(); }
  // A sample the test keeps a handle on; its reference goes with the message.
  hostkit::Buffer* heldSampleWithoutPayload() {
    hostkit::Buffer* sample = module.ledger.sample("Dialogue: x", hostkit::Holder::Component);
    sample->setHasPayload(false);
    FLM::TypedValue value = hostkit::objectValue(sample);
    EXPECT_TRUE(module.stream(FLM::MsgSample, &value));
    return sample;
  }
  Harness module;
};

TEST_F(MessagesTest, ConnectNeedsAnAddressAndAPayloadButNoTag) {
  FLM::TypedValue empty{};
  empty.type = FLM::TypeObject;
  EXPECT_FALSE(module.control(module.in, FLM::MsgConnect, nullptr));
  EXPECT_FALSE(module.control(module.in, FLM::MsgConnect, &empty));
  EXPECT_FALSE(module.control(module.out, FLM::MsgConnect, nullptr));
  EXPECT_FALSE(module.control(module.out, FLM::MsgConnect, &empty));
  // The earlier downstream peer stays after the refusals.
  hostkit::SinkPort other;
  FLM::TypedValue untagged{};
  untagged.payload.object = static_cast<FLM::PortInterface*>(&other);
  module.sendHeader(kWorkedHeader);
  module.sendSample(dialogue("Other", "one"));
  EXPECT_EQ(module.sink.outputs.size(), 1u);
  EXPECT_TRUE(module.control(module.out, FLM::MsgConnect, &untagged));
  module.sendSample(dialogue("Other", "two"));
  EXPECT_EQ(module.sink.outputs.size(), 1u);
  ASSERT_EQ(other.outputs.size(), 1u);
  EXPECT_EQ(other.outputs[0].payload, std::string("two", 4));
  EXPECT_EQ(module.source.calls, 0) << "the upstream peer is never called";
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

TEST_F(MessagesTest, ControlMessagesOutsideTheTableAreAnsweredTrue) {
  for (std::uint32_t id : {0u, FLM::MsgSample, FLM::MsgFormat, FLM::MsgStreamParams,
                           FLM::MsgAllocator + 1, 0x30000000u}) {
    EXPECT_TRUE(module.control(module.in, id, nullptr)) << std::hex << id;
    if (id != FLM::MsgAllocator + 1) {
      EXPECT_TRUE(module.control(module.out, id, nullptr)) << std::hex << id;
    }
  }
  // The input port takes no allocator and no flush of its own.
  EXPECT_TRUE(module.control(module.in, FLM::MsgAllocator, nullptr));
  EXPECT_TRUE(module.control(module.in, FLM::MsgFlush, nullptr));
}

TEST_F(MessagesTest, StreamMessagesOutsideTheTableAreRefusedAndNotForwarded) {
  FLM::TypedValue value = hostkit::objectValue(&module);
  for (std::uint32_t id : {0u, FLM::MsgConnect, FLM::MsgFlush, FLM::MsgSample + 1, 0x2019000Fu}) {
    EXPECT_FALSE(module.stream(id, &value)) << std::hex << id;
  }
  EXPECT_TRUE(module.sink.forwarded.empty());
}

// Forwarded messages go on with the same identifier and address, and their
// answer is the downstream peer's.
TEST_F(MessagesTest, ForwardingKeepsTheAddressAndTheAnswer) {
  hostkit::Buffer* record = module.ledger.formatRecord("TEXT", "", hostkit::Holder::Host);
  FLM::StreamParameters parameters{0, {7, 9}};
  FLM::TypedValue params = hostkit::objectValue(&parameters);
  FLM::TypedValue format = hostkit::objectValue(record);
  FLM::TypedValue wrongTag = hostkit::objectValue(record);
  wrongTag.type = FLM::TypeString;
  const struct {
    std::uint32_t id;
    FLM::TypedValue* value;
  } rows[] = {
      {FLM::MsgStreamParams, &params}, {FLM::MsgStreamParams, nullptr}, {FLM::MsgFormat, &format},
      {FLM::MsgFormat, nullptr},       {FLM::MsgFormat, &wrongTag},
  };
  for (bool answer : {true, false}) {
    module.sink.answer = answer;
    for (const auto& row : rows) {
      module.sink.forwarded.clear();
      EXPECT_EQ(module.stream(row.id, row.value), answer) << std::hex << row.id;
      ASSERT_EQ(module.sink.forwarded.size(), 1u);
      EXPECT_EQ(module.sink.forwarded[0].id, row.id);
      EXPECT_EQ(module.sink.forwarded[0].value, row.value);
    }
  }
  record->releaseAs(hostkit::Holder::Host);
  EXPECT_TRUE(LedgerClean(module.ledger));
}

// Ports wired in a loop would send a forwarded message round for ever: it is
// refused when it comes back to a component that still has it out.
TEST_F(MessagesTest, AMessageThatComesBackRoundALoopIsRefused) {
  hostkit::Buffer* record = module.ledger.formatRecord("TEXT", "", hostkit::Holder::Host);
  FLM::StreamParameters parameters{0, {7, 9}};
  FLM::TypedValue params = hostkit::objectValue(&parameters);
  FLM::TypedValue format = hostkit::objectValue(record);
  Harness other;
  other.open();
  FLM::TypedValue self = hostkit::objectValue(module.in);
  FLM::TypedValue viaOther = hostkit::objectValue(other.in);
  ASSERT_TRUE(other.control(other.out, FLM::MsgConnect, &self));
  for (FLM::TypedValue* loop : {&viaOther, &self}) {
    ASSERT_TRUE(module.control(module.out, FLM::MsgConnect, loop));
    EXPECT_FALSE(module.stream(FLM::MsgStreamParams, &params));
    EXPECT_FALSE(module.stream(FLM::MsgStreamParams, nullptr));
    EXPECT_FALSE(module.stream(FLM::MsgFormat, &format));
  }
  // Without the loop, a message passes through both components to the end.
  FLM::TypedValue sink = hostkit::objectValue(static_cast<FLM::PortInterface*>(&other.sink));
  ASSERT_TRUE(module.control(module.out, FLM::MsgConnect, &viaOther));
  ASSERT_TRUE(other.control(other.out, FLM::MsgConnect, &sink));
  EXPECT_TRUE(module.stream(FLM::MsgStreamParams, &params));
  ASSERT_EQ(other.sink.forwarded.size(), 1u);
  EXPECT_EQ(other.sink.forwarded[0].value, &params);
  EXPECT_TRUE(module.sink.forwarded.empty());
  record->releaseAs(hostkit::Holder::Host);
  EXPECT_TRUE(LedgerClean(module.ledger));
}

TEST_F(MessagesTest, NothingIsForwardedWithoutADownstreamPeer) {
  Harness bare;
  bare.in = bare.outputSide->connectUpstream(1, "ASS", 0);
  FLM::StreamParameters parameters{0, {1, 2}};
  FLM::TypedValue params = hostkit::objectValue(&parameters);
  EXPECT_FALSE(bare.stream(FLM::MsgStreamParams, &params));
  EXPECT_FALSE(bare.stream(FLM::MsgFormat, nullptr));
}

TEST_F(MessagesTest, StreamParametersAreStampedOnEveryLaterSample) {
  FLM::StreamParameters parameters{0xAAAAAAAA, {7, 9}};
  FLM::TypedValue params = hostkit::objectValue(&parameters);
  module.sendSample(dialogue("Default", "before"));
  EXPECT_TRUE(module.stream(FLM::MsgStreamParams, &params));
  FLM::StreamParameters ignored{0, {1, 1}};
  FLM::TypedValue invalid = hostkit::objectValue(&ignored);
  invalid.type = FLM::TypeString;
  module.stream(FLM::MsgStreamParams, &invalid);  // forwarded, not taken
  module.sendSample(dialogue("Default", "after"), 5, 6);
  ASSERT_EQ(module.sink.outputs.size(), 2u);
  EXPECT_EQ(module.sink.outputs[0].streamParams[0], 0u);
  EXPECT_EQ(module.sink.outputs[0].streamParams[1], 0u);
  EXPECT_EQ(module.sink.outputs[1].streamParams[0], 7u);
  EXPECT_EQ(module.sink.outputs[1].streamParams[1], 9u);
  EXPECT_EQ(module.sink.outputs[1].passThrough[0], 5u);
  EXPECT_EQ(module.sink.outputs[1].passThrough[1], 6u);
}

TEST_F(MessagesTest, InvalidSamplesAreRefusedAndTheHeldOneStays) {
  heldSampleWithoutPayload();
  hostkit::Buffer* other = module.ledger.sample("Dialogue: y", hostkit::Holder::Host);
  FLM::TypedValue wrongTag = hostkit::objectValue(other);
  wrongTag.type = FLM::TypeString;
  FLM::TypedValue nullPayload{};
  nullPayload.type = FLM::TypeObject;
  EXPECT_FALSE(module.stream(FLM::MsgSample, &wrongTag));
  EXPECT_FALSE(module.stream(FLM::MsgSample, &nullPayload));
  EXPECT_FALSE(module.stream(FLM::MsgSample, nullptr));
  EXPECT_EQ(module.ledger.counts().released, 0u)
      << "the held sample was neither released nor replaced";
  other->releaseAs(hostkit::Holder::Host);
  EXPECT_TRUE(module.control(module.out, FLM::MsgFlush, nullptr));
  EXPECT_TRUE(LedgerClean(module.ledger));
  EXPECT_TRUE(module.sink.forwarded.empty());
}

TEST_F(MessagesTest, WithoutAnAllocatorSamplesAreRefusedAndTheLastStaysHeld) {
  FLM::TypedValue none{};
  EXPECT_FALSE(module.control(module.out, FLM::MsgAllocator, nullptr));
  EXPECT_TRUE(module.control(module.out, FLM::MsgAllocator, &none));
  EXPECT_FALSE(module.sendSample(dialogue("Default", "a")));
  EXPECT_EQ(module.ledger.counts().live, 1u);
  EXPECT_FALSE(module.sendSample(dialogue("Default", "b")));
  EXPECT_EQ(module.ledger.counts().released, 1u) << "the first went when the second came";
  EXPECT_EQ(module.ledger.counts().live, 1u);
  EXPECT_EQ(module.allocator.calls, 0);
  EXPECT_TRUE(module.sink.outputs.empty());
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

TEST_F(MessagesTest, FlushDropsOnlyTheHeldSample) {
  EXPECT_TRUE(module.control(module.out, FLM::MsgFlush, nullptr));  // nothing held
  module.sendHeader(kWorkedHeader);
  FLM::StreamParameters parameters{0, {3, 4}};
  FLM::TypedValue params = hostkit::objectValue(&parameters);
  module.stream(FLM::MsgStreamParams, &params);
  heldSampleWithoutPayload();
  EXPECT_EQ(module.ledger.counts().live, 2u);  // the record and the sample
  FLM::TypedValue anything = hostkit::objectValue(&module);
  EXPECT_TRUE(module.control(module.out, FLM::MsgFlush, &anything));
  EXPECT_EQ(module.ledger.counts().live, 1u);
  // The tables, the parameters, the peers and the allocator stay.
  module.sendSample(dialogue("Default", "kept"));
  ASSERT_EQ(module.sink.outputs.size(), 1u);
  EXPECT_EQ(module.markups()[0],
            testing_support::kDefaultOpen + "kept" + testing_support::kDefaultClose);
  EXPECT_EQ(module.sink.outputs[0].streamParams[0], 3u);
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

TEST_F(MessagesTest, FormatRecordIsTakenOnlyAsSubWithLengthFour) {
  const struct {
    std::string identifier;
    bool taken;
  } rows[] = {
      {"SUB ", true},
      {"sub ", false},
      {"SUBT", false},
      {"SUB", false},
      {std::string("SUB \0", 5), false},
      {"SUB  ", false},
      {"", false},
  };
  for (const auto& row : rows) {
    Harness fresh;
    fresh.open();
    const std::size_t before = fresh.sink.forwarded.size();
    fresh.sink.answer = false;
    const bool answer = fresh.sendHeader(kWorkedHeader, row.identifier);
    EXPECT_EQ(fresh.sink.forwarded.size() == before, row.taken) << row.identifier;
    EXPECT_EQ(answer, row.taken) << "parse result when taken, the peer's answer otherwise";
    fresh.releasePlugin();
    EXPECT_TRUE(LedgerClean(fresh.ledger)) << row.identifier;
  }
}

TEST_F(MessagesTest, SecondRecordWhileOneIsHeldGoesDownstreamUnparsed) {
  // The first header has no Text column: its parse answers false, and the
  // record stays held all the same.
  EXPECT_FALSE(module.sendHeader("[Events]\nFormat: Start, End\n"));
  module.sink.answer = true;
  EXPECT_TRUE(module.sendHeader(kWorkedHeader));
  EXPECT_EQ(module.sink.forwarded.size(), 1u);
  // Still the first header's columns: no Text, so the line gains Text at 0
  // and its first field, of two, is the text.
  module.sendSample(dialogue("Default", "x"));
  ASSERT_EQ(module.markups().size(), 1u);
  EXPECT_EQ(module.markups()[0], "0");
  // A new input port parses a new record into the same tables.
  ASSERT_TRUE(module.outputSide->disconnectUpstream(module.in));
  module.in = module.outputSide->connectUpstream(1, "ASS", 0);
  EXPECT_TRUE(module.sendHeader(kWorkedHeader));
  module.sendSample(dialogue("Note", "x"));
  ASSERT_EQ(module.markups().size(), 2u);
  EXPECT_EQ(module.markups()[1],
            "<font face=\"Tahoma\" size=\"+4\" color=\"#FF0000\"><i>x</i></font>");
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

TEST_F(MessagesTest, EverySampleIsReleasedExactlyOnceOnEveryPath) {
  module.sendHeader(kWorkedHeader);
  const struct {
    std::string bytes;
    bool output;
  } rows[] = {
      {dialogue("Default", "converted"), true},
      {"Comment: 0,0:00:01.00,0:00:03.50,Default,,0,0,0,,not dialogue", false},
      {"Dialogue", false},
      {"", false},
      {" Dialogue: 0,1,2,Default,,0,0,0,,leading space", false},
      {"Dialogue: a,b", false},
      {"dialogue: 0,1,2,Default,,0,0,0,,lower case", false},
      {std::string("Dialog\0e: 0,1,2,Default,,0,0,0,,x", 34), false},
  };
  for (const auto& row : rows) {
    const std::size_t before = module.sink.outputs.size();
    EXPECT_TRUE(module.sendSample(row.bytes)) << row.bytes;
    EXPECT_EQ(module.sink.outputs.size() - before, row.output ? 1u : 0u) << row.bytes;
    EXPECT_EQ(module.ledger.counts().live, 1u) << "only the record is held: " << row.bytes;
  }
  module.sink.answer = false;
  EXPECT_FALSE(module.sendSample(dialogue("Default", "refused downstream")));
  EXPECT_EQ(module.ledger.counts().live, 1u);
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
  EXPECT_TRUE(module.sink.problems.empty());
}

TEST_F(MessagesTest, WithoutADownstreamPeerNothingIsAllocated) {
  Harness bare;
  bare.in = bare.outputSide->connectUpstream(1, "ASS", 0);
  bare.out = bare.inputSide->connectDownstream(1, "UTF8", 0);
  FLM::TypedValue samples = hostkit::objectValue(&bare.allocator);
  bare.control(bare.out, FLM::MsgAllocator, &samples);
  bare.sendHeader(kWorkedHeader);  // not taken? it is: no peer is needed to parse
  EXPECT_FALSE(bare.sendSample(dialogue("Default", "nowhere to go")));
  EXPECT_EQ(bare.allocator.calls, 0);
  bare.releasePlugin();
  EXPECT_TRUE(LedgerClean(bare.ledger));
}

// Host objects that fail: an allocator with nothing to give, an output
// sample without a payload, an input sample whose payload vanishes.
TEST_F(MessagesTest, FailingHostObjectsAreNeverWrittenThrough) {
  module.sendHeader(kWorkedHeader);
  module.allocator.yieldNothing = true;
  EXPECT_FALSE(module.sendSample(dialogue("Default", "a")));
  module.allocator.yieldNothing = false;
  module.allocator.withoutPayload = true;
  EXPECT_FALSE(module.sendSample(dialogue("Default", "b")));
  module.allocator.withoutPayload = false;
  EXPECT_TRUE(module.sink.outputs.empty());
  EXPECT_EQ(module.ledger.counts().live, 1u);
  EXPECT_TRUE(module.sendSample(dialogue("Default", "c")));
  EXPECT_EQ(module.allocator.lastCount, 1u);
  EXPECT_EQ(module.allocator.lastFlags, 1u);
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

}  // namespace
