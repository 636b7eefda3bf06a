// Field splitting and the one-pass block translation, on line texts.
#include "script/dialogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "script/header.h"
#include "script/scan.h"
#include "script/text.h"
#include "tests/oracle/oracle.h"

namespace {

using namespace std::string_literals;

std::vector<std::string> split(const std::string& line, std::uint32_t limit) {
  std::vector<std::string_view> fields;
  ssa::splitEventFields(line, limit, fields);
  return std::vector<std::string>(fields.begin(), fields.end());
}

TEST(SplitEventFieldsTest, Rows) {
  using Fields = std::vector<std::string>;
  const struct {
    std::string line;
    std::uint32_t limit;
    Fields fields;
  } rows[] = {
      {"a,b,c", 0, {"a,b,c"}},
      {" a,b ", 1, {"a,b"}},
      {"a,b,c", 2, {"a", "b,c"}},
      {"a, b ,c,d", 3, {"a", "b", "c,d"}},
      {"a,b", 10, {"a", "b"}},                                    // fewer commas, fewer fields
      {"0,{x,y},T, and more", 3, {"0", "{x,y}", "T, and more"}},  // brace comma stays
      {"a,b,", 10, {"a", "b,"}},  // a final comma is never a field comma
      {"a,,b", 3, {"a", "", "b"}},
      {"  ,x", 2, {" ", "x"}},           // all-blank keeps its last byte
      {"a,\t b\t", 2, {"a", "\t b\t"}},  // tabs stay
      {"a,b\0"s, 2, {"a", "b"}},         // a counted NUL is trimmed
      {"a,\0"s, 2, {"a", "\0"s}},        // ... unless it is all there is
      {"", 10, {""}},
      {",x", 2, {"", "x"}},
      {",", 2, {","}},
      {"{,,", 2, {"{,,"}},  // a block never closed
      {"{,},x", 2, {"{,}", "x"}},
      {"a}b,c", 2, {"a}b", "c"}},          // a lone "}" means nothing
      {"{a{b,}c,d", 2, {"{a{b,}c", "d"}},  // blocks do not nest
      {"0,0:00:01.00,a{\\i1,x},b", 4, {"0", "0:00:01.00", "a{\\i1,x}", "b"}},
      {"\0,\0"s, 3, {"\0"s, "\0"s}},
  };
  for (const ssa::ScanKind kind : ssa::kScanKinds) {
    if (!ssa::useScan(kind)) continue;
    for (const auto& row : rows) {
      EXPECT_EQ(split(row.line, row.limit), row.fields)
          << row.line << " / " << row.limit << " / " << ssa::scanName(kind);
    }
  }
  // The kinds go from the narrowest to the widest: the widest is in use again.
}

// Calls check(line, limit) `count` times with each scan the processor runs,
// on random lines of commas, braces and text up to four windows long, so
// that commas and blocks cross the windows. The widest scan is in use again
// afterwards: the kinds go from the narrowest to the widest.
template <typename Check>
void forRandomFieldLines(std::uint32_t seed, int count, Check check) {
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (const ssa::ScanKind kind : ssa::kScanKinds) {
    if (!ssa::useScan(kind)) continue;
    SCOPED_TRACE(ssa::scanName(kind));
    for (int i = 0; i < count; ++i) {
      std::string line(next() % 130, 'a');
      for (char& c : line) c = ",{} a"[next() % 5];
      check(line, next() % 12);
    }
  }
}

// The split walks the commas and braces a window at a time; the fields must
// be those of the literal reference, which searches for each comma in turn,
// on lines whose commas and blocks cross the windows, with every scan.
TEST(SplitEventFieldsTest, AgreesWithACommaSearchAtEveryLength) {
  forRandomFieldLines(12345, 3000, [&](const std::string& line, std::uint32_t limit) {
    EXPECT_EQ(split(line, limit), oracle::splitEventFields(line, limit)) << line << " / " << limit;
  });
}

// The leading-field cut must give the first fields of the full split, views
// into the same bytes, for every count: the host reads Start, End and Style
// with it and must agree with the module on where they end.
TEST(CutLeadingEventFieldsTest, GivesThePrefixOfTheFullSplit) {
  const auto agree = [](const std::string& line, std::uint32_t limit) {
    std::vector<std::string_view> all;
    ssa::splitEventFields(line, limit, all);
    for (std::size_t count = 0; count <= all.size() + 2; ++count) {
      std::vector<std::string_view> cut(count + 1, "unwritten");
      const std::size_t n = ssa::cutLeadingEventFields(line, limit, count, cut.data());
      ASSERT_EQ(n, std::min(count, all.size())) << line << " / " << limit << " / " << count;
      for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(cut[i].data(), all[i].data()) << line << " / " << limit << " / " << i;
        EXPECT_EQ(cut[i].size(), all[i].size()) << line << " / " << limit << " / " << i;
      }
      EXPECT_EQ(cut[n], "unwritten") << line << " / " << limit << " / " << count;
    }
  };
  for (const std::string& line :
       {"a,b,c"s, " a , b ,c"s, "0,{x,y},T, and more"s, "a,b,"s, "a,,b"s, "  ,x"s, "a,\0"s, ""s}) {
    for (std::uint32_t limit = 0; limit < 6; ++limit) agree(line, limit);
  }
  forRandomFieldLines(54321, 1000, agree);
}

