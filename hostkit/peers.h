// The host objects around the component's ports: the sample allocator it
// makes output from, the downstream peer that takes the output, and the
// upstream peer it records. All of them account through a Ledger.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/host_objects.h"
#include "framework/interfaces.h"
#include "hostkit/ledger.h"

namespace hostkit {

// Makes output samples for the module, each holding the one reference that
// the component receives. Not thread-safe: one thread at a time calls it,
// the stream's.
class LedgerAllocator final : public FLM::SampleAllocator {
 public:
  explicit LedgerAllocator(Ledger& ledger) : ledger_(ledger) {}
  FLM::MediaBuffer* allocate(std::uint32_t payloadBytes, std::uint32_t count,
                             std::uint32_t flags) override;

  int calls = 0;
  std::uint32_t lastCount = 0;
  std::uint32_t lastFlags = 0;
  bool yieldNothing = false;    // answer null
  bool withoutPayload = false;  // samples whose lockPayload gives null
  // Called first on every call; may call back into the component, as a host
  // that runs its pipeline while it waits for a buffer does.
  std::function<void()> onAllocate;

 private:
  Ledger& ledger_;
};

// What the downstream peer sees of one output sample while it holds it: the
// payload is a view into the buffer.
struct SampleView {
  std::string_view payload;  // payloadSize bytes, NUL included; fewer when it claims more
  std::uint32_t payloadSize = 0;
  std::uint32_t passThrough[2] = {0, 0};
  std::uint32_t streamParams[2] = {0, 0};
};

// What the downstream peer saw of one output sample, kept.
struct ReceivedSample {
  std::string payload;  // payloadSize bytes, NUL included
  std::uint32_t payloadSize = 0;
  std::uint32_t passThrough[2] = {0, 0};
  std::uint32_t streamParams[2] = {0, 0};
};

// A stream message other than a sample that reached the peer.
struct ForwardedMessage {
  std::uint32_t id;
  FLM::TypedValue* value;  // the address as it came, null included
};

// The downstream peer: takes every output sample (its reference), keeps what
// it saw, and answers as told. Optionally calls back into the component.
// Either it keeps every output, or it streams: then each is handed on while
// the peer holds it and nothing is copied. Not thread-safe: one thread at a
// time calls the peer (tests that forward from two threads bring their own).
class SinkPort final : public FLM::PortInterface {
 public:
  bool acceptMessage(std::uint32_t id, FLM::TypedValue* value) override;
  bool controlMessage(std::uint32_t id, FLM::TypedValue* value) override;
  bool queryMessage(std::uint32_t id, FLM::TypedValue* value) override;
  bool streamMessage(std::uint32_t id, FLM::TypedValue* value) override;

  bool answer = true;                       // the answer to every stream message
  std::vector<ReceivedSample> outputs;      // every output sample, in order, unless streaming
  std::vector<ForwardedMessage> forwarded;  // every other stream message
  // What a well-behaved module never does: the first kProblemsKept in
  // words, every one counted, since a faulty module may err on every line of
  // a long script.
  static constexpr std::size_t kProblemsKept = 20;
  std::vector<std::string> problems;
  std::uint64_t problemCount = 0;
  // Called with what the peer saw of each kept output sample, after it
  // dropped the buffer. May call back into the component.
  std::function<void(const ReceivedSample&)> onOutput;
  // Set: the peer streams. Called with each output sample before the peer
  // drops it (the view is valid during the call); nothing is kept and
  // onOutput is not called. Must not call back into the component.
  std::function<void(const SampleView&)> onStream;

 private:
  void problem(std::string text) {
    if (++problemCount <= kProblemsKept) problems.push_back(std::move(text));
  }
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

}  // namespace hostkit
