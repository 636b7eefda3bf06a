#include "hostkit/peers.h"

#include <algorithm>
#include <iterator>

#include "framework/messages.h"

namespace hostkit {

FLM::MediaBuffer* LedgerAllocator::allocate(std::uint32_t payloadBytes, std::uint32_t count,
                                            std::uint32_t flags) {
  ++calls;
  lastCount = count;
  lastFlags = flags;
  if (onAllocate) onAllocate();
  if (yieldNothing) return nullptr;
  Buffer* buffer = ledger_.blank(payloadBytes, Holder::Component);
  if (buffer != nullptr && withoutPayload) buffer->setHasPayload(false);
  return buffer;
}

bool SinkPort::acceptMessage(std::uint32_t, FLM::TypedValue*) { return true; }

bool SinkPort::controlMessage(std::uint32_t, FLM::TypedValue*) {
  problem("control message sent downstream");
  return true;
}

bool SinkPort::queryMessage(std::uint32_t, FLM::TypedValue*) {
  problem("query message sent downstream");
  return false;
}

bool SinkPort::streamMessage(std::uint32_t id, FLM::TypedValue* value) {
  if (id != FLM::MsgSample) {
    forwarded.push_back(ForwardedMessage{id, value});
    return answer;
  }
  if (value == nullptr || value->type != FLM::TypeObject || value->payload.object == nullptr) {
    problem("output sample message without a sample");
    return answer;
  }
  auto* buffer = static_cast<Buffer*>(static_cast<FLM::MediaBuffer*>(value->payload.object));
  buffer->handTo(Holder::Peer);
  SampleView seen;
  seen.payloadSize = buffer->payloadSize;
  seen.payload = buffer->payload();
  seen.passThrough[0] = buffer->passThrough[0];
  seen.passThrough[1] = buffer->passThrough[1];
  seen.streamParams[0] = buffer->streamParams[0];
  seen.streamParams[1] = buffer->streamParams[1];
  if (buffer->lockDepth() != 0) problem("output sample arrived locked");
  // The markup may itself hold NUL bytes (a text field of one NUL is kept),
  // so only the terminator at payloadSize is checked.
  if (seen.payloadSize == 0 || seen.payload.size() != seen.payloadSize ||
      seen.payload.back() != '\0') {
    problem("output sample not NUL-terminated at payloadSize: size " +
            std::to_string(seen.payloadSize));
  }
  if (onStream) {
    onStream(seen);
    buffer->releaseAs(Holder::Peer);
    return answer;
  }
  ReceivedSample output;
  output.payload.assign(seen.payload);
  output.payloadSize = seen.payloadSize;
  std::copy(std::begin(seen.passThrough), std::end(seen.passThrough), output.passThrough);
  std::copy(std::begin(seen.streamParams), std::end(seen.streamParams), output.streamParams);
  buffer->releaseAs(Holder::Peer);
  outputs.push_back(output);
  if (onOutput) onOutput(output);  // a copy: the callback may send a sample back in
  return answer;
}

}  // namespace hostkit
