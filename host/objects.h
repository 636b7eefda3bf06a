// The project's own host objects, written from what the module expects of the
// host: buffers, a sample allocator, peer ports, a plug-in host and an attach
// context. Every buffer is accounted for in a Ledger, which reports a buffer
// released twice, never released, released by a party it was not handed to,
// or left with its payload locked.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "framework/host_objects.h"
#include "framework/interfaces.h"
#include "framework/plugin.h"

namespace host {

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
  int lockDepth_ = 0;
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
  // What clean() checks, for a test failure message.
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

// Makes output samples for the module, each holding the one reference that
// the component receives.
class Allocator final : public FLM::SampleAllocator {
 public:
  explicit Allocator(Ledger& ledger) : ledger_(ledger) {}
  FLM::MediaBuffer* allocate(std::uint32_t payloadBytes, std::uint32_t count,
                             std::uint32_t flags) override;

  int calls = 0;
  std::uint32_t lastCount = 0;
  std::uint32_t lastFlags = 0;
  bool yieldNothing = false;    // answer null
  bool withoutPayload = false;  // samples whose lockPayload gives null

 private:
  Ledger& ledger_;
};

// What a downstream peer saw of one output sample.
struct Output {
  std::string payload;  // payloadSize bytes, NUL included
  std::uint32_t payloadSize = 0;
  std::uint32_t passThrough[2] = {0, 0};
  std::uint32_t streamParams[2] = {0, 0};
};

// A message that reached a peer.
struct Message {
  std::uint32_t id;
  FLM::TypedValue* value;  // the address as it came, null included
};

// The downstream peer: takes every output sample (its reference), keeps what
// it saw, and answers as told. Optionally calls back into the component.
class SinkPort final : public FLM::PortInterface {
 public:
  bool acceptMessage(std::uint32_t id, FLM::TypedValue* value) override;
  bool controlMessage(std::uint32_t id, FLM::TypedValue* value) override;
  bool queryMessage(std::uint32_t id, FLM::TypedValue* value) override;
  bool streamMessage(std::uint32_t id, FLM::TypedValue* value) override;

  bool answer = true;                 // the answer to every stream message
  std::vector<Output> outputs;        // every output sample, in order
  std::vector<Message> forwarded;     // every other stream message
  std::vector<std::string> problems;  // what a well-behaved module never does
  bool keepOutputs = true;            // false: only count and call onOutput
  std::uint64_t outputCount = 0;
  // Called with what the peer saw of each output sample, after it dropped
  // the buffer. May call back into the component when outputs are kept.
  std::function<void(const Output&)> onOutput;

 private:
  Output latest_;  // reused for every sample, so a streaming peer allocates nothing
};

// The upstream peer: recorded by the component, never called.
class SourcePort final : public FLM::PortInterface {
 public:
  bool acceptMessage(std::uint32_t, FLM::TypedValue*) override { return note(); }
  bool controlMessage(std::uint32_t, FLM::TypedValue*) override { return note(); }
  bool queryMessage(std::uint32_t, FLM::TypedValue*) override { return note(); }
  bool streamMessage(std::uint32_t, FLM::TypedValue*) override { return note(); }
  int calls = 0;

 private:
  bool note() {
    ++calls;
    return false;
  }
};

// Told before and after the plug-in object deletes itself.
class PluginHost final : public FLM::PluginHost {
 public:
  std::int32_t pluginReleasing(FLM::Plugin* plugin) override;
  std::int32_t pluginReleased(FLM::Plugin* plugin) override;

  struct Event {
    bool released;  // false: releasing, true: released
    const void* plugin;
  };
  std::vector<Event> events;
  std::function<void()> onReleasing;  // runs inside pluginReleasing
};

class AttachContext final : public FLM::AttachContext {
 public:
  explicit AttachContext(std::uint32_t value) : result(value) {}
  std::uint32_t value() override {
    ++calls;
    return result;
  }
  std::uint32_t result;
  int calls = 0;
};

// A TypedValue carrying an object, as the host sends one.
FLM::TypedValue objectValue(void* object);

}  // namespace host
