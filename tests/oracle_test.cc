// Pins the reference converter to the documented examples, so that a
// disagreement in a differential test points at the production code.
#include "tests/oracle/oracle.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/oracle/random_lines.h"
#include "tests/support/fixtures.h"

namespace oracle {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

const EventColumns kDefaultColumns = {{"Marked", 0}, {"Start", 1},   {"End", 2},     {"Style", 3},
                                      {"Name", 4},   {"MarginL", 5}, {"MarginR", 6}, {"MarginV", 7},
                                      {"Effect", 8}, {"Text", 9}};

const EventColumns kWorkedColumns = {{"Layer", 0},  {"Start", 1},   {"End", 2},     {"Style", 3},
                                     {"Name", 4},   {"MarginL", 5}, {"MarginR", 6}, {"MarginV", 7},
                                     {"Effect", 8}, {"Text", 9}};

using fixtures::kDefaultClose;
using fixtures::kDefaultOpen;

const StyleTable kWorkedStyles = {{"Default", {kDefaultOpen, kDefaultClose}},
                                  {"Note", {fixtures::kNoteOpen, fixtures::kNoteClose}}};

const std::string kWorkedHeader =
    "[Script Info]\r\n"
    "ScriptType: v4.00+\r\n"
    "[V4+ Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\r\n"
    "Style: Default,Arial,20,&HFF8000,-1,0\r\n"
    "Style: Note,Tahoma,30,255,0,1\r\n"
    "Style: Short,Arial,20\r\n"
    "[Events]\r\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
    "Effect, Text\r\n";

// Line text (after "Dialogue:") of an ordinary line with the given style.
std::string line(const std::string& style, const std::string& text) {
  return " 0,0:00:01.00,0:00:03.50," + style + ",,0000,0000,0000,," + text;
}

TEST(OracleTextTest, Trim) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"  abc \r\n", "abc"}, {"\tabc ", "\tabc"}, {" a b ", "a b"},
      {"   ", " "},          {" ", " "},          {"", ""},
      {"\0"s, "\0"s},        {"\0x\0"s, "x"},     {"\r\n\0"s, "\0"s}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(trim(text), expected) << '"' << text << '"';
  }
}

TEST(OracleTextTest, Tokenize) {
  struct Case {
    std::string delimiters, text;
    Strings pieces;
  };
  const std::vector<Case> cases = {{",", "a,b,,c,", {"a", "b", "c"}},
                                   {",", " x , y ", {"x", "y"}},
                                   {",", "a, ,b", {"a", " ", "b"}},
                                   {",", "a,,b", {"a", "b"}},
                                   {",", ",,,", {}},
                                   {",", "", {}},
                                   {"\r\n", "L1\r\nL2\n\nL3\r", {"L1", "L2", "L3"}}};
  for (const Case& c : cases) {
    EXPECT_EQ(tokenize(c.delimiters, c.text), c.pieces) << '"' << c.text << '"';
  }
}

