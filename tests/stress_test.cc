// Samples on one thread while a second one flushes, rewires and questions the
// component; downstream peers that call back into it on the thread that holds
// its lock. Built for ThreadSanitizer (preset tsan) and run in every preset.
// Each run is bounded in count and in time, and a watchdog fails it on a
// deadlock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/harness.h"

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::dialogue;
using testing_support::Harness;
using testing_support::LedgerClean;

constexpr int kSamples = 20000;
constexpr auto kStreamBudget = std::chrono::seconds(15);  // then the stream stops early
constexpr auto kDeadlock = std::chrono::seconds(240);     // the watchdog's limit

// Ends the process when the test has not finished in time: a deadlocked
// thread cannot be joined, so failing the assertion is not enough.
class Watchdog {
 public:
  explicit Watchdog(Clock::duration limit)
      : thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!finished_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: the stress test did not finish in time: deadlock\n");
            std::fflush(stderr);
            std::_Exit(1);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    finished_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
  std::thread thread_;
};

// The worked header with enough styles that a parse holds the lock a while,
// and the lines the stream cycles through with their markup ("" for none).
struct Line {
  std::string bytes;
  std::string markup;
  bool hasPayload = true;
};

std::string stressHeader() {
  std::string header = testing_support::kWorkedHeader;
  const std::string styles = "[V4+ Styles]\n";
  std::string extra;
  for (int i = 0; i < 2000; ++i)
    extra += "Style: Extra" + std::to_string(i) + ",Arial,20,255,0,1\n";
  header.insert(
      header.find(styles) + styles.size() +
          std::string("Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\n").size(),
      extra);
  return header;
}

std::vector<Line> streamLines() {
  const std::string& open = testing_support::kDefaultOpen;
  const std::string& close = testing_support::kDefaultClose;
  return {
      {dialogue("Default", "Hello, world"), open + "Hello, world" + close},
      {dialogue("Default", "{\\i1}word{\\i0}"), open + "<i>word</i>" + close},
      {dialogue("Extra1999", "last{\\b1}"),
       "<font face=\"Arial\" size=\"-1\" color=\"#FF0000\"><i>last<b></i></font>"},
      {dialogue("Other", "a\\Nb"), "a\nb"},
      {"Comment: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,quiet", ""},
      {dialogue("Default", "held"), "", false},  // no payload: stays held
      {"Dialogue", ""},
  };
}

// A downstream peer that two threads may call at once: the stream thread
// hands it output samples, the control thread's MsgStreamParams is
// forwarded to it. Each output is checked against the line it came from.
class SharedSink final : public FLM::PortInterface {
 public:
  explicit SharedSink(const std::vector<Line>& lines) : lines_(lines) {}

  bool acceptMessage(std::uint32_t, FLM::TypedValue*) override { return true; }
  bool controlMessage(std::uint32_t, FLM::TypedValue*) override {
    problem("control message sent downstream");
    return true;
  }
  bool queryMessage(std::uint32_t, FLM::TypedValue*) override {
    problem("query message sent downstream");
    return false;
  }
  bool streamMessage(std::uint32_t id, FLM::TypedValue* value) override {
    if (id != FLM::MsgSample) {
      forwarded.fetch_add(1);
      return true;
    }
    if (value == nullptr || value->type != FLM::TypeObject || value->payload.object == nullptr) {
      problem("output sample message without a sample");
      return true;
    }
    auto* buffer =
        static_cast<hostkit::Buffer*>(static_cast<FLM::MediaBuffer*>(value->payload.object));
    buffer->handTo(hostkit::Holder::Peer);
    const std::uint32_t index = buffer->passThrough[0];
    const std::string expected = lines_[index % lines_.size()].markup + std::string(1, '\0');
    if (buffer->payloadSize != expected.size() || buffer->payload() != expected) {
      problem("output of sample " + std::to_string(index) + " is not its markup");
    }
    buffer->releaseAs(hostkit::Holder::Peer);
    outputs.fetch_add(1);
    if (onOutput) onOutput();
    return true;
  }

  std::vector<std::string> problems() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return problems_;
  }

  std::atomic<int> outputs{0};
  std::atomic<int> forwarded{0};
  std::function<void()> onOutput;  // set before the threads start

 private:
  void problem(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    problems_.push_back(std::move(text));
  }

  const std::vector<Line>& lines_;
  mutable std::mutex mutex_;
  std::vector<std::string> problems_;
};

