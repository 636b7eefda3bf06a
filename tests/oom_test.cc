// Running out of memory at every allocation of an operation, one run per
// allocation: construction, opening and closing ports, the property names, a
// header parse, a conversion and teardown. Only _getPlugin and teardown keep
// the failure to themselves (a null object; a teardown that still completes),
// and closing a port allocates nothing; every other operation lets
// std::bad_alloc through. Whatever failed, the lock is free
// again, nothing leaks, every host buffer is released exactly once, and the
// component still converts correctly afterwards.
//
// The heap's failures are aimed at the module: the host objects run inside
// Heap::Exempt scopes, through thin wrappers, since their own bookkeeping is
// not what is tested.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/harness.h"

namespace {

using testing_support::dialogue;
using testing_support::Heap;
using testing_support::kWorkedHeader;

using testing_support::kDefaultClose;
using testing_support::kDefaultOpen;

void copyFields(const FLM::MediaBuffer& from, FLM::MediaBuffer& to) {
  to.payloadSize = from.payloadSize;
  std::memcpy(to.unknown1, from.unknown1, sizeof to.unknown1);
  std::memcpy(to.formatIdentifier, from.formatIdentifier, sizeof to.formatIdentifier);
  to.formatIdentifierLength = from.formatIdentifierLength;
  std::memcpy(to.unknown2, from.unknown2, sizeof to.unknown2);
  to.streamParams[0] = from.streamParams[0];
  to.streamParams[1] = from.streamParams[1];
}

// What the module sees of a ledger buffer: its fields, and its operations
// run with the heap's failures suspended.
class ExemptBuffer final : public FLM::MediaBuffer {
 public:
  explicit ExemptBuffer(hostkit::Buffer& inner) : inner(inner) { copyFields(inner, *this); }
  void release() override {
    Heap::Exempt exempt;
    inner.release();
  }
  void* lockPayload() override {
    Heap::Exempt exempt;
    return inner.lockPayload();
  }
  void unlockPayload() override {
    Heap::Exempt exempt;
    inner.unlockPayload();
  }
  hostkit::Buffer& inner;
};

// One module with its host around it, every host object wrapped.
class Rig final : public FLM::SampleAllocator, public FLM::PortInterface {
 public:
  Rig() = default;
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // SampleAllocator: a ledger buffer behind a wrapper.
  FLM::MediaBuffer* allocate(std::uint32_t bytes, std::uint32_t count,
                             std::uint32_t flags) override {
    Heap::Exempt exempt;
    auto* buffer = static_cast<hostkit::Buffer*>(allocator.allocate(bytes, count, flags));
    return &wrappers.emplace_back(*buffer);
  }

  // PortInterface: the downstream peer, the sink behind it.
  bool acceptMessage(std::uint32_t id, FLM::TypedValue* value) override {
    return sink.acceptMessage(id, value);
  }
  bool controlMessage(std::uint32_t id, FLM::TypedValue* value) override {
    Heap::Exempt exempt;
    return sink.controlMessage(id, value);
  }
  bool queryMessage(std::uint32_t id, FLM::TypedValue* value) override {
    Heap::Exempt exempt;
    return sink.queryMessage(id, value);
  }
  bool streamMessage(std::uint32_t id, FLM::TypedValue* value) override {
    Heap::Exempt exempt;
    if (id != FLM::MsgSample || value == nullptr || value->payload.object == nullptr) {
      return sink.streamMessage(id, value);
    }
    auto* output =
        static_cast<ExemptBuffer*>(static_cast<FLM::MediaBuffer*>(value->payload.object));
    copyFields(*output, output->inner);
    FLM::TypedValue inner = hostkit::objectValue(&output->inner);
    return sink.streamMessage(id, &inner);
  }

  void create() {
    _getPlugin(&pluginHost, &plugin);
    ASSERT_NE(plugin, nullptr);
    void* found = nullptr;
    plugin->queryInterface(&FLM::IdInterfaceComponent, &found);
    component = static_cast<FLM::ComponentInterface*>(found);
    plugin->queryInterface(&FLM::IdInterfaceTransform, &found);
    transform = static_cast<FLM::TransformInterface*>(found);
  }

  void openOutput() {
    out = transform->connectDownstream(1, "UTF8", 0);
    ASSERT_NE(out, nullptr);
    wireOutput();
  }