class LineConverterTest : public ::testing::Test {
 protected:
  std::string convert(const std::string& text) {
    const std::optional<std::string_view> markup = converter.convert(text, columns, styles);
    return markup ? std::string(*markup) : "(no output)";
  }
  ssa::EventColumns columns{{"Text", 0}};
  ssa::StyleTable styles;
  ssa::LineConverter converter;
};

// Cases where one translation's output feeds the next block, or the search
// for the next block restarts at the beginning of the markup.
TEST_F(LineConverterTest, BlocksThatTranslationsBringBack) {
  const struct {
    std::string text;
    std::string markup;
  } rows[] = {
      // The font name "{\\i1" opens the next block, which ends at the input's "}".
      {"{\\fn{\\i1}x}y", "<font face=\"<i>y"},
      // The carried "{\">" finds no "}" after it: the rest stays as it is.
      {"{\\fn{}x", "<font face=\"{\">x"},
      {"{\\fn{\\fn{\\fnA}}}z", "<font face=\"<font face=\"<font face=\"A\">\">\">z"},
      {"{\\fn{ab}c", "<font face=\"{ab\">c"},
      {"{\\fnX{\\b1}rest", "<font face=\"X{\\b1\">rest"},
      {"{\\fn{\\fsZ}q}", "<font face=\""},
      // Colour digits are not checked, so a "{" among them is carried too.
      {"{\\c&H{\\b1&}x}", "<font color=\"#b1"},
      {"{\\c&H{\\i1}x}y", "<font color=\"#i1y"},
      {"{\\fn{}}", "<font face=\""},
      {"{\\fn{", "{\\fn{"},
      {"a}b{c", "a}b{c"},
      {"{\\k20}ab{\\k20}ab", "abab"},
      {"{\\fs07}a{\\fs23}b", "<font size=\"-7\">a<font size=\"+0\">b"},
      {"{\\fs4294967295}x", "<font size=\"+2147483636\">x"},
  };
  for (const auto& row : rows) EXPECT_EQ(convert(row.text), row.markup) << row.text;
}

TEST_F(LineConverterTest, LineBreakCodesInOnePass) {
  const struct {
    std::string text;
    std::string markup;
  } rows[] = {
      {"a\\Nb\\nc\\hd", "a\nb\nc d"},
      {"\\\\N", "\\\n"},
      {"\\N\\", "\n\\"},
      {"{\\b1\\N}x", "<b>x"},  // codes inside braces are replaced first
      {"x\\", "x\\"},
  };
  for (const auto& row : rows) EXPECT_EQ(convert(row.text), row.markup) << row.text;
}

