// One run of the plug-in as the media host drives it: create the object,
// query its interfaces, attach, open both ports, wire peers and allocator by
// messages, send the format record and the events, then close everything in
// order and check that every buffer came back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/flm.h"
#include "host/objects.h"
#include "host/plugin_library.h"

namespace hostcli {

// The four properties, as text; "(none)" where the plug-in gave nothing.
struct Properties {
  std::string name;
  std::string type;
  std::string inputFormat;
  std::string outputFormat;
};

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // _getPlugin, the component and transform interfaces, attach. False with
  // *error when the plug-in gives no object or lacks an interface.
  bool create(GetPlugin entry, std::string* error);
  // Opens the ports for `inputFormat` and "UTF8" and sends MsgConnect to
  // both, MsgAllocator and MsgStreamParams. The format text must outlive the
  // port.
  bool open(const char* inputFormat, std::string* error);
  Properties properties();
  // MsgFormat with a "SUB " record holding the header; the plug-in's answer
  // (false: its columns have no Text).
  bool sendHeader(std::string_view header);

  // Called with each output sample's markup (NUL stripped) while the event
  // that caused it is being sent.
  std::function<void(std::uint64_t sequence, std::string_view markup)> onMarkup;
  // One MsgSample; `sequence` travels in the passThrough words and must come
  // back on the output. Answers whether the event gave output.
  bool sendEvent(std::string_view line, std::uint64_t sequence);

  // Closes the ports, detaches, releases the object. Idempotent.
  void close();

  // Everything the plug-in did against the rules, in words; empty when
  // nothing. Complete only after close().
  std::vector<std::string> problems() const;
  host::Ledger::Counts counts() const { return ledger_.counts(); }

 private:
  void problem(std::string text);
  void received(const host::Output& output);

  // Declared first: buffers the plug-in still holds go back at its teardown.
  host::Ledger ledger_;
  host::Allocator allocator_{ledger_};
  host::SinkPort sink_;
  host::SourcePort source_;
  host::PluginHost pluginHost_;
  host::AttachContext context_{1};
  FLM::StreamParameters streamParameters_{};

  FLM::Plugin* plugin_ = nullptr;
  FLM::ComponentInterface* component_ = nullptr;
  FLM::TransformInterface* transform_ = nullptr;
  FLM::PortInterface* in_ = nullptr;
  FLM::PortInterface* out_ = nullptr;
  bool attached_ = false;

  std::uint64_t current_ = 0;   // the event being sent
  int outputsForCurrent_ = 0;
  std::uint64_t embeddedNuls_ = 0;  // outputs the sink flags for a NUL in the text
  std::vector<std::string> problems_;
  std::uint64_t problemCount_ = 0;
};

}  // namespace hostcli
