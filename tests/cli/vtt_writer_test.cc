// WebVTT output on its own: the cue text of the module's markup, the STYLE
// block that defines its classes, the order and length of the cues, and the
// shift. Every file a row makes is held to the strict WebVTT reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/balance.h"
#include "cli/vtt_classes.h"
#include "cli/writers.h"
#include "tests/cli/vtt_check.h"

namespace {

struct VttTextRow {
  const char* what;
  std::string markup;
  std::string text;  // "" when the cue has no text
};

// A WebVTT cue text maker, the classes it defines and what it writes.
struct VttCueText {
  cli::VttClasses classes;
  cli::CueTextMaker maker{&classes};
  ssa::TextBuffer out;
  cli::BalanceCounts counts;
  bool append(std::string_view markup) { return maker.append(&out, markup, &counts); }
};

TEST(CliVttCueTextTest, MapsTagsToWebVttAndEscapesTheText) {
  const VttTextRow rows[] = {
      {"b, i and u stay", "<b>a</b> <i>b</i> <u>c</u>", "<b>a</b> <i>b</i> <u>c</u>"},
      {"strike-out is a class", "<s>gone</s>", "<c.s>gone</c>"},
      {"a font is a class span", "<font face=\"Arial\" size=\"-1\" color=\"#0080FF\">x</font>",
       "<c.f1.zm1.c0080FF>x</c>"},
      {"a face seen before keeps its class",
       "<font face=\"Arial\">a</font><font face=\"Times\">b</font><font face=\"Arial\">c</font>",
       "<c.f1>a</c><c.f2>b</c><c.f1>c</c>"},
      {"empty attributes go", "<font size=\"\" color=\"#\">x", "x"},
      {"a face with a quote is a class", "<font face=\"My \"Font\">Hi", "<c.f1>Hi</c>"},
      {"a colour that is no colour goes", "<font color=\"#c>b<a.\">x", "x"},
      {"tags left open are closed", "<font color=\"#FF0000\"><i>x", "<c.cFF0000><i>x</i></c>"},
      {"crossed tags are closed and reopened", "<b><i>x</b>y</i>", "<b><i>x</i></b><i>y</i>"},
      {"text is escaped", "a<b & c>d -->", "a&lt;b &amp; c&gt;d --&gt;"},
      {"text left beside a dropped tag stays text", "a<</u>/b>", "a&lt;/b&gt;"},
      {"a tag-like text that is no tag", "<bold>", "&lt;bold&gt;"},
      {"blank lines go", "one\n\n  \ntwo", "one\ntwo"},
      {"nothing but tags is no text", "<b></b><font color=\"#FF0000\">", ""},
      {"a NUL is U+FFFD", std::string("<b>a\0b", 6),
       "<b>a\xEF\xBF\xBD"
       "b</b>"},
  };
  for (const VttTextRow& row : rows) {
    VttCueText vtt;
    EXPECT_EQ(vtt.append(row.markup), !row.text.empty()) << row.what;
    EXPECT_EQ(vtt.out.view(), row.text) << row.what;
  }
}

// The module's sizes are points whatever encloses them; CSS percentages
// multiply. -3 steps is 16 points, 73% of 22; within +9 (40 points, 182%)
// that is 40% of the enclosing size. A percentage within another comes from
// the points, not from two rounded percentages: +4 (30 points) within -1
// (20 points) is 150%, where 136% of 91% would give 149%.
TEST(CliVttCueTextTest, ASizeWithinAnotherIsAPercentageOfIt) {
  VttCueText vtt;
  const std::string style = "<font face=\"Arial\" size=\"+9\">";
  // The second cue's style opening is the one read before.
  for (int cue = 0; cue < 2; ++cue) {
    vtt.out.clear();
    vtt.append(style + "a<font size=\"-3\">b<font face=\"Times\">c<font size=\"+999999\">d" +
               "</font></font></font>e<font size=\"-1\">f<font size=\"+4\">g");
    EXPECT_EQ(vtt.out.view(),
              "<c.f1.zp9>a<c.zm3-zp9>b<c.f2>c<c.zp999999-zm3>d</c></c></c>e<c.zm1-zp9>f"
              "<c.zp4-zm1>g</c></c></c>");
  }
  // A size alone is a percentage of the cue's own.
  vtt.out.clear();
  vtt.append("<font size=\"-3\">x");
  EXPECT_EQ(vtt.out.view(), "<c.zm3>x</c>");
  EXPECT_EQ(vtt.classes.styleBlock(),
            "STYLE\n"
            "::cue(.f1) { font-family: \"Arial\"; }\n"
            "::cue(.f2) { font-family: \"Times\"; }\n"
            "::cue(.zm1-zp9) { font-size: 50%; }\n"
            "::cue(.zm3) { font-size: 73%; }\n"
            "::cue(.zm3-zp9) { font-size: 40%; }\n"
            "::cue(.zp4-zm1) { font-size: 150%; }\n"
            "::cue(.zp9) { font-size: 182%; }\n"
            "::cue(.zp999999-zm3) { font-size: 12500125%; }\n");
}

// A cue left without text is not written, and the classes only it used
// are not defined; a later cue that opens the same way defines its own.
TEST(CliVttCueTextTest, ACueNotWrittenLeavesNoClasses) {
  VttCueText vtt;
  const std::string style = "<font face=\"Arial\" color=\"#FF0000\">";
  EXPECT_FALSE(vtt.append(style + "</i> </font>"));
  EXPECT_TRUE(vtt.append(style + "a</font>"));
  EXPECT_FALSE(vtt.append("<font face=\"Lost\"><s></s>"));
  EXPECT_TRUE(vtt.append("<font face=\"Times\">b"));
  EXPECT_EQ(vtt.out.view(), "<c.f1.cFF0000>a</c><c.f2>b</c>");
  EXPECT_EQ(vtt.classes.styleBlock(),
            "STYLE\n"
            "::cue(.cFF0000) { color: #FF0000; }\n"
            "::cue(.f1) { font-family: \"Arial\"; }\n"
            "::cue(.f2) { font-family: \"Times\"; }\n");
}

// Colours open fonts that the module never closes, so a long line nests
// them as deep as it has blocks; a size deep inside still finds its
// enclosing one, in time linear in the line.
TEST(CliVttCueTextTest, DeeplyNestedFontsStayLinear) {
  VttCueText vtt;
  std::string markup = "<font size=\"+2\">";
  for (int i = 0; i < 200000; ++i) markup += "<font color=\"#00FF00\">x";
  markup += "<font size=\"-1\">y";
  ASSERT_TRUE(vtt.append(markup));
  EXPECT_EQ(vtt.counts.closedAtEnd, 200002u);
  EXPECT_EQ(vtt.classes.styleBlock(),
            "STYLE\n"
            "::cue(.c00FF00) { color: #00FF00; }\n"
            "::cue(.zm1-zp2) { font-size: 77%; }\n"
            "::cue(.zp2) { font-size: 118%; }\n");
}

TEST(CliVttCueTextTest, TheStyleBlockDefinesEveryClassOnce) {
  VttCueText vtt;
  // A backslash and a ">" of a face are escaped: the block may hold no "-->".
  vtt.append("<font face=\"A\\B -->\" size=\"+4\" color=\"#ff0000\"><s>x");
  vtt.append("<font color=\"#FF0000\">y");
  EXPECT_EQ(vtt.classes.styleBlock(),
            "STYLE\n"
            "::cue(.cFF0000) { color: #FF0000; }\n"
            "::cue(.f1) { font-family: \"A\\5C B --\\3E \"; }\n"
            "::cue(.s) { text-decoration: line-through; }\n"
            "::cue(.zp4) { font-size: 136%; }\n");
}

// The whole file a writer makes of `cues` (start, end, markup).
struct CueIn {
  const char* start;
  const char* end;
  const char* markup;
};

std::string writeVtt(const std::vector<CueIn>& cues, std::int64_t shift, cli::WriterCounts* counts,
                     bool style = true) {
  std::FILE* file = std::tmpfile();
  auto writer = cli::makeWriter(cli::OutputForm::Vtt, file, shift, style);
  std::uint64_t number = 0;
  for (const CueIn& cue : cues) {
    writer->write(cli::Cue{++number, number, cue.start, cue.end, "S", cue.markup});
  }
  writer->finish();
  *counts = writer->counts();
  std::string bytes(static_cast<std::size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  std::fclose(file);
  return bytes;
}

TEST(CliVttWriterTest, WritesTheCuesInOrderWithAStyleBlockFirst) {
  cli::WriterCounts counts;
  const std::string file = writeVtt({{"0:00:05.00", "0:00:06.00", "<s>late</s>"},
                                     {"0:00:01.00", "0:00:01.00", "same time"},
                                     {"0:00:05.00", "0:00:07.50", "second at five"},
                                     {"0:00:02.00", "0:00:03.00", "<b></b>"},
                                     {"1:02:03.45", "0:00:00.00", "backwards"}},
                                    0, &counts);
  EXPECT_EQ(file,
            "WEBVTT\n\n"
            "STYLE\n::cue(.s) { text-decoration: line-through; }\n\n"
            "00:00:01.000 --> 00:00:01.001\nsame time\n\n"
            "00:00:05.000 --> 00:00:06.000\n<c.s>late</c>\n\n"
            "00:00:05.000 --> 00:00:07.500\nsecond at five\n\n"
            "01:02:03.450 --> 01:02:03.451\nbackwards\n\n");
  EXPECT_EQ(counts.written, 4u);
  EXPECT_EQ(counts.withoutText, 1u);
  EXPECT_EQ(counts.endsRaised, 2u);
  const cli_test::VttVerdict verdict = cli_test::checkVtt(file);
  EXPECT_TRUE(verdict.valid) << verdict.error;
}

// For readers that stop at a STYLE block: the same cues, the classes
// undefined, which a reader passes over.
TEST(CliVttWriterTest, WithoutStyleTheClassesStayAndTheBlockGoes) {
  cli::WriterCounts counts;
  const std::string file = writeVtt(
      {{"0:00:01.00", "0:00:02.00", "<font color=\"#FF0000\"><s>x</s>"}}, 0, &counts, false);
  EXPECT_EQ(file, "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\n<c.cFF0000><c.s>x</c></c>\n\n");
  const cli_test::VttVerdict verdict = cli_test::checkVtt(file);
  EXPECT_TRUE(verdict.valid) << verdict.error;
}

TEST(CliVttWriterTest, AShiftMovesEveryTimeAndStopsAtZero) {
  cli::WriterCounts counts;
  const std::string file = writeVtt(
      {{"0:00:01.00", "0:00:02.50", "a"}, {"0:00:03.00", "0:00:04.00", "b"}}, -1500, &counts);
  EXPECT_EQ(file,
            "WEBVTT\n\n"
            "00:00:00.000 --> 00:00:01.000\na\n\n"
            "00:00:01.500 --> 00:00:02.500\nb\n\n");
  EXPECT_EQ(counts.timesClamped, 1u);
}

TEST(CliShiftedTimesTest, SubRipAndJsonLinesMoveTheirTimesToo) {
  struct Row {
    cli::OutputForm form;
    std::int64_t shift;
    std::string expected;
  };
  const Row rows[] = {
      {cli::OutputForm::Srt, 2500, "1\n00:00:03,500 --> 01:00:02,510\nx\n\n"},
      {cli::OutputForm::Srt, -3000, "1\n00:00:00,000 --> 00:59:57,010\nx\n\n"},
      {cli::OutputForm::Jsonl, 1,
       "{\"index\":1,\"line\":1,\"start\":\"0:00:01.001\",\"end\":"
       "\"1:00:00.011\",\"style\":\"S\",\"markup\":\"x\"}\n"},
      {cli::OutputForm::Jsonl, -990,
       "{\"index\":1,\"line\":1,\"start\":\"0:00:00.01\",\"end\":"
       "\"0:59:59.02\",\"style\":\"S\",\"markup\":\"x\"}\n"},
  };
  for (const Row& row : rows) {
    std::FILE* file = std::tmpfile();
    auto writer = cli::makeWriter(row.form, file, row.shift);
    writer->write(cli::Cue{1, 1, "0:00:01.00", "1:00:00.01", "S", "x"});
    writer->finish();
    std::string bytes(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    EXPECT_EQ(bytes, row.expected) << row.shift;
  }
}

}  // namespace
