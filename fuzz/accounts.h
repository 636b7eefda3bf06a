// The accounting checks that the targets driving the module run after each
// input, with the project's host objects.
#pragma once

#include <cstdint>
#include <string>

#include "framework/flm.h"
#include "fuzz/checks.h"
#include "hostkit/driver.h"
#include "hostkit/ledger.h"
#include "hostkit/peers.h"
#include "hostkit/plugin_host.h"

extern "C" std::int32_t _getPlugin(FLM::PluginHost* host, FLM::Plugin** out);

namespace fuzzing {

// Nothing leaked, released twice or by the wrong party, nothing left locked.
inline void expectLedgerClean(const hostkit::Ledger& ledger) {
  if (!ledger.clean()) fail("host buffers not accounted for", ledger.summary());
}

// The downstream peer saw nothing a well-behaved module never does, and every
// output sample it took was NUL-terminated at its payloadSize.
inline void expectSinkClean(const hostkit::SinkPort& sink) {
  if (sink.problems.empty()) return;
  std::string all;
  for (const std::string& problem : sink.problems) all += problem + "\n";
  fail("downstream peer saw a problem", all);
}

}  // namespace fuzzing
