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

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// A <font ...> tag at the start of `text`: its length, 0 for none; *empty
// is set when an attribute is empty or repeated.
std::size_t fontTag(std::string_view text, bool* empty) {
  if (!startsWith(text, "<font")) return 0;
  std::size_t at = 5;
  std::string seen;
  *empty = false;
  while (at < text.size() && text[at] == ' ') {
    const std::size_t equals = text.find("=\"", at);
    if (equals == std::string_view::npos) return 0;
    const std::string name(text.substr(at + 1, equals - at - 1));
    if (name != "face" && name != "size" && name != "color") return 0;
    if (seen.find(name) != std::string::npos) *empty = true;
    seen += name + ",";
    const std::size_t quote = text.find('"', equals + 2);
    if (quote == std::string_view::npos) return 0;
    const std::string_view value = text.substr(equals + 2, quote - equals - 2);
    if (value.empty() || value == "#") *empty = true;
    at = quote + 1;
  }
  if (seen.empty() || at >= text.size() || text[at] != '>') return 0;
  return at + 1;
}

}  // namespace

std::string tagProblem(std::string_view text) {
  std::vector<std::string> open;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '<') continue;
    const std::string_view rest = text.substr(at);
    bool empty = false;
    if (const std::size_t length = fontTag(rest, &empty)) {
      if (empty) return "an empty or repeated attribute in " + std::string(rest.substr(0, length));
      open.push_back("font");
      at += length - 1;
      continue;
    }
    for (const char* name : {"b", "i", "u", "s", "font"}) {
      const std::string opening = std::string("<") + name + ">";
      const std::string closing = std::string("</") + name + ">";
      if (name != std::string("font") && startsWith(rest, opening)) {
        open.push_back(name);
        at += opening.size() - 1;
        break;
      }
      if (startsWith(rest, closing)) {
        if (open.empty() || open.back() != name) return closing + " does not close the last tag";
        open.pop_back();
        at += closing.size() - 1;
        break;
      }
    }
  }
  if (!open.empty()) return "<" + open.back() + "> is never closed";
  return "";
}

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80                    ? 1
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return false;
    }
    if (length == 3) {
      const unsigned code = (lead & 0x0Fu) << 12 | (byte(i + 1) & 0x3Fu) << 6;
      if (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)) return false;
    }
    if (length == 4) {
      const unsigned code = (lead & 0x07u) << 18 | (byte(i + 1) & 0x3Fu) << 12;
      if (code < 0x10000 || code > 0x10FFFF) return false;
    }
    i += length;
  }
  return true;
}

SrtVerdict checkSrt(std::string_view text) {
  SrtVerdict verdict;
  if (!isValidUtf8(text)) {
    verdict.error = "not valid UTF-8";
    return verdict;
  }
  if (text.find('\r') != std::string_view::npos) {
    verdict.error = "carriage return in the file";
    return verdict;
  }
  if (text.find('\0') != std::string_view::npos) {
    verdict.error = "NUL byte in the file";  // readers built on C strings end there
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
    std::string cueText;
    while (at < lines.size() && !lines[at].empty()) {
      if (isBlank(lines[at]))
        return fail("a text line of blanks would end the cue for some readers");
      cueText.append(lines[at]).push_back('\n');
      ++at;
    }
    if (const std::string problem = tagProblem(cueText); !problem.empty()) return fail(problem);
    if (at >= lines.size()) return fail("the cue has no blank line after it");
    ++at;
    ++verdict.cues;
  }
  verdict.valid = true;
  return verdict;
}

}  // namespace cli_test