  void wireOutput() {
    FLM::TypedValue peer = hostkit::objectValue(static_cast<FLM::PortInterface*>(this));
    FLM::TypedValue samples = hostkit::objectValue(static_cast<FLM::SampleAllocator*>(this));
    ASSERT_TRUE(out->controlMessage(FLM::MsgConnect, &peer));
    ASSERT_TRUE(out->controlMessage(FLM::MsgAllocator, &samples));
  }

  void openInput() {
    in = transform->connectUpstream(1, "ASS", 0);
    ASSERT_NE(in, nullptr);
  }

  // The host makes its buffers outside the module's failures.
  ExemptBuffer& wrap(hostkit::Buffer* inner) {
    Heap::Exempt exempt;
    return wrappers.emplace_back(*inner);
  }
  hostkit::Buffer* sampleBuffer(std::string_view line) {
    Heap::Exempt exempt;
    return ledger.sample(line, hostkit::Holder::Component);
  }

  bool sendHeader(std::string_view header) {
    hostkit::Buffer* inner;
    {
      Heap::Exempt exempt;
      inner = ledger.formatRecord("SUB ", header, hostkit::Holder::Component);
    }
    FLM::TypedValue value = hostkit::objectValue(&wrap(inner));
    return in->streamMessage(FLM::MsgFormat, &value);
  }

  // The reference goes with the message; lastSample follows it.
  bool sendSample(hostkit::Buffer* inner) {
    lastSample = inner;
    FLM::TypedValue value = hostkit::objectValue(&wrap(inner));
    return in->streamMessage(FLM::MsgSample, &value);
  }
  bool sendSample(std::string_view line) { return sendSample(sampleBuffer(line)); }

  void release() {
    if (plugin == nullptr) return;
    plugin->release();
    plugin = nullptr;
  }

