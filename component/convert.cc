// The sample path and the header parse: the component's side of the script
// conversion, which owns the host buffers, the lock and the hand-off.
#include <cstring>
#include <string_view>

#include "component/subrite.h"
#include "script/header.h"
#include "script/tables.h"

namespace FLM {

// Keeps a buffer's payload locked for a scope, so every lockPayload has its
// unlockPayload also when an allocation fails in between. The scope is on
// the component's list while it lasts: a message that the host sends in from
// inside lockPayload or unlockPayload may drop the buffer, and its release
// then waits for the unlock, so that no buffer goes with its payload locked.
class Subrite::PayloadAccess {
 public:
  PayloadAccess(Subrite& owner, MediaBuffer& buffer)
      : owner(owner), buffer(buffer), outer(owner.lockedPayloads) {
    owner.lockedPayloads = this;
    try {
      bytes = static_cast<char*>(buffer.lockPayload());
    } catch (...) {
      // Not locked, so nothing to unlock; what was dropped meanwhile still goes.
      leave();
      throw;
    }
  }
  ~PayloadAccess() {
    buffer.unlockPayload();
    leave();
  }
  PayloadAccess(const PayloadAccess&) = delete;
  PayloadAccess& operator=(const PayloadAccess&) = delete;

  char* data() const { return bytes; }  // null when the buffer has no payload

 private:
  friend class Subrite;
  void leave() {
    owner.lockedPayloads = outer;
    for (; owed != 0; --owed) buffer.release();
  }

  Subrite& owner;
  MediaBuffer& buffer;
  PayloadAccess* const outer;
  char* bytes = nullptr;
  // Releases of the buffer that wait for the unlock: more than one when the
  // host sent the buffer in again, with a reference of its own, meanwhile.
  std::uint32_t owed = 0;
};

void Subrite::releaseHeld(MediaBuffer& buffer) {
  // The outermost scope of the buffer, so that an inner one of the same
  // buffer never releases it while the outer still has it locked.
  PayloadAccess* outermost = nullptr;
  for (PayloadAccess* access = lockedPayloads; access != nullptr; access = access->outer) {
    if (&access->buffer == &buffer) outermost = access;
  }
  if (outermost != nullptr) {
    ++outermost->owed;
  } else {
    buffer.release();
  }
}

bool Subrite::probePayload(MediaBuffer& sample) {
  PayloadAccess payload(*this, sample);
  return payload.data() != nullptr;
}

void Subrite::dropHeldSample() {
  MediaBuffer* const sample = heldSample;
  if (sample == nullptr) return;
  heldSample = nullptr;
  ++sampleDrops;
  releaseHeld(*sample);
}

bool Subrite::convertSample() {
  Guard guard(lock);
  MediaBuffer* const sample = heldSample;
  if (sample == nullptr || sampleAllocator.load() == nullptr) return false;

  // Every call on the sample or the allocator is a call into the host,
  // which may flush or send another sample in; after each, the sample is
  // touched only while it is still the one held.
  const std::uint32_t turn = sampleDrops;
  const auto stillHeld = [&] { return sampleDrops == turn; };

  bool result = true;  // consumed; replaced by the downstream answer when sent
  const std::uint32_t size = sample->payloadSize;
  bool isDialogue = false;
  if (size >= ssa::kDialoguePrefix.size()) {
    PayloadAccess payload(*this, *sample);
    isDialogue =
        payload.data() != nullptr &&
        std::memcmp(payload.data(), ssa::kDialoguePrefix.data(), ssa::kDialoguePrefix.size()) == 0;
  }
  if (!stillHeld()) return false;
  if (isDialogue) {
    std::optional<std::string_view> markup;
    {
      // Locked again, not kept locked from the prefix test: the host sees
      // lock, unlock, lock, unlock, and that sequence is part of the contract.
      PayloadAccess payload(*this, *sample);
      if (payload.data() != nullptr) {
        const std::string_view line(payload.data() + ssa::kDialoguePrefix.size(),
                                    size - ssa::kDialoguePrefix.size());
        markup = converter.convert(line, eventColumns, styleTable);
      }
    }
    // The input let go meanwhile, and after another line the markup too.
    if (!stillHeld()) return false;
    if (markup) result = handOff(*sample, turn, *markup);
  }

  // A downstream peer may have flushed or replaced the held sample while it
  // had the output; only a sample still held is released, and only once.
  if (stillHeld()) dropHeldSample();
  return result;
}

bool Subrite::handOff(const MediaBuffer& input, std::uint32_t turn, std::string_view text) {
  // Checked before allocating, so an output sample never has nowhere to go.
  PortInterface* const peer = downstreamPeer.load();
  SampleAllocator* const allocator = sampleAllocator.load();
  if (peer == nullptr || allocator == nullptr) return false;
  if (text.size() >= 0xFFFFFFFFu) return false;  // payloadSize could not hold it
  const auto size = static_cast<std::uint32_t>(text.size() + 1);

  // Read first: the allocator may call back into the component on this
  // thread and flush the input or send another sample in.
  const std::uint32_t passThrough[2] = {input.passThrough[0], input.passThrough[1]};
  // Released on every way out but the hand-off, exceptions included: until
  // then it is ours.
  struct Unsent {
    MediaBuffer* output;
    ~Unsent() {
      if (output != nullptr) output->release();
    }
  } unsent{allocator->allocate(size, 1, 1)};
  MediaBuffer* const output = unsent.output;
  if (output == nullptr) return false;
  // After each of the host's calls (the allocation, the output's lock and
  // unlock): the input gone, the line stops, and after another line the
  // markup, which lives in the converter's buffer, is gone as well.
  const auto inputGone = [&] { return sampleDrops != turn; };
  if (inputGone()) return false;
  output->passThrough[0] = passThrough[0];
  output->passThrough[1] = passThrough[1];
  bool written = false;
  {
    PayloadAccess payload(*this, *output);
    if (payload.data() != nullptr && !inputGone()) {
      std::memcpy(payload.data(), text.data(), text.size());
      payload.data()[text.size()] = '\0';
      written = true;
    }
  }
  if (!written || inputGone()) return false;
  output->payloadSize = size;
  output->streamParams[0] = streamParams[0].load();
  output->streamParams[1] = streamParams[1].load();

  // The allocator's reference travels with the message, whatever the answer.
  unsent.output = nullptr;
  TypedValue argument{};
  argument.type = TypeObject;
  argument.payload.object = output;
  return peer->streamMessage(MsgSample, &argument);
}

bool Subrite::parseScriptHeader() {
  Guard guard(lock);
  MediaBuffer* const record = heldFormat;
  if (record == nullptr) return false;
  // Told first, so that a parse that fails half way leaves nothing stale.
  converter.tablesChanged();
  ssa::assignDefaultColumns(eventColumns);
  // The record's payload calls are the host's code: a disconnect sent in
  // from there lets the record go, and a newer record may be parsed inside.
  const std::uint32_t turn = formatDrops;
  std::string header;
  {
    const std::uint32_t size = record->payloadSize;
    PayloadAccess payload(*this, *record);
    // A record without a payload reads as an empty header.
    if (payload.data() != nullptr) header.assign(payload.data(), size);
  }
  if (formatDrops != turn) return false;
  return ssa::readScriptHeader(header, eventColumns, styleTable);
}

}  // namespace FLM
