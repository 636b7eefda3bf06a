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

// Where the walk through the header stands. The order matters: a head moves
// the walk forward to its section and never back.
enum class Section { None, Styles, Events };

struct Head {
  std::string_view text;
  bool wholeLine;  // else the line need only start with the text
  Section opens;
};

// "[Events]" counts before the style section too. No other head ends the
// style section: the lines of a further section still count as style lines.
constexpr Head kHeads[] = {
    // Either head opens the style section, whatever the script version.
    {"[V4 Styles]", true, Section::Styles},
    {"[V4+ Styles]", true, Section::Styles},
    // A "Style:" line opens the section too, then is read as a line of it.
    {"Style:", false, Section::Styles},
    {"[Events]", true, Section::Events},
};

// The columns a style "Format:" line names that the markup needs, in the
// order of kStyleColumnNames.
enum StyleColumn { kName, kFontname, kFontsize, kPrimaryColour, kBold, kItalic, kStyleColumnCount };

constexpr std::string_view kStyleColumnNames[kStyleColumnCount] = {
    "Name", "Fontname", "Fontsize", "PrimaryColour", "Bold", "Italic"};

// The font attributes, in the order they are written. Each is written when
// its column exists, even when its value converts to nothing.
struct FontAttribute {
  StyleColumn column;
  std::string_view prefix;
  std::string (*convert)(std::string_view);  // null: the field unchanged
};

constexpr FontAttribute kFontAttributes[] = {
    {kFontname, " face=\"", nullptr},
    {kFontsize, " size=\"", relativeFontSize},
    {kPrimaryColour, " color=\"#", convertColour},
};

// The tags a style switches on, nested in this order inside the font.
// Anything but "0" switches a tag on: SSA writes -1, ASS writes 1.
struct StyleTag {
  StyleColumn column;
  std::string_view opening;
  std::string_view closing;
};

constexpr StyleTag kStyleTags[] = {
    {kBold, "<b>", "</b>"},
    {kItalic, "<i>", "</i>"},
};

// What a style "Format:" line says about the style lines after it: how many
// fields they must have and where the fields that make markup stand.
struct StyleColumns {
  std::size_t count = 0;
  std::optional<std::uint32_t> at[kStyleColumnCount];
};

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

// One walk through the header: the section it stands in, the style columns
// it has read, and the tables it fills.
class HeaderReader {
 public:
  HeaderReader(EventColumns& eventColumns, StyleTable& styleTable)
      : eventColumns(eventColumns), styleTable(styleTable) {}

  // One trimmed line: a head first, then what the section reads.
  void read(std::string_view line);

 private:
  using LineReader = void (HeaderReader::*)(std::string_view);

  // The lines each section reads; every other line is passed over. Once in
  // the events section, every "Format:" line describes events, even one
  // standing in the style section or before it.
  struct Keyword {
    Section section;
    std::string_view text;
    LineReader read;
  };

  static const Keyword kKeywords[];

  void readStyleFormat(std::string_view line) {
    EventColumns columns;
    fillColumns(fieldsAfter(line, kFormat), columns);
    styleColumns = StyleColumns();
    styleColumns.count = columns.size();
    for (std::size_t i = 0; i < kStyleColumnCount; ++i) {
      const auto it = columns.find(kStyleColumnNames[i]);
      if (it != columns.end()) styleColumns.at[i] = it->second;
    }
  }

  void readStyle(std::string_view line) {
    const std::vector<std::string> fields = fieldsAfter(line, kStyle);
    if (fields.size() != styleColumns.count || !styleColumns.at[kName]) return;
    // A repeated name on the "Format:" line leaves fewer columns than names, so
    // a line matching the count may still be too short for a column; pass it over.
    for (const auto& column : styleColumns.at) {
      if (column && *column >= fields.size()) return;
    }
    const auto field = [&](StyleColumn column) -> const std::string* {
      const auto& at = styleColumns.at[column];
      return at ? &fields[*at] : nullptr;
    };

    std::string attributes;
    for (const FontAttribute& attribute : kFontAttributes) {
      const std::string* value = field(attribute.column);
      if (value == nullptr) continue;
      attributes += attribute.prefix;
      attributes += attribute.convert ? attribute.convert(*value) : *value;
      attributes += "\"";
    }
    std::string opening;
    std::string closing;
    if (!attributes.empty()) {
      opening = "<font" + attributes + ">";
      closing = "</font>";
    }
    for (const StyleTag& tag : kStyleTags) {
      const std::string* value = field(tag.column);
      if (value == nullptr || *value == "0") continue;
      opening += tag.opening;
      closing.insert(0, tag.closing);
    }
    // A style without markup leaves an older entry of its name in place.
    if (opening.empty()) return;
    styleTable.insert_or_assign(*field(kName), StyleMarkup(opening, closing));
  }

  void readEventsFormat(std::string_view line) { ssa::readEventsFormat(line, eventColumns); }

  EventColumns& eventColumns;
  StyleTable& styleTable;
  Section section = Section::None;
  StyleColumns styleColumns;
};

const HeaderReader::Keyword HeaderReader::kKeywords[] = {
    {Section::Styles, kFormat, &HeaderReader::readStyleFormat},
    {Section::Styles, kStyle, &HeaderReader::readStyle},
    {Section::Events, kFormat, &HeaderReader::readEventsFormat},
};

void HeaderReader::read(std::string_view line) {
  for (const Head& head : kHeads) {
    const bool matches = head.wholeLine ? line == head.text : startsWith(line, head.text);
    if (matches) {
      if (section < head.opens) section = head.opens;
      break;
    }
  }
  for (const Keyword& keyword : kKeywords) {
    if (keyword.section == section && startsWith(line, keyword.text)) {
      (this->*keyword.read)(line);
      return;
    }
  }
}

}  // namespace

void readEventsFormat(std::string_view line, EventColumns& eventColumns) {
  eventColumns.clear();
  fillColumns(fieldsAfter(line, kFormat), eventColumns);
}

void assignDefaultColumns(EventColumns& eventColumns) {
  static constexpr std::string_view kDefaults[] = {
      "Marked", "Start", "End", "Style", "Name", "MarginL", "MarginR", "MarginV", "Effect", "Text"};
  for (std::uint32_t i = 0; i < std::size(kDefaults); ++i) {
    eventColumns.insert_or_assign(std::string(kDefaults[i]), i);
  }
}

bool readScriptHeader(std::string_view header, EventColumns& eventColumns, StyleTable& styleTable) {
  HeaderReader reader(eventColumns, styleTable);
  for (const std::string& line : tokenize("\r\n", header)) reader.read(line);
  return eventColumns.find(kTextColumn) != eventColumns.end();
}

}  // namespace ssa