  hostkit::LoggingPluginHost pluginHost;
  hostkit::Ledger ledger;
  hostkit::LedgerAllocator allocator{ledger};
  hostkit::SinkPort sink;
  std::deque<ExemptBuffer> wrappers;
  hostkit::Buffer* lastSample = nullptr;
  std::vector<const char*> names;  // the host's list for getPropertyNames
  FLM::Plugin* plugin = nullptr;
  FLM::ComponentInterface* component = nullptr;
  FLM::TransformInterface* transform = nullptr;
  FLM::PortInterface* in = nullptr;
  FLM::PortInterface* out = nullptr;
};

// The lock is free: a flush from another thread gets through. A thread that
// waits on a lock left held can never be joined, so that ends the run.
void expectFlushFromAnotherThread(FLM::PortInterface* out) {
  std::promise<bool> answered;
  std::future<bool> answer = answered.get_future();
  std::thread flusher([&] { answered.set_value(out->controlMessage(FLM::MsgFlush, nullptr)); });
  if (answer.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    std::fprintf(stderr, "a flush from another thread is stuck: the lock was left held\n");
    std::fflush(stderr);
    std::_Exit(1);
  }
  flusher.join();
  EXPECT_TRUE(answer.get());
}

// After whatever happened: the input port reopened (which drops a held
// format record), the whole header and a dialogue line convert as always.
void expectWorking(Rig& rig) {
  if (rig.out == nullptr) {
    ASSERT_NO_FATAL_FAILURE(rig.openOutput());
  } else {
    ASSERT_NO_FATAL_FAILURE(rig.wireOutput());
  }
  if (rig.in != nullptr) {
    ASSERT_TRUE(rig.transform->disconnectUpstream(rig.in));
  }
  ASSERT_NO_FATAL_FAILURE(rig.openInput());
  ASSERT_TRUE(rig.sendHeader(kWorkedHeader));
  rig.sink.outputs.clear();
  rig.sendSample(dialogue("Default", "{\\i1}word{\\i0}"));
  ASSERT_EQ(rig.sink.outputs.size(), 1u);
  EXPECT_EQ(rig.sink.outputs[0].payload, kDefaultOpen + "<i>word</i>" + kDefaultClose + '\0');
}

// The line converted by the conversion rows: every kind of block, a font
// name that opens a further block, more text than a short string holds.
const std::string kBusyLine =
    dialogue("Note",
             "{\\fnTimes New Roman}Far {\\fs30}away{\\c&H0000FF&}, the {\\fn{\\b1}}lights\\Nof "
             "{\\1c&HFF&}the harbour{\\i0} go out\\hone{\\pos(1,2)} by one, {\\u1}slowly{\\u0}.");

struct Row {
  const char* name;
  bool keepsFailure;                  // answers it (a null object) or gets over it (teardown)
  std::function<void(Rig&)> prepare;  // before the failure is armed
  std::function<void(Rig&)> run;      // armed: may throw std::bad_alloc
  // After a failure (disarmed): what the operation left, checked before the
  // component is put back to work.
  std::function<void(Rig&)> afterFailure;
};

void runRow(const Row& row) {
  // Once without a failure first, so that what the first call anywhere
  // allocates for good is not taken for a leak.
  {
    Rig rig;
    ASSERT_NO_FATAL_FAILURE(row.prepare(rig)) << row.name;
    row.run(rig);
    if (rig.plugin != nullptr) rig.release();
  }
  for (std::int64_t n = 0; n < 100000; ++n) {
    const std::int64_t baseline = Heap::live();
    bool fired;
    {
      Rig rig;
      ASSERT_NO_FATAL_FAILURE(row.prepare(rig)) << row.name;
      bool threw = false;
      Heap::failAfter(n);
      try {
        row.run(rig);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      fired = !Heap::failurePending();
      Heap::failAfter(-1);
      EXPECT_TRUE(!threw || fired) << row.name << ": an exception that was not the heap's";
      if (!row.keepsFailure) {
        EXPECT_EQ(threw, fired) << row.name << ": failing allocation " << n << " was swallowed";
      } else {
        EXPECT_FALSE(threw) << row.name << ": failing allocation " << n << " escaped";
      }
      if (fired && row.afterFailure) row.afterFailure(rig);
      if (rig.plugin != nullptr) {
        ASSERT_NO_FATAL_FAILURE(expectWorking(rig)) << row.name << ", failing allocation " << n;
        rig.release();
      }
      EXPECT_EQ(rig.pluginHost.events.size() % 2, 0u) << row.name;
      EXPECT_TRUE(testing_support::LedgerClean(rig.ledger))
          << row.name << ", failing allocation " << n;
      EXPECT_TRUE(rig.sink.problems.empty()) << row.name;
    }
    EXPECT_EQ(Heap::live(), baseline) << row.name << ": leak after failing allocation " << n;
    if (::testing::Test::HasFailure()) return;
    if (!fired) return;  // the operation needed fewer allocations: all were failed once
  }
  FAIL() << row.name << " never completed";
}

TEST(OutOfMemoryTest, ConstructionGivesANullObjectOrAWholeOne) {
  runRow({"_getPlugin", true, [](Rig&) {},
          [](Rig& rig) {
            FLM::Plugin* plugin = reinterpret_cast<FLM::Plugin*>(&rig);
            EXPECT_EQ(_getPlugin(&rig.pluginHost, &plugin), 0);
            rig.plugin = plugin;
            if (plugin == nullptr) return;
            void* found = nullptr;
            plugin->queryInterface(&FLM::IdInterfaceComponent, &found);
            rig.component = static_cast<FLM::ComponentInterface*>(found);
            plugin->queryInterface(&FLM::IdInterfaceTransform, &found);
            rig.transform = static_cast<FLM::TransformInterface*>(found);
          },
          [](Rig& rig) { EXPECT_EQ(rig.plugin, nullptr) << "a failed construction"; }});
}

TEST(OutOfMemoryTest, OpeningAPortChangesNothingWhenItFails) {
  const auto formatCode = [](Rig& rig, const char* name) {
    FLM::TypedValue value{};
    value.type = FLM::TypeFourCC;
    return rig.component->getProperty(name, &value);
  };
  runRow({"connectUpstream", false,
          [](Rig& rig) {
            rig.create();
            rig.openOutput();
          },
          [](Rig& rig) {
            rig.in = rig.transform->connectUpstream(1, "ASS", 0);
            EXPECT_NE(rig.in, nullptr);
          },
          [&](Rig& rig) {
            EXPECT_EQ(rig.in, nullptr);
            EXPECT_FALSE(formatCode(rig, "InputFormat")) << "no input port after the failure";
            expectFlushFromAnotherThread(rig.out);
          }});
  runRow({"connectDownstream", false, [](Rig& rig) { rig.create(); },
          [](Rig& rig) {
            rig.out = rig.transform->connectDownstream(1, "UTF8", 0);
            EXPECT_NE(rig.out, nullptr);
          },
          [&](Rig& rig) {
            EXPECT_EQ(rig.out, nullptr);
            EXPECT_FALSE(formatCode(rig, "OutputFormat")) << "no output port after the failure";
          }});
}

// Closing allocates nothing: a host tearing a link down never sees it fail.
TEST(OutOfMemoryTest, ClosingAPortNeverFails) {
  runRow({"disconnectUpstream", true,
          [](Rig& rig) {
            rig.create();
            rig.openOutput();
            rig.openInput();
            rig.sendHeader(kWorkedHeader);
          },
          [](Rig& rig) {
            EXPECT_TRUE(rig.transform->disconnectUpstream(rig.in));
            rig.in = nullptr;
            EXPECT_EQ(rig.ledger.counts().live, 0u) << "the format record is released";
          },
          nullptr});
  runRow({"disconnectDownstream", true,
          [](Rig& rig) {
            rig.create();
            rig.openOutput();
          },
          [](Rig& rig) {
            EXPECT_TRUE(rig.transform->disconnectDownstream(rig.out));
            rig.out = nullptr;
          },
          nullptr});
}

// A failure while the names are appended leaves the host's list as it was.
TEST(OutOfMemoryTest, PropertyNamesComeWholeOrNotAtAll) {
  runRow({"getPropertyNames", false, [](Rig& rig) { rig.create(); },
          [](Rig& rig) {
            rig.names.clear();
            rig.names.shrink_to_fit();
            EXPECT_TRUE(rig.component->getPropertyNames(&rig.names));
            EXPECT_EQ(rig.names.size(), 4u);
          },
          [](Rig& rig) { EXPECT_TRUE(rig.names.empty()) << rig.names.size() << " names left"; }});
}

TEST(OutOfMemoryTest, HeaderParseKeepsTheRecordAndFreesTheLock) {
  runRow({"header parse", false,
          [](Rig& rig) {
            rig.create();
            rig.openOutput();
            rig.openInput();
          },
          [](Rig& rig) { EXPECT_TRUE(rig.sendHeader(kWorkedHeader)); },
          [](Rig& rig) {
            EXPECT_EQ(rig.ledger.counts().live, 1u) << "the record stays held";
            expectFlushFromAnotherThread(rig.out);
          }});
}

// A 32-bit string holds at most 1 GiB: a longer header is out of memory as
// well, the one exception the host expects, and is refused before a byte of
// it is read.
TEST(OutOfMemoryTest, AHeaderLongerThanAStringHoldsIsOutOfMemory) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "only a 32-bit string has a limit a record can pass";
  Rig rig;
  rig.create();
  rig.openOutput();
  rig.openInput();
  hostkit::Buffer* inner;
  {
    Heap::Exempt exempt;
    inner = rig.ledger.formatRecord("SUB ", "[Events]", hostkit::Holder::Component);
  }
  ExemptBuffer& record = rig.wrap(inner);
  record.payloadSize = 0x40000000u;
  FLM::TypedValue value = hostkit::objectValue(&record);
  EXPECT_THROW(rig.in->streamMessage(FLM::MsgFormat, &value), std::bad_alloc);
  EXPECT_EQ(inner->holder(), hostkit::Holder::Component) << "the record stays held";
  expectFlushFromAnotherThread(rig.out);
  ASSERT_NO_FATAL_FAILURE(expectWorking(rig));
  rig.release();
  EXPECT_TRUE(testing_support::LedgerClean(rig.ledger));
}

// A sample whose payload is a mapping of zero pages: half the 32-bit address
// space that takes no memory until it is written.
class MappedSample final : public FLM::MediaBuffer {
 public:
  explicit MappedSample(std::size_t size) : size(size) {
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    bytes = at == MAP_FAILED ? nullptr : static_cast<char*>(at);
    payloadSize = static_cast<std::uint32_t>(size);
  }
  ~MappedSample() override {
    if (bytes != nullptr) munmap(bytes, size);
  }
  void release() override { ++releases; }
  void* lockPayload() override {
    ++locks;
    return bytes;
  }
  void unlockPayload() override { ++unlocks; }

