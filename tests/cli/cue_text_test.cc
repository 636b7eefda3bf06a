// Cue text from the module's markup: balanced tags, no empty attributes, no
// blank lines. Every row's result is also held to the SubRip checker's own
// reading of balanced tags.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/balance.h"
#include "cli/vtt_classes.h"
#include "tests/cli/srt_check.h"

namespace {

const auto rowName = [](const auto& info) { return "Row" + std::to_string(info.index); };

struct CueTextRow {
  const char* what;
  std::string markup;
  std::string text;  // "" when the cue has no text
  cli::BalanceCounts counts;
};

void PrintTo(const CueTextRow& row, std::ostream* out) { *out << row.what; }

class CliCueTextTest : public ::testing::TestWithParam<CueTextRow> {};

cli::BalanceCounts counted(std::uint64_t closedAtEnd, std::uint64_t strayClosings,
                           std::uint64_t repeatedOpenings, std::uint64_t reopened,
                           std::uint64_t emptyAttributes, std::uint64_t emptyFonts,
                           std::uint64_t partedTags = 0, std::uint64_t partedArrows = 0,
                           std::uint64_t nulBytes = 0) {
  return cli::BalanceCounts{closedAtEnd, strayClosings, repeatedOpenings, reopened, emptyAttributes,
                            emptyFonts,  partedTags,    partedArrows,     nulBytes};
}

TEST_P(CliCueTextTest, BalancesTheTagsAndDropsBlankLines) {
  const CueTextRow& row = GetParam();
  // Appended after what is there; a reused maker gives the same.
  std::string out = "head|";
  cli::BalanceCounts counts;
  const bool hasText = cli::appendCueText(&out, row.markup, &counts);
  EXPECT_EQ(hasText, !row.text.empty());
  EXPECT_EQ(out, "head|" + row.text);
  EXPECT_EQ(cli_test::tagProblem(out), "") << out;
  EXPECT_EQ(counts.closedAtEnd, row.counts.closedAtEnd);
  EXPECT_EQ(counts.strayClosings, row.counts.strayClosings);
  EXPECT_EQ(counts.repeatedOpenings, row.counts.repeatedOpenings);
  EXPECT_EQ(counts.reopened, row.counts.reopened);
  EXPECT_EQ(counts.emptyAttributes, row.counts.emptyAttributes);
  EXPECT_EQ(counts.emptyFonts, row.counts.emptyFonts);
  EXPECT_EQ(counts.partedTags, row.counts.partedTags);
  EXPECT_EQ(counts.partedArrows, row.counts.partedArrows);
  EXPECT_EQ(counts.nulBytes, row.counts.nulBytes);

  cli::CueTextMaker maker;
  for (int round = 0; round < 2; ++round) {
    ssa::TextBuffer again;
    cli::BalanceCounts ignored;
    EXPECT_EQ(maker.append(&again, row.markup, &ignored), hasText);
    EXPECT_EQ(again.view(), row.text) << "round " << round;
  }
}

const std::string kStyle = "<font face=\"Arial\" size=\"-1\" color=\"#FFFFFF\">";

INSTANTIATE_TEST_SUITE_P(
    Rows, CliCueTextTest,
    ::testing::Values(
        // Nothing to change.
        CueTextRow{"plain text", "one", "one", {}},
        CueTextRow{"balanced already",
                   kStyle + "<b>a</b> <i>b</i></font>",
                   kStyle + "<b>a</b> <i>b</i></font>",
                   {}},
        CueTextRow{"lines", "a\nb", "a\nb", {}},
        // Left open: closed at the end, the last opened first.
        CueTextRow{"an open style", kStyle + "<b>Bold", kStyle + "<b>Bold</b></font>",
                   counted(2, 0, 0, 0, 0, 0)},
        CueTextRow{"open override colours", "a <font color=\"#FF0000\">b <font color=\"#00FF00\">c",
                   "a <font color=\"#FF0000\">b <font color=\"#00FF00\">c</font></font>",
                   counted(2, 0, 0, 0, 0, 0)},
        // Stray closings.
        CueTextRow{"a lone closing tag", "</b>x", "x", counted(0, 1, 0, 0, 0, 0)},
        CueTextRow{"a closing font with none open", "x</font>", "x", counted(0, 1, 0, 0, 0, 0)},
        // Crossing: the later tag closes first and opens again.
        CueTextRow{"crossed", "<b>a<i>b</b>c</i>", "<b>a<i>b</i></b><i>c</i>",
                   counted(0, 0, 0, 1, 0, 0)},
        CueTextRow{"a style closing that crosses an override",
                   "<font size=\"+2\"><b>big <font color=\"#FF0000\">red</b></font>",
                   "<font size=\"+2\"><b>big <font color=\"#FF0000\">red</font></b></font>",
                   counted(1, 0, 0, 1, 0, 0)},
        CueTextRow{"crossed with no text after", "<b>a<i>b</b></i>", "<b>a<i>b</i></b>",
                   counted(0, 0, 0, 1, 0, 0)},
        // The same style twice is one, and one closing ends it.
        CueTextRow{"repeated opening", "<b>a<b>b</b>c</b>", "<b>ab</b>c",
                   counted(0, 1, 1, 0, 0, 0)},
        // Empty attribute values.
        CueTextRow{"an eight-digit colour", "<font face=\"Arial\" size=\"+4\" color=\"#\">x</font>",
                   "<font face=\"Arial\" size=\"+4\">x</font>", counted(0, 0, 0, 0, 1, 0)},
        CueTextRow{"an empty size", "<font size=\"\">x</font>y", "xy", counted(0, 0, 0, 0, 1, 1)},
        // A face is the script's font name as it stands; one that holds a
        // quote or an angle bracket cannot be a SubRip value.
        CueTextRow{"a face with a quote", "<font face=\"Comic \"Sans\" size=\"-1\" color=\"#\">Hi",
                   "<font size=\"-1\">Hi</font>", counted(1, 0, 0, 0, 2, 0)},
        CueTextRow{"a face with a tag in it", "<font face=\"A<b>B\">bold?</font>", "bold?",
                   counted(0, 0, 0, 0, 1, 1)},
        CueTextRow{"a face ends at the first quote that what follows a face follows",
                   "<font face=\"a\">\">x", "<font face=\"a\">\">x</font>",
                   counted(1, 0, 0, 0, 0, 0)},
        // Readers take only "#RRGGBB" for a colour; the module writes others
        // for some override codes.
        CueTextRow{"colours that are not colours",
                   "<font color=\"#-10000\">a<font color=\"#GG0000\">b<font color=\"#0a0B0c\">c",
                   "ab<font color=\"#0a0B0c\">c</font>", counted(1, 0, 0, 0, 2, 2)},
        CueTextRow{"colours a digit short, a digit long, a last digit wrong, unended",
                   "<font color=\"#12345\">a<font color=\"#1234567\">b<font color=\"#12345G\">c"
                   "<font color=\"#ABCDEF",
                   "abc<font color=\"#ABCDEF", counted(0, 0, 0, 0, 3, 3)},
        CueTextRow{"a font left without attributes drops its own closing tag",
                   "<font color=\"#00FF00\">a<font color=\"#\">b</font>c</font>",
                   "<font color=\"#00FF00\">abc</font>", counted(0, 0, 0, 0, 1, 1)},
        // Values of up to seven bytes are tested as one word, longer ones
        // by a search.
        CueTextRow{"a value with a blank line, which would end the cue",
                   "<font face=\"A\n \nB\" color=\"#\">x", "<font face=\"A   B\">x</font>",
                   counted(1, 0, 0, 0, 1, 0)},
        CueTextRow{"line breaks in a long value",
                   "<font face=\"Open\n\nSans Semibold\" color=\"#0000FF\">x",
                   "<font face=\"Open  Sans Semibold\" color=\"#0000FF\">x</font>",
                   counted(1, 0, 0, 0, 0, 0)},
        CueTextRow{"line breaks in a short value after a long one",
                   "<font face=\"Open Sans Semibold\" size=\"+1\n\n2\">x",
                   "<font face=\"Open Sans Semibold\" size=\"+1  2\">x</font>",
                   counted(1, 0, 0, 0, 0, 0)},
        CueTextRow{"an empty face", "<font face=\"\" size=\"+1\">x", "<font size=\"+1\">x</font>",
                   counted(1, 0, 0, 0, 1, 0)},
        // Tags stay next to their text.
        CueTextRow{"blanks move out of tags", "a<i> b </i>c", "a <i>b</i> c", {}},
        CueTextRow{"a tag around nothing", "a<i></i>b<u> </u>", "ab ", {}},
        CueTextRow{
            "a closing tag on a line of its own", "<i>line one\n</i>", "<i>line one</i>", {}},
        CueTextRow{"an opening tag at a line end", "one<b>\ntwo</b>", "one\n<b>two</b>", {}},
        // Blank lines.
        CueTextRow{"a blank line", "a\n\nb", "a\nb", {}},
        CueTextRow{"spaces and tabs only", "a\n \t\nb\n", "a\nb", {}},
        CueTextRow{"leading blank lines", "\n\na", "a", {}},
        CueTextRow{"spaces kept inside a line", " a ", " a ", {}},
        CueTextRow{"tags across a blank line", "<i>\n\n</i>x", "x", {}},
        // No text.
        CueTextRow{"empty", "", "", {}}, CueTextRow{"blanks only", "\n \n", "", {}},
        CueTextRow{"tags only", kStyle + "</font>", "", {}},
        CueTextRow{"tags around a line break", "<i>\n</i>", "", {}},
        // Not the module's forms: text, left as it is...
        CueTextRow{"a less-than sign", "1 < 2 <3", "1 < 2 <3", {}},
        CueTextRow{
            "tags readers do not know", "<p>x</p> <bold> <fonts>", "<p>x</p> <bold> <fonts>", {}},
        // ...and parted where SubRip readers would take it for a tag.
        CueTextRow{"another spelling of a tag", "<I>a</I> <B>b <b >c <S\tx>",
                   "<\u2060I>a<\u2060/I> <\u2060B>b <\u2060b >c <\u2060S\tx>",
                   counted(0, 0, 0, 0, 0, 0, 5)},
        CueTextRow{"a font of another form, whose closing tag closes the style's",
                   kStyle + "<font color=red>W</font>: x",
                   kStyle + "<\u2060font color=red>W</font>: x", counted(0, 0, 0, 0, 0, 0, 1)},
        CueTextRow{"an unknown attribute", "<font style=\"x\">y", "<\u2060font style=\"x\">y",
                   counted(0, 0, 0, 0, 0, 0, 1)},
        CueTextRow{"an unterminated value", "<font face=\"Arial>y", "<\u2060font face=\"Arial>y",
                   counted(0, 0, 0, 0, 0, 0, 1)},
        // Attributes are told eight bytes at a time: values shorter and
        // longer than that, and tags cut short within those eight.
        CueTextRow{"long and short values",
                   "<font face=\"Open Sans Semibold\" size=\"+1\" color=\"#A0B1C2\">x",
                   "<font face=\"Open Sans Semibold\" size=\"+1\" color=\"#A0B1C2\">x</font>",
                   counted(1, 0, 0, 0, 0, 0)},
        CueTextRow{"a tag cut after its value", "x<font face=\"\"", "x<font face=\"\"", {}},
        CueTextRow{"a tag cut in its name", "x<font colo", "x<font colo", {}},
        // Dropped tags must not make a tag of the text beside them: its "<"
        // is parted from the rest by an invisible U+2060.
        CueTextRow{"a closing tag made by a stray one", "a<</u>/b>", "a<\u2060/b>",
                   counted(0, 1, 0, 0, 0, 0, 1)},
        CueTextRow{"an opening font made by a stray closing", "<fo</u>nt color=\"#FF0000\">x",
                   "<\u2060font color=\"#FF0000\">x", counted(0, 1, 0, 0, 0, 0, 1)},
        CueTextRow{"a tag made by dropping a pair around nothing", "<<i></i>b>x</b>", "<\u2060b>x",
                   counted(0, 1, 0, 0, 0, 0, 1)},
        CueTextRow{"a tag made across blanks", "<font<b></b> color=\"#0000FF\">x",
                   "<\u2060font color=\"#0000FF\">x", counted(0, 0, 0, 0, 0, 0, 1)},
        CueTextRow{"a font with an attribute twice, which readers take for a tag",
                   "<font size=\"+1\" size=\"-1\">x", "<\u2060font size=\"+1\" size=\"-1\">x",
                   counted(0, 0, 0, 0, 0, 0, 1)},
        CueTextRow{"text joined into what is no tag", "<</u>p>", "<p>", counted(0, 1, 0, 0, 0, 0)},
        // Nor may a line of text read as a timing, which starts a cue.
        CueTextRow{"a timing in the text", "1\n00:00:01,000 --> 00:00:02,000\nfake",
                   "1\n00:00:01,000 --\u2060> 00:00:02,000\nfake", counted(0, 0, 0, 0, 0, 0, 0, 1)},
        CueTextRow{"arrows in a styled line", kStyle + "a --> b ---> c</font>",
                   kStyle + "a --\u2060> b ---\u2060> c</font>", counted(0, 0, 0, 0, 0, 0, 0, 2)},
        CueTextRow{"an arrow made by a dropped tag", "x -</b>-> y", "x --\u2060> y",
                   counted(0, 1, 0, 0, 0, 0, 0, 1)},
        // A NUL would end the cue for a reader built on C strings.
        CueTextRow{"NULs", std::string("a\0\0b\n\0", 6), "a\uFFFD\uFFFDb\n\uFFFD",
                   counted(0, 0, 0, 0, 0, 0, 0, 0, 3)},
        CueTextRow{"a NUL in a styled line", kStyle + std::string("a\0-->", 5) + "</font>",
                   kStyle + "a\uFFFD--\u2060></font>", counted(0, 0, 0, 0, 0, 0, 0, 1, 1)},
        CueTextRow{"a tag cut before its closing quote",
                   "<font color=\"#FF0000",
                   "<font color=\"#FF0000",
                   {}},
        // Pieces that follow each other in the markup are written together;
        // blanks and closings between them are not lost.
        CueTextRow{"tags, text and blanks in turn",
                   "<b>a</b> <i>b <u>c</u></i>\n<s>d</s><b>",
                   "<b>a</b> <i>b <u>c</u></i>\n<s>d</s>",
                   {}}),
    rowName);

// Known style openings, one-line cues written in one piece and colour tags
// read by their form are ways round the general walk: on every shape near
// theirs, and on the cues of random markup of the module's forms, they must
// give what the walk gives, with the same counts, whether a known opening is
// met for the first time or again.
TEST(CliCueTextPathsTest, TheShortCutsGiveWhatTheWalkGives) {
  const std::string styles[] = {kStyle,
                                "<font face=\"Arial\" size=\"+13\" color=\"#\">",
                                "<font color=\"#\">",
                                "<font face=\"A>B\">",
                                "<font face=\"A\nB\">",
                                "<font face=\"A-->B\">",
                                "<font face=\"A--\">",
                                "<font size=\"--\" color=\"#00FF00\">",
                                "<font size=\"-->\">",
                                "<font size=\"\" color=\"#00FF00\">"};
  const std::string bodies[] = {"text",
                                "two words",
                                " lead",
                                "trail ",
                                "\tx",
                                "x\t",
                                "a\nb",
                                "a<b",
                                "<i>x</i>",
                                "<b>x</i>",
                                "<i>x</b>",
                                "<i> x</i>",
                                "<i>x </i>",
                                "<i></i>",
                                "<i>x</i>y",
                                "<p>x</p>",
                                "<i>a<b>b</b></i>",
                                "",
                                " ",
                                "<s>x</s>",
                                "<u>x\ny</u>",
                                "<font color=\"#FF0000\">x</font>",
                                "<font color=\"#ff00aA\"><font color=\"#00FF00\">x",
                                "<font color=\"#FF0000\" size=\"+1\">x",
                                "<font color=\"#FF0000\" color=\"#00FF00\">x",
                                "<font color=\"#GG0000\">x",
                                "<font color=\"#FF00001\">x",
                                "<font color=\"#FF0000\"x",
                                "<font color=\"#FF0000\">",
                                "x</font>y",
                                "a\n b",
                                "a \nb",
                                "a\t\n\tb",
                                "a\n\nb",
                                "a\n \nb",
                                "a\n\t \n b",
                                "\na",
                                "a\n",
                                " \na",
                                "a\n ",
                                "a\nb\nc",
                                "a\n\n",
                                "<i>a\n b</i>",
                                "<i>a\n\nb</i>",
                                "<b>\na</b>",
                                "a\n<i>b</i>",
                                "a-->b",
                                "-->",
                                "->b",
                                ">b",
                                "a--",
                                "a->b-- >c--><d",
                                "<i>-->x</i>",
                                "<i>x--</i>"};
  const std::string endings[] = {"</font>", "", "</font></font>", "</font> ", "</b></font>"};
  std::vector<std::string> markups;
  for (const std::string& style : styles) {
    for (const std::string& body : bodies) {
      for (const std::string& ending : endings) markups.push_back(style + body + ending);
    }
  }
  std::uint32_t seed = 99;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  const std::string pieces[] = {"<b>",
                                "</b>",
                                "<i>",
                                "</i>",
                                "<s>",
                                "</s>",
                                "</font>",
                                " ",
                                "\n",
                                "x",
                                "yz",
                                "<",
                                "<font color=\"#FF0000\">",
                                "<font size=\"\">"};
  for (int i = 0; i < 2000; ++i) {
    std::string markup = styles[next() % std::size(styles)];
    for (int n = static_cast<int>(next() % 8); n > 0; --n)
      markup += pieces[next() % std::size(pieces)];
    markups.push_back(markup);
  }
  // SubRip, then WebVTT, whose classes are made of the attributes read.
  cli::VttClasses fastClasses, walkClasses;
  cli::CueTextMaker srtFast, srtWalk, vttFast(&fastClasses), vttWalk(&walkClasses);
  srtWalk.useGeneralWalkOnly();
  vttWalk.useGeneralWalkOnly();
  const std::pair<cli::CueTextMaker*, cli::CueTextMaker*> makers[] = {{&srtFast, &srtWalk},
                                                                      {&vttFast, &vttWalk}};
  for (int round = 0; round < 2; ++round) {
    for (const std::string& markup : markups) {
      for (const auto& [fast, walk] : makers) {
        ssa::TextBuffer byFast, byWalk;
        cli::BalanceCounts fastCounts, walkCounts;
        const bool fastText = fast->append(&byFast, markup, &fastCounts);
        EXPECT_EQ(fastText, walk->append(&byWalk, markup, &walkCounts)) << markup;
        EXPECT_EQ(byFast.view(), byWalk.view()) << markup;
        EXPECT_EQ(fastCounts.closedAtEnd, walkCounts.closedAtEnd) << markup;
        EXPECT_EQ(fastCounts.strayClosings, walkCounts.strayClosings) << markup;
        EXPECT_EQ(fastCounts.repeatedOpenings, walkCounts.repeatedOpenings) << markup;
        EXPECT_EQ(fastCounts.reopened, walkCounts.reopened) << markup;
        EXPECT_EQ(fastCounts.emptyAttributes, walkCounts.emptyAttributes) << markup;
        EXPECT_EQ(fastCounts.emptyFonts, walkCounts.emptyFonts) << markup;
        EXPECT_EQ(fastCounts.partedTags, walkCounts.partedTags) << markup;
        EXPECT_EQ(fastCounts.partedArrows, walkCounts.partedArrows) << markup;
      }
    }
  }
  EXPECT_EQ(fastClasses.styleBlock(), walkClasses.styleBlock());
}

// A long line of open tags and crossings stays linear: every nested <b>
// after the first is dropped, so no closing crosses all the colours again.
TEST(CliCueTextLimitTest, ManyOpenTagsAndCrossingsStayLinear) {
  std::string markup;
  for (int i = 0; i < 20000; ++i) markup += "<b>";
  for (int i = 0; i < 20000; ++i) markup += "<font color=\"#00FF00\">x";
  for (int i = 0; i < 20000; ++i) markup += "</b>y";
  std::string out;
  cli::BalanceCounts counts;
  ASSERT_TRUE(cli::appendCueText(&out, markup, &counts));
  EXPECT_LT(out.size(), 4 * markup.size());
  EXPECT_EQ(counts.repeatedOpenings, 19999u);
  EXPECT_EQ(counts.strayClosings, 19999u);
  EXPECT_EQ(counts.reopened, 20000u);
  EXPECT_EQ(cli_test::tagProblem(out), "");
}

// The checker the corpus test relies on finds what it must.
struct TagCheckRow {
  const char* text;
  bool balanced;
};

void PrintTo(const TagCheckRow& row, std::ostream* out) { *out << row.text; }

class CliTagCheckTest : public ::testing::TestWithParam<TagCheckRow> {};

TEST_P(CliTagCheckTest, FindsUnbalancedTags) {
  EXPECT_EQ(cli_test::tagProblem(GetParam().text).empty(), GetParam().balanced);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliTagCheckTest,
    ::testing::Values(TagCheckRow{"<b>a</b>", true}, TagCheckRow{"<b>a", false},
                      TagCheckRow{"a</i>", false}, TagCheckRow{"<b><i>a</b></i>", false},
                      TagCheckRow{"<font color=\"#\">a</font>", false},
                      TagCheckRow{"<font size=\"\">a</font>", false},
                      TagCheckRow{"<font size=\"+1\" size=\"+2\">a</font>", false},
                      TagCheckRow{"<font face=\"A\" color=\"#FF0000\">a</font>", true},
                      TagCheckRow{"a < b", true}),
    rowName);

}  // namespace
