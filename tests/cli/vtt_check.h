// A strict reader of WebVTT files, written from the W3C format's authoring
// rules, to hold subrite-host's output to what a conforming file must be:
//   file     = [BOM] "WEBVTT" [(SP|TAB) text] EOL EOL *(style EOL) *(cue EOL)
//   style    = "STYLE" *(SP|TAB) EOL 1*(css-line EOL), before every cue
//   cue      = [identifier EOL] timing EOL 1*(text-line EOL)
//   timing   = time 1*(SP|TAB) "-->" 1*(SP|TAB) time, the end after the start,
//              the start not before the start of any cue before it
//   time     = [hh+ ":"] mm ":" ss "." ttt (mm, ss below 60; hours when > 0)
//   text     = spans of text, escapes (&amp; &lt; &gt; &lrm; &rlm; &nbsp;
//              and numeric references) and tags (c, i, b, u, v, lang, ruby,
//              rt with classes; timestamps between the cue's times), every
//              tag closed in order; no "-->", no blank line inside a cue
// Lines end with LF, CR or CRLF; no line of a block may hold "-->" except
// the timing line.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>

namespace cli_test {

struct VttVerdict {
  bool valid = false;
  std::size_t cues = 0;
  std::string error;              // what broke the form, with its line
  std::string styles;             // the text of every STYLE block, joined
  std::set<std::string> classes;  // every class a cue's tags name
};

VttVerdict checkVtt(std::string_view text);

}  // namespace cli_test
