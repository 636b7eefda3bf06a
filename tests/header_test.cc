#include "script/header.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "script/tables.h"
#include "tests/support/fixtures.h"

namespace ssa {
namespace {

using namespace std::string_view_literals;

const EventColumns kDefaultColumns = {
    {"Marked", 0},  {"Start", 1},   {"End", 2},     {"Style", 3},  {"Name", 4},
    {"MarginL", 5}, {"MarginR", 6}, {"MarginV", 7}, {"Effect", 8}, {"Text", 9},
};

const EventColumns kLayerColumns = {
    {"Layer", 0},   {"Start", 1},   {"End", 2},     {"Style", 3},  {"Name", 4},
    {"MarginL", 5}, {"MarginR", 6}, {"MarginV", 7}, {"Effect", 8}, {"Text", 9},
};

// Both tables as the component keeps them, parsed the way the component
// parses: the defaults first, then the header.
struct Script {
  EventColumns eventColumns;
  StyleTable styleTable;

  bool parse(std::string_view header) {
    assignDefaultColumns(eventColumns);
    return readScriptHeader(header, eventColumns, styleTable);
  }
};

constexpr std::string_view kWorkedExample =
    "[Script Info]\r\n"
    "ScriptType: v4.00+\r\n"
    "\r\n"
    "[V4+ Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\r\n"
    "Style: Default,Arial,20,&HFF8000,-1,0\r\n"
    "Style: Note,Tahoma,30,255,0,1\r\n"
    "Style: Short,Arial,20\r\n"
    "\r\n"
    "[Events]\r\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";

const StyleTable kWorkedExampleStyles = {
    {"Default", {fixtures::kDefaultOpen, fixtures::kDefaultClose}},
    {"Note", {fixtures::kNoteOpen, fixtures::kNoteClose}},
};

// Replaces every "\n" of text by `separator`.
std::string withSeparator(std::string_view text, std::string_view separator) {
  std::string result;
  for (const char c : text) {
    if (c == '\n') {
      result += separator;
    } else {
      result += c;
    }
  }
  return result;
}

TEST(AssignDefaultColumnsTest, AssignsTenColumnsAndKeepsOtherNames) {
  EventColumns columns = {{"Text", 5}, {"Layer", 0}, {"Marked", 7}};
  assignDefaultColumns(columns);
  EventColumns expected = kDefaultColumns;
  expected.emplace("Layer", 0);
  EXPECT_EQ(columns, expected);
}

TEST(ReadScriptHeaderTest, WorkedExample) {
  Script script;
  EXPECT_TRUE(script.parse(kWorkedExample));
  EXPECT_EQ(script.styleTable, kWorkedExampleStyles);
  EXPECT_EQ(script.eventColumns, kLayerColumns);
}

TEST(ReadScriptHeaderTest, EmptyHeaderKeepsDefaults) {
  Script script;
  script.styleTable = kWorkedExampleStyles;
  EXPECT_TRUE(script.parse(""));
  EXPECT_EQ(script.eventColumns, kDefaultColumns);
  EXPECT_EQ(script.styleTable, kWorkedExampleStyles);
}

TEST(ReadScriptHeaderTest, AnyRunOfLineBreaksSeparatesLines) {
  const std::string_view lineFeedHeader =
      "[V4+ Styles]\n"
      "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\n"
      "Style: Default,Arial,20,&HFF8000,-1,0\n"
      "Style: Note,Tahoma,30,255,0,1\n"
      "[Events]\n"
      "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
  for (const std::string_view separator : {"\r\n", "\n", "\r", "\n\n\r\n", "\r\r", "\n   \n"}) {
    Script script;
    EXPECT_TRUE(script.parse(withSeparator(lineFeedHeader, separator)));
    EXPECT_EQ(script.styleTable, kWorkedExampleStyles) << "separator " << separator.size();
    EXPECT_EQ(script.eventColumns, kLayerColumns) << "separator " << separator.size();
  }
}

// The same style section behind a given head: does the head open it?
TEST(ReadScriptHeaderTest, SectionHeads) {
  struct Case {
    std::string_view head;
    bool opensStyles;
  };
  const Case cases[] = {
      // Heads are compared after trimming.
      {"[V4+ Styles]", true},
      {"[V4 Styles]", true},
      {"[V4+ Styles]   ", true},
      {"  [V4 Styles]", true},
      {"\0[V4+ Styles]\0"sv, true},
      // Case matters, and tab is not trimmed.
      {"[v4+ styles]", false},
      {"[V4+ Styles]\t", false},
      {"[V4+ Styles]x", false},
      {"[Script Info]", false},
  };
  for (const Case& c : cases) {
    Script script;
    std::string header(c.head);
    header += "\nFormat: Name, Bold\nStyle: S,1\n";
    EXPECT_TRUE(script.parse(header));
    EXPECT_EQ(script.styleTable.count("S"), c.opensStyles ? 1u : 0u)
        << "head " << testing::PrintToString(std::string(c.head));
    EXPECT_EQ(script.eventColumns, kDefaultColumns);
  }
}

// Style section lines and the styles they leave; every header below starts
// with "[V4+ Styles]\n".
TEST(ReadScriptHeaderTest, StyleLines) {
  struct Case {
    std::string_view name;
    std::string_view lines;
    StyleTable expected;
  };
  const Case cases[] = {
      {"no font columns, bold -1, italic 0",
       "Format: Name, Bold, Italic\nStyle: S,-1,0",
       {{"S", {"<b>", "</b>"}}}},
      {"bold 1", "Format: Name, Bold\nStyle: S,1", {{"S", {"<b>", "</b>"}}}},
      {"bold of any text but 0", "Format: Name, Bold\nStyle: S,00", {{"S", {"<b>", "</b>"}}}},
      {"bold and italic",
       "Format: Name, Italic, Bold\nStyle: S,1,1",
       {{"S", {"<b><i>", "</i></b>"}}}},
      {"bold and italic 0 without font columns: no entry",
       "Format: Name, Bold, Italic\nStyle: S,0,0",
       {}},
      {"name only: no entry", "Format: Name\nStyle: S", {}},
      {"size alone",
       "Format: Name, Fontsize\nStyle: S,20",
       {{"S", {"<font size=\"-1\">", "</font>"}}}},
      {"size 22 gives an empty size",
       "Format: Name, Fontsize\nStyle: S,22",
       {{"S", {"<font size=\"\">", "</font>"}}}},
      {"colour alone",
       "Format: Name, PrimaryColour\nStyle: S,&H80FF&",
       {{"S", {"<font color=\"#FF8000\">", "</font>"}}}},
      {"eight-digit colour gives the # alone",
       "Format: Name, PrimaryColour\nStyle: S,&H00FFFFFF",
       {{"S", {"<font color=\"#\">", "</font>"}}}},
      {"face unchanged",
       "Format: Name, Fontname\nStyle: S,Times New \"Roman\"",
       {{"S", {"<font face=\"Times New \"Roman\"\">", "</font>"}}}},
      {"font, bold and italic nest",
       "Format: Italic, Bold, PrimaryColour, Fontsize, Fontname, Name\n"
       "Style: 1,1,&HFF,30,Arial,S",
       {{"S", {"<font face=\"Arial\" size=\"+4\" color=\"#FF0000\"><b><i>", "</i></b></font>"}}}},
      {"other columns ignored",
       "Format: Name, Outline, Bold, Shadow\nStyle: S,2,1,3",
       {{"S", {"<b>", "</b>"}}}},
      {"fields and name trimmed",
       "Format: Name, Bold\nStyle:  S  ,  1  ",
       {{"S", {"<b>", "</b>"}}}},
      {"NUL inside a name",
       "Format: Name, Bold\nStyle: N\0ul,1\0"sv,
       {{std::string("N\0ul", 4), {"<b>", "</b>"}}}},
      {"field count differs", "Format: Name, Bold\nStyle: S,1,0\nStyle: T", {}},
      {"empty field breaks the count",
       "Format: Name, Fontname, Fontsize, Bold\nStyle: S,Arial,,1",
       {}},
      {"empty field that keeps the count shifts the fields",
       "Format: Name, Bold, Italic\nStyle: S,,1,0",
       {{"S", {"<b>", "</b>"}}}},
      {"later style of the same name wins",
       "Format: Name, Bold, Italic\nStyle: S,1,0\nStyle: S,0,1",
       {{"S", {"<i>", "</i>"}}}},
      {"later style without markup leaves the earlier one",
       "Format: Name, Bold, Italic\nStyle: S,1,0\nStyle: S,0,0",
       {{"S", {"<b>", "</b>"}}}},
      {"style line before any Format: line",
       "Style: S,1\nFormat: Name, Bold\nStyle: T,1",
       {{"T", {"<b>", "</b>"}}}},
      {"Format: without Name", "Format: Fontname, Bold\nStyle: Arial,1", {}},
      {"no space after the colon loses a byte", "Format:Name,Fontname\nStyle: S,Arial", {}},
      {"any byte after the colon is dropped",
       "Format:\tName, Bold\nStyle:xS,1",
       {{"S", {"<b>", "</b>"}}}},
      {"a later Format: line replaces the columns",
       "Format: Name, Bold\nStyle: S,1\nFormat: Bold, Name\nStyle: 1,T",
       {{"S", {"<b>", "</b>"}}, {"T", {"<b>", "</b>"}}}},
      {"no other head ends the style section",
       "Format: Name, Bold\n[Fonts]\nStyle: S,1",
       {{"S", {"<b>", "</b>"}}}},
      {"a second style head changes nothing",
       "Format: Name, Bold\n[V4 Styles]\nStyle: S,1",
       {{"S", {"<b>", "</b>"}}}},
      {"a line of spaces matches nothing",
       "Format: Name, Bold\n   \nStyle: S,1",
       {{"S", {"<b>", "</b>"}}}},
      {"no style after [Events]", "Format: Name, Bold\n[Events]\nStyle: S,1", {}},
      // A line that ends at its colon has an empty field list.
      {"Format: ending at its colon empties the columns",
       "Format: Name, Bold\nFormat:\nStyle: S,1\nStyle:",
       {}},
      {"Format: with a trailing space ending at its colon", "Format: \nStyle: ", {}},
      {"Style: ending at its colon",
       "Format: Name, Bold\nStyle:\nStyle: S,1",
       {{"S", {"<b>", "</b>"}}}},
      // A repeated name leaves fewer columns than names; a style line too
      // short for a column it needs is passed over.
      {"repeated name, column beyond the fields",
       "Format: Name, Bold, Name, Italic\nStyle: S,1,0\nStyle: T,1,0,0",
       {}},
      {"repeated name, columns within the fields",
       "Format: Name, Bold, Italic, Bold\nStyle: S,1,1",
       {{"S", {"<b><i>", "</i></b>"}}}},
  };
  for (const Case& c : cases) {
    Script script;
    std::string header = "[V4+ Styles]\n";
    header += c.lines;
    EXPECT_TRUE(script.parse(header)) << c.name;
    EXPECT_EQ(script.styleTable, c.expected) << c.name;
  }
}

// Headers and the event columns they leave; none of them defines a style.
TEST(ReadScriptHeaderTest, EventsFormatLines) {
  struct Case {
    std::string_view name;
    std::string_view header;
    EventColumns expected;
    bool result;
  };
  const Case cases[] = {
      {"Text named twice: the first column counts",
       "[Events]\nFormat: Text, Start, Text, End",
       {{"Text", 0}, {"Start", 1}, {"End", 3}},
       true},
      {"no Text", "[Events]\nFormat: Layer, Start", {{"Layer", 0}, {"Start", 1}}, false},
      {"each Format: line replaces the table",
       "[Events]\nFormat: Layer\nFormat: Start, Text",
       {{"Start", 0}, {"Text", 1}},
       true},
      {"Format: before any section is passed over", "Format: Layer, Start", kDefaultColumns, true},
      {"[Events] without the style section",
       "[Script Info]\n[Events]\nFormat: Start, Text",
       {{"Start", 0}, {"Text", 1}},
       true},
      {"events before styles: the style Format: line describes events",
       "[Events]\n[V4+ Styles]\nFormat: Name, Bold\nStyle: S,1",
       {{"Name", 0}, {"Bold", 1}},
       false},
      {"events before styles, then a Format: line with Text",
       "[Events]\n[V4+ Styles]\nFormat: Name, Bold\nStyle: S,1\nFormat: Style, Text",
       {{"Style", 0}, {"Text", 1}},
       true},
      {"every later Format: line describes events",
       "[V4+ Styles]\n[Events]\n[V4+ Styles]\nFormat: Name, Text",
       {{"Name", 0}, {"Text", 1}},
       true},
      {"[Events] in another case is not a head", "[events]\nFormat: Start, Text", kDefaultColumns,
       true},
      {"a second [Events] changes nothing",
       "[Events]\nFormat: Start, Text\n[Events]\nStyle: S,1",
       {{"Start", 0}, {"Text", 1}},
       true},
      // An events Format: line that ends at its colon empties the table.
      {"Format: ending at its colon", "[Events]\nFormat:", {}, false},
  };
  for (const Case& c : cases) {
    Script script;
    EXPECT_EQ(script.parse(c.header), c.result) << c.name;
    EXPECT_EQ(script.eventColumns, c.expected) << c.name;
    EXPECT_TRUE(script.styleTable.empty()) << c.name;
  }
}

TEST(ReadScriptHeaderTest, StyleLineWithoutHeadOpensTheStyleSection) {
  Script script;
  EXPECT_TRUE(script.parse("[Script Info]\nStyle: S,1\nFormat: Name, Bold\nStyle: T,1\n"));
  EXPECT_EQ(script.styleTable, (StyleTable{{"T", {"<b>", "</b>"}}}));
  EXPECT_EQ(script.eventColumns, kDefaultColumns);
}

TEST(ReadScriptHeaderTest, SecondParseKeepsWhatTheFirstLeft) {
  Script script;
  ASSERT_TRUE(script.parse(kWorkedExample));

  // No events Format: line: the defaults come back and "Layer" stays.
  EXPECT_TRUE(
      script.parse("[V4 Styles]\n"
                   "Format: Name, Bold, Italic\n"
                   "Style: Default,0,0\n"
                   "Style: Note,1,0\n"
                   "Style: Extra,0,1\n"));
  EventColumns expectedColumns = kDefaultColumns;
  expectedColumns.emplace("Layer", 0);
  EXPECT_EQ(script.eventColumns, expectedColumns);
  // "Default" yields no markup now and keeps its old entry; "Note" is replaced.
  StyleTable expectedStyles = kWorkedExampleStyles;
  expectedStyles["Note"] = {"<b>", "</b>"};
  expectedStyles["Extra"] = {"<i>", "</i>"};
  EXPECT_EQ(script.styleTable, expectedStyles);

  // An events Format: line empties the table, "Layer" included.
  EXPECT_TRUE(script.parse("[Events]\nFormat: Start, Text\n"));
  EXPECT_EQ(script.eventColumns, (EventColumns{{"Start", 0}, {"Text", 1}}));
  EXPECT_EQ(script.styleTable, expectedStyles);
}

TEST(ReadScriptHeaderTest, ManyStyles) {
  constexpr int kStyles = 100000;
  std::string header = "[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, Bold\r\n";
  for (int i = 0; i < kStyles; ++i) {
    header += "Style: S" + std::to_string(i) + ",Arial,20,1\r\n";
  }
  header += "[Events]\r\nFormat: Start, Text\r\n";
  Script script;
  EXPECT_TRUE(script.parse(header));
  ASSERT_EQ(script.styleTable.size(), static_cast<std::size_t>(kStyles));
  EXPECT_EQ(script.styleTable.at("S99999"),
            StyleMarkup("<font face=\"Arial\" size=\"-1\"><b>", "</b></font>"));
}

}  // namespace
}  // namespace ssa
