// Host buffers with strict accounting: every buffer the host makes for the
// module is entered in a Ledger, which reports a buffer released twice, never
// released, released by a party it was not handed to, or left with its
// payload locked.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "framework/host_objects.h"

namespace hostkit {

class Ledger;

// Who owns a buffer's one reference.
enum class Holder {
  Host,       // the party that made it (a test, the reference host)
  Component,  // handed to the module with a message, or made for it
  Peer,       // taken by the downstream peer with MsgSample
  Released,   // the reference is gone
};

// Which threads may use a ledger and its buffers.
enum class LedgerThreads {
  // Any thread, at once: every change is made under the ledger's mutex.
  Any,
  // Only the thread that made the ledger, as a host that drives its plug-in
  // object from one thread does (a session of subrite-host). Nothing is
  // locked, which makes the accounting a few instructions a call; a call from
  // another thread is itself a fault: it is counted, reported with the other
  // problems, and changes nothing (a payload lock answers no payload). The
  // readers (counts, problems, clean, summaryLines) are for that thread too,
  // and are not checked.
  One,
};

class Buffer final : public FLM::MediaBuffer {
 public:
  // The module's release: legitimate only while the component holds it.
  void release() override;
  // The payload, or null for a buffer made without one. A buffer whose
  // payload is empty answers a page that no one may touch, so that a stray
  // write through it stops the program instead of corrupting this object.
  void* lockPayload() override;
  void unlockPayload() override;

  // The reference changes hands (a message carried it).
  void handTo(Holder holder);  // inline, below Ledger
  // The holder named drops the reference itself (not through the module).
  void releaseAs(Holder holder);  // inline, below Ledger
  // A reference the plug-in did not take is the host's again, which drops it.
  void returnToHost() {
    handTo(Holder::Host);
    releaseAs(Holder::Host);
  }

  Holder holder() const { return holder_.load(std::memory_order_relaxed); }
  // The first payloadSize bytes, read without locking (for checks).
  std::string_view payload() const {
    return std::string_view(storage_.get(), std::min<std::size_t>(payloadSize, size_));
  }
  // The bytes the payload was made with.
  std::size_t madeSize() const { return size_; }
  int lockDepth() const { return lockDepth_; }
  // False: lockPayload answers null, as for a buffer made without a payload.
  void setHasPayload(bool has);  // before the buffer is handed on

 private:
  friend class Ledger;
  explicit Buffer(Ledger& ledger) : ledger_(ledger) {}
  // Made again for `bytes`, which the maker fills: the storage is kept when
  // it is large enough, and not cleared.
  void reset(std::uint64_t serial, std::size_t bytes, Holder holder);

  Ledger& ledger_;
  // Set by reset() while the buffer is released, under the ledger's mutex
  // when it has one; afterwards read and changed only by the party holding
  // the buffer, which a message hands over.
  std::unique_ptr<char[]> storage_;
  std::size_t size_ = 0;  // the payload's bytes, at most room_
  std::size_t room_ = 0;
  // Changed by the ledger (under its mutex when it has one); read without it
  // on the payload path.
  std::atomic<Holder> holder_{Holder::Released};
  // What lockPayload answers, set when the buffer is made: the storage, the
  // untouchable page for an empty payload, or null without a payload.
  void* lockedAddress_ = nullptr;
  int lockDepth_ = 0;  // the payload is used by one party at a time
  std::uint64_t serial_ = 0;
};

// Makes and accounts for buffers. Released buffers wait in a quarantine
// before they are reused, so a second release of a recent buffer is reported
// instead of touching freed memory. Thread-safe as `threads` says.
class Ledger {
 public:
  explicit Ledger(LedgerThreads threads = LedgerThreads::Any);
  ~Ledger();
  Ledger(const Ledger&) = delete;
  Ledger& operator=(const Ledger&) = delete;

  // The three makers answer null when the ledger refuses the call
  // (LedgerThreads::One, from another thread), and only then.
  //
  // A buffer whose payload holds `bytes` (payloadSize = its length).
  Buffer* sample(std::string_view bytes, Holder holder = Holder::Host);
  // A format record with the given identifier bytes and header payload.
  Buffer* formatRecord(std::string_view identifier, std::string_view header,
                       Holder holder = Holder::Host);
  // A buffer with room for `bytes`, filled with a marker the module must overwrite.
  Buffer* blank(std::size_t bytes, Holder holder);

  struct Counts {
    std::uint64_t made = 0;
    std::uint64_t released = 0;
    std::uint64_t live = 0;
    std::uint64_t locks = 0;
    std::uint64_t unlocks = 0;

