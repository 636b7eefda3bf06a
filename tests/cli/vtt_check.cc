#include "tests/cli/vtt_check.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace cli_test {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isBlankChar(char c) { return c == ' ' || c == '\t'; }

bool validUtf8(std::string_view text, std::size_t* bad) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      *bad = i;
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= text.size()) {
        *bad = i;
        return false;
      }
      const auto c = static_cast<unsigned char>(text[i + k]);
      if (c < low || c > high) {
        *bad = i;
        return false;
      }
      low = 0x80;
      high = 0xBF;
    }
    i += length;
  }
  return true;
}

// Digits from *at, as many as there are; nothing when there is none.
std::optional<std::uint64_t> number(std::string_view text, std::size_t* at, std::size_t* count) {
  std::uint64_t value = 0;
  const std::size_t start = *at;
  while (*at < text.size() && isDigit(text[*at]) && *at - start < 18) {
    value = value * 10 + static_cast<std::uint64_t>(text[*at] - '0');
    ++*at;
  }
  *count = *at - start;
  if (*count == 0) return std::nullopt;
  return value;
}

// [hh+ ":"] mm ":" ss "." ttt at *at, in milliseconds.
std::optional<std::uint64_t> timestamp(std::string_view text, std::size_t* at) {
  std::size_t count = 0;
  const auto first = number(text, at, &count);
  if (!first || *at >= text.size() || text[*at] != ':') return std::nullopt;
  ++*at;
  std::uint64_t hours = 0;
  std::uint64_t minutes = *first;
  std::size_t minuteDigits = count;
  const auto second = number(text, at, &count);
  if (!second || count != 2) return std::nullopt;
  std::uint64_t seconds = *second;
  if (*at < text.size() && text[*at] == ':') {
    // Three parts: the first was the hours, of two digits or more.
    if (minuteDigits < 2) return std::nullopt;
    ++*at;
    hours = minutes;
    minutes = seconds;
    minuteDigits = 2;
    const auto third = number(text, at, &count);
    if (!third || count != 2) return std::nullopt;
    seconds = *third;
  } else if (minuteDigits != 2) {
    return std::nullopt;
  }
  if (minutes > 59 || seconds > 59) return std::nullopt;
  if (*at >= text.size() || text[*at] != '.') return std::nullopt;
  ++*at;
  const auto fraction = number(text, at, &count);
  if (!fraction || count != 3) return std::nullopt;
  return ((hours * 60 + minutes) * 60 + seconds) * 1000 + *fraction;
}

struct Timing {
  std::uint64_t start;
  std::uint64_t end;
};

std::optional<Timing> timing(std::string_view line, std::string* why) {
  std::size_t at = 0;
  const auto start = timestamp(line, &at);
  if (!start) {
    *why = "the start time is not a WebVTT timestamp";
    return std::nullopt;
  }
  std::size_t blanks = at;
  while (at < line.size() && isBlankChar(line[at])) ++at;
  if (at == blanks || line.substr(at, 3) != "-->") {
    *why = "expected blanks and \"-->\" after the start time";
    return std::nullopt;
  }
  at += 3;
  blanks = at;
  while (at < line.size() && isBlankChar(line[at])) ++at;
  if (at == blanks) {
    *why = "expected blanks after \"-->\"";
    return std::nullopt;
  }
  const auto end = timestamp(line, &at);
  if (!end) {
    *why = "the end time is not a WebVTT timestamp";
    return std::nullopt;
  }
  // Settings may follow after blanks; subrite-host writes none.
  if (at < line.size() && !isBlankChar(line[at])) {
    *why = "unexpected text after the end time";
    return std::nullopt;
  }
  if (*end <= *start) {
    *why = "the end time is not after the start time";
    return std::nullopt;
  }
  return Timing{*start, *end};
}

bool isClassChar(char c) {
  return c != '\t' && c != '\n' && c != '\f' && c != '\r' && c != ' ' && c != '&' && c != '<' &&
         c != '>' && c != '.';
}

