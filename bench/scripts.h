// Script text for the benchmarks: headers, single lines, and a mixed set of
// event lines read from a generated script or, without one, made here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// An ASS header as editors write it: script info, the full 23-column style
// format with `styles` style lines (the first ones named as real scripts
// name them, the rest numbered), and the events format line.
std::string assHeader(std::size_t styles);

// "Dialogue: 0,0:01:02.50,0:01:05.00,<style>,,0,0,0,,<text>"
std::string dialogueLine(std::string_view style, std::string_view text);

// `count` copies of `unit`, one after the other.
std::string repeat(std::string_view unit, std::size_t count);

// Plain dialogue words (commas and spaces, no codes) cut to exactly `size` bytes.
std::string plainText(std::size_t size);

// A header and the dialogue lines after it, each a whole sample payload.
struct EventSet {
  std::string origin;                 // where the lines came from, for the report
  std::string header;                 // everything before the first event line
  std::vector<std::string> dialogue;  // the "Dialogue:" lines
};

// Reads a script file; false when it cannot be read or has no dialogue.
bool readScript(const std::string& path, EventSet& set);

// A deterministic stand-in for a generated script: the same mixture of plain
// lines, breaks, toggles, colours, signs, inline comments and karaoke, and a
// few lines of 10,000 blocks or more, from `seed`.
EventSet generatedScript(std::size_t lines, std::uint32_t seed);

}  // namespace bench
