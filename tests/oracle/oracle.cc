#include "tests/oracle/oracle.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace oracle {
namespace {

bool isTrimmable(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\0'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// White space as isspace sees it in the C locale; spelled out so that the
// current locale and 8-bit bytes cannot change the answer.
bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Everything after the first `skip` bytes; empty when the line is no longer
// (a "Format:" or "Style:" line that ends at its colon).
std::string restAfter(const std::string& line, std::size_t skip) {
  if (line.size() <= skip) return std::string();
  return line.substr(skip);
}

bool hasKey(const EventColumns& table, const char* key) { return table.find(key) != table.end(); }

// Column table from the names of a "Format:" line; walking from the last name
// down lets the first of a repeated name win.
void fillColumns(const std::vector<std::string>& names, EventColumns& table) {
  for (std::size_t i = names.size(); i > 0; --i) {
    table[names[i - 1]] = static_cast<std::uint32_t>(i - 1);
  }
}

// Translation of one override block; "" means the block is deleted.
std::string translateBlock(const std::string& block) {
  if (block.size() <= 4) return std::string();
  const char code = block[2];
  const char next = block[3];
  switch (code) {
    case 'b':
      return next == '1' ? "<b>" : "</b>";
    case 'i':
      return next == '1' ? "<i>" : "</i>";
    case 'u':
      return next == '1' ? "<u>" : "</u>";
    case 's':
      return next == '1' ? "<s>" : "</s>";
    case 'f':
      if (next == 'n') {
        // Up to the closing brace, which is the block's last byte.
        return "<font face=\"" + block.substr(4, block.size() - 1 - 4) + "\">";
      }
      if (next == 's' && isDigit(block[4])) {
        return "<font size=\"" + relativeFontSize(block.substr(4)) + "\">";
      }
      return std::string();
    case 'c':
    case '1': {
      const std::string colour = overrideColour(block);
      if (colour.empty()) return std::string();
      return "<font color=\"#" + colour + "\">";
    }
    default:
      return std::string();
  }
}

// Working state of one header parse.
class HeaderParse {
 public:
  HeaderParse(EventColumns& eventColumns, StyleTable& styleTable)
      : eventColumns_(eventColumns), styleTable_(styleTable) {}

  // One trimmed header line through the section machine.
  void feed(const std::string& line) {
    if (!inStyles_) {
      if (line == "[V4 Styles]" || line == "[V4+ Styles]") {
        inStyles_ = true;
        eventsTest(line);
      } else if (startsWith(line, "Style:")) {
        // The line that opens the section is also its first style line.
        inStyles_ = true;
        feed(line);
      } else {
        eventsTest(line);
      }
      return;
    }
    if (inEvents_) {
      eventsHandling(line);
      return;
    }
    if (line == "[Events]") {
      inEvents_ = true;
      eventsHandling(line);
    } else if (startsWith(line, "Format:")) {
      styleFormatLine(line);
      eventsTest(line);
    } else if (startsWith(line, "Style:")) {
      styleLine(line);
      eventsTest(line);
    } else {
      eventsTest(line);
    }
  }

 private:
  void eventsTest(const std::string& line) {
    if (inEvents_) {
      eventsHandling(line);
    } else if (line == "[Events]") {
      inEvents_ = true;
    }
  }

  void eventsHandling(const std::string& line) {
    if (startsWith(line, "Format:")) eventsFormatLine(line);
  }

  void styleFormatLine(const std::string& line) {
    styleColumns_.clear();
    fillColumns(tokenize(",", restAfter(line, 8)), styleColumns_);
  }

  void eventsFormatLine(const std::string& line) {
    eventColumns_.clear();
    fillColumns(tokenize(",", restAfter(line, 8)), eventColumns_);
  }

  void styleLine(const std::string& line) {
    const std::vector<std::string> fields = tokenize(",", restAfter(line, 7));
    if (fields.size() != styleColumns_.size()) return;
    if (!hasKey(styleColumns_, "Name")) return;
    // A repeated column name leaves fewer columns than fields in the format
    // line; a style line must not send any of its columns past its fields.
    for (const char* column : {"Name", "Fontname", "Fontsize", "PrimaryColour", "Bold", "Italic"}) {
      const auto it = styleColumns_.find(column);
      if (it != styleColumns_.end() && it->second >= fields.size()) return;
    }

    const std::string& name = fields[styleColumns_.find("Name")->second];
    std::string opening;
    std::string closing;
    const bool hasFontname = hasKey(styleColumns_, "Fontname");
    const bool hasFontsize = hasKey(styleColumns_, "Fontsize");
    const bool hasColour = hasKey(styleColumns_, "PrimaryColour");
    if (hasFontname || hasFontsize || hasColour) {
      opening = "<font";
      if (hasFontname) {
        opening += " face=\"" + field(fields, "Fontname") + "\"";
      }
      if (hasFontsize) {
        opening += " size=\"" + relativeFontSize(field(fields, "Fontsize")) + "\"";
      }
      if (hasColour) {
        opening += " color=\"#" + convertColour(field(fields, "PrimaryColour")) + "\"";
      }
      opening += ">";
      closing = "</font>";
    }
    if (hasKey(styleColumns_, "Bold") && field(fields, "Bold") != "0") {
      opening += "<b>";
      closing = "</b>" + closing;
    }
    if (hasKey(styleColumns_, "Italic") && field(fields, "Italic") != "0") {
      opening += "<i>";
      closing = "</i>" + closing;
    }
    if (!opening.empty() && !closing.empty()) {
      styleTable_[name] = std::make_pair(opening, closing);
    }
  }

  const std::string& field(const std::vector<std::string>& fields, const char* column) const {
    return fields[styleColumns_.find(column)->second];
  }

  EventColumns& eventColumns_;
  StyleTable& styleTable_;
  EventColumns styleColumns_;
  bool inStyles_ = false;
  bool inEvents_ = false;
};

}  // namespace

std::string trim(const std::string& text) {
  if (text.size() <= 1) return text;
  std::size_t last = text.size() - 1;
  std::size_t start = 0;
  while (start < last && isTrimmable(text[start])) ++start;
  if (!isTrimmable(text[start])) {
    while (last > start && isTrimmable(text[last])) --last;
  }
  return text.substr(start, last - start + 1);
}

std::vector<std::string> tokenize(const std::string& delimiters, const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = text.find_first_not_of(delimiters, 0);
  std::size_t stop = text.find_first_of(delimiters, start);
  while (stop != std::string::npos || start != std::string::npos) {
    if (stop == std::string::npos) {
      pieces.push_back(trim(text.substr(start)));
    } else {
      pieces.push_back(trim(text.substr(start, stop - start)));
    }
    start = text.find_first_not_of(delimiters, stop);
    stop = text.find_first_of(delimiters, start);
  }
  return pieces;
}

std::uint32_t findFieldComma(const std::string& text, std::uint32_t start) {
  if (text.empty()) return kNoPosition;
  bool inBlock = false;
  for (std::size_t i = start; i < text.size() - 1; ++i) {
    if (!inBlock) {
      if (text[i] == ',') return static_cast<std::uint32_t>(i);
      if (text[i] == '{') inBlock = true;
    } else if (text[i] == '}') {
      inBlock = false;
    }
  }
  return kNoPosition;
}

void replaceAll(const std::string& pattern, std::string* target, const std::string& replacement) {
  if (target == nullptr || pattern.empty() || replacement.empty()) return;
  for (;;) {
    const std::size_t at = target->find(pattern, 0);
    if (at == std::string::npos) return;
    target->replace(at, pattern.size(), replacement);
  }
}

std::uint32_t parseLeadingDigits(const std::string& text) {
  std::uint32_t value = 0;
  for (char c : text) {
    if (!isDigit(c)) break;
    value = value * 10u + static_cast<std::uint32_t>(c - '0');
  }
  return value;
}

std::string relativeFontSize(const std::string& text) {
  const std::uint32_t n = parseLeadingDigits(text);
  if (n == 0 || n == 22) return std::string();
  if (n < 22) return "-" + std::to_string((22 - n) / 2);
  return "+" + std::to_string((n - 22) / 2);
}

std::string convertColour(const std::string& text) {
  if (text.size() < 2) return std::string();
  std::string rest = text;
  if (rest.back() == '&') rest.pop_back();
  if (startsWith(rest, "&H")) return reorderHexColour(rest.substr(2));
  return decimalColour(rest);
}

std::string reorderHexColour(const std::string& digits) {
  switch (digits.size()) {
    case 2:
      return digits + "0000";
    case 4:
      return digits.substr(2, 2) + digits.substr(0, 2) + "00";
    case 6:
      return digits.substr(4, 2) + digits.substr(2, 2) + digits.substr(0, 2);
    default:
      return std::string();
  }
}

std::string decimalColour(const std::string& text) {
  // "%d" by hand: the text may hold NUL bytes, which sscanf would stop at.
  std::size_t i = 0;
  while (i < text.size() && isCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || !isDigit(text[i])) return std::string();
  // Saturates just above the 32-bit range; the clamp below does the rest.
  const std::int64_t kCap = std::int64_t{1} << 32;
  std::int64_t magnitude = 0;
  while (i < text.size() && isDigit(text[i])) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kCap) magnitude = kCap;
    ++i;
  }
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  const std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
  char buffer[7];
  std::snprintf(buffer, sizeof buffer, "%02X%02X%02X", static_cast<unsigned>(v & 0xFF),
                static_cast<unsigned>((v >> 8) & 0xFF), static_cast<unsigned>((v >> 16) & 0xFF));
  return std::string(buffer, 6);
}

