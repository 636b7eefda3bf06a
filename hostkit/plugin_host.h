// The host objects the plug-in object itself is given: the host told around
// its deletion, and the context of attach.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "framework/host_objects.h"

namespace hostkit {

// Logs the calls around the plug-in object's deletion: the first few, in
// room taken up front, so that a release when memory has run out is logged
// all the same and nothing is thrown into the plug-in.
class LoggingPluginHost final : public FLM::PluginHost {
 public:
  LoggingPluginHost() { events.reserve(kEventsKept); }

  std::int32_t pluginReleasing(FLM::Plugin* plugin) override {
    log(Event{false, plugin});
    if (onReleasing) onReleasing();
    return 0;
  }
  std::int32_t pluginReleased(FLM::Plugin* plugin) override {
    log(Event{true, plugin});
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

 private:
  // Two is the rule (releasing, released); the ones past it show the fault,
  // and two of those tell what it was.
  static constexpr std::size_t kEventsKept = 4;
  void log(const Event& event) {
    if (events.size() < kEventsKept) events.push_back(event);
  }
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
