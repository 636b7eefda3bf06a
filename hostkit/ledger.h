// Host buffers with strict accounting: every buffer the host makes for the
// module is entered in a Ledger, which reports a buffer released twice, never
// released, released by a party it was not handed to, or left with its
// payload locked.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
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
  void handTo(Holder holder);
  // The holder named drops the reference itself (not through the module).
  void releaseAs(Holder holder);

  Holder holder() const { return holder_.load(std::memory_order_relaxed); }
  // The first payloadSize bytes, read without locking (for checks).
  std::string_view payload() const;
  std::size_t capacity() const { return storage_.size(); }
  int lockDepth() const { return lockDepth_; }
  void setHasPayload(bool has) { hasPayload_ = has; }
  std::uint64_t serial() const { return serial_; }

 private:
  friend class Ledger;
  explicit Buffer(Ledger& ledger) : ledger_(ledger) {}
  void reset(std::uint64_t serial, std::size_t bytes, Holder holder);

  Ledger& ledger_;
  std::vector<char> storage_;
  // Changed under the ledger's mutex; read without it on the payload path.
  std::atomic<Holder> holder_{Holder::Released};
  bool hasPayload_ = true;
  int lockDepth_ = 0;  // the payload is used by one party at a time
  std::uint64_t serial_ = 0;
};

// Makes and accounts for buffers. Released buffers wait in a quarantine
// before they are reused, so a second release of a recent buffer is reported
// instead of touching freed memory. Thread-safe.
class Ledger {
 public:
  Ledger();
  ~Ledger();
  Ledger(const Ledger&) = delete;
  Ledger& operator=(const Ledger&) = delete;

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
  };
  Counts counts() const;
  // Every problem seen so far, in words; empty when all is well.
  std::vector<std::string> problems() const;
  // No problem, nothing live and no payload left locked.
  bool clean() const;
  // What clean() checks, for a failure message.
  std::string summary() const;

 private:
  friend class Buffer;
  Buffer* make(std::size_t bytes, Holder holder);
  void noteRelease(Buffer& buffer, Holder by);
  void noteLock(bool locking, Buffer& buffer);
  void problem(const Buffer& buffer, const std::string& text);

  // Guards the buffers' holders and the lists; the lock counts are atomic, so
  // the payload path takes no mutex.
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Buffer>> all_;  // every buffer ever made, for reuse
  std::deque<Buffer*> quarantine_;
  std::vector<Buffer*> spare_;
  std::vector<std::string> problems_;
  Counts counts_;  // made, released, live
  std::atomic<std::uint64_t> locks_{0};
  std::atomic<std::uint64_t> unlocks_{0};
};

}  // namespace hostkit
