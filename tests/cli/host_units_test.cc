// The pieces of subrite-host on their own: reading lines and headers, the
// event fields it takes for its writers, the output forms, the command line.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cue_time.h"
#include "cli/drawing.h"
#include "cli/event_fields.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/writers.h"
#include "hostkit/script_source.h"
#include "script/dialogue.h"
#include "script/header.h"
#include "tests/cli/srt_check.h"

namespace {

// Parameterised rows are named by their position; they print as what they test.
const auto rowName = [](const auto& info) { return "Row" + std::to_string(info.index); };

using hostkit::LineReader;

// Bytes with the unprintable ones as \xNN.
std::string printable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::vector<std::string> linesOf(const std::string& bytes) {
  LineReader reader{std::string_view(bytes)};
  std::vector<std::string> lines;
  for (std::string_view line; reader.next(&line);) lines.emplace_back(line);
  return lines;
}

// --- Lines ------------------------------------------------------------------

struct LinesRow {
  const char* what;
  std::string bytes;
  std::vector<std::string> lines;
};

void PrintTo(const LinesRow& row, std::ostream* out) { *out << row.what; }

class CliLineReaderTest : public ::testing::TestWithParam<LinesRow> {};

TEST_P(CliLineReaderTest, CutsLinesAsScriptsEndThem) {
  EXPECT_EQ(linesOf(GetParam().bytes), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliLineReaderTest,
    ::testing::Values(
        LinesRow{"LF", "a\nb\n", {"a", "b"}}, LinesRow{"CRLF", "a\r\nb\r\n", {"a", "b"}},
        LinesRow{"lone CR", "a\rb\r", {"a", "b"}},
        LinesRow{"mixed, CR LF apart is two ends", "a\r\rb\n\r\nc", {"a", "", "b", "", "c"}},
        LinesRow{"no final terminator", "a\nb", {"a", "b"}}, LinesRow{"empty input", "", {}},
        LinesRow{"byte-order mark dropped", "\xEF\xBB\xBF[Script Info]\n", {"[Script Info]"}},
        LinesRow{"a mark later is text",
                 "a\n\xEF\xBB\xBF"
                 "b",
                 {"a",
                  "\xEF\xBB\xBF"
                  "b"}},
        LinesRow{"half a mark is text", "\xEF\xBBx", {"\xEF\xBBx"}},
        LinesRow{"NUL and tab are bytes", std::string("a\0b\t\n", 5), {std::string("a\0b\t", 4)}}),
    rowName);

TEST(CliLineReaderWindowTest, KeepsCrLfTogetherAcrossTheReadWindow) {
  // The window is 64 KiB: put the CR as its last byte and the LF after it.
  const std::string first(64 * 1024 - 1, 'x');
  const std::vector<std::string> lines = linesOf(first + "\r\nnext\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], first);
  EXPECT_EQ(lines[1], "next");
}

TEST(CliLineReaderWindowTest, ReadsLinesLongerThanTheWindow) {
  const std::string longLine(200 * 1024, 'y');
  EXPECT_EQ(linesOf(longLine + "\nz"), (std::vector<std::string>{longLine, "z"}));
}

// A line at the limit is read whole; one byte more ends the input, whether
// it ends in one window, across several, or never.
TEST(CliLineReaderWindowTest, StopsAtALineLongerThanItsLimit) {
  constexpr std::size_t kLimit = std::size_t{1} << 20;
  const std::string atLimit(kLimit, 'x');
  for (const std::string& past : {std::string(kLimit + 1, 'y'), std::string(kLimit + 1, '\0')}) {
    for (const std::string& after : {std::string("\nz\n"), std::string()}) {
      const std::string bytes = "a\n" + atLimit + "\n" + past + after;
      LineReader reader{std::string_view(bytes)};
      reader.setLineLimit(kLimit);
      std::string_view line;
      ASSERT_TRUE(reader.next(&line));
      EXPECT_EQ(line, "a");
      ASSERT_TRUE(reader.next(&line));
      EXPECT_EQ(line.size(), kLimit);
      EXPECT_FALSE(reader.next(&line));
      EXPECT_TRUE(reader.overlong());
      EXPECT_EQ(reader.error(), "line 3 is longer than 1 MiB");
      EXPECT_FALSE(reader.next(&line)) << "the input has ended";
    }
  }
}

TEST(CliLineReaderWindowTest, AHeaderLineLongerThanTheLimitIsNoScript) {
  const std::string bytes = "[Script Info]\n" + std::string((1u << 20) + 1, '\0');
  LineReader reader{std::string_view(bytes)};
  reader.setLineLimit(1u << 20);
  hostkit::ScriptHeader header;
  std::string error;
  EXPECT_FALSE(hostkit::readHeader(reader, &header, &error));
  EXPECT_EQ(error, "line 2 is longer than 1 MiB: not an SSA/ASS script");
}

// --- Header -----------------------------------------------------------------

struct HeaderRow {
  const char* what;
  std::string script;
  bool ok;
  std::string inputFormat;
  std::string text;        // the header as sent
  std::string firstEvent;  // "" when the header ended at a Format line
};

void PrintTo(const HeaderRow& row, std::ostream* out) { *out << row.what; }

class CliHeaderTest : public ::testing::TestWithParam<HeaderRow> {};

TEST_P(CliHeaderTest, EndsAtTheEventsFormatLine) {
  const HeaderRow& row = GetParam();
  LineReader reader{std::string_view(row.script)};
  hostkit::ScriptHeader header;
  std::string error;
  ASSERT_EQ(hostkit::readHeader(reader, &header, &error), row.ok) << error;
  if (!row.ok) {
    EXPECT_NE(error.find("not an SSA/ASS script"), std::string::npos) << error;
    return;
  }
  EXPECT_EQ(header.inputFormat, row.inputFormat);
  EXPECT_EQ(header.text, row.text);
  EXPECT_EQ(header.firstEvent.value_or(""), row.firstEvent);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliHeaderTest,
    ::testing::Values(
        HeaderRow{"SSA styles", "[V4 Styles]\r\n[Events]\r\nFormat: Text\r\nDialogue: x\r\n", true,
                  "SSA", "[V4 Styles]\n[Events]\nFormat: Text", ""},
        HeaderRow{"ASS styles", "[V4+ Styles]\n[Events]\nFormat: Text\n", true, "ASS",
                  "[V4+ Styles]\n[Events]\nFormat: Text", ""},
        HeaderRow{"no style head", "[Events]\nFormat: Text\n", true, "ASS",
                  "[Events]\nFormat: Text", ""},
        HeaderRow{"the first head decides", "[V4 Styles]\n[V4+ Styles]\n[Events]\nFormat: T\n",
                  true, "SSA", "[V4 Styles]\n[V4+ Styles]\n[Events]\nFormat: T", ""},
        HeaderRow{"heads are trimmed like the module trims",
                  " [V4 Styles] \n [Events]\n Format: Text\n", true, "SSA",
                  " [V4 Styles] \n [Events]\n Format: Text", ""},
        HeaderRow{"another case is no head", "[v4 styles]\n[Events]\nFormat: T\n", true, "ASS",
                  "[v4 styles]\n[Events]\nFormat: T", ""},
        HeaderRow{"a Format line before [Events] is the styles'",
                  "[V4+ Styles]\nFormat: Name\n[Events]\nFormat: Text\n", true, "ASS",
                  "[V4+ Styles]\nFormat: Name\n[Events]\nFormat: Text", ""},
        HeaderRow{"an event before any Format line ends the header",
                  "[Events]\nDialogue: 0,a\nFormat: Text\n", true, "ASS", "[Events]",
                  "Dialogue: 0,a"},
        HeaderRow{"[Events] without Format at the end", "[Events]\n", true, "ASS", "[Events]", ""},
        HeaderRow{"embedded files are not sent, but what reads as a style",
                  "[V4+ Styles]\n[Fonts]\nfontname: a.ttf\n!!E;\n Style: S\n[Graphics]\n"
                  "Format: x\n[Script Info]\nTitle: t\n[Events]\nFormat: Text\n",
                  true, "ASS",
                  "[V4+ Styles]\n[Fonts]\n Style: S\n[Graphics]\nFormat: x\n[Script Info]\n"
                  "Title: t\n[Events]\nFormat: Text",
                  ""},
        HeaderRow{"a line of data in brackets ends no embedded file",
                  "[Fonts]\nfontname: a.ttf\n[!!E;]\n!!E;\n[Graphics]\n[A`B]\n!!\n"
                  "[Events]\nFormat: Text\n",
                  true, "ASS", "[Fonts]\n[Graphics]\n[Events]\nFormat: Text", ""},
        HeaderRow{"no [Events]", "[Script Info]\nTitle: x\n", false, "", "", ""},
        HeaderRow{"UTF-16 finds no [Events]",
                  std::string("\xFF\xFE[\0E\0v\0e\0n\0t\0s\0]\0\n\0", 20), false, "", "", ""}),
    rowName);

// --- Event lines ----------------------------------------------------------------

struct EventsRow {
  const char* what;
  std::string script;
  std::vector<std::string> events;  // the first event of the header, then nextEvent's
};

void PrintTo(const EventsRow& row, std::ostream* out) { *out << row.what; }

class CliEventLinesTest : public ::testing::TestWithParam<EventsRow> {};

TEST_P(CliEventLinesTest, DropsTheIndentOfEventLinesAndPassesEmptyOnesOver) {
  const EventsRow& row = GetParam();
  hostkit::Script script;
  std::string error;
  ASSERT_TRUE(hostkit::splitScript(row.script, &script, &error)) << error;
  EXPECT_EQ(script.events, row.events);
  // The reader gives the same, line by line.
  LineReader reader{std::string_view(row.script)};
  hostkit::ScriptHeader header;
  ASSERT_TRUE(hostkit::readHeader(reader, &header, &error));
  std::vector<std::string> events;
  if (header.firstEvent) events.push_back(*header.firstEvent);
  for (std::string_view event; hostkit::nextEvent(reader, &event);) events.emplace_back(event);
  EXPECT_EQ(events, row.events);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliEventLinesTest,
    ::testing::Values(
        EventsRow{"as written",
                  "[Events]\nFormat: Text\nDialogue: a\nComment: b\n",
                  {"Dialogue: a", "Comment: b"}},
        EventsRow{"indented by spaces and tabs",
                  " [Events]\n Format: Text\n Dialogue: a\n\t \tDialogue: b\n",
                  {"Dialogue: a", "Dialogue: b"}},
        EventsRow{"blank lines are passed over",
                  "[Events]\nFormat: Text\n\n   \n\t\nDialogue: a",
                  {"Dialogue: a"}},
        EventsRow{"an indented event before any Format line",
                  "[Events]\n  Dialogue: 0,a\n Dialogue: 0,b\n",
                  {"Dialogue: 0,a", "Dialogue: 0,b"}},
        EventsRow{"one indented by a tab", "[Events]\n\t Dialogue: 0,a\n", {"Dialogue: 0,a"}},
        EventsRow{"byte-order marks of scripts joined end to end",
                  "[Events]\nFormat: Text\n\xEF\xBB\xBF"
                  "Dialogue: a\n \xEF\xBB\xBF\tDialogue: b\n"
                  "\xEF\xBB\xBF\n\xEF\xBB\xBF[Script Info]\n",
                  {"Dialogue: a", "Dialogue: b", "[Script Info]"}},
        EventsRow{"an event after the header's last line that begins with a mark",
                  "[Events]\n\xEF\xBB\xBF"
                  "Dialogue: 0,a\n",
                  {"Dialogue: 0,a"}},
        EventsRow{"other blanks stay",
                  std::string("[Events]\nFormat: Text\n\0Dialogue: a\n", 35),
                  {std::string("\0Dialogue: a", 12)}}),
    rowName);

// --- Event fields -------------------------------------------------------------

struct FieldsRow {
  const char* what;
  std::string format;  // the events Format line; "" for the defaults
  std::string line;
  std::string start, end, style;
};

void PrintTo(const FieldsRow& row, std::ostream* out) { *out << row.what; }

class CliEventFieldsTest : public ::testing::TestWithParam<FieldsRow> {};

// The columns the module has after a header with this events "Format:" line;
// its defaults for "".
ssa::EventColumns columnsOf(const std::string& format) {
  ssa::EventColumns columns;
  ssa::assignDefaultColumns(columns);
  if (!format.empty()) ssa::readEventsFormat(format, columns);
  return columns;
}

TEST_P(CliEventFieldsTest, TakesStartEndAndStyleByTheFormatColumns) {
  const FieldsRow& row = GetParam();
  cli::EventFieldReader reader(columnsOf(row.format));
  const cli::EventFields fields = reader.read(row.line);
  EXPECT_EQ(fields.start, row.start);
  EXPECT_EQ(fields.end, row.end);
  EXPECT_EQ(fields.style, row.style);
}

constexpr char kAssFormat[] =
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text";

INSTANTIATE_TEST_SUITE_P(
    Rows, CliEventFieldsTest,
    ::testing::Values(
        FieldsRow{"ASS columns", kAssFormat,
                  "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi, you", "0:00:01.00",
                  "0:00:02.00", "Default"},
        FieldsRow{"default columns", "",
                  "Dialogue: Marked=0,0:00:01.00,0:00:02.00,*Default,,0,0,0,,x", "0:00:01.00",
                  "0:00:02.00", "*Default"},
        FieldsRow{"fields are trimmed", kAssFormat,
                  "Dialogue: 0, 1:00:00.00 ,2:00:00.00, Sign ,,0,0,0,,x", "1:00:00.00",
                  "2:00:00.00", "Sign"},
        FieldsRow{"another column order", "Format: Text, Style, End, Start", "Dialogue: a,b,c,d",
                  "d", "c", "b"},
        FieldsRow{"the last column takes the rest", "Format: Text, Start, Style",
                  "Dialogue: t,1:00:00.00,My, Style", "1:00:00.00", "", "My, Style"},
        FieldsRow{"a comma in braces splits nothing", "Format: Name, Start, End, Style, Text",
                  "Dialogue: {a,b},0:00:01.00,0:00:02.00,S,x", "0:00:01.00", "0:00:02.00", "S"},
        FieldsRow{"a short line", kAssFormat, "Dialogue: 0,0:00:01.00", "0:00:01.00", "", ""},
        // Three distinct names: the line is cut in three, End takes the rest.
        FieldsRow{"a repeated name keeps its first column", "Format: Start, Start, End, Text",
                  "Dialogue: a,b,c,d", "a", "c,d", ""},
        FieldsRow{"no space after the colon loses a letter", "Format:Start,End,Style,Text",
                  "Dialogue: a,b,c,d", "", "b", "c"}),
    rowName);

TEST(CliEventFieldsFollowTheModuleTest, ColumnsWithoutTextTakeTextAtZeroAfterTheFirstLine) {
  // "Start, Style" cuts the first line in two; the module then adds Text at
  // 0, and later lines are cut in three.
  cli::EventFieldReader reader(columnsOf("Format: Start, Style"));
  EXPECT_EQ(reader.read("Dialogue: 1,a,b").style, "a,b");
  EXPECT_EQ(reader.read("Dialogue: 1,a,b").style, "a");
}

// The Text field, cut on demand as the module cuts it, by the columns the
// last line was cut by.
TEST(CliEventFieldsFollowTheModuleTest, CutsTheTextFieldOfTheLineLastRead) {
  cli::EventFieldReader ass(columnsOf(kAssFormat));
  const std::string line = "Dialogue: 0,0:00:01.00,0:00:02.00,S,,0,0,0,, {\\p1}m 0 0 , l 1 1 ";
  ass.read(line);
  EXPECT_EQ(ass.text(line), "{\\p1}m 0 0 , l 1 1");
  ass.read("Dialogue: 0,0:00:01.00");
  EXPECT_EQ(ass.text("Dialogue: 0,0:00:01.00"), "");
  // Without a Text column the first line is cut in two and Text is its
  // first field; later lines are cut in three.
  cli::EventFieldReader noText(columnsOf("Format: Start, Style"));
  const std::string first = "Dialogue: 1,a,b";
  noText.read(first);
  EXPECT_EQ(noText.text(first), "1");
  noText.read(first);
  EXPECT_EQ(noText.text(first), "1");
}

// --- Drawings -------------------------------------------------------------------

struct DrawingRow {
  const char* what;
  std::string text;  // the Text field as the script writes it
  bool drawing;
  // The module's markup of a drawing passes the quick test, unless the
  // drawing ends in no number (then it is written as text).
  bool passesQuickTest = true;
};

void PrintTo(const DrawingRow& row, std::ostream* out) { *out << row.what; }

class CliDrawingTest : public ::testing::TestWithParam<DrawingRow> {};

TEST_P(CliDrawingTest, TellsATextThatIsADrawingAndNothingElse) {
  const DrawingRow& row = GetParam();
  EXPECT_EQ(cli::isDrawing(row.text), row.drawing) << row.text;
  if (!row.drawing) return;
  ssa::EventColumns columns;
  ssa::assignDefaultColumns(columns);
  const ssa::StyleTable styles;
  ssa::LineConverter converter;
  const std::optional<std::string_view> markup =
      converter.convert("0,0:00:01.00,0:00:02.00,Default,,0,0,0,," + row.text, columns, styles);
  ASSERT_TRUE(markup);
  EXPECT_EQ(cli::mayBeDrawing(*markup), row.passesQuickTest) << *markup;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliDrawingTest,
    ::testing::Values(
        DrawingRow{"a drawing", "{\\an7\\pos(10,10)\\p1}m 0 0 l 100 0 100 100 0 100", true},
        DrawingRow{"back to text with \\p0, nothing after", "{\\p1}m 0 0 l 1 1{\\p0}", true},
        DrawingRow{"back to text with \\p0, text after", "{\\p1}m 0 0 l 1 1{\\p0}Hello", false},
        DrawingRow{"a larger scale", "{\\p4}m 0 0 l 1 1", true},
        DrawingRow{"\\p10 is on", "{\\p10}m 0 0", true},
        DrawingRow{"\\p00 is off", "{\\p00}m 0 0", false},
        DrawingRow{"\\pos is no drawing", "{\\pos(1,2)}m 0 0 l 1 1", false},
        DrawingRow{"\\pbo is no drawing", "{\\pbo5}m 0 0 l 1 1", false},
        DrawingRow{"\\p without digits turns it off", "{\\p1\\p}m 0 0", false},
        // In doubt, a cue is kept: other tags that begin with p, and a \p
        // inside another tag's brackets, turn it off.
        DrawingRow{"another tag that begins with p", "{\\p1}m 0 0 l 9 9{\\pa}m 5 apples, or 10",
                   false},
        DrawingRow{"digits then a letter", "{\\p1x}m 0 0", false},
        DrawingRow{"\\p1 within brackets", "{\\t(0,100,\\p1)}m 5 minutes to 10", false},
        DrawingRow{"\\p1 after brackets", "{\\t(0,100,\\fs9)\\p1}m 0 0", true},
        DrawingRow{"text before the drawing", "Sign{\\p1}m 0 0 l 1 1", false},
        DrawingRow{"blanks before the drawing", " \\h\\N{\\p1}m 0 0 l 1 1", true},
        DrawingRow{"line breaks in the drawing", "{\\p1}m 0 0\\Nl 1 1\\n\\h", true},
        DrawingRow{"another code in the drawing is drawn", "{\\p1}m 0 0\\k l", true, false},
        DrawingRow{"an unclosed brace is text", "{\\p1 m 0 0 l 1 1", false},
        DrawingRow{"an unclosed brace in the drawing is drawn", "{\\p1}m 0 0 {l 1 1", true},
        DrawingRow{"a closing brace alone is text", "}{\\p1}m 0 0", false},
        DrawingRow{"\\r turns it off", "{\\p1}m 0 0{\\r}l 1 1", false},
        DrawingRow{"\\r then \\p1 in one block", "{\\rSign\\p1}m 0 0", true},
        DrawingRow{"the last \\p of a block counts", "{\\p1\\p0}m 0 0", false},
        DrawingRow{"a brace inside a block opens nothing", "{\\p0{\\p1}m 0 0", true},
        DrawingRow{"drawing mode with nothing drawn", "{\\p1}", false},
        DrawingRow{"blanks only", "{\\p1} \\N ", false}, DrawingRow{"empty", "", false},
        DrawingRow{"plain text", "Hello", false}),
    rowName);

struct MarkupRow {
  const char* what;
  std::string markup;
  bool may;  // whether it may be a drawing's
};

void PrintTo(const MarkupRow& row, std::ostream* out) { *out << row.what; }

class CliDrawingMarkupTest : public ::testing::TestWithParam<MarkupRow> {};

// The quick test stops the usual lines; the drawing rows above hold it to
// the module's markup of each drawing.
TEST_P(CliDrawingMarkupTest, LetsThroughWhatMayBeADrawing) {
  EXPECT_EQ(cli::mayBeDrawing(GetParam().markup), GetParam().may) << GetParam().markup;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliDrawingMarkupTest,
    ::testing::Values(
        MarkupRow{"a drawing in a style", "<font face=\"Arial\" size=\"-1\">m 0 0 l 1 1</font>",
                  true},
        MarkupRow{"no style", "m 0 0 l 100 0 100 100 0 100", true},
        MarkupRow{"tags and a closing spline",
                  "<font face=\"G\"><b>m 10 10 s 10 -10 -10 -10 -10 10 c</b></font>", true},
        MarkupRow{"blanks and two closings",
                  "<font face=\"A\"><i> \nm -5 0 l 1 1 \n</i></b></font>", true},
        MarkupRow{"after a colour", "<font color=\"#FF0000\">m 0 0 l 1 1", true},
        MarkupRow{"a sentence", "<font face=\"Arial\" size=\"-1\">Real dialogue.</font>", false},
        MarkupRow{"a number at the end only", "<font face=\"A\">Room 101</font>", false},
        MarkupRow{"a command letter starting a word", "<font face=\"A\">my 2 cents</font>", false},
        MarkupRow{"a lowercase line", "<font face=\"A\">so what</font>", false},
        MarkupRow{"an unclosed tag", "<font face=\"A\" m 0 0", false},
        MarkupRow{"tags only", "<font face=\"A\"></font>", false}, MarkupRow{"empty", "", false}),
    rowName);

// --- Times and output forms -----------------------------------------------------

struct TimeRow {
  const char* text;
  std::string srt;  // "" when the text is no time
};

void PrintTo(const TimeRow& row, std::ostream* out) { *out << printable(row.text); }

class CliTimeTest : public ::testing::TestWithParam<TimeRow> {};

TEST_P(CliTimeTest, ScriptTimesBecomeSubRipTimes) {
  const std::optional<std::uint64_t> ms = cli::parseScriptTime(GetParam().text);
  EXPECT_EQ(ms ? cli::srtTime(*ms) : "", GetParam().srt);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliTimeTest,
    ::testing::Values(
        TimeRow{"0:00:01.00", "00:00:01,000"}, TimeRow{"1:02:03.45", "01:02:03,450"},
        TimeRow{"0:00:03.766", "00:00:03,766"}, TimeRow{"0:00:03.7", "00:00:03,700"},
        TimeRow{"0:00:03.12345", "00:00:03,123"}, TimeRow{"0:00:03", "00:00:03,000"},
        TimeRow{"0:00:03.", "00:00:03,000"}, TimeRow{"00:00:03.76", "00:00:03,760"},
        TimeRow{"0:75:90.00", "01:16:30,000"}, TimeRow{"123:00:00.00", "123:00:00,000"},
        TimeRow{"", ""}, TimeRow{"1:2", ""}, TimeRow{"-0:00:01.00", ""}, TimeRow{"0:00:01,00", ""},
        TimeRow{"0:00:01.00 ", "00:00:01,000"}, TimeRow{"\t0:00:05.00", "00:00:05,000"},
        TimeRow{" \t0:00:05.00\t ", "00:00:05,000"}, TimeRow{" \t ", ""},
        TimeRow{"0:00:01.00x", ""}, TimeRow{"0:00: 01.00", ""}, TimeRow{"9999999999:00:00.00", ""}),
    rowName);

// Times of the usual form are read by position: on that form and every
// text one byte away from it, the answer is the general reading's.
TEST(CliTimeFormTest, TheUsualFormReadsAsTheGeneralRuleReadsIt) {
  const std::string forms[] = {"0:00:00.00", "9:59:59.99", "1:02:03.45", "0:75:90.00",
                               "5:99:99.99"};
  // Bytes at the edges of the digits, and ones whose low nibble is a digit's.
  const std::string bytes("0159:.,- a/\0?\xB5\xFA\x10\x39\x40", 18);
  int read = 0;
  for (const std::string& form : forms) {
    std::vector<std::string> texts = {form, form.substr(1), form + "0", "0" + form};
    for (std::size_t at = 0; at < form.size(); ++at) {
      for (const char c : bytes) {
        std::string text = form;
        text[at] = c;
        texts.push_back(text);
      }
    }
    for (const std::string& text : texts) {
      EXPECT_EQ(cli::parseScriptTime(text), cli::parseScriptTimeByParts(text)) << printable(text);
      read += cli::parseScriptTime(text).has_value();
    }
  }
  EXPECT_GT(read, 100);
  EXPECT_EQ(cli::parseScriptTime("1:02:03.45"), 3723450u);
}

// A time of the usual form with minutes and seconds below 60 is written by
// moving its digits; every such time must come out as the milliseconds
// would write it, and no other time, nor a shifted one, may take that way.
TEST(CliTimeFormTest, TimesWrittenByTheirDigitsAreTheComputedOnes) {
  struct Row {
    std::string text;
    std::int64_t shift;
    bool byDigits;
  };
  std::vector<Row> rows = {{"0:60:00.00", 0, false}, {"0:00:60.00", 0, false},
                           {"0:75:90.00", 0, false}, {"0:00:01.00", 1, false},
                           {"0:00:01.00", -1, false}, {" 0:00:01.00", 0, false},
                           {"00:00:01.00", 0, false}, {"0:00:01.000", 0, false},
                           {"0:00:01", 0, false},     {"x", 0, false}};
  for (int h = 0; h <= 9; h += 3) {
    for (int m = 0; m < 60; m += 7) {
      for (int sc : {0, 9, 10, 59}) {
        for (int cc : {0, 1, 50, 99}) {
          char text[16];
          std::snprintf(text, sizeof text, "%d:%02d:%02d.%02d", h, m, sc, cc);
          rows.push_back({text, 0, true});
        }
      }
    }
  }
  for (const Row& row : rows) {
    cli::TimeCounts counts;
    const char* digits = nullptr;
    const std::uint64_t ms = cli::cueTime(row.text, row.shift, &counts, &digits);
    EXPECT_EQ(digits != nullptr, row.byDigits) << printable(row.text) << " " << row.shift;
    EXPECT_EQ(ms, cli::cueTime(row.text, row.shift, &counts)) << printable(row.text);
    if (digits == nullptr) continue;
    EXPECT_EQ(digits, row.text.data());
    char moved[32];
    char computed[32];
    const std::string byDigits(moved, cli::putCueTimeDigits(moved, digits));
    EXPECT_EQ(byDigits, std::string(computed, cli::putCueTime(computed, ms)))
        << printable(row.text);
  }
}

// Hours past 99 are written with as many digits as they need, two at a time
// from the last: every count of digits, odd and even, and the largest time.
TEST(CliTimeFormTest, HoursTakeTheDigitsTheyNeed) {
  std::uint64_t hours = 1;
  for (int digits = 1; digits <= 12; ++digits, hours *= 10) {
    for (const std::uint64_t h : {hours, hours * 10 - 1, hours + 7}) {
      const std::string expected = (h < 10 ? "0" : "") + std::to_string(h) + ":00:01,000";
      EXPECT_EQ(cli::srtTime(h * 3600000 + 1000), expected);
    }
  }
  EXPECT_EQ(cli::srtTime(UINT64_MAX), "5124095576030:25:51,615");
  EXPECT_EQ(cli::vttTime(UINT64_MAX), "5124095576030:25:51.615");
}

struct JsonRow {
  std::string bytes;
  std::string json;
};

void PrintTo(const JsonRow& row, std::ostream* out) { *out << printable(row.bytes); }

class CliJsonStringTest : public ::testing::TestWithParam<JsonRow> {};

TEST_P(CliJsonStringTest, EscapesAndReplacesWhatJsonCannotHold) {
  ssa::TextBuffer out;
  cli::appendJsonString(&out, GetParam().bytes);
  EXPECT_EQ(out.view(), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliJsonStringTest,
    ::testing::Values(JsonRow{"plain", "\"plain\""},
                      JsonRow{"<font color=\"#FF0000\">a\\b",
                              "\"<font color=\\\"#FF0000\\\">a\\\\b\""},
                      JsonRow{"a\nb\tc\rd", "\"a\\nb\\tc\\rd\""},
                      JsonRow{std::string("\0\x01\x1F\x7F", 4), "\"\\u0000\\u0001\\u001f\\u007f\""},
                      JsonRow{"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
                              "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
                      JsonRow{"\xE2\x80\xA8\xE2\x80\xA9", "\"\\u2028\\u2029\""},
                      // Windows-1252 bytes are not UTF-8: one replacement each.
                      JsonRow{"caf\xE9 \x85", "\"caf\\ufffd \\ufffd\""},
                      // A sequence cut short is replaced once, and what follows survives.
                      JsonRow{"\xE2\x82x", "\"\\ufffdx\""}, JsonRow{"\xF0\x9F\x98", "\"\\ufffd\""},
                      // Overlong forms, surrogates and code points past U+10FFFF.
                      JsonRow{"\xC0\xAF", "\"\\ufffd\\ufffd\""},
                      JsonRow{"\xE0\x80\xAF", "\"\\ufffd\\ufffd\\ufffd\""},
                      JsonRow{"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
                      JsonRow{"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},
                      JsonRow{"\xFF", "\"\\ufffd\""}),
    rowName);

// A long line goes out in pieces: whatever sequence a piece boundary falls
// in, the line reads as if it had been escaped whole.
TEST(CliJsonlWriterTest, ALongLineIsEscapedAsAWhole) {
  const std::string sequences[] = {"\xE2\x82\xAC",
                                   "\xF0\x9F\x98\x80",
                                   "\xC3\xA9",
                                   "\xE2\x82x",
                                   "\xED\xA0\x80",
                                   "\xF0\x9F\x98",
                                   "\x80\x80\x80\x80\x80",
                                   "\xE2\x80\x80\x80\x80",
                                   "\x01\""};
  for (const std::string& sequence : sequences) {
    for (std::size_t before = 0; before <= 5; ++before) {
      const std::string markup = std::string(cli::ChunkedOutput::kChunk - before, 'a') + sequence +
                                 std::string(cli::ChunkedOutput::kChunk, 'b') + sequence;
      char* bytes = nullptr;
      std::size_t size = 0;
      std::FILE* out = ::open_memstream(&bytes, &size);
      {
        const auto writer = cli::makeWriter(cli::OutputForm::Jsonl, out);
        writer->write(cli::Cue{1, 5, "0:00:01.00", "0:00:02.50", "S", markup});
        writer->finish();
      }
      std::fclose(out);
      const std::string text(bytes, size);
      std::free(bytes);
      ssa::TextBuffer whole;
      cli::appendJsonString(&whole, markup);
      const std::string expected =
          "{\"index\":1,\"line\":5,\"start\":\"0:00:01.00\",\"end\":\"0:00:02.50\","
          "\"style\":\"S\",\"markup\":" +
          std::string(whole.view()) + "}\n";
      ASSERT_EQ(text, expected) << printable(sequence) << " " << before << " bytes before";
    }
  }
}

// JSON lines carry the times as the script writes them, less the spaces and
// tabs around them; moved when there is a shift.
struct JsonlTimeRow {
  std::string start;
  std::int64_t shift;
  std::string json;
};

void PrintTo(const JsonlTimeRow& row, std::ostream* out) { *out << printable(row.start); }

class CliJsonlTimeTest : public ::testing::TestWithParam<JsonlTimeRow> {};

TEST_P(CliJsonlTimeTest, WritesTheTimeWithoutTheBlanksBesideIt) {
  char* bytes = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&bytes, &size);
  {
    const auto writer = cli::makeWriter(cli::OutputForm::Jsonl, out, GetParam().shift);
    writer->write(cli::Cue{1, 5, GetParam().start, "0:00:02.00", "S", "a"});
    writer->finish();
  }
  std::fclose(out);
  const std::string text(bytes, size);
  std::free(bytes);
  EXPECT_EQ(text, "{\"index\":1,\"line\":5,\"start\":\"" + GetParam().json + "\",\"end\":\"" +
                      (GetParam().shift == 0 ? "0:00:02.00" : "0:00:03.00") +
                      "\",\"style\":\"S\",\"markup\":\"a\"}\n");
}

INSTANTIATE_TEST_SUITE_P(Rows, CliJsonlTimeTest,
                         ::testing::Values(JsonlTimeRow{"0:00:01.00", 0, "0:00:01.00"},
                                           JsonlTimeRow{"\t0:00:01.00\t", 0, "0:00:01.00"},
                                           JsonlTimeRow{" \t0:00:01.00 \t", 0, "0:00:01.00"},
                                           JsonlTimeRow{"\t0:00:01.00\t", 1000, "0:00:02.00"},
                                           JsonlTimeRow{"\tsoon\t", 0, "soon"},
                                           JsonlTimeRow{"\tsoon\t", 1000, "soon"},
                                           JsonlTimeRow{"\t \t", 0, ""},
                                           JsonlTimeRow{"a\tb", 0, "a\\tb"}),
                         rowName);

// Cues without text are left out and the numbers run on; an end before its
// start becomes the start; the counts say what happened.
TEST(CliSrtWriterTest, NumbersOnlyTheCuesWithText) {
  char* bytes = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&bytes, &size);
  cli::WriterCounts counts;
  {
    const auto writer = cli::makeWriter(cli::OutputForm::Srt, out);
    writer->write(cli::Cue{1, 5, "0:00:01.00", "0:00:02.50", "S", "a\n\nb"});
    writer->write(cli::Cue{2, 6, "0:00:02.00", "0:00:03.00", "S", "<i>\n</i>"});
    writer->write(cli::Cue{3, 7, "bad", "0:00:03.00", "S", "<b>c"});
    writer->write(cli::Cue{4, 8, "0:00:09.00", "0:00:05.00", "S", "d"});
    writer->finish();
    counts = writer->counts();
    EXPECT_EQ(writer->writeError(), 0);
  }
  std::fclose(out);
  const std::string text(bytes, size);
  std::free(bytes);
  EXPECT_EQ(text,
            "1\n00:00:01,000 --> 00:00:02,500\na\nb\n\n"
            "2\n00:00:00,000 --> 00:00:03,000\n<b>c</b>\n\n"
            "3\n00:00:09,000 --> 00:00:09,000\nd\n\n");
  const cli_test::SrtVerdict verdict = cli_test::checkSrt(text);
  EXPECT_TRUE(verdict.valid) << verdict.error;
  EXPECT_EQ(verdict.cues, 3u);
  EXPECT_EQ(counts.written, 3u);
  EXPECT_EQ(counts.withoutText, 1u);
  EXPECT_EQ(counts.endsRaised, 1u);
  EXPECT_EQ(counts.balance.closedAtEnd, 1u);
  EXPECT_EQ(counts.timesUnreadable, 1u);
  EXPECT_EQ(counts.firstUnreadable, 7u);
}

// SubRip and WebVTT leave out a cue that is a drawing, count it, and read
// none of its times; the other forms keep it.
TEST(CliWriterTest, SubRipAndWebVttLeaveOutDrawings) {
  for (const cli::OutputForm form : {cli::OutputForm::Markup, cli::OutputForm::Srt,
                                     cli::OutputForm::Vtt, cli::OutputForm::Jsonl}) {
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&bytes, &size);
    cli::WriterCounts counts;
    bool leavesOut = false;
    {
      const auto writer = cli::makeWriter(form, out);
      leavesOut = writer->leavesOutDrawings();
      writer->write(cli::Cue{1, 5, "x", "y", "S", "m 0 0 l 1 1", true});
      writer->write(cli::Cue{2, 6, "0:00:01.00", "0:00:02.00", "S", "a"});
      writer->finish();
      counts = writer->counts();
    }
    std::fclose(out);
    const std::string text(bytes, size);
    std::free(bytes);
    const bool cueText = form == cli::OutputForm::Srt || form == cli::OutputForm::Vtt;
    EXPECT_EQ(leavesOut, cueText);
    EXPECT_EQ(text.find("m 0 0") == std::string::npos, cueText) << text;
    EXPECT_EQ(counts.written, cueText ? 1u : 2u);
    EXPECT_EQ(counts.drawings, cueText ? 1u : 0u);
    EXPECT_EQ(counts.firstDrawing, cueText ? 5u : 0u);
    EXPECT_EQ(counts.timesUnreadable, 0u);
  }
}

TEST(CliWriterTest, RemembersAFailedWriteAndWritesNoMore) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  const auto writer = cli::makeWriter(cli::OutputForm::Markup, full);
  writer->write(cli::Cue{1, 5, "0:00:01.00", "0:00:02.50", "S", "a"});
  writer->finish();
  EXPECT_EQ(writer->writeError(), ENOSPC);
  std::fclose(full);
}

// A run that fails drops its writer without finish(), perhaps while memory
// is short: nothing more may be made or written then (WebVTT would build its
// whole file, and a second failure inside a destructor ends the program).
TEST(CliWriterTest, ADroppedWriterWritesNothingMore) {
  for (const cli::OutputForm form : {cli::OutputForm::Markup, cli::OutputForm::Srt,
                                     cli::OutputForm::Vtt, cli::OutputForm::Jsonl}) {
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&bytes, &size);
    {
      const auto writer = cli::makeWriter(form, out);
      writer->write(cli::Cue{1, 5, "0:00:01.00", "0:00:02.50", "S", "<font color=\"#FF0000\">a"});
    }
    std::fclose(out);
    EXPECT_EQ(std::string(bytes, size), "") << static_cast<int>(form);
    std::free(bytes);
  }
}

// A batch's totals add every count of the tables --stats prints from, each
// once (a row named twice would be added and printed twice), and not the
// first lines, which are one script's.
TEST(CliWriterCountsTest, AddsEveryCountOnce) {
  cli::WriterCounts one;
  std::uint64_t value = 1;
  for (const auto& row : cli::kWriterRows) one.*row.count = value++;
  for (const auto& row : cli::kBalanceRows) one.balance.*row.count = value++;
  one.firstWithoutText = one.firstDrawing = one.firstUnreadable = 7;
  cli::WriterCounts sum;
  sum += one;
  sum += one;
  value = 1;
  for (const auto& row : cli::kWriterRows) EXPECT_EQ(sum.*row.count, 2 * value++) << row.label;
  for (const auto& row : cli::kBalanceRows) {
    EXPECT_EQ(sum.balance.*row.count, 2 * value++) << row.label;
  }
  EXPECT_EQ(sum.firstWithoutText + sum.firstDrawing + sum.firstUnreadable, 0u);
}

// --- The SubRip checker itself ---------------------------------------------------

struct SrtCheckRow {
  const char* what;
  std::string text;
  bool valid;
  std::size_t cues;
};

void PrintTo(const SrtCheckRow& row, std::ostream* out) { *out << row.what; }

class CliSrtCheckTest : public ::testing::TestWithParam<SrtCheckRow> {};

TEST_P(CliSrtCheckTest, AcceptsOnlyTheStrictForm) {
  const cli_test::SrtVerdict verdict = cli_test::checkSrt(GetParam().text);
  EXPECT_EQ(verdict.valid, GetParam().valid) << verdict.error;
  if (GetParam().valid) {
    EXPECT_EQ(verdict.cues, GetParam().cues);
  }
}

constexpr char kCue1[] = "1\n00:00:01,000 --> 00:00:02,000\nHello\n\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, CliSrtCheckTest,
    ::testing::Values(
        SrtCheckRow{"empty file", "", true, 0}, SrtCheckRow{"one cue", kCue1, true, 1},
        SrtCheckRow{"two cues, two lines",
                    std::string(kCue1) + "2\n100:00:01,000 --> 100:00:02,000\na\nb\n\n", true, 2},
        SrtCheckRow{"a cue without text", "1\n00:00:01,000 --> 00:00:02,000\n\n", true, 1},
        SrtCheckRow{"numbering skips",
                    std::string(kCue1) + "3\n00:00:01,000 --> 00:00:02,000\nx\n\n", false, 0},
        SrtCheckRow{"blank line inside a cue", "1\n00:00:01,000 --> 00:00:02,000\na\n\nb\n\n",
                    false, 0},
        SrtCheckRow{"line of spaces", "1\n00:00:01,000 --> 00:00:02,000\n  \n\n", false, 0},
        SrtCheckRow{"dot for comma", "1\n00:00:01.000 --> 00:00:02,000\nx\n\n", false, 0},
        SrtCheckRow{"one hour digit", "1\n0:00:01,000 --> 00:00:02,000\nx\n\n", false, 0},
        SrtCheckRow{"minutes past 59", "1\n00:60:01,000 --> 00:00:02,000\nx\n\n", false, 0},
        SrtCheckRow{"no blank line at the end", "1\n00:00:01,000 --> 00:00:02,000\nx\n", false, 0},
        SrtCheckRow{"no final line feed", "1\n00:00:01,000 --> 00:00:02,000\nx", false, 0},
        SrtCheckRow{"CRLF", "1\r\n00:00:01,000 --> 00:00:02,000\r\nx\r\n\r\n", false, 0},
        SrtCheckRow{"leading zero", "01\n00:00:01,000 --> 00:00:02,000\nx\n\n", false, 0},
        SrtCheckRow{"trailing blank line", std::string(kCue1) + "\n", false, 0}),
    rowName);

// --- Command line --------------------------------------------------------------------

struct OptionsRow {
  std::vector<std::string> args;
  bool ok;
  std::string error;  // part of the message when not ok
};

void PrintTo(const OptionsRow& row, std::ostream* out) {
  *out << "args:";
  for (const std::string& arg : row.args) *out << ' ' << printable(arg);
}

class CliOptionsTest : public ::testing::TestWithParam<OptionsRow> {};

TEST_P(CliOptionsTest, ParsesOrSaysWhy) {
  cli::Options options;
  std::string error;
  EXPECT_EQ(cli::parseOptions(GetParam().args, &options, &error), GetParam().ok) << error;
  if (!GetParam().ok) {
    EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliOptionsTest,
    ::testing::Values(
        OptionsRow{{}, true, ""}, OptionsRow{{"--to", "srt", "-o", "x.srt", "in.ass"}, true, ""},
        OptionsRow{{"--to=jsonl", "--output=-", "--stats", "--info", "-"}, true, ""},
        OptionsRow{{"--", "--odd-name.ass"}, true, ""},
        OptionsRow{{"--to", "vtt", "in.ass"}, true, ""},
        OptionsRow{{"--to", "ass"}, false, "unknown output form 'ass'"},
        OptionsRow{{"--to"}, false, "needs a value"},
        OptionsRow{{"--plugin="}, false, "--plugin has an empty value"},
        OptionsRow{{"-o", "", "a.ass"}, false, "-o has an empty value"},
        OptionsRow{{"--stats=yes"}, false, "takes no value"},
        OptionsRow{{"--frobnicate"}, false, "unknown option --frobnicate"},
        OptionsRow{{"-x"}, false, "unknown option -x"},
        OptionsRow{{"a.ass", "b.ass"}, false, "only one script"},
        OptionsRow{{"--encoding", "cp1252", "-o", "-"}, true, ""},
        OptionsRow{{"--encoding=auto"}, true, ""},
        OptionsRow{{"--encoding", "no-such-set"}, false, "unknown encoding 'no-such-set'"},
        // iconv takes these, as options of the output and the locale's set.
        OptionsRow{{"--encoding", "cp1252//TRANSLIT"}, false, "without // options"},
        OptionsRow{{"--encoding", "//IGNORE"}, false, "without // options"},
        OptionsRow{{"--encoding", "ISO-10646/UTF8/"}, true, ""},
        OptionsRow{{"--encoding", "cp1252\nstats: 0"}, false, "unknown encoding"},
        OptionsRow{{"--encoding"}, false, "needs a value"},
        // Many scripts into a folder.
        OptionsRow{{"--to", "srt", "-d", "out", "-j", "2", "a.ass", "dir"}, true, ""},
        OptionsRow{{"--output-dir=out", "--jobs=8", "a.ass"}, true, ""},
        OptionsRow{{"-d", "out"}, false, "needs the scripts"},
        OptionsRow{{"-d", "out", "-o", "x.srt", "a.ass"}, false, "do not go together"},
        OptionsRow{{"-d", "out", "--info", "a.ass"}, false, "do not go together"},
        OptionsRow{{"-d", "out", "-"}, false, "standard input"},
        OptionsRow{{"-j", "2", "a.ass"}, false, "goes with -d"},
        OptionsRow{{"-d", "out", "-j", "0", "a.ass"}, false, "from 1"},
        OptionsRow{{"-d", "out", "-j", "two", "a.ass"}, false, "from 1"},
        OptionsRow{{"-dout", "-j3", "a.ass"}, true, ""},
        OptionsRow{{"-d", "out", "-jx", "a.ass"}, false, "from 1"},
        // Shifts.
        OptionsRow{{"--to", "vtt", "--shift", "-1.25"}, true, ""},
        OptionsRow{{"--to", "jsonl", "--shift=0:01:02.50"}, true, ""},
        OptionsRow{{"--shift", "2.5"}, false, "the markup form"},
        OptionsRow{{"--to", "markup", "--shift", "0"}, false, "the markup form"},
        OptionsRow{{"--info", "--shift", "2", "a.ass"}, true, ""},
        OptionsRow{{"--info", "-o", "x.txt", "a.ass"}, false, "does not go with it"},
        OptionsRow{{"--info", "-o", "-", "a.ass"}, true, ""},
        OptionsRow{{"--to", "srt", "-j2", "-dout", "-osrt", "a.ass"}, false, "do not go together"},
        OptionsRow{{"--to", "srt", "--shift", "1.2345"}, false, "--shift needs"},
        OptionsRow{{"--to", "srt", "--shift", "0:1:02"}, false, "--shift needs"},
        OptionsRow{{"--to", "srt", "--shift", "soon"}, false, "--shift needs"},
        // The STYLE block.
        OptionsRow{{"--to", "vtt", "--no-style"}, true, ""},
        OptionsRow{{"--no-style", "--to", "srt"}, false, "the other forms have none"}),
    rowName);

TEST(CliOptionsTest, AShortOptionTakesItsValueAttached) {
  cli::Options options;
  std::string error;
  ASSERT_TRUE(cli::parseOptions({"-dout", "-j3", "a.ass"}, &options, &error)) << error;
  EXPECT_EQ(options.outputDir, "out");
  EXPECT_EQ(options.jobs, 3u);
  ASSERT_TRUE(cli::parseOptions({"-o-", "a.ass"}, &options, &error)) << error;
  EXPECT_EQ(options.output, "-");
}

struct ShiftRow {
  const char* text;
  std::optional<std::int64_t> milliseconds;
};

TEST(CliShiftTest, ReadsSecondsOrAClockTime) {
  const ShiftRow rows[] = {
      {"2.5", 2500},
      {"-1.25", -1250},
      {"+3", 3000},
      {"0.001", 1},
      {"0:00:01.50", 1500},
      {"-1:02:03.04", -3723040},
      {"10:00:00", 36000000},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"1.", std::nullopt},
      {".5", std::nullopt},
      {"1.2345", std::nullopt},
      {"1:2:03", std::nullopt},
      {"0:60:00", std::nullopt},
      {"0:00:61", std::nullopt},
      {"1:00", std::nullopt},
      {"1e3", std::nullopt},
      {"1234567890", std::nullopt},
      {"999999999", 999999999000},
      {"-277777:46:39.999", -999999999999},
      {"277777:46:40", std::nullopt},
  };
  for (const ShiftRow& row : rows) {
    EXPECT_EQ(cli::parseShift(row.text), row.milliseconds) << '"' << row.text << '"';
  }
}

}  // namespace