    Counts& operator+=(const Counts& other) {
      made += other.made;
      released += other.released;
      live += other.live;
      locks += other.locks;
      unlocks += other.unlocks;
      return *this;
    }
  };
  Counts counts() const;

  // The module's calls on this ledger's buffers, for onModuleCall.
  enum class Call { Lock, Unlock, Release };
  // Runs after each such call has been checked and counted: a host whose
  // buffers call back into the plug-in from inside, on the same thread. An
  // exception from it leaves the call as a failure (a lock not taken). Set
  // while no plug-in call is under way.
  std::function<void(Buffer&, Call)> onModuleCall;

  // Every problem seen so far, in words; empty when all is well.
  std::vector<std::string> problems() const;
  // No problem, nothing live and no payload left locked.
  bool clean() const;
  // What clean() checks, for a failure message: the counts first, then the
  // first few unreleased buffers and problems, each counting the rest.
  std::vector<std::string> summaryLines() const;
  // The same lines as one text, the later ones indented.
  std::string summary() const;

 private:
  friend class Buffer;
  // Runs `change` under the mutex for LedgerThreads::Any; bare for One, so
  // that its paths keep no lock state at all.
  template <typename Change>
  auto guarded(Change change) const {
    if (threads_ == LedgerThreads::One) return change();
    const std::lock_guard<std::mutex> lock(mutex_);
    return change();
  }

  // False, with the call counted, for a call that a one-thread ledger must
  // refuse; then the caller changes nothing.
  bool admits() {
    // The owner's calls first: they are nearly all of them, for either kind.
    if (&threadMark == owner_ || threads_ == LedgerThreads::Any) return true;
    foreignCalls_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  // Counts a payload call. A one-thread ledger has one writer, since calls
  // from other threads are refused first, so a plain add does there; other
  // ledgers add atomically.
  void countCall(std::atomic<std::uint64_t>& counter) {
    if (threads_ == LedgerThreads::One) {
      counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    } else {
      counter.fetch_add(1, std::memory_order_relaxed);
    }
  }
  // Takes back a count of countCall's, for a call that failed (rare).
  void uncountCall(std::atomic<std::uint64_t>& counter) {
    counter.fetch_sub(1, std::memory_order_relaxed);
  }
  // Answers null when the call is refused.
  Buffer* make(std::size_t bytes, Holder holder);
  // A buffer more, called guarded: the first few hundred only, so kept out
  // of make's way.
  [[gnu::noinline]] Buffer* addBuffer();
  void noteHandOver(Buffer& buffer, Holder to);
  void noteRelease(Buffer& buffer, Holder by);
  // The words for what is wrong, out of the way of the paths that call them
  // only for a fault. Those two are called guarded; problem guards itself.
  [[gnu::cold]] [[gnu::noinline]] void reportHandOver(const Buffer& buffer);
  [[gnu::cold]] [[gnu::noinline]] void reportRelease(const Buffer& buffer, Holder by);
  [[gnu::cold]] [[gnu::noinline]] void problem(const Buffer& buffer, const char* text);
  // The problems in words, the calls from other threads included.
  std::vector<std::string> problemsHeld() const;

  // Each thread's own copy: its address tells the threads apart in two
  // instructions, where asking the thread library is a call, and the check
  // runs on every buffer call.
  static thread_local const char threadMark;

  const LedgerThreads threads_;
  const char* const owner_;  // &threadMark on the thread that made the ledger
  // Guards everything below but the atomics, for LedgerThreads::Any.
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Buffer>> all_;  // every buffer ever made, for reuse
  // The most recent releases, oldest first from quarantineStart_, in a ring.
  static constexpr std::size_t kQuarantine = 256;
  std::array<Buffer*, kQuarantine> quarantine_{};
  std::size_t quarantineStart_ = 0;
  std::size_t quarantined_ = 0;
  // Released buffers past the quarantine, for reuse. It has room for every
  // buffer ever made, reserved as each is made, so that a release never
  // allocates: a plug-in's teardown releases when memory may have run out.
  std::vector<Buffer*> spare_;
  std::vector<std::string> problems_;
  Counts counts_;  // made, released, live
  // Counted without the mutex: the payload path takes none (countCall).
  std::atomic<std::uint64_t> locks_{0};
  std::atomic<std::uint64_t> unlocks_{0};
  std::atomic<std::uint64_t> foreignCalls_{0};  // refused calls from other threads
};

// The host's own calls on every output sample, kept inline.
inline void Buffer::handTo(Holder holder) { ledger_.noteHandOver(*this, holder); }
inline void Buffer::releaseAs(Holder holder) { ledger_.noteRelease(*this, holder); }

}  // namespace hostkit
