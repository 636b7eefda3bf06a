// One script converted to one output, as subrite-host does for every script
// it is given: the script opened and its character set decided, a plug-in
// object made from the loaded module and the events streamed through it,
// the cues written, the output committed only when all went well.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/messages.h"
#include "cli/options.h"
#include "cli/writers.h"
#include "hostkit/driver.h"
#include "hostkit/ledger.h"

namespace cli {

constexpr int kExitDone = 0;
constexpr int kExitBroken = 1;  // the plug-in broke the host's rules
// Not done for a cause the user can put right: usage, a script that
// cannot be read or is none, an output that cannot be written, memory.
constexpr int kExitFailed = 2;

// What streaming a script through the plug-in did.
struct StreamCounts {
  std::uint64_t events = 0;          // lines sent to the plug-in
  std::uint64_t dialogue = 0;        // of them, "Dialogue:" lines
  std::uint64_t outputs = 0;         // output samples
  std::uint64_t firstEventLine = 0;  // its script line; one script's, so not added up
  // "Dialogue:" lines that gave no output for want of a Text field (too few
  // commas), and the first one's script line; one script's, not added up.
  std::uint64_t shortDialogue = 0;
  std::uint64_t firstShortDialogue = 0;
};

// What one conversion did, for --stats and for the progress of a batch.
struct ConversionStats {
  std::uint64_t linesRead = 0;
  StreamCounts stream;
  std::uint64_t replaced = 0;  // sequences read as U+FFFD
  std::string encoding;        // "UTF-8 (valid)", ...
  WriterCounts writer;
  hostkit::Ledger::Counts buffers;
};

// Adds the counts of `one` to *sum, the encoding left out: a batch's totals.
void addCounts(const ConversionStats& one, ConversionStats* sum);

struct ConversionRequest {
  std::optional<std::string> script;  // "-" is standard input; none: the bundled sample
  std::string output;                 // "" or "-": standard output
};

// Converts as `options` say (form, encoding, shift, --info), with a new
// plug-in object from `entry`; everything worth saying goes to `messages`.
// Answers the exit status of this script alone.
int convert(const ConversionRequest& request, const Options& options, hostkit::GetPlugin entry,
            const std::string& pluginPath, Messages& messages, ConversionStats* stats);

}  // namespace cli
