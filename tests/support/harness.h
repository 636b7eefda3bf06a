// Drives the module as a host does: _getPlugin, queryInterface, then only
// calls through the interface pointers, with the project's host objects.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/flm.h"
#include "host/objects.h"

extern "C" std::int32_t _getPlugin(FLM::PluginHost* host, FLM::Plugin** out);

namespace testing_support {

// The header of the worked example: styles Default and Note, the ten ASS
// event columns with Style at 3 and Text at 9.
extern const char kWorkedHeader[];
// The markup that style Default of that header puts around a text.
extern const char kDefaultOpen[];
extern const char kDefaultClose[];

// "Dialogue: 0,0:00:01.00,0:00:03.50,<style>,,0000,0000,0000,,<text>"
std::string dialogue(std::string_view style, std::string_view text);

// Counts of the process heap, from a replaced operator new (allocations.cc).
struct Heap {
  static std::int64_t live();
  // The allocation after `n` more succeed throws std::bad_alloc; -1 disarms.
  static void failAfter(std::int64_t n);
  // True while a failure armed by failAfter has not happened yet.
  static bool failurePending();
  // Allocations on this thread inside the scope count as live but never
  // fail: for host objects, whose bookkeeping is not the module's.
  class Exempt {
   public:
    Exempt();
    ~Exempt();
    Exempt(const Exempt&) = delete;
    Exempt& operator=(const Exempt&) = delete;
  };
};

class Module {
 public:
  Module();
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Opens both ports and wires the peers and the allocator by messages.
  void open(const char* inputFormat = "ASS");
  // Sends a "SUB " format record with the header; its reference goes to the
  // component, or comes back to the host when the record was forwarded.
  bool sendHeader(std::string_view header, std::string_view identifier = "SUB ");
  // Sends one sample; its reference goes with the message.
  bool sendSample(std::string_view bytes, std::uint32_t pass0 = 0, std::uint32_t pass1 = 0);
  // The markup of every output sample so far, NUL stripped.
  std::vector<std::string> markups() const;
  // Closes the ports and releases the last reference (once).
  void releasePlugin();

  bool stream(std::uint32_t id, FLM::TypedValue* value) { return in->streamMessage(id, value); }
  bool control(FLM::PortInterface* port, std::uint32_t id, FLM::TypedValue* value) {
    return port->controlMessage(id, value);
  }

  host::PluginHost pluginHost;
  host::Ledger ledger;
  host::Allocator allocator{ledger};
  host::SinkPort sink;
  host::SourcePort source;
  FLM::Plugin* plugin = nullptr;
  FLM::ComponentInterface* component = nullptr;
  FLM::TransformInterface* transform = nullptr;
  FLM::InputInterface* inputSide = nullptr;    // opens the output port
  FLM::OutputInterface* outputSide = nullptr;  // opens the input port
  FLM::PortInterface* in = nullptr;
  FLM::PortInterface* out = nullptr;
};

// The ledger is clean: nothing leaked, released twice or by the wrong party.
::testing::AssertionResult LedgerClean(const host::Ledger& ledger);

}  // namespace testing_support
