// The host objects the plug-in object itself is given: the host told around
// its deletion, and the context of attach.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "framework/host_objects.h"

namespace hostkit {

// Logs the two calls around the plug-in object's deletion.
class LoggingPluginHost final : public FLM::PluginHost {
 public:
  std::int32_t pluginReleasing(FLM::Plugin* plugin) override {
    events.push_back(Event{false, plugin});
    if (onReleasing) onReleasing();
    return 0;
  }
  std::int32_t pluginReleased(FLM::Plugin* plugin) override {
    events.push_back(Event{true, plugin});
    return 0;
  }

  // Told exactly once before and once after the deletion of `plugin`.
  bool toldAroundRelease(const void* plugin) const {
    return events.size() == 2 && !events[0].released && events[1].released &&
           events[0].plugin == plugin && events[1].plugin == plugin;
  }

  struct Event {
    bool released;  // false: releasing, true: released
    const void* plugin;
  };
  std::vector<Event> events;
  std::function<void()> onReleasing;  // runs inside pluginReleasing
};

// Answers attach with a fixed value and counts the calls.
class ConstantAttachContext final : public FLM::AttachContext {
 public:
  explicit ConstantAttachContext(std::uint32_t value) : result(value) {}
  std::uint32_t value() override {
    ++calls;
    return result;
  }
  std::uint32_t result;
  int calls = 0;
};

}  // namespace hostkit
