#include "hostkit/peers.h"

#include "framework/messages.h"

namespace hostkit {

FLM::MediaBuffer* LedgerAllocator::allocate(std::uint32_t payloadBytes, std::uint32_t count,
                                            std::uint32_t flags) {
  ++calls;
  lastCount = count;
  lastFlags = flags;
  if (yieldNothing) return nullptr;
  Buffer* buffer = ledger_.blank(payloadBytes, Holder::Component);
  if (withoutPayload) buffer->setHasPayload(false);
  return buffer;
}

bool SinkPort::acceptMessage(std::uint32_t, FLM::TypedValue*) { return true; }

bool SinkPort::controlMessage(std::uint32_t, FLM::TypedValue*) {
  problems.push_back("control message sent downstream");
  return true;
}

bool SinkPort::queryMessage(std::uint32_t, FLM::TypedValue*) {
  problems.push_back("query message sent downstream");
  return false;
}

bool SinkPort::streamMessage(std::uint32_t id, FLM::TypedValue* value) {
  if (id != FLM::MsgSample) {
    forwarded.push_back(ForwardedMessage{id, value});
    return answer;
  }
  if (value == nullptr || value->type != FLM::TypeObject || value->payload.object == nullptr) {
    problems.push_back("output sample message without a sample");
    return answer;
  }
  auto* buffer = static_cast<Buffer*>(static_cast<FLM::MediaBuffer*>(value->payload.object));
  buffer->handTo(Holder::Peer);
  // One record reused for every sample: a streaming peer allocates nothing.
  ReceivedSample& output = latest_;
  output.payloadSize = buffer->payloadSize;
  output.payload.assign(buffer->payload());
  output.passThrough[0] = buffer->passThrough[0];
  output.passThrough[1] = buffer->passThrough[1];
  output.streamParams[0] = buffer->streamParams[0];
  output.streamParams[1] = buffer->streamParams[1];
  if (buffer->lockDepth() != 0) problems.push_back("output sample arrived locked");
  // The markup may itself hold NUL bytes (a text field of one NUL is kept),
  // so only the terminator at payloadSize is checked.
  if (output.payloadSize == 0 || output.payload.size() != output.payloadSize ||
      output.payload.back() != '\0') {
    problems.push_back("output sample not NUL-terminated at payloadSize: size " +
                       std::to_string(output.payloadSize));
  }
  ++outputCount;
  buffer->releaseAs(Holder::Peer);
  if (keepOutputs) outputs.push_back(output);
  if (onOutput) {
    if (keepOutputs) {
      const ReceivedSample copy = output;  // the callback may send a sample back in
      onOutput(copy);
    } else {
      onOutput(output);  // a streaming peer does not call back in
    }
  }
  return answer;
}

}  // namespace hostkit