TEST(OracleTextTest, FindFieldComma) {
  struct Case {
    std::string text;
    std::uint32_t start, expected;
  };
  const std::vector<Case> cases = {{"0,0:00:01.00,a{\\i1,x},b", 0, 1},
                                   {"0,0:00:01.00,a{\\i1,x},b", 2, 12},
                                   {"{,},x", 0, 3},
                                   {"a,", 0, kNoPosition},
                                   {"x,y", 2, kNoPosition},
                                   {"", 0, kNoPosition},
                                   {"{a,b,c}", 0, kNoPosition},
                                   {"}{,},", 0, kNoPosition},
                                   {"},a", 0, 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(findFieldComma(c.text, c.start), c.expected)
        << '"' << c.text << "\" from " << c.start;
  }
}

TEST(OracleTextTest, ReplaceAll) {
  struct Case {
    std::string pattern, target, replacement, expected;
  };
  const std::vector<Case> cases = {
      // Text formed by a replacement and its neighbours is found again.
      {"ab", "aab", "b", "b"},
      {"ab", "aaaab", "b", "b"},
      {"ab", "abb", "a", "a"},
      {"ab", "aab", "ba", "baa"},
      {"a", "aaa", "b", "bbb"},
      {"x", "abc", "y", "abc"},
      {"\\N", "one\\Ntwo\\Nthree", "\n", "one\ntwo\nthree"},
      {"\\N", "a\\Nb\\N", "\n", "a\nb\n"},
      {"\\n", "a\\nb", "\n", "a\nb"},
      {"\\h", "a\\h\\hb", " ", "a  b"},
      {"\\h", "\\\\hh", " ", "\\ h"},
      {"\\N", "\\\\N", "\n", "\\\n"},
      {"abc", "abc", "x", "x"},
      {"abc", "ab", "x", "ab"},
      {"ab", "", "x", ""},
      // Never deletes: an empty pattern or replacement does nothing.
      {"", "abc", "x", "abc"},
      {"b", "abc", "", "abc"},
      {"\0"s, "a\0b\0"s, "-", "a-b-"},
      {"a", "a\0a"s, "\0"s, "\0\0\0"s},
  };
  for (Case c : cases) {
    const std::string target = c.target;
    replaceAll(c.pattern, &c.target, c.replacement);
    EXPECT_EQ(c.target, c.expected) << "pattern " << testing::PrintToString(c.pattern) << " target "
                                    << testing::PrintToString(target) << " replacement "
                                    << testing::PrintToString(c.replacement);
  }
  replaceAll("a", nullptr, "b");  // an absent target is no error
}

// The plain loop that restarts every search at the beginning. Gives up (false)
// after `maxSteps` replacements, for inputs that would grow without end.
bool replaceByRestarting(const std::string& pattern, std::string& target,
                         const std::string& replacement, int maxSteps) {
  for (int step = 0; step < maxSteps; ++step) {
    const std::size_t pos = target.find(pattern);
    if (pos == std::string::npos) return true;
    target.replace(pos, pattern.size(), replacement);
  }
  return false;
}

TEST(OracleTextTest, ReplaceAllMatchesRestartingLoopOnRandomInputs) {
  std::mt19937 random(20240601u);
  const auto randomText = [&random](std::size_t minLength, std::size_t maxLength) {
    std::uniform_int_distribution<std::size_t> length(minLength, maxLength);
    std::uniform_int_distribution<int> letter(0, 2);
    std::string text(length(random), ' ');
    for (char& c : text) c = static_cast<char>('a' + letter(random));
    return text;
  };
  int compared = 0;
  while (compared < 500) {
    const std::string pattern = randomText(1, 3);
    const std::string replacement = randomText(1, 3);
    if (replacement.find(pattern) != std::string::npos) continue;
    const std::string target = randomText(0, 14);
    std::string expected = target;
    if (!replaceByRestarting(pattern, expected, replacement, 5000)) continue;
    std::string actual = target;
    replaceAll(pattern, &actual, replacement);
    ASSERT_EQ(actual, expected) << "pattern " << pattern << " target " << target << " replacement "
                                << replacement;
    ++compared;
  }
}

TEST(OracleTextTest, ParseLeadingDigits) {
  const std::vector<std::pair<std::string, std::uint32_t>> cases = {
      {"12.5", 12},      {" 20", 0},        {"-5", 0},
      {"abc", 0},        {"", 0},           {"4294967295", 4294967295u},
      {"4294967296", 0}, {"4294967318", 22}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(parseLeadingDigits(text), expected) << text;
  }
}

TEST(OracleTextTest, RelativeFontSize) {
  for (const auto& [text, expected] : fixtures::kRelativeFontSizes) {
    EXPECT_EQ(relativeFontSize(text), expected) << testing::PrintToString(text);
  }
}

TEST(OracleColourTest, ConvertColour) {
  for (const auto& [text, expected] : fixtures::kColours) {
    EXPECT_EQ(convertColour(text), expected) << testing::PrintToString(text);
  }
}

TEST(OracleColourTest, ReorderAndDecimal) {
  EXPECT_EQ(reorderHexColour("FF"), "FF0000");
  EXPECT_EQ(reorderHexColour("80FF"), "FF8000");
  EXPECT_EQ(reorderHexColour("FF8000"), "0080FF");
  EXPECT_EQ(reorderHexColour("zz{"), "");
  EXPECT_EQ(reorderHexColour("{0{0{0"), "{0{0{0");
  EXPECT_EQ(reorderHexColour("00FF8000"), "");
  EXPECT_EQ(reorderHexColour(""), "");
  EXPECT_EQ(decimalColour("255"), "FF0000");
  EXPECT_EQ(decimalColour(""), "");
}

TEST(OracleColourTest, OverrideColour) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\\c&HFF8000&}", "0080FF"},  {"{\\1c&HFF8000&}", "0080FF"},
      {"{\\c&HFF&}", "FF0000"},      {"{\\c&HF&}", ""},
      {"{\\c16777215}", "FFFFFF"},   {"{\\3c&HFF8000&}", ""},
      {"{\\1c&H0000FF&}", "FF0000"}, {"{\\c&HFF8000&", ""}};
  for (const auto& [block, expected] : cases) {
    EXPECT_EQ(overrideColour(block), expected) << block;
  }
}

