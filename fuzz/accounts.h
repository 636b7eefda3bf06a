// The accounting checks that the targets driving the module run after each
// input, with the project's host objects.
#pragma once

#include <cstdint>
#include <string>

#include "framework/flm.h"
#include "fuzz/checks.h"
#include "host/objects.h"

extern "C" std::int32_t _getPlugin(FLM::PluginHost* host, FLM::Plugin** out);

namespace fuzzing {

// Nothing leaked, released twice or by the wrong party, nothing left locked.
inline void expectLedgerClean(const host::Ledger& ledger) {
  if (!ledger.clean()) fail("host buffers not accounted for", ledger.summary());
}

// The downstream peer saw nothing a well-behaved module never does, and every
// output sample it took was NUL-terminated at its payloadSize.
inline void expectSinkClean(const host::SinkPort& sink) {
  if (sink.problems.empty()) return;
  std::string all;
  for (const std::string& problem : sink.problems) all += problem + "\n";
  fail("downstream peer saw a problem", all);
}

// The last release told the host twice, before and after, with one address.
inline void expectReleased(const host::PluginHost& pluginHost, const void* plugin) {
  const auto& events = pluginHost.events;
  expect(events.size() == 2 && !events[0].released && events[1].released &&
             events[0].plugin == plugin && events[1].plugin == plugin,
         "the host was not told around the deletion exactly once");
}

// A reference the module did not take goes back to the host, which drops it.
inline void returnToHost(host::Buffer* buffer) {
  buffer->handTo(host::Holder::Host);
  buffer->releaseAs(host::Holder::Host);
}

}  // namespace fuzzing