// Sample i of the cycle, carrying i so the peer can check its markup.
void sendLine(Harness& module, const std::vector<Line>& lines, int i) {
  const Line& line = lines[static_cast<std::size_t>(i) % lines.size()];
  hostkit::Buffer* sample = module.ledger.sample(line.bytes, hostkit::Holder::Component);
  sample->setHasPayload(line.hasPayload);
  sample->passThrough[0] = static_cast<std::uint32_t>(i);
  FLM::TypedValue value = hostkit::objectValue(sample);
  module.in->streamMessage(FLM::MsgSample, &value);
}

TEST(StressTest, SamplesAgainstControlMessagesAndCallingBackPeers) {
  Watchdog watchdog(kDeadlock);
  const std::vector<Line> lines = streamLines();
  Harness module;
  module.open();
  SharedSink sinks[2] = {SharedSink(lines), SharedSink(lines)};
  hostkit::LedgerAllocator spare(module.ledger);
  FLM::TypedValue peer = hostkit::objectValue(&sinks[0]);
  ASSERT_TRUE(module.out->controlMessage(FLM::MsgConnect, &peer));

  // Each peer calls back on the stream thread, inside the hand-off, with the
  // component lock held: a flush, a nested sample, a property read.
  std::atomic<int> nested{0};
  int callbacks = 0;
  int depth = 0;
  for (SharedSink& sink : sinks) {
    sink.onOutput = [&] {
      if (depth > 0) return;
      ++depth;
      switch (++callbacks % 5) {
        case 0:
          EXPECT_TRUE(module.out->controlMessage(FLM::MsgFlush, nullptr));
          break;
        case 1: {
          hostkit::Buffer* sample =
              module.ledger.sample(lines[0].bytes, hostkit::Holder::Component);
          sample->passThrough[0] = 0;
          FLM::TypedValue value = hostkit::objectValue(sample);
          module.in->streamMessage(FLM::MsgSample, &value);
          nested.fetch_add(1);
          break;
        }
        case 2: {
          FLM::TypedValue value{};
          EXPECT_TRUE(module.component->getProperty("Type", &value));
          break;
        }
        default:
          break;
      }
      --depth;
    };
  }

  std::atomic<bool> streaming{true};
  std::atomic<int> sent{0};
  std::thread stream([&] {
    const std::string header = stressHeader();
    EXPECT_TRUE(module.sendHeader(header));
    const Clock::time_point stop = Clock::now() + kStreamBudget;
    for (int i = 0; i < kSamples && Clock::now() < stop; ++i) {
      sendLine(module, lines, i);
      sent.fetch_add(1);
    }
    streaming.store(false);
  });

  // The control thread: everything the host may send from another thread
  // while samples flow, round and round until the stream is done.
  std::thread control([&] {
    FLM::StreamParameters parameters{};
    for (std::uint32_t round = 0; streaming.load(); ++round) {
      switch (round % 8) {
        case 0:
          EXPECT_TRUE(module.out->controlMessage(FLM::MsgFlush, nullptr));
          break;
        case 1: {
          FLM::TypedValue value = hostkit::objectValue(&sinks[round / 8 % 2]);
          EXPECT_TRUE(module.out->controlMessage(FLM::MsgConnect, &value));
          break;
        }
        case 2: {
          // Now and then no allocator at all: those samples are refused and held.
          void* allocators[] = {&module.allocator, &spare, &module.allocator, nullptr};
          FLM::TypedValue value = hostkit::objectValue(allocators[round / 8 % 4]);
          EXPECT_TRUE(module.out->controlMessage(FLM::MsgAllocator, &value));
          break;
        }
        case 3: {
          parameters = FLM::StreamParameters{0, {round, ~round}};
          FLM::TypedValue value = hostkit::objectValue(&parameters);
          module.in->streamMessage(FLM::MsgStreamParams, &value);
          break;
        }
        case 4: {
          FLM::TypedValue value = hostkit::objectValue(&module.source);
          EXPECT_TRUE(module.in->controlMessage(FLM::MsgConnect, &value));
          break;
        }
        case 5: {
          FLM::TypedValue name{};
          EXPECT_TRUE(module.component->getProperty("Name", &name));
          FLM::TypedValue format{};
          format.type = FLM::TypeFourCC;
          EXPECT_TRUE(module.component->getProperty("InputFormat", &format));
          EXPECT_EQ(std::string(reinterpret_cast<const char*>(format.payload.bytes), 3), "ASS");
          break;
        }
        case 6: {
          std::vector<const char*> names;
          EXPECT_TRUE(module.component->getPropertyNames(&names));
          EXPECT_EQ(names.size(), 4u);
          break;
        }
        default: {
          void* found = nullptr;
          EXPECT_EQ(module.plugin->queryInterface(&FLM::IdInterfaceComponent, &found), 0);
          std::this_thread::yield();
          break;
        }
      }
    }
  });

  stream.join();
  control.join();
  FLM::TypedValue allocator = hostkit::objectValue(&module.allocator);
  ASSERT_TRUE(module.out->controlMessage(FLM::MsgAllocator, &allocator));
  // The control thread may have left no allocator for the whole stream (it
  // can be kept off the processor that long); with one back, a dialogue line
  // must come through, whatever happened to those before it.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].markup.empty() || !lines[i].hasPayload) continue;
    module.sendSample(lines[i].bytes, static_cast<std::uint32_t>(i));  // its index, as above
    sent.fetch_add(1);
    break;
  }
  // The last sample of the cycle has no payload and may still be held.
  EXPECT_LE(module.ledger.counts().live, 2u) << module.ledger.summary();

  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
  EXPECT_TRUE(module.sink.problems.empty());
  for (const SharedSink& sink : sinks) {
    for (const std::string& problem : sink.problems()) ADD_FAILURE() << problem;
  }
  const int outputs = sinks[0].outputs.load() + sinks[1].outputs.load();
  EXPECT_GT(outputs, 0);
  EXPECT_LE(outputs, sent.load() + nested.load());
  EXPECT_EQ(module.source.calls, 0);
}

