// What the cue text balancer reads of a <font> tag of the module's form,
// and what WebVTT's classes are made from.
#pragma once

#include <cstddef>
#include <string_view>

namespace cli {

// A "<font" tag of the module's form: a face, a size and a color
// attribute, each at most once, each value in quotes.
struct FontTag {
  std::size_t length = 0;  // 0: not such a tag
  int attributes = 0;
  int emptyAttributes = 0;
  std::string_view kept[3];  // those with a value, with their leading space
  bool lineBreaks = false;   // a kept value holds a line break (from "{\fnA\NB}")
  // The face, kept[face], holds '"', '<' or '>', which a SubRip reader
  // cannot take in a value (WebVTT's CSS can).
  bool unsafeFace = false;
  int face = 0;
  // An attribute comes twice: not the module's form, though readers take
  // it for a tag. Only the first of each is counted and kept.
  bool repeated = false;
};

}  // namespace cli
