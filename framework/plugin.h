// The reference-counted plug-in object that _getPlugin hands to the host.
#pragma once

#include <cstdint>

#include "framework/host_objects.h"
#include "framework/string.h"

namespace FLM {

class Plugin {
 public:
  // Starts with the one reference that the host owns.
  explicit Plugin(PluginHost* host) : referenceCount(1), host(host), reserved(0) {}

  // Slot 0.
  virtual ~Plugin() = default;
  // Slot 1: adds one reference, answers the new count. Not atomic: the host
  // serialises retain and release per object.
  virtual std::int32_t retain();
  // Slot 2: drops one reference, answers the new count. At exactly 0 it tells
  // the host, deletes the object and tells the host again. The last one must
  // not be dropped from inside a call the object makes into the host (a
  // peer's receive, the allocator, a buffer): the object is still at work
  // there.
  virtual std::int32_t release();
  // Slot 3.
  virtual std::int32_t refCount() const;
  // Slot 4: always 0.
  virtual std::int32_t getReserved() const;
  // Slot 5: the host given to _getPlugin.
  virtual PluginHost* getHost() const;
  // Slot 6: stores the interface for an identifier in *out and answers 0, or
  // stores null and answers 3. The pointer is borrowed: valid while the
  // object lives; the count does not change. [any thread]
  virtual std::int32_t queryInterface(const String<char>* identifier, void** out) = 0;

  static constexpr std::int32_t StatusFound = 0;
  static constexpr std::int32_t StatusNotSupported = 3;

 private:
  std::int32_t referenceCount;
  PluginHost* host;  // borrowed, never retained or released
  std::int32_t reserved;
};

}  // namespace FLM
