// The two ports and the handlers of the messages they take.
#include <cstring>
#include <new>
#include <stdexcept>

#include "component/subrite.h"

namespace FLM {
namespace {

// A stream message's argument is usable when it exists, says it carries an
// object, and the object is there.
bool isValidObject(const TypedValue* value) {
  return value != nullptr && value->type == TypeObject && value->payload.object != nullptr;
}

// The messages this thread has with a downstream peer, innermost first: a
// peer may send another message in while it has one. Each is on the list
// for as long as it lives, however the peer's call ends.
struct Forwarding;
thread_local const Forwarding* forwarding = nullptr;

struct Forwarding {
  Forwarding(const void* component, std::uint32_t id, const TypedValue* value)
      : component(component), id(id), value(value), outer(forwarding) {
    forwarding = this;
  }
  ~Forwarding() { forwarding = outer; }
  Forwarding(const Forwarding&) = delete;
  Forwarding& operator=(const Forwarding&) = delete;

  const void* const component;
  const std::uint32_t id;
  const TypedValue* const value;
  const Forwarding* const outer;
};

}  // namespace

// --- Input port ---------------------------------------------------------

bool Subrite::Input::acceptMessage(std::uint32_t, TypedValue*) { return true; }

// [any thread, no lock]
bool Subrite::Input::controlMessage(std::uint32_t id, TypedValue* value) {
  switch (id) {
    case MsgConnect:
      return owner->onConnectUpstream(value);
    default:
      return true;  // nothing to do, and nothing refused
  }
}

bool Subrite::Input::queryMessage(std::uint32_t, TypedValue*) { return false; }

// [stream thread]
bool Subrite::Input::streamMessage(std::uint32_t id, TypedValue* value) {
  try {
    switch (id) {
      case MsgStreamParams:
        return owner->onStreamParams(id, value);
      case MsgSample:
        return owner->onSample(value);
      case MsgFormat:
        return owner->onFormat(id, value);
      default:
        return false;  // not ours, and not forwarded
    }
  } catch (const std::length_error&) {
    // A text longer than a string can hold (1 GiB on i386) is memory the
    // module cannot have; the host expects no other exception.
    throw std::bad_alloc();
  }
}

// --- Output port --------------------------------------------------------

bool Subrite::Output::acceptMessage(std::uint32_t, TypedValue*) { return true; }

// [any thread; only MsgFlush takes lock]
bool Subrite::Output::controlMessage(std::uint32_t id, TypedValue* value) {
  switch (id) {
    case MsgConnect:
      return owner->onConnectDownstream(value);
    case MsgAllocator:
      return owner->onAllocator(value);
    case MsgFlush:
      return owner->onFlush();
    default:
      return true;
  }
}

bool Subrite::Output::queryMessage(std::uint32_t, TypedValue*) { return false; }

// Output leaves through the downstream peer, never through this port.
bool Subrite::Output::streamMessage(std::uint32_t, TypedValue*) { return false; }

// --- Handlers -----------------------------------------------------------

// The connect messages' tag is not examined: only the payload counts.
bool Subrite::onConnectUpstream(const TypedValue* value) {
  if (value == nullptr || value->payload.object == nullptr) return false;
  upstreamPeer.store(static_cast<PortInterface*>(value->payload.object));
  return true;
}

bool Subrite::onConnectDownstream(const TypedValue* value) {
  if (value == nullptr || value->payload.object == nullptr) return false;
  downstreamPeer.store(static_cast<PortInterface*>(value->payload.object));
  return true;
}

// A null allocator is taken too: it leaves the component without one.
bool Subrite::onAllocator(const TypedValue* value) {
  if (value == nullptr) return false;
  sampleAllocator.store(static_cast<SampleAllocator*>(value->payload.object));
  return true;
}

// Returns only after a conversion or header parse on another thread is done.
bool Subrite::onFlush() {
  Guard guard(lock);
  dropHeldSample();
  return true;
}

bool Subrite::onStreamParams(std::uint32_t id, TypedValue* value) {
  if (isValidObject(value)) {
    const auto* parameters = static_cast<const StreamParameters*>(value->payload.object);
    streamParams[0].store(parameters->words[0]);
    streamParams[1].store(parameters->words[1]);
  }
  return forward(id, value);  // valid or not
}

bool Subrite::onSample(TypedValue* value) {
  if (!isValidObject(value)) return false;
  auto* const sample = static_cast<MediaBuffer*>(value->payload.object);
  Guard guard(lock);
  // Sent in kMostNested deep from inside the handling of another: ports
  // wired in a loop, where each output comes back one stack level deeper,
  // or a host that sends its next line from each release instead of
  // queueing it. The message's reference is ours all the same (and the
  // buffer may be one whose payload is locked further out); the held
  // sample stays.
  if (nestedSamples == kMostNested) {
    releaseHeld(*sample);
    return false;
  }
  ++nestedSamples;
  struct Unnest {
    std::uint32_t& depth;
    ~Unnest() { --depth; }
  } unnest{nestedSamples};
  // Until nothing is held: a release may have sent a sample in, whose
  // reference must not be overwritten.
  while (heldSample != nullptr) dropHeldSample();
  // The message's reference now belongs to the component.
  heldSample = sample;
  const std::uint32_t turn = sampleDrops;
  const bool hasPayload = probePayload(*sample);
  // The probe's calls are the host's code, which may have sent a message in
  // that let the sample go.
  if (sampleDrops != turn) return false;
  // A sample without a payload stays held until the next sample, a flush or
  // teardown drops it.
  if (!hasPayload) return true;
  return convertSample();
}

bool Subrite::onFormat(std::uint32_t id, TypedValue* value) {
  if (isValidObject(value) && heldFormat == nullptr) {
    auto* record = static_cast<MediaBuffer*>(value->payload.object);
    if (record->formatIdentifierLength == 4 &&
        std::memcmp(record->formatIdentifier, "SUB ", 4) == 0) {
      heldFormat = record;  // the message's reference now belongs to the component
      return parseScriptHeader();
    }
  }
  return forward(id, value);
}

// Same identifier and the same argument address, null included; no lock.
bool Subrite::forward(std::uint32_t id, TypedValue* value) {
  PortInterface* const peer = downstreamPeer.load();
  if (peer == nullptr) return false;
  // Back while still with the peer: the ports are wired in a loop, and the
  // message would go round it for ever. A peer that sends its own copy of
  // the value round is stopped by the depth instead.
  std::uint32_t depth = 0;
  for (const Forwarding* f = forwarding; f != nullptr; f = f->outer) {
    if (f->component != this) continue;
    if ((f->id == id && f->value == value) || ++depth == kMostNested) return false;
  }
  const Forwarding current(this, id, value);
  return peer->streamMessage(id, value);
}

}  // namespace FLM