// The cue text, its tags closed in order; *why says what broke it.
bool cueText(std::string_view text, const Timing& timing, std::set<std::string>* classes,
             std::string* why) {
  static constexpr std::string_view kEscapes[] = {"&amp;", "&lt;",  "&gt;",
                                                  "&lrm;", "&rlm;", "&nbsp;"};
  std::vector<std::string_view> open;
  std::size_t at = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (c == '&') {
      bool known = false;
      for (std::string_view escape : kEscapes) {
        if (text.substr(at, escape.size()) == escape) {
          at += escape.size();
          known = true;
          break;
        }
      }
      if (!known && text.substr(at, 2) == "&#") {
        std::size_t end = at + 2;
        const bool hex = end < text.size() && (text[end] == 'x' || text[end] == 'X');
        if (hex) ++end;
        const std::size_t first = end;
        while (end < text.size() && (hex ? isHex(text[end]) : isDigit(text[end]))) ++end;
        if (end > first && end < text.size() && text[end] == ';') {
          at = end + 1;
          known = true;
        }
      }
      if (!known) {
        *why = "an \"&\" that begins no escape";
        return false;
      }
      continue;
    }
    if (c != '<') {
      ++at;
      continue;
    }
    const std::size_t close = text.find('>', at);
    if (close == std::string_view::npos) {
      *why = "a \"<\" that begins no tag";
      return false;
    }
    const std::string_view tag = text.substr(at + 1, close - at - 1);
    at = close + 1;
    if (tag.find_first_of("\n\r<") != std::string_view::npos) {
      *why = "a tag that is not on one line";
      return false;
    }
    if (!tag.empty() && tag[0] == '/') {
      const std::string_view name = tag.substr(1);
      if (open.empty() || open.back() != name) {
        *why = "the end tag </" + std::string(name) + "> closes no element open last";
        return false;
      }
      open.pop_back();
      continue;
    }
    if (!tag.empty() && isDigit(tag[0])) {
      std::size_t position = 0;
      const auto time = timestamp(tag, &position);
      if (!time || position != tag.size() || *time <= timing.start || *time >= timing.end) {
        *why = "a timestamp tag that is malformed or outside its cue";
        return false;
      }
      continue;
    }
    std::size_t end = 0;
    while (end < tag.size() && tag[end] != '.' && !isBlankChar(tag[end])) ++end;
    const std::string_view name = tag.substr(0, end);
    const bool annotated = name == "v" || name == "lang";
    if (name != "c" && name != "i" && name != "b" && name != "u" && name != "ruby" &&
        name != "rt" && !annotated) {
      *why = "an unknown tag <" + std::string(tag) + ">";
      return false;
    }
    while (end < tag.size() && tag[end] == '.') {
      const std::size_t first = ++end;
      while (end < tag.size() && isClassChar(tag[end])) ++end;
      if (end == first) {
        *why = "an empty class in <" + std::string(tag) + ">";
        return false;
      }
      classes->insert(std::string(tag.substr(first, end - first)));
    }
    const std::string_view annotation = tag.substr(end);
    if (annotated ? annotation.find_first_not_of(" \t") == std::string_view::npos
                  : !annotation.empty()) {
      *why = "the annotation of <" + std::string(tag) + "> is wrong";
      return false;
    }
    if (name == "rt" && (open.empty() || open.back() != "ruby")) {
      *why = "<rt> outside <ruby>";
      return false;
    }
    open.push_back(name);
  }
  if (!open.empty()) {
    *why = "<" + std::string(open.back()) + "> is never closed";
    return false;
  }
  return true;
}

}  // namespace

VttVerdict checkVtt(std::string_view text) {
  VttVerdict verdict;
  std::size_t bad = 0;
  if (!validUtf8(text, &bad)) {
    verdict.error = "not UTF-8 at byte " + std::to_string(bad);
    return verdict;
  }
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t stop = text.find_first_of("\r\n");
    lines.push_back(text.substr(0, stop));
    if (stop == std::string_view::npos) break;
    const std::size_t next = text.substr(stop, 2) == "\r\n" ? stop + 2 : stop + 1;
    text.remove_prefix(next);
  }
  std::size_t at = 0;
  const auto fail = [&](const std::string& what) {
    verdict.error = "line " + std::to_string(at + 1) + ": " + what;
    return verdict;
  };
  if (lines.empty() || lines[0].substr(0, 6) != "WEBVTT" ||
      (lines[0].size() > 6 && !isBlankChar(lines[0][6])) ||
      lines[0].find("-->") != std::string_view::npos) {
    return fail("the file does not begin with the WEBVTT line");
  }
  at = 1;
  if (at < lines.size() && !lines[at].empty()) return fail("no blank line after the header");
  bool cueSeen = false;
  std::uint64_t lastStart = 0;
  while (at < lines.size()) {
    if (lines[at].empty()) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < lines.size() && !lines[end].empty()) ++end;
    const std::string_view head = lines[at];
    const auto headIs = [&head](std::string_view word) {
      return head.substr(0, word.size()) == word &&
             head.find_first_not_of(" \t", word.size()) == std::string_view::npos;
    };
    if (headIs("STYLE") || head == "NOTE" ||
        (head.substr(0, 4) == "NOTE" && head.size() > 4 && isBlankChar(head[4]))) {
      if (headIs("STYLE") && cueSeen) return fail("a STYLE block after a cue");
      for (std::size_t i = at; i < end; ++i) {
        if (lines[i].find("-->") != std::string_view::npos) {
          at = i;
          return fail("\"-->\" inside a STYLE or NOTE block");
        }
        if (headIs("STYLE") && i > at) {
          verdict.styles.append(lines[i]);
          verdict.styles.push_back('\n');
        }
      }
      at = end;
      continue;
    }
    std::size_t timingLine = at;
    if (head.find("-->") == std::string_view::npos) ++timingLine;  // an identifier
    if (timingLine >= end) return fail("a block that is no cue, STYLE or NOTE");
    at = timingLine;
    std::string why;
    const auto times = timing(lines[timingLine], &why);
    if (!times) return fail(why);
    if (cueSeen && times->start < lastStart)
      return fail("a cue that starts before the one before it");
    std::string payload;
    for (std::size_t i = timingLine + 1; i < end; ++i) {
      at = i;
      if (lines[i].find("-->") != std::string_view::npos) return fail("\"-->\" in cue text");
      if (i > timingLine + 1) payload.push_back('\n');
      payload.append(lines[i]);
    }
    at = timingLine + 1;
    if (!cueText(payload, *times, &verdict.classes, &why)) return fail(why);
    cueSeen = true;
    lastStart = times->start;
    ++verdict.cues;
    at = end;
  }
  verdict.valid = true;
  return verdict;
}

}  // namespace cli_test
