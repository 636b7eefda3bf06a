// The scripts of a batch (-d DIR) and where each one's output goes: the
// scripts named and the .ass and .ssa files of the folders named, each file
// once, every output a file of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/messages.h"
#include "cli/options.h"

namespace cli {

// One script of a batch and where its output goes.
struct BatchItem {
  std::string script;
  std::string output;
};

// The scripts named and the .ass and .ssa files of the folders named, each
// file once, with their output paths in `outputDir`: the script's name with
// the extension of the form in place of its own, or added to it where two
// scripts would otherwise share an output. What cannot be listed, or would
// still share an output, is said and counted in *failed.
std::vector<BatchItem> listBatch(const std::vector<std::string>& scripts,
                                 const std::string& outputDir, OutputForm form, Messages& messages,
                                 std::uint64_t* failed);

}  // namespace cli