  const std::size_t size;
  char* bytes;
  int releases = 0;
  int locks = 0;
  int unlocks = 0;
};

// Twice a Text field of 2 GiB is more than a 32-bit size counts: the room
// for its markup must not wrap round to a few bytes.
TEST(OutOfMemoryTest, ATextOfHalfTheAddressSpaceIsOutOfMemory) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "only a 32-bit size can wrap on a text in memory";
  MappedSample sample(0x80000100u);
  if (sample.bytes == nullptr) GTEST_SKIP() << "no 2 GiB of address space free for the sample";
  // Text from the first "x" to the last, which the trim stops at.
  const std::string line = dialogue("Default", "x");
  std::memcpy(sample.bytes, line.data(), line.size());
  sample.bytes[sample.size - 1] = 'x';
  Rig rig;
  rig.create();
  rig.openOutput();
  rig.openInput();
  ASSERT_TRUE(rig.sendHeader(kWorkedHeader));
  FLM::TypedValue value = hostkit::objectValue(&sample);
  EXPECT_THROW(rig.in->streamMessage(FLM::MsgSample, &value), std::bad_alloc);
  EXPECT_EQ(sample.releases, 0) << "held after the failure";
  expectFlushFromAnotherThread(rig.out);
  EXPECT_EQ(sample.releases, 1);
  EXPECT_EQ(sample.locks, sample.unlocks);
  EXPECT_TRUE(rig.sink.outputs.empty());
  ASSERT_NO_FATAL_FAILURE(expectWorking(rig));
  rig.release();
  EXPECT_TRUE(testing_support::LedgerClean(rig.ledger));
}

