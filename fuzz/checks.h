// What every fuzz target shares: a failure that libFuzzer records as a crash,
// and the cut of an input into a script header and event lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

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

// An input read as a script: the header runs up to the first event line (a
// line that starts, after blanks, with "Dialogue:" or "Comment:"), and every
// line from there on is one event, its line feed not included. Whole script
// files read the same way, so real scripts serve as seeds.
struct Script {
  std::string_view header;
  std::vector<std::string_view> events;
};

inline bool isEventLine(std::string_view line) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return false;
  line.remove_prefix(start);
  return line.substr(0, 9) == "Dialogue:" || line.substr(0, 8) == "Comment:";
}

inline Script splitScript(std::string_view input) {
  Script script;
  std::size_t lineStart = 0;
  while (lineStart < input.size()) {
    const std::size_t end = input.find('\n', lineStart);
    const std::size_t lineEnd = end == std::string_view::npos ? input.size() : end;
    if (isEventLine(input.substr(lineStart, lineEnd - lineStart))) break;
    lineStart = lineEnd + 1;
  }
  if (lineStart >= input.size()) {
    script.header = input;
    return script;
  }
  script.header = input.substr(0, lineStart);
  std::string_view rest = input.substr(lineStart);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    script.events.push_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return script;
}

}  // namespace fuzzing
