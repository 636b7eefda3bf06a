// One run of the plug-in for subrite-host: the driver with the project's
// accounting host objects around it, the header and the events sent, and
// every output sample checked against the rules before its markup is handed
// on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/flm.h"
#include "hostkit/driver.h"
#include "hostkit/ledger.h"
#include "hostkit/peers.h"
#include "hostkit/plugin_host.h"

namespace cli {

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

  // The object, its interfaces, attach, and both ports open and wired for
  // `inputFormat` (which must outlive the session). False with *error on the
  // first step the plug-in refuses.
  bool start(hostkit::GetPlugin entry, const char* inputFormat, std::string* error);
  Properties properties();
  // MsgFormat with a "SUB " record holding the header; the plug-in's answer
  // (false: its columns have no Text).
  bool sendHeader(std::string_view header);

  // Called with each output sample's markup (less its terminating NUL) while the event
  // that caused it is being sent.
  std::function<void(std::string_view markup)> onMarkup;
  // One MsgSample; `sequence` travels in the passThrough words and must come
  // back on the output.
  void sendEvent(std::string_view line, std::uint64_t sequence);

  // Closes the ports, detaches, releases the object. Idempotent.
  void close();

  // Everything the plug-in did against the rules, in words; empty when
  // nothing. Complete only after close().
  std::vector<std::string> problems() const;
  hostkit::Ledger::Counts counts() const { return host_.ledger.counts(); }

 private:
  void problem(std::string text);
  void received(const hostkit::SampleView& output);

  // The host objects come first, so that the driver, declared last, runs
  // the plug-in's teardown before they go. Without close(), the driver's own
  // destructor shuts down, and what the plug-in refused goes unsaid: the
  // conversion has failed already, perhaps for want of memory to say it in.
  // A session is made, used and closed on one thread, which drives the
  // plug-in object: its ledger takes no lock, and refuses and reports calls
  // from any other.
  hostkit::HostSide host_{hostkit::LedgerThreads::One};
  FLM::StreamParameters streamParameters_{};
  hostkit::PluginDriver driver_;

  std::uint64_t current_ = 0;  // the event being sent
  int outputsForCurrent_ = 0;
  // The first of the problems met while events were sent, and their
  // number; those of the teardown, few and the gravest, are all kept apart.
  std::vector<std::string> problems_;
  std::uint64_t problemCount_ = 0;
  std::vector<std::string> teardownProblems_;
};

}  // namespace cli
