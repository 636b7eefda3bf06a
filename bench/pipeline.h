// The module as the host drives it, through hostkit's driver, with the lean
// host side of pool.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bench/pool.h"
#include "framework/flm.h"
#include "hostkit/driver.h"
#include "hostkit/peers.h"
#include "hostkit/plugin_host.h"

extern "C" std::int32_t _getPlugin(FLM::PluginHost* host, FLM::Plugin** out);

namespace bench {

class Pipeline {
 public:
  // Creates the component, opens and wires it with the pool and the sink,
  // and sends the header as a "SUB " format record. ok() says whether all of
  // it was accepted. The pool and the sink outlive the pipeline, so that its
  // teardown is accounted for too.
  Pipeline(std::string_view header, SamplePool& pool, CountingSink& sink);
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  bool ok() const { return ready; }

  // Input samples made once: each is sent again on every pass.
  std::vector<PooledSample*> residentSamples(const std::vector<std::string>& lines);

  // One MsgSample into the input port; the answer is the component's.
  bool send(PooledSample* sample) {
    sample->handOut();
    return driver.sendSample(sample);
  }

  SamplePool& pool;
  CountingSink& sink;

 private:
  hostkit::LoggingPluginHost pluginHost;
  hostkit::SourcePort source;
  hostkit::ConstantAttachContext context{1};
  FLM::StreamParameters parameters{0, {25, 1}};
  hostkit::PluginDriver driver;  // last: shut down before the objects above go
  bool ready = false;
};

}  // namespace bench
