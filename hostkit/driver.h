// The one way to drive the plug-in as the media host does. Start-up: the
// object from _getPlugin, its component and transform interfaces (create),
// then attach, both ports opened, the peers and the sample allocator named by
// messages, the stream parameters sent (open). Then the script header as a
// format record, and the samples. Shut-down: both ports closed (which drops a
// held format record), detach, the host's last release. Tests that check one
// step on purpose call that step by hand through the pointers below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/host_objects.h"
#include "framework/interfaces.h"
#include "framework/messages.h"
#include "framework/plugin.h"
#include "hostkit/ledger.h"
#include "hostkit/peers.h"
#include "hostkit/plugin_host.h"

namespace hostkit {

using GetPlugin = std::int32_t (*)(FLM::PluginHost* host, FLM::Plugin** out);

// What an open plug-in is wired to. Borrowed: each must outlive shutDown().
struct Wiring {
  FLM::AttachContext* context = nullptr;              // attached to first
  FLM::PortInterface* upstream = nullptr;             // named on the input port
  FLM::PortInterface* downstream = nullptr;           // named on the output port
  FLM::SampleAllocator* allocator = nullptr;          // makes the output samples
  FLM::StreamParameters* streamParameters = nullptr;  // not sent when null
};

// A TypedValue carrying an object, as the host sends one.
inline FLM::TypedValue objectValue(void* object) {
  FLM::TypedValue value{};
  value.type = FLM::TypeObject;
  value.payload.object = object;
  return value;
}

// The host objects one plug-in object is wired to. They must be made before
// the plug-in and outlive its teardown, which gives back the buffers it still
// holds: a PluginDriver declared after a HostSide (or a class that derives
// from HostSide before PluginDriver) shuts down first.
struct HostSide {
  explicit HostSide(LedgerThreads threads = LedgerThreads::Any) : ledger(threads) {}

  // Stream parameters are sent only when given.
  Wiring wiring(FLM::StreamParameters* parameters = nullptr) {
    return {&context, &source, &sink, &allocator, parameters};
  }

  LoggingPluginHost pluginHost;
  Ledger ledger;
  LedgerAllocator allocator{ledger};
  SinkPort sink;
  SourcePort source;
  ConstantAttachContext context{1};
};

class PluginDriver {
 public:
  PluginDriver() = default;
  ~PluginDriver() { stop(); }
  PluginDriver(const PluginDriver&) = delete;
  PluginDriver& operator=(const PluginDriver&) = delete;

  // _getPlugin with `host`, then the component and transform interfaces.
  // False, with *error when given, when the entry gives no object or the
  // object lacks an interface.
  bool create(GetPlugin entry, FLM::PluginHost* host, std::string* error = nullptr);
  // Attaches to the context (shutDown() detaches again), opens the input
  // port for `inputFormat` (kept by address: it must outlive the port) and
  // the output port for "UTF8", then names the peers and the allocator and
  // sends the stream parameters. False, with *error, on the first step
  // refused.
  bool open(const char* inputFormat, const Wiring& wiring, std::string* error = nullptr);

  // MsgFormat and MsgSample on the input port; the buffer's reference goes
  // with the message. The answer is the plug-in's.
  bool sendFormat(FLM::MediaBuffer* record) { return send(FLM::MsgFormat, record); }
  bool sendSample(FLM::MediaBuffer* sample) { return send(FLM::MsgSample, sample); }
  // A format record of `header` made by `ledger`, sent: its reference goes
  // to the plug-in, or back to the host, which drops it, when the plug-in
  // forwards the record to `sink` instead of taking it (*forwarded says so).
  bool sendHeader(Ledger& ledger, const SinkPort& sink, std::string_view header,
                  std::string_view identifier = "SUB ", bool* forwarded = nullptr);

  // What the plug-in refused on the way out.
  struct Refusals {
    bool inputPort = false;   // to close the input port
    bool outputPort = false;  // to close the output port
    bool detach = false;
    std::int32_t referencesLeft = 0;  // after the host's last release
  };
  // Closes the open ports, detaches and gives up the host's reference; does
  // nothing once `plugin` is null. Allocates nothing, so that a destructor
  // can shut down when memory has run out.
  Refusals stop();
  // stop(), answering what the plug-in refused in words.
  std::vector<std::string> shutDown();

  // Borrowed from the plug-in; null while not there. Valid until the last
  // release, which shutDown() makes and a test may make by hand.
  FLM::Plugin* plugin = nullptr;
  FLM::ComponentInterface* component = nullptr;
  FLM::TransformInterface* transform = nullptr;
  FLM::InputInterface* inputSide = nullptr;    // opens and closes the output port
  FLM::OutputInterface* outputSide = nullptr;  // opens and closes the input port
  FLM::PortInterface* in = nullptr;
  FLM::PortInterface* out = nullptr;

 private:
  bool send(std::uint32_t id, FLM::MediaBuffer* buffer) {
    FLM::TypedValue value = objectValue(buffer);
    return in->streamMessage(id, &value);
  }

  bool attached_ = false;
};

}  // namespace hostkit
