// The component, transform and port interfaces. The host calls every
// operation by its slot, so the order of declaration is the contract. Slot 0
// is always the virtual destructor: on a component interface it destroys the
// whole object; the host ends an object's life through release() instead.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/host_objects.h"
#include "framework/typed_value.h"

namespace FLM {

class PortInterface;

class ComponentInterface {
 public:
  virtual ~ComponentInterface() = default;
  // Slot 1. [host thread, no lock]
  virtual bool attach(AttachContext*) { return true; }
  // Slot 2. [host thread, no lock]
  virtual bool detach() { return true; }
  // Slots 3 to 7: operations this kind of component never needs.
  virtual bool unusedSlot3(std::uintptr_t, std::uintptr_t) { return true; }
  virtual bool unusedSlot4(std::uintptr_t, std::uintptr_t) { return true; }
  virtual bool unusedSlot5(std::uintptr_t, std::uintptr_t) { return true; }
  virtual bool unusedSlot6(std::uintptr_t, std::uintptr_t) { return true; }
  virtual bool unusedSlot7(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                           std::uintptr_t) {
    return false;
  }
  // Slot 8: appends every property name; the names are borrowed constants.
  // [host thread, no lock]
  virtual bool getPropertyNames(std::vector<const char*>* names) = 0;
  // Slot 9: reads one property into *value; strings it hands out are
  // borrowed, valid while the object lives. [host thread, no lock]
  virtual bool getProperty(const char* name, TypedValue* value) = 0;
};

class InputInterface {
 public:
  virtual ~InputInterface() = default;
  // Slot 1: opens the output port. The format text is kept by address and
  // must stay valid while the port is open. [host thread, no lock]
  virtual PortInterface* connectDownstream(std::int32_t selector, const char* format,
                                           std::uintptr_t ignored) = 0;
  // Slot 2: closes it. [host thread, no lock]
  virtual bool disconnectDownstream(PortInterface* port) = 0;
};

class OutputInterface {
 public:
  virtual ~OutputInterface() = default;
  // Slot 1: opens the input port; the format text is kept by address.
  // [host thread, no lock]
  virtual PortInterface* connectUpstream(std::int32_t selector, const char* format,
                                         std::uintptr_t ignored) = 0;
  // Slot 2: closes it and drops a held format record. [host thread, no lock]
  virtual bool disconnectUpstream(PortInterface* port) = 0;
};

// A pointer to it is also its InputInterface; its OutputInterface is the
// second base.
class TransformInterface : public InputInterface, public OutputInterface {
 public:
  ~TransformInterface() override = default;
};

class TransformComponent : public virtual ComponentInterface, public virtual TransformInterface {
 public:
  ~TransformComponent() override = default;
};

// The message entry points of one port. A port is owned by its component and
// destroyed only by it; the host borrows it from connect to disconnect.
class PortInterface {
 public:
  virtual ~PortInterface() = default;
  // Slot 1: whether the port takes the message; the value's objects stay the
  // caller's whatever the answer. [any thread, no lock]
  virtual bool acceptMessage(std::uint32_t id, TypedValue* value) = 0;
  // Slot 2: peers, the sample allocator and the flush; the objects a control
  // message carries are borrowed, never retained or released, whatever the
  // answer. [any thread, no lock; MsgFlush takes lock]
  virtual bool controlMessage(std::uint32_t id, TypedValue* value) = 0;
  // Slot 3: a question to the port; the value's objects stay the caller's
  // whatever the answer. [any thread, no lock]
  virtual bool queryMessage(std::uint32_t id, TypedValue* value) = 0;
  // Slot 4: stream parameters, the format record and samples. A MsgSample's
  // sample reference passes to the receiver whatever it answers, unless the
  // argument holds no sample or the port takes no stream messages (the
  // component's output port answers false to all and keeps nothing); a
  // MsgFormat record's reference passes when the record is taken, else it
  // goes on with the forwarded message, or stays the caller's when it is not
  // forwarded (no peer, or a loop: answered false); the stream parameters
  // are borrowed.
  // [stream thread; MsgSample and a taken MsgFormat take lock]
  virtual bool streamMessage(std::uint32_t id, TypedValue* value) = 0;
};

}  // namespace FLM