std::string overrideColour(const std::string& block) {
  if (block.size() < 9) return std::string();
  std::size_t from;
  if (startsWith(block, "{\\c")) {
    from = 3;
  } else if (startsWith(block, "{\\1c")) {
    from = 4;
  } else {
    return std::string();
  }
  const std::size_t close = block.find('}', 0);
  if (close == std::string::npos) return std::string();
  return convertColour(block.substr(from, close - from));
}

bool parseScriptHeader(const std::string& header, EventColumns& eventColumns,
                       StyleTable& styleTable) {
  static const char* const kDefaults[] = {"Marked",  "Start",   "End",     "Style",  "Name",
                                          "MarginL", "MarginR", "MarginV", "Effect", "Text"};
  for (std::uint32_t i = 0; i < 10; ++i) {
    eventColumns.insert_or_assign(kDefaults[i], i);
  }
  HeaderParse parse(eventColumns, styleTable);
  for (const std::string& line : tokenize("\r\n", header)) parse.feed(line);
  return hasKey(eventColumns, "Text");
}

std::vector<std::string> splitEventFields(const std::string& line, std::uint32_t limit) {
  std::vector<std::string> out;
  std::size_t start = 0;
  std::uint32_t comma = findFieldComma(line, 0);
  while (static_cast<std::uint64_t>(out.size()) + 1 < limit) {
    if (comma == kNoPosition) {
      out.push_back(trim(line.substr(start)));
      return out;
    }
    out.push_back(trim(line.substr(start, comma - start)));
    start = static_cast<std::size_t>(comma) + 1;
    comma = findFieldComma(line, static_cast<std::uint32_t>(start));
  }
  out.push_back(trim(line.substr(start)));
  return out;
}