// A conversion that fails keeps its sample held; the next sample, a flush
// or teardown releases it, exactly once.
void conversionRows(bool withHeader) {
  const auto prepare = [withHeader](Rig& rig) {
    rig.create();
    rig.openOutput();
    rig.openInput();
    if (withHeader) {
      ASSERT_TRUE(rig.sendHeader(kWorkedHeader));
    }
  };
  const auto convert = [](Rig& rig) {
    rig.sink.outputs.clear();
    EXPECT_TRUE(rig.sendSample(kBusyLine));
    EXPECT_EQ(rig.sink.outputs.size(), 1u);
  };
  const auto heldSample = [](Rig& rig) -> hostkit::Buffer& {
    EXPECT_EQ(rig.lastSample->holder(), hostkit::Holder::Component) << "held after the failure";
    return *rig.lastSample;
  };
  const char* label = withHeader ? "conversion" : "conversion without a header";
  runRow({label, false, prepare, convert, [&](Rig& rig) {
            hostkit::Buffer& sample = heldSample(rig);
            expectFlushFromAnotherThread(rig.out);
            EXPECT_EQ(sample.holder(), hostkit::Holder::Released) << "released by the flush";
          }});
  runRow({label, false, prepare, convert, [&](Rig& rig) {
            hostkit::Buffer& sample = heldSample(rig);
            rig.sendSample("Comment: next");
            EXPECT_EQ(sample.holder(), hostkit::Holder::Released) << "released by the next sample";
          }});
  runRow({label, false, prepare, convert, [&](Rig& rig) {
            heldSample(rig);
            rig.release();  // teardown releases it; the ledger is checked after
          }});
}

TEST(OutOfMemoryTest, ConversionKeepsTheSampleUntilTheNextReleasePoint) { conversionRows(true); }

TEST(OutOfMemoryTest, ConversionWithoutAHeaderToo) { conversionRows(false); }

TEST(OutOfMemoryTest, TeardownAlwaysCompletes) {
  runRow({"teardown", true,
          [](Rig& rig) {
            rig.create();
            rig.openOutput();
            rig.openInput();
            rig.sendHeader(kWorkedHeader);
            hostkit::Buffer* held = rig.sampleBuffer("Dialogue: no payload, so it stays held");
            held->setHasPayload(false);
            rig.sendSample(held);
          },
          [](Rig& rig) {
            FLM::Plugin* const plugin = rig.plugin;
            rig.plugin = nullptr;
            plugin->release();  // never throws: teardown gets over its failures
            EXPECT_EQ(rig.pluginHost.events.size(), 2u);
          },
          nullptr});
}

}  // namespace
