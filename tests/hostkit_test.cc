// The accounting host objects on their own: the ledger must catch every
// misuse of a buffer, or the tests that rely on it prove nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "hostkit/ledger.h"

namespace {

using hostkit::Buffer;
using hostkit::Holder;
using hostkit::Ledger;

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
  for (const MisuseRow& row : rows) {
    Ledger ledger;
    row.misuse(ledger);
    EXPECT_FALSE(ledger.clean()) << row.what;
    EXPECT_NE(ledger.summary().find(row.report), std::string::npos) << row.what << ":\n"
                                                                    << ledger.summary();
  }
}

TEST(LedgerTest, ABufferUsedByTheRulesLeavesItClean) {
  Ledger ledger;
  Buffer* buffer = ledger.sample("Dialogue: x", Holder::Component);
  ASSERT_NE(buffer->lockPayload(), nullptr);
  buffer->unlockPayload();
  buffer->handTo(Holder::Peer);
  buffer->releaseAs(Holder::Peer);
  EXPECT_TRUE(ledger.clean()) << ledger.summary();
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
