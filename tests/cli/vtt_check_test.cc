// The strict WebVTT reader itself: it must refuse what a conforming file may
// not hold, or the tests that rely on it prove nothing.
#include "tests/cli/vtt_check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cli_test::checkVtt;

const std::string kHead = "WEBVTT\n\n";

struct VttRow {
  const char* what;
  std::string file;
  bool valid;
};

TEST(CliVttCheckTest, AcceptsOnlyAConformingFile) {
  const VttRow rows[] = {
      {"no cues", "WEBVTT\n", true},
      {"header text and a cue", "WEBVTT - subs\n\n00:01.000 --> 00:02.000\nHi\n", true},
      {"hours, identifier, CRLF", "WEBVTT\r\n\r\n1\r\n01:00:01.000 --> 01:00:02.500\r\nHi\r\n",
       true},
      {"a byte-order mark", "\xEF\xBB\xBFWEBVTT\n\n00:00:01.000 --> 00:00:02.000\nx\n", true},
      {"style, then tags and escapes",
       kHead + "STYLE\n::cue(.cFF0000) { color: #FF0000; }\n\n00:00:01.000 --> 00:00:02.000\n"
               "<c.cFF0000><b>a &amp; b &lt; c &gt; d</b></c>\n<i>two</i> lines\n",
       true},
      {"voice, ruby, a timestamp tag and numeric references",
       kHead + "00:00:01.000 --> 00:00:03.000\n<v Bob>x</v> <ruby>a<rt>b</rt></ruby> "
               "<00:00:02.000>&#65;&#x42;\n",
       true},
      {"a note", kHead + "NOTE made by hand\n\n00:00:01.000 --> 00:00:02.000\nx\n", true},
      {"wrong magic", "WEBVTTX\n\n", false},
      {"no blank line after the header", "WEBVTT\n00:01.000 --> 00:02.000\nx\n", false},
      {"one hour digit", kHead + "0:00:01.000 --> 0:00:02.000\nx\n", false},
      {"comma for the full stop", kHead + "00:00:01,000 --> 00:00:02,000\nx\n", false},
      {"sixty seconds", kHead + "00:00:60.000 --> 00:01:02.000\nx\n", false},
      {"two-digit fraction", kHead + "00:00:01.00 --> 00:00:02.000\nx\n", false},
      {"no blanks around the arrow", kHead + "00:00:01.000-->00:00:02.000\nx\n", false},
      {"the end not after the start", kHead + "00:00:02.000 --> 00:00:02.000\nx\n", false},
      {"out of order",
       kHead + "00:00:05.000 --> 00:00:06.000\na\n\n00:00:01.000 --> "
               "00:00:02.000\nb\n",
       false},
      {"a bare ampersand", kHead + "00:00:01.000 --> 00:00:02.000\nfish & chips\n", false},
      {"an unknown escape", kHead + "00:00:01.000 --> 00:00:02.000\n&copy;\n", false},
      {"a bare less-than", kHead + "00:00:01.000 --> 00:00:02.000\n1 < 2\n", false},
      {"an unknown tag", kHead + "00:00:01.000 --> 00:00:02.000\n<font color=\"red\">x\n", false},
      {"a tag left open", kHead + "00:00:01.000 --> 00:00:02.000\n<b>x\n", false},
      {"tags crossed", kHead + "00:00:01.000 --> 00:00:02.000\n<b><i>x</b></i>\n", false},
      {"a stray end tag", kHead + "00:00:01.000 --> 00:00:02.000\nx</i>\n", false},
      {"an empty class", kHead + "00:00:01.000 --> 00:00:02.000\n<c.>x</c>\n", false},
      {"a voice without a name", kHead + "00:00:01.000 --> 00:00:02.000\n<v>x</v>\n", false},
      {"a timestamp tag outside the cue",
       kHead + "00:00:01.000 --> 00:00:02.000\n<00:00:03.000>x\n", false},
      {"an arrow in the text", kHead + "00:00:01.000 --> 00:00:02.000\na --> b\n", false},
      {"style after a cue",
       kHead + "00:00:01.000 --> 00:00:02.000\nx\n\nSTYLE\n::cue { color: red; }\n", false},
      {"not UTF-8", kHead + "00:00:01.000 --> 00:00:02.000\ncaf\xE9\n", false},
  };
  for (const VttRow& row : rows) {
    const cli_test::VttVerdict verdict = checkVtt(row.file);
    EXPECT_EQ(verdict.valid, row.valid) << row.what << ": " << verdict.error;
  }
}

TEST(CliVttCheckTest, CountsCuesAndGathersStylesAndClasses) {
  const cli_test::VttVerdict verdict =
      checkVtt(kHead +
               "STYLE\n::cue(.cFF0000) { color: #FF0000; }\n\n00:00:01.000 --> "
               "00:00:02.000\n<c.cFF0000.s>a</c>\n\n00:00:01.000 --> 00:00:03.000\nb\n");
  ASSERT_TRUE(verdict.valid) << verdict.error;
  EXPECT_EQ(verdict.cues, 2u);
  EXPECT_EQ(verdict.styles, "::cue(.cFF0000) { color: #FF0000; }\n");
  EXPECT_EQ(verdict.classes, (std::set<std::string>{"cFF0000", "s"}));
}

}  // namespace
