// What every fuzz target shares: a failure that libFuzzer records as a crash,
// and the cut of an input into a script header and event lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/script_source.h"

namespace fuzzing {

// Prints what went wrong and aborts, so the input is saved as a crash.
[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "\n*** %.*s\n%.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void expect(bool condition, std::string_view what, std::string_view detail = {}) {
  if (!condition) fail(what, detail);
}

// An input read as a script, cut as subrite-host cuts it: the header up to
// the events "Format:" line (or the first event line), then every line as
// one event. An input without "[Events]" is all header. Whole script files
// read the same way, so real scripts serve as seeds.
inline hostkit::Script readScript(std::string_view input) {
  hostkit::Script script;
  std::string error;
  hostkit::splitScript(input, &script, &error);
  return script;
}

}  // namespace fuzzing