// Flushes from another thread while the stream thread parses headers and
// converts: each flush has to wait for the lock and must never see a sample
// released twice or a table half built.
TEST(StressTest, FlushesAgainstHeaderParsesAndConversions) {
  Watchdog watchdog(kDeadlock);
  const std::vector<Line> lines = streamLines();
  Harness module;
  module.open();
  SharedSink sink(lines);
  FLM::TypedValue peer = hostkit::objectValue(&sink);
  ASSERT_TRUE(module.out->controlMessage(FLM::MsgConnect, &peer));

  const std::string header = stressHeader();
  const Clock::time_point stop = Clock::now() + kStreamBudget;
  std::atomic<int> flushes{0};
  // Each round takes the header again on a reopened input port. Ports are
  // managed between rounds, while no message is under way, as a host does.
  for (int round = 0; round < 20 && Clock::now() < stop; ++round) {
    std::atomic<bool> streaming{true};
    const int flushesBefore = flushes.load();
    std::thread flusher([&] {
      while (streaming.load()) {
        EXPECT_TRUE(module.out->controlMessage(FLM::MsgFlush, nullptr));
        ++flushes;
      }
    });
    EXPECT_TRUE(module.sendHeader(header));
    for (int i = 0; i < kSamples / 40; ++i) {
      sendLine(module, lines, i);
    }
    // On a loaded machine the round can end before the flusher has run.
    while (flushes.load() == flushesBefore) std::this_thread::yield();
    streaming.store(false);
    flusher.join();
    ASSERT_TRUE(module.outputSide->disconnectUpstream(module.in));
    module.in = module.outputSide->connectUpstream(1, "ASS", 0);
    ASSERT_NE(module.in, nullptr);
  }

  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
  for (const std::string& problem : sink.problems()) ADD_FAILURE() << problem;
  EXPECT_GT(sink.outputs.load(), 0);
  EXPECT_GT(flushes.load(), 0);
}

// A flush from another thread returns only after the conversion that holds
// the lock has handed its output over: the peer holds the stream thread in
// the hand-off until the flush has been sent, then gives it time to finish
// too early.
TEST(StressTest, FlushFromAnotherThreadWaitsForTheHandOff) {
  Watchdog watchdog(kDeadlock);
  Harness module;
  module.open();
  ASSERT_TRUE(module.sendHeader(testing_support::kWorkedHeader));
  std::promise<void> flushSent;
  std::atomic<bool> flushed{false};
  bool flushedDuringHandOff = true;
  std::thread flusher;
  module.sink.onOutput = [&](const hostkit::ReceivedSample&) {
    flusher = std::thread([&] {
      flushSent.set_value();
      EXPECT_TRUE(module.out->controlMessage(FLM::MsgFlush, nullptr));
      flushed.store(true);
    });
    flushSent.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    flushedDuringHandOff = flushed.load();
  };
  EXPECT_TRUE(module.sendSample(dialogue("Default", "hold on")));
  flusher.join();
  EXPECT_FALSE(flushedDuringHandOff);
  EXPECT_TRUE(flushed.load());
  module.releasePlugin();
  EXPECT_TRUE(LedgerClean(module.ledger));
}

}  // namespace
