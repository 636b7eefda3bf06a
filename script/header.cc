#include "script/header.h"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/tables.h"
#include "script/text.h"

namespace ssa {

namespace {

constexpr std::string_view kFormat = "Format:";
constexpr std::string_view kStyle = "Style:";

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The comma-separated list after a keyword and the one byte after its colon,
// which is dropped whatever it is ("Format:Name" gives "ame").
std::vector<std::string> fieldsAfter(std::string_view line, std::string_view keyword) {
  const std::size_t skip = keyword.size() + 1;
  // A line that ends at its colon has an empty list (and nothing to cut past).
  if (line.size() <= skip) return {};
  return tokenize(",", line.substr(skip));
}

// Name -> column, the first column winning where a name repeats. Style
// columns use the same table form as event columns.
void fillColumns(const std::vector<std::string>& names, EventColumns& columns) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    columns.emplace(names[i], static_cast<std::uint32_t>(i));
  }
}

// What a style "Format:" line says about the style lines after it: how many
// fields they must have and where the six fields that make markup stand.
struct StyleColumns {
  std::size_t count = 0;
  std::optional<std::uint32_t> name;
  std::optional<std::uint32_t> fontName;
  std::optional<std::uint32_t> fontSize;
  std::optional<std::uint32_t> primaryColour;
  std::optional<std::uint32_t> bold;
  std::optional<std::uint32_t> italic;
};

StyleColumns readStyleFormat(std::string_view line) {
  EventColumns columns;
  fillColumns(fieldsAfter(line, kFormat), columns);
  const auto column = [&columns](std::string_view name) -> std::optional<std::uint32_t> {
    const auto it = columns.find(name);
    if (it == columns.end()) return std::nullopt;
    return it->second;
  };
  StyleColumns result;
  result.count = columns.size();
  result.name = column("Name");
  result.fontName = column("Fontname");
  result.fontSize = column("Fontsize");
  result.primaryColour = column("PrimaryColour");
  result.bold = column("Bold");
  result.italic = column("Italic");
  return result;
}

void readStyle(std::string_view line, const StyleColumns& columns, StyleTable& styleTable) {
  const std::vector<std::string> fields = fieldsAfter(line, kStyle);
  if (fields.size() != columns.count || !columns.name) return;
  // A repeated name on the "Format:" line leaves fewer columns than names, so
  // a line matching the count may still be too short for a column; pass it over.
  for (const auto& column : {columns.name, columns.fontName, columns.fontSize,
                             columns.primaryColour, columns.bold, columns.italic}) {
    if (column && *column >= fields.size()) return;
  }

  std::string opening;
  std::string closing;
  if (columns.fontName || columns.fontSize || columns.primaryColour) {
    opening = "<font";
    if (columns.fontName) opening += " face=\"" + fields[*columns.fontName] + "\"";
    // Size and colour attributes are written even when their value is empty.
    if (columns.fontSize) {
      opening += " size=\"" + relativeFontSize(fields[*columns.fontSize]) + "\"";
    }
    if (columns.primaryColour) {
      opening += " color=\"#" + convertColour(fields[*columns.primaryColour]) + "\"";
    }
    opening += ">";
    closing = "</font>";
  }
  // Anything but "0" is bold: SSA writes -1, ASS writes 1.
  if (columns.bold && fields[*columns.bold] != "0") {
    opening += "<b>";
    closing.insert(0, "</b>");
  }
  if (columns.italic && fields[*columns.italic] != "0") {
    opening += "<i>";
    closing.insert(0, "</i>");
  }
  // A style without markup leaves an older entry of its name in place.
  if (opening.empty()) return;
  styleTable.insert_or_assign(fields[*columns.name], StyleMarkup(opening, closing));
}

void readEventsFormat(std::string_view line, EventColumns& eventColumns) {
  eventColumns.clear();
  fillColumns(fieldsAfter(line, kFormat), eventColumns);
}

}  // namespace

void assignDefaultColumns(EventColumns& eventColumns) {
  static constexpr std::string_view kDefaults[] = {
      "Marked", "Start", "End", "Style", "Name", "MarginL", "MarginR", "MarginV", "Effect", "Text"};
  for (std::uint32_t i = 0; i < std::size(kDefaults); ++i) {
    eventColumns.insert_or_assign(std::string(kDefaults[i]), i);
  }
}

bool readScriptHeader(std::string_view header, EventColumns& eventColumns, StyleTable& styleTable) {
  bool inStyles = false;
  bool inEvents = false;
  StyleColumns styleColumns;
  for (const std::string& line : tokenize("\r\n", header)) {
    if (!inStyles) {
      // Either head opens the style section, whatever the script version.
      if (line == "[V4 Styles]" || line == "[V4+ Styles]") {
        inStyles = true;
        continue;
      }
      // A "Style:" line opens the section too, then goes on as a line of it.
      if (startsWith(line, kStyle)) inStyles = true;
    }
    // Once in the events section, every "Format:" line describes events, even
    // one standing in the style section or before it.
    if (inEvents) {
      if (startsWith(line, kFormat)) readEventsFormat(line, eventColumns);
      continue;
    }
    // "[Events]" counts before the style section too.
    if (line == "[Events]") {
      inEvents = true;
      continue;
    }
    // No other head ends the style section: its lines still count as style lines.
    if (!inStyles) continue;
    if (startsWith(line, kFormat)) {
      styleColumns = readStyleFormat(line);
    } else if (startsWith(line, kStyle)) {
      readStyle(line, styleColumns, styleTable);
    }
  }
  return eventColumns.find("Text") != eventColumns.end();
}

}  // namespace ssa
