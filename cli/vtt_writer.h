// WebVTT output: the "WEBVTT" line, a STYLE block that defines the classes
// the cues use, then the cues in order of their start (cues that start
// together keep the script's order). Both need every cue first, so the
// cues are gathered and the file is written when they are all there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "cli/writers.h"

namespace cli {

// Without `style`, the STYLE block is left out and the classes stay.
std::unique_ptr<CueWriter> makeVttWriter(std::FILE* out, std::int64_t shift, bool style);

}  // namespace cli
