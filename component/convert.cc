// The sample path and the header parse: the component's side of the script
// conversion, which owns the host buffers, the lock and the hand-off.
#include <cstring>
#include <string_view>

#include "component/subrite.h"
#include "script/header.h"
#include "script/tables.h"

namespace FLM {
namespace {

// Keeps a buffer's payload locked for a scope, so every lockPayload has its
// unlockPayload also when an allocation fails in between.
class PayloadAccess {
 public:
  explicit PayloadAccess(MediaBuffer& buffer)
      : buffer(buffer), bytes(static_cast<char*>(buffer.lockPayload())) {}
  ~PayloadAccess() { buffer.unlockPayload(); }
  PayloadAccess(const PayloadAccess&) = delete;
  PayloadAccess& operator=(const PayloadAccess&) = delete;

  char* data() const { return bytes; }  // null when the buffer has no payload

 private:
  MediaBuffer& buffer;
  char* const bytes;
};

}  // namespace

void Subrite::dropHeldSample() {
  MediaBuffer* const sample = heldSample;
  if (sample == nullptr) return;
  heldSample = nullptr;
  sample->release();
}

bool Subrite::convertSample() {
  Guard guard(lock);
  MediaBuffer* const sample = heldSample;
  if (sample == nullptr || sampleAllocator.load() == nullptr) return false;

  bool result = true;  // consumed; replaced by the downstream answer when sent
  const std::uint32_t size = sample->payloadSize;
  bool isDialogue = false;
  if (size >= ssa::kDialoguePrefix.size()) {
    PayloadAccess payload(*sample);
    isDialogue =
        payload.data() != nullptr &&
        std::memcmp(payload.data(), ssa::kDialoguePrefix.data(), ssa::kDialoguePrefix.size()) == 0;
  }
  if (isDialogue) {
    std::optional<std::string_view> markup;
    {
      // Locked again, not kept locked from the prefix test: the host sees
      // lock, unlock, lock, unlock, and that sequence is part of the contract.
      PayloadAccess payload(*sample);
      if (payload.data() != nullptr) {
        const std::string_view line(payload.data() + ssa::kDialoguePrefix.size(),
                                    size - ssa::kDialoguePrefix.size());
        markup = converter.convert(line, eventColumns, styleTable);
      }
    }
    if (markup) result = handOff(*sample, *markup);
  }

  // A downstream peer may have flushed or replaced the held sample while it
  // had the output; only a sample still held is released, and only once.
  if (heldSample == sample) dropHeldSample();
  return result;
}

bool Subrite::handOff(const MediaBuffer& input, std::string_view text) {
  // Checked before allocating, so an output sample never has nowhere to go.
  PortInterface* const peer = downstreamPeer.load();
  SampleAllocator* const allocator = sampleAllocator.load();
  if (peer == nullptr || allocator == nullptr) return false;
  if (text.size() >= 0xFFFFFFFFu) return false;  // payloadSize could not hold it
  const auto size = static_cast<std::uint32_t>(text.size() + 1);

  // Read first: the allocator may call back into the component on this
  // thread and flush the input or send another sample in.
  const std::uint32_t passThrough[2] = {input.passThrough[0], input.passThrough[1]};
  MediaBuffer* const output = allocator->allocate(size, 1, 1);
  if (output == nullptr) return false;
  if (heldSample != &input) {
    // The input is gone, and after another sample so is the markup, which
    // lives in the converter's buffer.
    output->release();  // never handed on, so still ours
    return false;
  }
  output->passThrough[0] = passThrough[0];
  output->passThrough[1] = passThrough[1];
  bool written = false;
  {
    PayloadAccess payload(*output);
    if (payload.data() != nullptr) {
      std::memcpy(payload.data(), text.data(), text.size());
      payload.data()[text.size()] = '\0';
      written = true;
    }
  }
  if (!written) {
    output->release();  // never handed on, so still ours
    return false;
  }
  output->payloadSize = size;
  output->streamParams[0] = streamParams[0].load();
  output->streamParams[1] = streamParams[1].load();

  // The allocator's reference travels with the message, whatever the answer.
  TypedValue argument{};
  argument.type = TypeObject;
  argument.payload.object = output;
  return peer->streamMessage(MsgSample, &argument);
}

bool Subrite::parseScriptHeader() {
  Guard guard(lock);
  if (heldFormat == nullptr) return false;
  // Told first, so that a parse that fails half way leaves nothing stale.
  converter.tablesChanged();
  ssa::assignDefaultColumns(eventColumns);
  std::string header;
  {
    const std::uint32_t size = heldFormat->payloadSize;
    PayloadAccess payload(*heldFormat);
    // A record without a payload reads as an empty header.
    if (payload.data() != nullptr) header.assign(payload.data(), size);
  }
  return ssa::readScriptHeader(header, eventColumns, styleTable);
}

}  // namespace FLM
