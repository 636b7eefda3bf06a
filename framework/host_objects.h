// Objects the host supplies. The module reaches them only through the virtual
// slots and fixed field offsets below, and never retains one: it releases
// exactly the buffers whose reference a message handed to it.
//
// The host's objects are of the framework's own kind: each class has its
// virtual destructor in slot 0 (two table entries under the Itanium ABI, as in
// the module's classes) and a placeholder for every slot the module never
// calls, so the named operations sit at their numbers.
#pragma once

#include <cstdint>

namespace FLM {

class Plugin;

// First argument of _getPlugin; told around the plug-in object's deletion.
class PluginHost {
 public:
  virtual ~PluginHost() = default;
  virtual void unusedSlot1() {}
  virtual void unusedSlot2() {}
  virtual void unusedSlot3() {}
  virtual void unusedSlot4() {}
  virtual void unusedSlot5() {}
  virtual void unusedSlot6() {}
  virtual void unusedSlot7() {}
  // Slot 8: the object is about to delete itself. Result ignored.
  virtual std::int32_t pluginReleasing(Plugin* plugin) = 0;
  // Slot 9: the object has deleted itself; the address is only a value now.
  virtual std::int32_t pluginReleased(Plugin* plugin) = 0;
};

// Argument of attach.
class AttachContext {
 public:
  virtual ~AttachContext() = default;
  virtual void unusedSlot1() {}
  virtual void unusedSlot2() {}
  virtual void unusedSlot3() {}
  virtual void unusedSlot4() {}
  virtual void unusedSlot5() {}
  virtual void unusedSlot6() {}
  virtual void unusedSlot7() {}
  virtual void unusedSlot8() {}
  virtual void unusedSlot9() {}
  // Slot 10: called once per attach; the result becomes attachValue.
  virtual std::uint32_t value() = 0;
};

// A sample or a format record. The field offsets are part of the contract:
// on i386 payloadSize sits at 4, passThrough (or the format identifier) at
// 44, the identifier length at 56 and streamParams at 68; on x86_64 the
// vtable pointer takes 8 bytes and every field sits 4 bytes further on.
class MediaBuffer {
 public:
  virtual ~MediaBuffer() = default;  // slot 0, never called by the module
  virtual void unusedSlot1() {}
  // Slot 2: drops the reference the caller owns.
  virtual void release() = 0;
  // Slot 3: the payload address, null when there is none. Every call is
  // paired with unlockPayload, whatever it returned.
  virtual void* lockPayload() = 0;
  // Slot 4: ends the access that lockPayload began.
  virtual void unlockPayload() = 0;

  std::uint32_t payloadSize;  // payload length in bytes, read and written in place
  std::uint8_t unknown1[36];
  union {
    std::uint32_t passThrough[2];  // samples: copied from input to output
    char formatIdentifier[12];     // format records: the format code, "SUB "
  };
  std::uint32_t formatIdentifierLength;  // format records: 4 for "SUB "
  std::uint8_t unknown2[8];
  std::uint32_t streamParams[2];  // samples: stamped on each output sample
};

// Payload of MsgAllocator: makes the output samples.
class SampleAllocator {
 public:
  virtual ~SampleAllocator() = default;
  virtual void unusedSlot1() {}
  virtual void unusedSlot2() {}
  // Slot 3: a new sample with `payloadBytes` bytes of payload, or null; the
  // caller owns its one reference. The module passes 1 and 1 for the others.
  virtual MediaBuffer* allocate(std::uint32_t payloadBytes, std::uint32_t count,
                                std::uint32_t flags) = 0;
};

// Payload of MsgStreamParams: the module reads the words at byte offsets 4
// and 8, on every architecture.
struct StreamParameters {
  std::uint32_t unknown;
  std::uint32_t words[2];
};

}  // namespace FLM