// The codes are replaced before any block is read, in the same pass: a code
// inside a block changes its length and what stands at positions 2 to 4, a
// backslash before a brace or at the end is no code, and the carry of a
// translation is never searched for codes again.
TEST_F(LineConverterTest, CodesAndBlocksInOnePass) {
  const struct {
    std::string text;
    std::string markup;
  } rows[] = {
      {"{\\N\\b1}x", "x"},   // position 2 is the backslash of "\\b"
      {"{\\Nb1}x", "<b>x"},  // ... and here the "b" after the code
      {"{\\hi1}x", "<i>x"},
      {"{\\b\\N}x", "</b>x"},  // position 3 is the line feed
      {"{\\b\\h1}x", "</b>x"},
      {"\\{\\b1}x", "\\<b>x"},  // a backslash before a brace
      {"a\\{b}c", "a\\c"},
      {"{\\fn\\N}x", "<font face=\"\n\">x"},
      {"{\\fnA\\hB}x", "<font face=\"A B\">x"},
      {"{\\f\\Nn}x", "x"},
      {"{\\fs\\N1}x", "x"},  // position 4 is no digit
      {"{\\fs1\\N2}x", "<font size=\"-10\">x"},
      {"{\\c&H\\h0000FF&}x", "x"},  // seven colour digits
      {"{\\c&H0000FF\\N}x", "x"},
      {"{\\i1", "{\\i1"},
      {"{\\i1\\N", "{\\i1\n"},  // an unclosed block keeps its codes replaced
      {"x\\", "x\\"},
      {"{\\i1}\\", "<i>\\"},
      {"{\\}x", "x"},
      {"{\\\\N}x", "x"},
      {"{\\N}x", "x"},
      // The carry: replaced text, never searched again.
      {"{\\fn{\\N}x}y", "<font face=\"y"},
      {"{\\fn{\\b\\h}z", "<font face=\"{\\b \">z"},
      {"{\\fn{\\b1}\\Nz", "<font face=\"{\\b1\">\nz"},
      {"{\\fn{\\c&H\\N0000FF&}z", "<font face=\"{\\c&H\n0000FF&\">z"},
      {"\\N{\\fn{}\\N", "\n<font face=\"{\">\n"},
      {"{\\fn\\\\}N", "<font face=\"\\\\\">N"},
      // A colour whose digits open a block that a single "}" closes.
      {"{\\c&H&H1c{\\}}x", "<font color=\"#<font color=\"#\">0000\">x"},
  };
  for (const auto& row : rows) EXPECT_EQ(convert(row.text), row.markup) << row.text;
}

TEST_F(LineConverterTest, MissingTextColumnIsAddedOnce) {
  columns.clear();
  EXPECT_EQ(convert("0,a,b"), "0,a,b");
  EXPECT_EQ(columns.size(), 1u);
  EXPECT_EQ(columns.at("Text"), 0u);
}

TEST_F(LineConverterTest, StyleColumnPastTheFieldsGivesNoStyle) {
  columns = {{"Text", 1}, {"Style", 5}, {"A", 2}, {"B", 3}, {"C", 4}, {"D", 6}, {"E", 0}};
  styles["x"] = {"<b>", "</b>"};
  EXPECT_EQ(convert("a,b"), "b");
  EXPECT_EQ(convert("a,b,c,d,e,x,z"), "<b>b</b>");
}

// What the converter keeps of the tables holds until it is told they
// changed; a line that adds "Text" keeps it up to date itself.
TEST_F(LineConverterTest, TablesAreReadAgainWhenTheyChange) {
  columns.clear();
  EXPECT_EQ(convert("x,y"), "x,y");  // no Text column: the whole line
  columns = {{"Text", 1}, {"Style", 0}};
  styles["s"] = {"<i>", "</i>"};
  converter.tablesChanged();
  EXPECT_EQ(convert("s,y"), "<i>y</i>");
  styles["s"] = {"<b>", "</b>"};
  styles["t"] = {"<u>", "</u>"};
  converter.tablesChanged();
  EXPECT_EQ(convert("s,y"), "<b>y</b>");
  EXPECT_EQ(convert("t,y"), "<u>y</u>");
  EXPECT_EQ(convert("u,y"), "y");
}

// Many styles, all found by exact name and none by a near one.
TEST_F(LineConverterTest, EveryStyleIsFound) {
  columns = {{"Style", 0}, {"Text", 1}};
  for (int i = 0; i < 300; ++i) {
    styles["S" + std::to_string(i)] = {"<" + std::to_string(i) + ">", ""};
  }
  for (int i = 0; i < 300; ++i) {
    const std::string name = "S" + std::to_string(i);
    ASSERT_EQ(convert(name + ",x"), "<" + std::to_string(i) + ">x") << name;
    ASSERT_EQ(convert(name + "0,x"), i > 0 && i < 30 ? "<" + std::to_string(i * 10) + ">x" : "x")
        << name;
  }
}

}  // namespace