TEST(OracleHeaderTest, WorkedExample) {
  EventColumns columns;
  StyleTable styles;
  EXPECT_TRUE(parseScriptHeader(kWorkedHeader, columns, styles));
  EXPECT_EQ(columns, kWorkedColumns);
  EXPECT_EQ(styles, kWorkedStyles);
}

TEST(OracleHeaderTest, Cases) {
  struct Case {
    std::string header;
    EventColumns columns;
    StyleTable styles;
    bool result;
  };
  const StyleTable bold = {{"A", {"<b>", "</b>"}}};
  const std::vector<Case> cases = {
      {"", kDefaultColumns, {}, true},
      // Every kind of line break; a line of spaces matches nothing.
      {"[V4+ Styles]\nFormat: Name, Bold\rStyle: A,1\r\n   \n\n\nStyle: B,1",
       kDefaultColumns,
       {{"A", {"<b>", "</b>"}}, {"B", {"<b>", "</b>"}}},
       true},
      {"[v4+ styles]\nFormat: Name, Bold\nStyle: A,1", kDefaultColumns, {}, true},
      {"[V4+ Styles]   \nFormat: Name, Bold\nStyle: A,1", kDefaultColumns, bold, true},
      {"[V4 Styles]\nFormat: Name, Bold\nStyle: A,1", kDefaultColumns, bold, true},
      {"[V4+ Styles]\t\nFormat: Name, Bold\nStyle: A,1", kDefaultColumns, {}, true},
      // A "Style:" line opens the section; the "Format:" after it counts.
      {"Style: A,1\nFormat: Name, Bold\nStyle: B,1",
       kDefaultColumns,
       {{"B", {"<b>", "</b>"}}},
       true},
      {"Format: Name, Bold\nStyle: A,1", kDefaultColumns, {}, true},
      {"[V4+ Styles]\nFormat:Name,Fontname\nStyle: A,Arial", kDefaultColumns, {}, true},
      {"[V4+ Styles]\nFormat: Name, Fontname, Fontsize, Bold\n"
       "Style: A,Arial,,1",
       kDefaultColumns,
       {},
       true},
      {"[V4+ Styles]\nFormat: Name, Fontname, Bold\nStyle: A,Arial,1\n"
       "Style: A,Tahoma,0",
       kDefaultColumns,
       {{"A", {"<font face=\"Tahoma\">", "</font>"}}},
       true},
      {"[V4+ Styles]\nFormat: Name, Bold\nStyle: A,1\nStyle: A,0", kDefaultColumns, bold, true},
      {"[V4+ Styles]\nFormat: Name, Bold, Italic\nStyle: A,-1,0", kDefaultColumns, bold, true},
      {"[V4+ Styles]\nFormat: Name, Fontsize, PrimaryColour\n"
       "Style: A,22,&H00FFFFFF",
       kDefaultColumns,
       {{"A", {"<font size=\"\" color=\"#\">", "</font>"}}},
       true},
      {"[V4+ Styles]\nFormat: Name, Bold, Italic\nStyle: A,0,0", kDefaultColumns, {}, true},
      {"[V4+ Styles]\nFormat: Name, Bold, Italic\nStyle: A,1,1",
       kDefaultColumns,
       {{"A", {"<b><i>", "</i></b>"}}},
       true},
      // Further sections before "[Events]" still belong to the styles.
      {"[V4+ Styles]\n[Fonts]\nFormat: Name, Bold\nStyle: A,1", kDefaultColumns, bold, true},
      {"[V4+ Styles]\nFormat: Name, Bold\n[Events]\nStyle: A,1", kDefaultColumns, {}, true},
      // Events first: the style "Format:" line is taken as the events one.
      {"[Events]\nFormat: Layer, Text\n[V4+ Styles]\nFormat: Name, Bold\n"
       "Style: A,1",
       {{"Name", 0}, {"Bold", 1}},
       {},
       false},
      {"[Events]\nFormat: Layer\n[V4+ Styles]\nFormat: Name, Text\n"
       "Style: A,1",
       {{"Name", 0}, {"Text", 1}},
       {},
       true},
      {"[Events]\nFormat: Text, Style, Text", {{"Text", 0}, {"Style", 1}}, {}, true},
      {"[Events]\nFormat: Layer, Style", {{"Layer", 0}, {"Style", 1}}, {}, false},
      // Lines that end at the colon give empty field lists.
      {"[Events]\nFormat: ", {}, {}, false},
      {"[V4+ Styles]\nFormat:\nStyle: A", kDefaultColumns, {}, true},
      {"[V4+ Styles]\nFormat: Name\nStyle:", kDefaultColumns, {}, true},
      // A repeated name leaves fewer columns; no column may pass the fields.
      {"[V4+ Styles]\nFormat: Name, Bold, Name\nStyle: A,1", kDefaultColumns, bold, true},
      {"[V4+ Styles]\nFormat: Name, Name, Bold\nStyle: A,1", kDefaultColumns, {}, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    EventColumns columns;
    StyleTable styles;
    EXPECT_EQ(parseScriptHeader(c.header, columns, styles), c.result);
    EXPECT_EQ(columns, c.columns);
    EXPECT_EQ(styles, c.styles);
  }
}

TEST(OracleHeaderTest, LaterParseKeepsEarlierEntries) {
  EventColumns columns;
  StyleTable styles;
  ASSERT_TRUE(parseScriptHeader(kWorkedHeader, columns, styles));
  EXPECT_TRUE(parseScriptHeader("[V4+ Styles]\nFormat: Name, Bold\nStyle: Default,0\nStyle: A,1",
                                columns, styles));
  EventColumns expected = kDefaultColumns;
  expected["Layer"] = 0;
  EXPECT_EQ(columns, expected);
  StyleTable expectedStyles = kWorkedStyles;
  expectedStyles["A"] = {"<b>", "</b>"};
  EXPECT_EQ(styles, expectedStyles);
}

TEST(OracleSplitTest, Fields) {
  struct Case {
    std::string line;
    std::uint32_t limit;
    Strings fields;
  };
  const std::vector<Case> cases = {
      {" 0,0:00:01.00,0:00:03.50,Default,{x,y},0,0,0,,T, and more",
       10,
       {"0", "0:00:01.00", "0:00:03.50", "Default", "{x,y}", "0", "0", "0", "", "T, and more"}},
      {" a , b,c ", 0, {"a , b,c"}},
      {" a , b,c ", 1, {"a , b,c"}},
      {" a , b,c ", 2, {"a", "b,c"}},
      {" a,b", 10, {"a", "b"}},
      {"a,b,", 10, {"a", "b,"}},
      {"", 10, {""}},
      {",,,,,,,,,", 10, {"", "", "", "", "", "", "", "", ","}},
      {",,,,,,,,,\0"s, 10, {"", "", "", "", "", "", "", "", "", "\0"s}}};
  for (const Case& c : cases) {
    EXPECT_EQ(splitEventFields(c.line, c.limit), c.fields)
        << '"' << c.line << "\" limit " << c.limit;
  }
}

TEST(OracleConvertTest, WorkedTables) {
  struct Case {
    std::string lineText;
    bool converted;
    std::string markup;
    std::size_t payloadSize;  // 0 where none is stated
  };
  const std::string& o = kDefaultOpen;
  const std::string& c = kDefaultClose;
  const std::vector<Case> cases = {
      {line("Default", "Hello, world"), true, o + "Hello, world" + c, 72},
      {line("Default", "{\\i1}word{\\i0}"), true, o + "<i>word</i>" + c, 71},
      {line("Other", "Line one\\NLine {\\c&H0000FF&}two"), true,
       "Line one\nLine <font color=\"#FF0000\">two", 40},
      {line("Other", "{\\1c&H0000FF&}r"), true, "<font color=\"#FF0000\">r", 0},
      {line("Other", "{\\c&H0000FF&}r"), true, "<font color=\"#FF0000\">r", 0},
      {line("Other", "{\\fs20\\b1}Big"), true, "<font size=\"-1\">Big", 0},
      {line("Other", "{\\pos(10,20)}Hi"), true, "Hi", 0},
      {line("Other", "{\\an8}x"), true, "x", 0},
      {line("Other", "{\\3c&H000000&}x"), true, "x", 0},
      {line("Other", "{\\B1}x"), true, "x", 0},
      {line("Other", "{\\b}x"), true, "x", 0},
      {line("Other", "{\\fs}x"), true, "x", 0},
      {line("Other", "{\\r}x"), true, "x", 0},
      {line("Other", "{\\bord2}x{Sign}y"), true, "</b>x</i>y", 0},
      {line("Other", "{\\b700}x"), true, "</b>x", 0},
      {line("Other", "{\\i10}x"), true, "<i>x", 0},
      {line("Other", "{\\fnTimes New Roman}z{\\fs30}w{\\fs22}v{\\fs21}u"), true,
       "<font face=\"Times New Roman\">z<font size=\"+4\">w<font size=\"\">v"
       "<font size=\"-0\">u",
       0},
      {line("Other", "{\\fn}x"), true, "<font face=\"\">x", 0},
      {line("Other", "a{b{\\i1}c}d{e"), true, "ac}d{e", 0},
      {line("Other", "a\\hb\\nc"), true, "a b\nc", 0},
      {line("Other", "a<b & c>d"), true, "a<b & c>d", 0},
      // A "{" brought in by a translation opens a block in the next pass.
      {line("Other", "{\\fn{}x}y"), true, "<font face=\"y", 0},
      {line("Other", "{\\c&H{0{0{0&}a}b"), true, "<font color=\"#b", 0},
      {" 0,0:00:01.00,0:00:03.50,Default,{x,y},0,0,0,,T, and more", true, o + "T, and more" + c, 0},
      {line(" Default ", "x"), true, o + "x" + c, 0},
      {line("default", "x"), true, "x", 0},
      {line("Note", "x"), true,
       kWorkedStyles.at("Note").first + "x" + kWorkedStyles.at("Note").second, 0},
      {line("Default", "  spaced\\N  "), true, o + "spaced\n" + c, 0},
      {line("Default", "{\\an8}"), true, o + c, 0},
      // An empty Text field: the final comma is never a separator.
      {" 0,0:00:01.00,0:00:03.50,Default,,0000,0000,0000,,", false, "", 0},
      {" 0,0:00:01.00,0:00:03.50,Default,,0000,0000,0000,,\0"s, true, o + "\0"s + c, 0},
      {" a,b", false, "", 0},
      {"", false, "", 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.lineText);
    EventColumns columns = kWorkedColumns;
    std::string markup = "unchanged";
    EXPECT_EQ(convertLine(k.lineText, columns, kWorkedStyles, &markup), k.converted);
    EXPECT_EQ(columns, kWorkedColumns);
    if (!k.converted) continue;
    EXPECT_EQ(markup, k.markup);
    if (k.payloadSize != 0) {
      EXPECT_EQ(markup.size() + 1, k.payloadSize);
    }
  }
}

TEST(OracleConvertTest, NoColumnsTakesTheWholeLine) {
  EventColumns columns;
  std::string markup;
  ASSERT_TRUE(convertLine(" 0,0:00:01.00,0:00:03.50,Default,,0,0,0,,Hi, there", columns,
                          kWorkedStyles, &markup));
  EXPECT_EQ(markup, "0,0:00:01.00,0:00:03.50,Default,,0,0,0,,Hi, there");
  const EventColumns textOnly = {{"Text", 0}};
  EXPECT_EQ(columns, textOnly);
  ASSERT_TRUE(convertLine(" a,b", columns, kWorkedStyles, &markup));
  EXPECT_EQ(markup, "a,b");

  EventColumns empty;
  ASSERT_TRUE(convertLine("", empty, kWorkedStyles, &markup));
  EXPECT_EQ(markup.size() + 1, 1u);
}

TEST(OracleConvertTest, StyleColumnPastTheFields) {
  EventColumns columns = {{"Text", 0}, {"Style", 1}};
  std::string markup;
  ASSERT_TRUE(convertLine("Hello", columns, kWorkedStyles, &markup));
  EXPECT_EQ(markup, "Hello");
  ASSERT_TRUE(convertLine("Hello,Default", columns, kWorkedStyles, &markup));
  EXPECT_EQ(markup, kDefaultOpen + "Hello" + kDefaultClose);
}

TEST(OracleRandomTest, GeneratorsAreDeterministicAndConvertersEnd) {
  EXPECT_EQ(randomLines(7, 50), randomLines(7, 50));
  EXPECT_NE(randomLines(7, 50), randomLines(8, 50));
  EXPECT_EQ(randomHeader(7), randomHeader(7));
  for (std::uint32_t seed = 0; seed < 40; ++seed) {
    EventColumns columns;
    StyleTable styles;
    parseScriptHeader(randomHeader(seed), columns, styles);
    for (const std::string& text : randomLines(seed, 100)) {
      EventColumns worked = kWorkedColumns;
      std::string markup;
      convertLine(text, worked, kWorkedStyles, &markup);
      convertLine(text, columns, styles, &markup);
    }
  }
}

}  // namespace
}  // namespace oracle
