// A host that calls back into the component on the same thread, from inside
// the calls the component makes into it: the downstream peer, the sample
// allocator and the buffers themselves. Whatever the host sends in there, the
// component never touches a buffer it has let go, never hands on markup that
// a nested conversion replaced, and releases every buffer once.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/harness.h"

namespace {

using testing_support::dialogue;
using testing_support::Harness;
using testing_support::kWorkedHeader;
using testing_support::LedgerClean;
using Call = hostkit::Ledger::Call;

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

// Which buffer a row's hook waits for.
enum class Target { Input, Output, Format };

Target targetOf(const hostkit::Buffer& buffer) {
  if (buffer.formatIdentifierLength == 4) return Target::Format;
  return buffer.payload().substr(0, 9) == "Dialogue:" ? Target::Input : Target::Output;
}

// What the host sends in from inside its buffer.
enum class Action {
  Flush,
  Sample,
  EmptySample,     // a sample without a payload, which stays held
  SampleRunsOut,   // a sample whose output the allocator has no memory for
  CloseInput,
};

// The lines of the buffer rows: the nested one is long enough that
// converting it moves the converter's buffer, where the outer markup lived.
const std::string kOuterText = "outer";
const std::string kNestedText = "nested " + std::string(4000, 'n');

void sendEmptySample(Harness& module) {
  hostkit::Buffer* empty = module.ledger.sample("Dialogue: x", hostkit::Holder::Component);
  empty->setHasPayload(false);
  FLM::TypedValue value = hostkit::objectValue(empty);
  EXPECT_TRUE(module.stream(FLM::MsgSample, &value));
}

void act(Harness& module, Action action) {
  switch (action) {
    case Action::Flush:
      EXPECT_TRUE(module.control(module.out, FLM::MsgFlush, nullptr));
      break;
    case Action::Sample:
      module.sendSample(dialogue("Other", kNestedText), 5, 6);
      break;
    case Action::EmptySample:
      sendEmptySample(module);
      break;
    case Action::SampleRunsOut:
      module.allocator.onAllocate = [] { throw std::bad_alloc(); };
      module.sendSample(dialogue("Other", kNestedText), 5, 6);
      break;
    case Action::CloseInput:
      module.outputSide->disconnectUpstream(module.in);
      break;
  }
}

TEST(ReentrantBufferTest, MessagesFromInsideAPayloadCallOrARelease) {
  enum class Answer { False, True, Throws };
  struct Row {
    const char* name;
    Target target;
    Call call;
    int nth;  // the call on that buffer (1 = the first) that sends the message in
    Action action;
    Answer answer;                     // to the outer line
    std::vector<std::string> markups;  // what reaches the peer, in order
    int allocations;                   // output samples asked for
    std::uint64_t live;                // buffers held afterwards, the record included
  };
  const std::string outer = kOuterText;
  const std::string nested = kNestedText;
  // The input sample is locked three times: the component's probe, the
  // prefix test and the conversion; the output once. The outer line stops
  // at the first call after the one that let it go.
  const Row rows[] = {
      {"probe lock, flush", Target::Input, Call::Lock, 1, Action::Flush, Answer::False, {}, 0, 1},
      {"probe unlock, sample", Target::Input, Call::Unlock, 1, Action::Sample, Answer::False,
       {nested}, 1, 1},
      {"probe unlock, empty sample", Target::Input, Call::Unlock, 1, Action::EmptySample,
       Answer::False, {}, 0, 2},
      {"prefix lock, flush", Target::Input, Call::Lock, 2, Action::Flush, Answer::False, {}, 0, 1},
      {"prefix lock, sample", Target::Input, Call::Lock, 2, Action::Sample, Answer::False,
       {nested}, 1, 1},
      {"prefix lock, sample out of memory", Target::Input, Call::Lock, 2, Action::SampleRunsOut,
       Answer::Throws, {}, 1, 2},
      {"prefix unlock, sample", Target::Input, Call::Unlock, 2, Action::Sample, Answer::False,
       {nested}, 1, 1},
      {"conversion lock, sample", Target::Input, Call::Lock, 3, Action::Sample, Answer::False,
       {nested}, 1, 1},
      {"conversion unlock, sample", Target::Input, Call::Unlock, 3, Action::Sample,
       Answer::False, {nested}, 1, 1},
      {"conversion unlock, flush", Target::Input, Call::Unlock, 3, Action::Flush, Answer::False,
       {}, 0, 1},
      {"output lock, sample", Target::Output, Call::Lock, 1, Action::Sample, Answer::False,
       {nested}, 2, 1},
      {"output lock, flush", Target::Output, Call::Lock, 1, Action::Flush, Answer::False, {}, 1, 1},
      {"output unlock, sample", Target::Output, Call::Unlock, 1, Action::Sample, Answer::False,
       {nested}, 2, 1},
      {"output unlock, flush", Target::Output, Call::Unlock, 1, Action::Flush, Answer::False,
       {}, 1, 1},
      {"input release, empty sample", Target::Input, Call::Release, 1, Action::EmptySample,
       Answer::True, {outer}, 1, 2},
      {"input release, sample", Target::Input, Call::Release, 1, Action::Sample, Answer::True,
       {outer, nested}, 2, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Harness module;
    module.open();
    ASSERT_TRUE(module.sendHeader(kWorkedHeader));
    int seen = 0;
    bool fired = false;
    module.ledger.onModuleCall = [&](hostkit::Buffer& buffer, Call call) {
      if (fired || call != row.call || targetOf(buffer) != row.target) return;
      if (buffer.payload().find(kNestedText) != std::string::npos) return;
      if (++seen < row.nth) return;
      fired = true;
      act(module, row.action);
    };
    Answer answer = Answer::Throws;
    try {
      answer = module.sendSample(dialogue("Other", kOuterText), 1, 2) ? Answer::True
                                                                       : Answer::False;
    } catch (const std::bad_alloc&) {
    }
    EXPECT_TRUE(fired);
    module.ledger.onModuleCall = nullptr;
    module.allocator.onAllocate = nullptr;
    EXPECT_EQ(answer, row.answer);
    EXPECT_EQ(module.markups(), row.markups);
    EXPECT_EQ(module.allocator.calls, row.allocations);
    EXPECT_EQ(module.ledger.counts().live, row.live);
    EXPECT_TRUE(module.ledger.problems().empty()) << module.ledger.summary();
    // And the component still converts.
    EXPECT_TRUE(module.sendSample(dialogue("Other", "after")));
    ASSERT_FALSE(module.markups().empty());
    EXPECT_EQ(module.markups().back(), "after");
    module.releasePlugin();
    EXPECT_TRUE(LedgerClean(module.ledger));
  }
}

// The format record's payload calls: a disconnect of the input port from
// inside lets the record go before its header has been read.
TEST(ReentrantBufferTest, CloseInputFromInsideTheHeaderRead) {
  for (const Call call : {Call::Lock, Call::Unlock}) {
    SCOPED_TRACE(call == Call::Lock ? "lock" : "unlock");
    Harness module;
    module.open();
    bool fired = false;
    module.ledger.onModuleCall = [&](hostkit::Buffer& buffer, Call made) {
      if (fired || made != call || targetOf(buffer) != Target::Format) return;
      fired = true;
      act(module, Action::CloseInput);
    };
    EXPECT_FALSE(module.sendHeader(kWorkedHeader));
    EXPECT_TRUE(fired);
    module.ledger.onModuleCall = nullptr;
    EXPECT_TRUE(module.ledger.problems().empty()) << module.ledger.summary();
    module.releasePlugin();
    EXPECT_TRUE(LedgerClean(module.ledger));
  }
}

// A held sample (no payload) whose release sends the next one in, as a pool
// that refills on return does: the arriving sample and the one sent in are
// each held or released, never overwritten, also at teardown.
TEST(ReentrantBufferTest, ASampleSentInFromTheReleaseOfTheHeldOne) {
  for (const bool atTeardown : {false, true}) {
    SCOPED_TRACE(atTeardown ? "teardown" : "next sample");
    Harness module;
    module.open();
    ASSERT_TRUE(module.sendHeader(kWorkedHeader));
    sendEmptySample(module);
    int refills = 0;
    module.ledger.onModuleCall = [&](hostkit::Buffer& buffer, Call call) {
      if (call != Call::Release || targetOf(buffer) != Target::Input || refills == 2) return;
      ++refills;
      sendEmptySample(module);
    };
    if (!atTeardown) {
      sendEmptySample(module);
      EXPECT_EQ(refills, 2);
      EXPECT_EQ(module.ledger.counts().live, 2u) << "the record and the last sample";
      module.releasePlugin();
    } else {
      // The last reference goes with the ports open, so that they still
      // take what the releases send in.
      EXPECT_EQ(module.plugin->release(), 0);
      module.plugin = nullptr;
      module.in = module.out = nullptr;
    }
    EXPECT_EQ(refills, 2);
    module.ledger.onModuleCall = nullptr;
    EXPECT_TRUE(LedgerClean(module.ledger));
  }
}

// A buffer that counts its references, as a host does that may send the
// same buffer in twice, each time with a reference of its own.
class CountedBuffer final : public FLM::MediaBuffer {
 public:
  explicit CountedBuffer(std::string bytes) : text(std::move(bytes)) {
    payloadSize = static_cast<std::uint32_t>(text.size());
    passThrough[0] = passThrough[1] = 0;
    formatIdentifierLength = 0;
    streamParams[0] = streamParams[1] = 0;
  }
  void release() override {
    if (locks != 0) ++releasedLocked;
    --references;
  }
  void* lockPayload() override {
    ++locks;
    if (onLock) onLock(++lockCalls);
    return text.data();
  }
  void unlockPayload() override { --locks; }

  std::string text;
  int references = 0;
  int locks = 0;
  int lockCalls = 0;
  int releasedLocked = 0;
  std::function<void(int call)> onLock;
};

// The same buffer sent again from inside its own prefix test: each drop owes
// one release, and none is given while an outer scope has the payload locked.
TEST(ReentrantBufferTest, OneBufferSentInTwice) {
  for (const bool flushInside : {false, true}) {
    SCOPED_TRACE(flushInside ? "flushed from the second one's lock" : "converted twice");
    Harness module;
    module.open();
    ASSERT_TRUE(module.sendHeader(kWorkedHeader));
    CountedBuffer buffer(dialogue("Other", "twice"));
    const auto send = [&] {
      ++buffer.references;
      FLM::TypedValue value = hostkit::objectValue(&buffer);
      return module.stream(FLM::MsgSample, &value);
    };
    buffer.onLock = [&](int call) {
      if (call == 2) send();  // the prefix test of the first
      if (call == 3 && flushInside) module.control(module.out, FLM::MsgFlush, nullptr);
    };
    send();
    EXPECT_EQ(buffer.references, 0);
    EXPECT_EQ(buffer.locks, 0);
    EXPECT_EQ(buffer.releasedLocked, 0);
    EXPECT_EQ(module.markups(), flushInside ? std::vector<std::string>{}
                                            : std::vector<std::string>{"twice"});
    module.releasePlugin();
    EXPECT_TRUE(LedgerClean(module.ledger));
  }
}

// A peer that sends every stream message it is given back to the input
// port, each time in a value of its own: the loop guard cannot know the
// value again, so the depth ends it.
class EchoPort final : public FLM::PortInterface {
 public:
  explicit EchoPort(FLM::PortInterface* input) : input(input) {}
  bool acceptMessage(std::uint32_t, FLM::TypedValue*) override { return true; }
  bool controlMessage(std::uint32_t, FLM::TypedValue*) override { return true; }
  bool queryMessage(std::uint32_t, FLM::TypedValue*) override { return false; }
  bool streamMessage(std::uint32_t id, FLM::TypedValue* value) override {
    ++calls;
    FLM::TypedValue copy = *value;
    return input->streamMessage(id, &copy);
  }
  FLM::PortInterface* const input;
  int calls = 0;
};

TEST(ReentrantPeerTest, ForwardsRoundALoopInCopiedValuesStop) {
  Harness module;
  module.open();
  ASSERT_TRUE(module.sendHeader(kWorkedHeader));
  EchoPort echo(module.in);
  FLM::TypedValue peer = hostkit::objectValue(&echo);
  ASSERT_TRUE(module.control(module.out, FLM::MsgConnect, &peer));
  FLM::StreamParameters parameters{};
  FLM::TypedValue value = hostkit::objectValue(&parameters);
  EXPECT_FALSE(module.stream(FLM::MsgStreamParams, &value));
  EXPECT_GE(echo.calls, 2);
  EXPECT_LE(echo.calls, 100);
  // A second "SUB " record goes the same way.
  hostkit::Buffer* record = module.ledger.formatRecord("SUB ", kWorkedHeader);
  FLM::TypedValue format = hostkit::objectValue(record);
  echo.calls = 0;
  EXPECT_FALSE(module.stream(FLM::MsgFormat, &format));
  EXPECT_LE(echo.calls, 100);
  record->returnToHost();
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

}  // namespace
