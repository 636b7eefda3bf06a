// A strict reader of SubRip files, to hold subrite-host's output to the form
// players expect:
//   cue      = number LF timing LF *(text LF) LF
//   number   = the cue's position, from 1, without leading zeros
//   timing   = time " --> " time, time = hh[h...]:mm:ss,mmm (mm, ss below 60)
//   text     = a line with something other than spaces and tabs, no CR or NUL
// A cue may have no text line; nothing may follow the last cue's blank line.
// The file is valid UTF-8, and the tags of each cue are balanced (tagProblem).
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

// What is wrong with the tags of one cue's text, "" when nothing: the forms
// <b> <i> <u> <s>, <font> with face, size and color attributes (each at
// most once, none empty: not "" nor "#"), and their closing tags are tags
// (anything else is text); each closing tag must close the last tag opened,
// and every tag must be closed by the end.
std::string tagProblem(std::string_view text);

// Whether `bytes` are valid UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

}  // namespace cli_test
