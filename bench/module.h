// The module as the host drives it: _getPlugin, the interfaces, the port
// messages, with the lean host side of pool.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bench/pool.h"
#include "framework/flm.h"
#include "host/objects.h"

extern "C" std::int32_t _getPlugin(FLM::PluginHost* host, FLM::Plugin** out);

namespace bench {

class Module {
 public:
  // Creates the component, opens both ports, wires the peers, the pool and
  // the stream parameters, and sends the header as a "SUB " format record.
  // ok() says whether all of it was accepted. The pool and the sink outlive
  // the module, so that its teardown is accounted for too.
  Module(std::string_view header, SamplePool& pool, CountingSink& sink);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  bool ok() const { return ready; }

  // Input samples made once: each is sent again on every pass.
  std::vector<PooledSample*> residentSamples(const std::vector<std::string>& lines);

  // One MsgSample into the input port; the answer is the component's.
  bool send(PooledSample* sample) {
    sample->handOut();
    FLM::TypedValue value = bench::objectValue(sample);
    return in->streamMessage(FLM::MsgSample, &value);
  }

  SamplePool& pool;
  CountingSink& sink;

 private:
  host::PluginHost pluginHost;
  host::SourcePort source;
  FLM::StreamParameters parameters{0, {25, 1}};
  FLM::Plugin* plugin = nullptr;
  FLM::TransformInterface* transform = nullptr;
  FLM::PortInterface* in = nullptr;
  FLM::PortInterface* out = nullptr;
  bool ready = false;
};

}  // namespace bench
