// The component seen through its interfaces: properties, ports, attachment
// and teardown.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/harness.h"

namespace {

using testing_support::Harness;
using testing_support::Heap;
using testing_support::LedgerClean;

std::string narrow(const FLM::String<unsigned short>& text) {
  std::string out;
  for (std::int32_t i = 0; i < text.length; ++i) out.push_back(static_cast<char>(text.data[i]));
  return out;
}

FLM::TypedValue askFourCC() {
  FLM::TypedValue value{};
  value.type = FLM::TypeFourCC;
  return value;
}

TEST(PropertiesTest, FreshComponent) {
  Harness module;
  std::vector<const char*> names;
  ASSERT_TRUE(module.component->getPropertyNames(&names));
  ASSERT_EQ(names.size(), 4u);
  EXPECT_STREQ(names[0], "InputFormat");
  EXPECT_STREQ(names[1], "Name");
  EXPECT_STREQ(names[2], "OutputFormat");
  EXPECT_STREQ(names[3], "Type");

  FLM::TypedValue name{};
  ASSERT_TRUE(module.component->getProperty("Name", &name));
  EXPECT_EQ(name.type, FLM::TypeWideString);
  EXPECT_EQ(narrow(*name.payload.wideString), "Glyphtide Subtitle Decoder");
  EXPECT_EQ(name.payload.wideString->length, 26);
  EXPECT_EQ(name.payload.wideString->data[26], 0);

  FLM::TypedValue type{};
  ASSERT_TRUE(module.component->getProperty("Type", &type));
  EXPECT_EQ(type.type, FLM::TypeString);
  EXPECT_STREQ(type.payload.string->data, "Overlay|Decoder|Glyphtide");
  EXPECT_EQ(type.payload.string->length, 25);
  // Every string comes from the module's one allocator for its element type.
  FLM::TypedValue again{};
  module.component->getProperty("Type", &again);
  EXPECT_EQ(again.payload.string, type.payload.string) << "borrowed, not copied";

  for (const char* format : {"InputFormat", "OutputFormat"}) {
    FLM::TypedValue code = askFourCC();
    EXPECT_FALSE(module.component->getProperty(format, &code)) << format << " without a port";
    EXPECT_EQ(code.payload.fourCC, 0u) << "a refusal changes nothing";
  }
}

TEST(PropertiesTest, NamesAreAppendedBehindExistingOnes) {
  Harness module;
  std::vector<const char*> names = {"a", "b"};
  ASSERT_TRUE(module.component->getPropertyNames(&names));
  ASSERT_EQ(names.size(), 6u);
  EXPECT_STREQ(names[0], "a");
  EXPECT_STREQ(names[5], "Type");
  EXPECT_FALSE(module.component->getPropertyNames(nullptr));
}

TEST(PropertiesTest, RefusalsLeaveTheValueAlone) {
  Harness module;
  module.open("ASS");
  const struct {
    const char* name;
    std::uint8_t tag;
  } rows[] = {
      {"name", FLM::TypeString},        {"NAME", FLM::TypeString},
      {"Names", FLM::TypeString},       {"", FLM::TypeString},
      {"InputFormat", FLM::TypeString}, {"OutputFormat", FLM::TypeString},
      {"InputFormat", FLM::TypeObject}, {"inputformat", FLM::TypeFourCC},
  };
  for (const auto& row : rows) {
    FLM::TypedValue value{};
    value.type = row.tag;
    value.payload.fourCC = 0x12345678;
    EXPECT_FALSE(module.component->getProperty(row.name, &value)) << row.name;
    EXPECT_EQ(value.type, row.tag);
    EXPECT_EQ(value.payload.fourCC, 0x12345678u);
  }
  EXPECT_FALSE(module.component->getProperty(nullptr, nullptr));
  EXPECT_FALSE(module.component->getProperty("Name", nullptr));
  std::vector<const char*> names;
  module.component->getPropertyNames(&names);
  EXPECT_EQ(names.size(), 4u) << "lookups insert nothing";
}

TEST(PropertiesTest, FormatCodesFollowThePorts) {
  Harness module;
  const struct {
    const char* input;
    unsigned char bytes[4];
  } rows[] = {{"ASS", {'A', 'S', 'S', 0}}, {"SSA", {'S', 'S', 'A', 0}}};
  for (const auto& row : rows) {
    FLM::PortInterface* in = module.outputSide->connectUpstream(1, row.input, 0);
    ASSERT_NE(in, nullptr);
    FLM::TypedValue code = askFourCC();
    code.payload.bytes[5] = 0x5A;
    ASSERT_TRUE(module.component->getProperty("InputFormat", &code));
    EXPECT_EQ(0, std::memcmp(code.payload.bytes, row.bytes, 4)) << row.input;
    EXPECT_EQ(code.payload.bytes[5], 0x5A) << "bytes past the code keep what they held";
    EXPECT_EQ(code.type, FLM::TypeFourCC);
    ASSERT_TRUE(module.outputSide->disconnectUpstream(in));
    code = askFourCC();
    EXPECT_FALSE(module.component->getProperty("InputFormat", &code));
  }
  FLM::PortInterface* out = module.inputSide->connectDownstream(1, "UTF8", 0);
  FLM::TypedValue code = askFourCC();
  ASSERT_TRUE(module.component->getProperty("OutputFormat", &code));
  EXPECT_EQ(0, std::memcmp(code.payload.bytes, "UTF8", 4));
  module.inputSide->disconnectDownstream(out);
}

TEST(PortsTest, ConnectRefusalsChangeNothing) {
  Harness module;
  const struct {
    bool input;
    std::int32_t selector;
    const char* format;
  } refused[] = {
      {true, 1, "ssa"},    {true, 1, "SSA "},  {true, 1, "SSAX"},  {true, 1, "AS"},
      {true, 1, ""},       {true, 0, "SSA"},   {true, 2, "SSA"},   {true, -1, "ASS"},
      {true, 1, "UTF8"},   {true, 1, nullptr}, {false, 1, "utf8"}, {false, 1, "UTF-8"},
      {false, 1, "UTF8 "}, {false, 0, "UTF8"}, {false, 2, "UTF8"}, {false, 1, "ASS"},
      {false, 1, nullptr},
  };
  for (const auto& row : refused) {
    FLM::PortInterface* port =
        row.input ? module.outputSide->connectUpstream(row.selector, row.format, 0)
                  : module.inputSide->connectDownstream(row.selector, row.format, 0);
    EXPECT_EQ(port, nullptr) << (row.format ? row.format : "(null)") << " / " << row.selector;
  }
  FLM::TypedValue code = askFourCC();
  EXPECT_FALSE(module.component->getProperty("InputFormat", &code));
  EXPECT_FALSE(module.component->getProperty("OutputFormat", &code));
}

TEST(PortsTest, OnePortEachSideUntilDisconnected) {
  Harness module;
  FLM::PortInterface* in = module.outputSide->connectUpstream(1, "SSA", 0);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(module.outputSide->connectUpstream(1, "SSA", 0), nullptr);
  EXPECT_EQ(module.outputSide->connectUpstream(1, "ASS", 0), nullptr);
  EXPECT_FALSE(module.outputSide->disconnectUpstream(nullptr));
  EXPECT_FALSE(
      module.outputSide->disconnectUpstream(reinterpret_cast<FLM::PortInterface*>(&module)));
  EXPECT_TRUE(module.outputSide->disconnectUpstream(in));
  EXPECT_FALSE(module.outputSide->disconnectUpstream(in)) << "already closed";
  FLM::PortInterface* again = module.outputSide->connectUpstream(1, "ASS", 0);
  ASSERT_NE(again, nullptr);

  EXPECT_FALSE(module.inputSide->disconnectDownstream(nullptr));
  FLM::PortInterface* out = module.inputSide->connectDownstream(1, "UTF8", 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(module.inputSide->connectDownstream(1, "UTF8", 0), nullptr);
  EXPECT_FALSE(module.inputSide->disconnectDownstream(again)) << "not this side's port";
  EXPECT_FALSE(module.outputSide->disconnectUpstream(out)) << "not this side's port";
  EXPECT_TRUE(module.inputSide->disconnectDownstream(out));
  EXPECT_TRUE(module.outputSide->disconnectUpstream(again));
}

TEST(PortsTest, FixedAnswersOfBothPorts) {
  Harness module;
  module.open();
  for (std::uint32_t id : {0u, 1u, FLM::MsgConnect, FLM::MsgSample, FLM::MsgFlush, 0xFFFFFFFFu}) {
    FLM::TypedValue value{};
    EXPECT_TRUE(module.in->acceptMessage(id, &value));
    EXPECT_TRUE(module.out->acceptMessage(id, nullptr));
    EXPECT_FALSE(module.in->queryMessage(id, &value));
    EXPECT_FALSE(module.out->queryMessage(id, nullptr));
    EXPECT_FALSE(module.out->streamMessage(id, &value));
  }
  EXPECT_TRUE(LedgerClean(module.ledger));
}

TEST(PortsTest, DisconnectWithTheWrongPortStillDropsTheFormatRecord) {
  Harness module;
  module.open();
  module.sendHeader(testing_support::kWorkedHeader);
  EXPECT_EQ(module.ledger.counts().live, 1u) << "the record is held";
  EXPECT_FALSE(module.outputSide->disconnectUpstream(module.out));
  EXPECT_EQ(module.ledger.counts().live, 0u);
  // The port stays open and a new record is parsed again.
  EXPECT_TRUE(module.sendHeader(testing_support::kWorkedHeader));
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

TEST(AttachTest, ValueFollowsAttachAndDetach) {
  Harness module;
  hostkit::ConstantAttachContext context(42);
  EXPECT_TRUE(module.component->attach(&context));
  EXPECT_EQ(context.calls, 1);
  EXPECT_FALSE(module.component->attach(nullptr));
  EXPECT_TRUE(module.component->detach());
  EXPECT_TRUE(module.component->attach(&context));
  EXPECT_EQ(context.calls, 2);
}

TEST(ComponentInterfaceTest, UnusedSlotsGiveTheBaseAnswers) {
  Harness module;
  EXPECT_TRUE(module.component->unusedSlot3(1, 2));
  EXPECT_TRUE(module.component->unusedSlot4(0, 0));
  EXPECT_TRUE(module.component->unusedSlot5(3, 4));
  EXPECT_TRUE(module.component->unusedSlot6(5, 6));
  EXPECT_FALSE(module.component->unusedSlot7(1, 2, 3, 4, 5));
}

// Teardown from every state leaves nothing: host buffers released exactly
// once, property strings freed, and the peers and allocator never called.
TEST(TeardownTest, FromEveryState) {
  enum class State { NeverConnected, BothOpen, HeldRecordAndSample, AfterDisconnects };
  for (State state : {State::NeverConnected, State::BothOpen, State::HeldRecordAndSample,
                      State::AfterDisconnects}) {
    SCOPED_TRACE(static_cast<int>(state));
    const std::int64_t heapBefore = Heap::live();
    {
      Harness module;
      if (state != State::NeverConnected) module.open();
      if (state == State::HeldRecordAndSample) {
        module.sendHeader(testing_support::kWorkedHeader);
        module.allocator.withoutPayload = false;
        // A sample without a payload stays held.
        hostkit::Buffer* sample = module.ledger.sample("Dialogue: x", hostkit::Holder::Component);
        sample->setHasPayload(false);
        FLM::TypedValue value = hostkit::objectValue(sample);
        EXPECT_TRUE(module.stream(FLM::MsgSample, &value));
        EXPECT_EQ(module.ledger.counts().live, 2u);
      }
      if (state == State::AfterDisconnects) {
        EXPECT_TRUE(module.outputSide->disconnectUpstream(module.in));
        EXPECT_TRUE(module.inputSide->disconnectDownstream(module.out));
        module.in = module.out = nullptr;
      }
      const int allocatorCalls = module.allocator.calls;
      const std::size_t forwarded = module.sink.forwarded.size();
      const void* address = module.plugin;
      // The last reference goes with the ports still open, if they are.
      module.in = module.out = nullptr;
      EXPECT_EQ(module.plugin->release(), 0);
      module.plugin = nullptr;
      ASSERT_EQ(module.pluginHost.events.size(), 2u);
      EXPECT_FALSE(module.pluginHost.events[0].released);
      EXPECT_TRUE(module.pluginHost.events[1].released);
      EXPECT_EQ(module.pluginHost.events[0].plugin, address);
      EXPECT_EQ(module.pluginHost.events[1].plugin, address);
      EXPECT_EQ(module.allocator.calls, allocatorCalls);
      EXPECT_EQ(module.sink.forwarded.size(), forwarded);
      EXPECT_EQ(module.source.calls, 0);
      EXPECT_TRUE(LedgerClean(module.ledger));
    }
    EXPECT_EQ(Heap::live(), heapBefore) << "every string and table freed";
  }
}

}  // namespace

namespace {

// A batch worker may shut its plug-in down when memory has run out: nothing
// on the way out may need any, or the host would throw into the plug-in's
// release and end the process.
// After many lines the ledger reuses buffers, which is a path of its own.
TEST(PluginDriverTest, ShutsDownWithoutMemory) {
  for (const int lines : {0, 600}) {
    SCOPED_TRACE(std::to_string(lines) + " lines");
    Harness module;
    module.open();
    ASSERT_TRUE(module.sendHeader(testing_support::kWorkedHeader));
    for (int i = 0; i < lines; ++i) {
      ASSERT_TRUE(module.sendSample("Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x"));
    }
    const void* address = module.plugin;
    Heap::failAfter(0);
    hostkit::PluginDriver::Refusals refusals;
    bool threw = false;
    try {
      refusals = module.stop();
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    const bool failed = !Heap::failurePending();
    Heap::failAfter(-1);
    ASSERT_FALSE(threw);
    EXPECT_FALSE(failed) << "something on the way out allocated";
    EXPECT_FALSE(refusals.inputPort || refusals.outputPort || refusals.detach);
    EXPECT_EQ(refusals.referencesLeft, 0);
    EXPECT_TRUE(module.pluginHost.toldAroundRelease(address));
    EXPECT_TRUE(LedgerClean(module.ledger));
  }
}

// A one-thread ledger makes no record for another thread: the driver sends
// nothing then, and says so.
TEST(PluginDriverTest, AHeaderTheLedgerCannotMakeIsNotSent) {
  hostkit::HostSide host(hostkit::LedgerThreads::One);
  hostkit::PluginDriver driver;
  ASSERT_TRUE(driver.create(_getPlugin, &host.pluginHost));
  ASSERT_TRUE(driver.open("ASS", host.wiring()));
  bool answer = true;
  bool forwarded = true;
  std::thread([&] {
    answer = driver.sendHeader(host.ledger, host.sink, testing_support::kWorkedHeader, "SUB ",
                               &forwarded);
  }).join();
  EXPECT_FALSE(answer);
  EXPECT_FALSE(forwarded);
  EXPECT_TRUE(host.sink.forwarded.empty());
  EXPECT_TRUE(driver.shutDown().empty());
  EXPECT_EQ(host.ledger.counts().made, 0u);
}

}  // namespace
