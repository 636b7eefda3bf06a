// Many scripts into one folder (-d DIR), several at a time (-j N): each
// script by itself, as one run on it alone would convert it, by its own
// plug-in object from the one loaded module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/batch_list.h"
#include "cli/conversion.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "hostkit/driver.h"

namespace cli {

struct BatchTotals {
  std::uint64_t files = 0;   // scripts and paths given or found
  std::uint64_t failed = 0;  // of them, not converted
  ConversionStats counts;    // added up over the scripts; no encoding
};

// Converts every script of options.scripts into options.outputDir; answers
// the exit status: 1 when the plug-in broke a rule on some file, else 2
// when some file could not be converted, else 0.
int convertBatch(const Options& options, hostkit::GetPlugin entry, const std::string& pluginPath,
                 Messages& messages, BatchTotals* totals);

}  // namespace cli
