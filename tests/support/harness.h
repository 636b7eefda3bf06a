// Drives the module as a host does, through hostkit's driver: _getPlugin,
// queryInterface, then only calls through the interface pointers, with the
// project's accounting host objects.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/flm.h"
#include "hostkit/driver.h"
#include "hostkit/ledger.h"
#include "hostkit/peers.h"
#include "hostkit/plugin_host.h"
#include "tests/support/fixtures.h"

extern "C" std::int32_t _getPlugin(FLM::PluginHost* host, FLM::Plugin** out);

namespace testing_support {

using fixtures::dialogue;
using fixtures::kDefaultClose;
using fixtures::kDefaultOpen;
using fixtures::kWorkedHeader;

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

// One plug-in object, created at construction; the driver's pointers
// (plugin, component, transform, inputSide, outputSide, in, out) are public.
class Harness : public hostkit::HostSide, public hostkit::PluginDriver {
 public:
  Harness();
  ~Harness();

  // Attaches, opens both ports and wires the peers and the allocator by
  // messages.
  void open(const char* inputFormat = "ASS");
  // Sends a format record with the header; its reference goes to the
  // component, or comes back to the host when the record was forwarded.
  bool sendHeader(std::string_view header, std::string_view identifier = "SUB ");
  // Sends one sample; its reference goes with the message.
  bool sendSample(std::string_view bytes, std::uint32_t pass0 = 0, std::uint32_t pass1 = 0);
  // The markup of every output sample so far, NUL stripped.
  std::vector<std::string> markups() const;
  // Closes the ports and releases the last reference (once).
  void releasePlugin() { shutDown(); }

  bool stream(std::uint32_t id, FLM::TypedValue* value) { return in->streamMessage(id, value); }
  bool control(FLM::PortInterface* port, std::uint32_t id, FLM::TypedValue* value) {
    return port->controlMessage(id, value);
  }
};

// The ledger is clean: nothing leaked, released twice or by the wrong party.
::testing::AssertionResult LedgerClean(const hostkit::Ledger& ledger);

}  // namespace testing_support
