#include "tests/cli/srt_check.h"

#include <vector>

namespace cli_test {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool digits(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return false;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!isDigit(text[i])) return false;
  }
  return true;
}

// hh:mm:ss,mmm with two or more hour digits; the rest of `text` after it
// is left in *rest.
bool readTime(std::string_view text, std::string_view* rest) {
  std::size_t hours = 0;
  while (hours < text.size() && isDigit(text[hours])) ++hours;
  if (hours < 2) return false;
  const std::string_view tail = text.substr(hours);
  if (tail.size() < 10 || tail[0] != ':' || !digits(tail, 1, 2) || tail[3] != ':' ||
      !digits(tail, 4, 2) || tail[6] != ',' || !digits(tail, 7, 3)) {
    return false;
  }
  if (tail[1] > '5' || tail[4] > '5') return false;
  *rest = tail.substr(10);
  return true;
}

bool isTiming(std::string_view line) {
  std::string_view rest;
  if (!readTime(line, &rest) || rest.substr(0, 5) != " --> ") return false;
  return readTime(rest.substr(5), &rest) && rest.empty();
}

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

SrtVerdict checkSrt(std::string_view text) {
  SrtVerdict verdict;
  if (text.find('\r') != std::string_view::npos) {
    verdict.error = "carriage return in the file";
    return verdict;
  }
  if (!text.empty() && text.back() != '\n') {
    verdict.error = "the last line has no line feed";
    return verdict;
  }
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t stop = text.find('\n');
    lines.push_back(text.substr(0, stop));
    text.remove_prefix(stop + 1);
  }
  std::size_t at = 0;
  const auto fail = [&](const std::string& what) {
    verdict.error = "line " + std::to_string(at + 1) + ": " + what;
    return verdict;
  };
  while (at < lines.size()) {
    const std::string expected = std::to_string(verdict.cues + 1);
    if (lines[at] != expected) return fail("expected cue number " + expected);
    if (++at >= lines.size() || !isTiming(lines[at])) return fail("expected a timing line");
    ++at;
    while (at < lines.size() && !lines[at].empty()) {
      if (isBlank(lines[at])) return fail("a text line of blanks would end the cue for some readers");
      ++at;
    }
    if (at >= lines.size()) return fail("the cue has no blank line after it");
    ++at;
    ++verdict.cues;
  }
  verdict.valid = true;
  return verdict;
}

}  // namespace cli_test
