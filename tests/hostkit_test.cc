// The accounting host objects on their own: the ledger must catch every
// misuse of a buffer, or the tests that rely on it prove nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "hostkit/ledger.h"

namespace {

using hostkit::Buffer;
using hostkit::Holder;
using hostkit::Ledger;
using hostkit::LedgerThreads;

struct MisuseRow {
  const char* what;
  std::function<void(Ledger&)> misuse;
  const char* report;  // a piece of what clean() and summary() must say
};

TEST(LedgerTest, ReportsEveryMisuse) {
  const MisuseRow rows[] = {
      {"released twice",
       [](Ledger& ledger) {
         Buffer* buffer = ledger.sample("x", Holder::Component);
         buffer->release();
         buffer->release();
       },
       "released twice"},
      {"released by a party that does not hold it",
       [](Ledger& ledger) { ledger.sample("x", Holder::Host)->release(); },
       "released by the component while held by the host"},
      {"released with its payload locked",
       [](Ledger& ledger) {
         Buffer* buffer = ledger.sample("x", Holder::Component);
         buffer->lockPayload();
         buffer->release();
       },
       "released with its payload locked"},
      {"unlocked without a lock",
       [](Ledger& ledger) {
         Buffer* buffer = ledger.sample("x", Holder::Component);
         buffer->unlockPayload();
         buffer->release();
       },
       "unlocked without a lock"},
      {"never released", [](Ledger& ledger) { ledger.sample("x", Holder::Component); },
       "never released (held by the component)"},
      {"locked after its release",
       [](Ledger& ledger) {
         Buffer* buffer = ledger.sample("x", Holder::Component);
         buffer->release();
         buffer->lockPayload();
       },
       "locked after its release"},
  };
  // A ledger for one thread takes no lock; it must see all the same.
  for (const LedgerThreads threads : {LedgerThreads::Any, LedgerThreads::One}) {
    for (const MisuseRow& row : rows) {
      Ledger ledger(threads);
      row.misuse(ledger);
      EXPECT_FALSE(ledger.clean()) << row.what;
      EXPECT_NE(ledger.summary().find(row.report), std::string::npos) << row.what << ":\n"
                                                                      << ledger.summary();
    }
  }
}

// A summary names the first few buffers and problems and counts the rest: a
// plug-in that keeps every sample would otherwise fill a screen a line.
TEST(LedgerTest, ASummaryNamesTheFirstFewAndCountsTheRest) {
  Ledger ledger(LedgerThreads::One);
  for (int i = 0; i < 30; ++i) ledger.sample("kept", Holder::Component);
  for (int i = 0; i < 15; ++i) {
    Buffer* buffer = ledger.sample("twice", Holder::Component);
    buffer->release();
    buffer->release();
  }
  const std::string summary = ledger.summary();
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 22) << summary;
  EXPECT_NE(summary.find("live 30,"), std::string::npos) << summary;
  EXPECT_NE(summary.find("buffer #10 never released"), std::string::npos) << summary;
  EXPECT_EQ(summary.find("buffer #11 never released"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\n  ... and 20 more never released\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\n  ... and 5 more problems"), std::string::npos) << summary;
}

// A ledger for one thread refuses every buffer call from another thread,
// reports it, and is left as it was; one for any thread takes them.
TEST(LedgerTest, AOneThreadLedgerRefusesOtherThreads) {
  const std::function<void(Ledger&, Buffer*)> calls[] = {
      [](Ledger&, Buffer* buffer) { buffer->release(); },
      [](Ledger&, Buffer* buffer) { EXPECT_EQ(buffer->lockPayload(), nullptr); },
      [](Ledger&, Buffer* buffer) { buffer->unlockPayload(); },
      [](Ledger&, Buffer* buffer) { buffer->handTo(Holder::Peer); },
      [](Ledger&, Buffer* buffer) { buffer->releaseAs(Holder::Component); },
      [](Ledger& ledger, Buffer*) { EXPECT_EQ(ledger.blank(4, Holder::Component), nullptr); },
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    Ledger ledger(LedgerThreads::One);
    Buffer* buffer = ledger.sample("x", Holder::Component);
    std::thread([&] { calls[i](ledger, buffer); }).join();
    EXPECT_EQ(buffer->holder(), Holder::Component) << "call " << i;
    EXPECT_EQ(buffer->lockDepth(), 0) << "call " << i;
    EXPECT_EQ(ledger.counts().made, 1u) << "call " << i;
    buffer->release();
    EXPECT_FALSE(ledger.clean()) << "call " << i;
    EXPECT_NE(ledger.summary().find("1 buffer calls from a thread other than the ledger's own"),
              std::string::npos)
        << "call " << i << ":\n"
        << ledger.summary();
  }
  Ledger shared(LedgerThreads::Any);
  Buffer* buffer = shared.sample("x", Holder::Component);
  std::thread([&] {
    ASSERT_NE(buffer->lockPayload(), nullptr);
    buffer->unlockPayload();
    buffer->release();
  }).join();
  EXPECT_TRUE(shared.clean()) << shared.summary();
}

// A one-thread ledger counts without atomics and takes no lock; its counts
// must be those of a ledger for any thread.
TEST(LedgerTest, ABufferUsedByTheRulesLeavesItClean) {
  for (const LedgerThreads threads : {LedgerThreads::Any, LedgerThreads::One}) {
    Ledger ledger(threads);
    Buffer* buffer = ledger.sample("Dialogue: x", Holder::Component);
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(buffer->lockPayload(), static_cast<const void*>(buffer->payload().data()));
      buffer->unlockPayload();
    }
    buffer->handTo(Holder::Peer);
    buffer->releaseAs(Holder::Peer);
    EXPECT_TRUE(ledger.clean()) << ledger.summary();
    const Ledger::Counts counts = ledger.counts();
    EXPECT_EQ(counts.made, 1u);
    EXPECT_EQ(counts.released, 1u);
    EXPECT_EQ(counts.live, 0u);
    EXPECT_EQ(counts.locks, 3u);
    EXPECT_EQ(counts.unlocks, 3u);
  }
}

// A released buffer is made again only after 256 later releases, so that a
// late second release finds it released instead of in use; it comes back
// with its payload as asked, however large it was before.
TEST(LedgerTest, ReleasedBuffersWaitBeforeTheyAreReused) {
  for (const LedgerThreads threads : {LedgerThreads::Any, LedgerThreads::One}) {
    Ledger ledger(threads);
    Buffer* first = ledger.sample(std::string(1000, 'a'), Holder::Component);
    first->release();
    for (int i = 0; i < 256; ++i) {
      Buffer* other = ledger.sample("b", Holder::Component);
      EXPECT_NE(other, first) << "after " << i << " later releases";
      other->release();
      if (i == 254) {
        first->release();  // still in quarantine: a second release, reported
        EXPECT_NE(ledger.summary().find("released twice"), std::string::npos);
      }
    }
    Buffer* again = ledger.sample("cd", Holder::Host);
    EXPECT_EQ(again, first);
    EXPECT_EQ(again->payload(), "cd");
    EXPECT_EQ(again->madeSize(), 2u);
    again->releaseAs(Holder::Host);
    EXPECT_EQ(ledger.counts().live, 0u);
  }
}

// A buffer whose payload is empty answers an address, as hosts do, but one
// that stops a stray write instead of letting it land in the host's memory.
TEST(LedgerDeathTest, AnEmptyPayloadCannotBeWritten) {
  Ledger ledger;
  Buffer* buffer = ledger.sample("", Holder::Component);
  void* const payload = buffer->lockPayload();
  ASSERT_NE(payload, nullptr);
  EXPECT_NE(payload, static_cast<void*>(buffer));
  EXPECT_DEATH(*static_cast<volatile char*>(payload) = 'x', "");
  buffer->unlockPayload();
  buffer->release();
  EXPECT_TRUE(ledger.clean()) << ledger.summary();
}

}  // namespace
