// A strict reader of SubRip files, to hold subrite-host's output to the form
// players expect:
//   cue      = number LF timing LF *(text LF) LF
//   number   = the cue's position, from 1, without leading zeros
//   timing   = time " --> " time, time = hh[h...]:mm:ss,mmm (mm, ss below 60)
//   text     = a line with something other than spaces and tabs, no CR
// A cue may have no text line; nothing may follow the last cue's blank line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cli_test {

struct SrtVerdict {
  bool valid = false;
  std::size_t cues = 0;
  std::string error;  // what broke the form, with its line
};

SrtVerdict checkSrt(std::string_view text);

}  // namespace cli_test