bool convertLine(const std::string& lineText, EventColumns& eventColumns,
                 const StyleTable& styleTable, std::string* markup) {
  const std::vector<std::string> fields =
      splitEventFields(lineText, static_cast<std::uint32_t>(eventColumns.size()));

  auto text = eventColumns.find("Text");
  if (text == eventColumns.end()) {
    text = eventColumns.emplace("Text", 0).first;
  }
  if (text->second >= fields.size()) return false;

  std::string result = fields[text->second];
  replaceAll("\\N", &result, "\n");
  replaceAll("\\n", &result, "\n");
  replaceAll("\\h", &result, " ");

  // Each pass removes one "}" and no translation brings one in, so this ends.
  std::size_t p = result.find('{');
  std::size_t q = result.find('}', p);
  while (p != std::string::npos && q != std::string::npos) {
    const std::string block = result.substr(p, q - p + 1);
    const std::string translation = translateBlock(block);
    if (!translation.empty() && translation[0] != '{') {
      result.replace(p, block.size(), translation);
    } else {
      result.erase(p, block.size());
    }
    p = result.find('{');
    q = result.find('}', p);
  }

  const auto style = eventColumns.find("Style");
  // A Style column past the last field leaves the line unstyled.
  if (style != eventColumns.end() && style->second < fields.size()) {
    const auto entry = styleTable.find(fields[style->second]);
    if (entry != styleTable.end()) {
      result = entry->second.first + result + entry->second.second;
    }
  }
  *markup = result;
  return true;
}

}  // namespace oracle
