// Vector drawings. An event drawn in drawing mode ("{\p1}m 0 0 l 100 0 ...")
// is a shape for a renderer to paint; the module keeps its commands as text,
// as it keeps any text, and SubRip and WebVTT leave out a cue that holds
// nothing else, since their readers would show the numbers as dialogue.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace cli {

// Whether the markup may be a drawing's: its first byte after tags and
// blanks is a lowercase drawing command letter, followed by a space, a
// digit or "-", and its last is a digit or "c" (a drawing ends in a number,
// or in the command that closes a spline). A cheap test on every cue,
// before the exact one on the script's text.
inline bool mayBeDrawing(std::string_view markup);

// Whether an event's Text field, as the script writes it, is a drawing and
// nothing else: it has text other than blanks (space, tab, "\N", "\n",
// "\h") drawn in drawing mode and none outside it. The field is read as the
// module reads it: a block runs from "{" to the next "}", and a "{" with no
// "}" after it is text. In a block, "\p" and digits turn drawing mode on
// (not 0) or off (0). A "\p" without digits that starts no longer tag
// ("\pos", "\pbo"), and "\r", turn it off: a cue is kept when in doubt.
bool isDrawing(std::string_view text);

// The rest of mayBeDrawing, which most cues never reach.
bool mayBeDrawingByWalk(std::string_view markup);

namespace drawing_detail {

// What a byte may be at the start of a drawing's markup: the commands
// (move, move unclosed, line, cubic and uniform b-spline, extend and close
// a spline) take numbers, which ordinary words rarely begin with.
// Those from Space on may follow a command.
enum class Leading : unsigned char { Other, Tag, TagEnd, Blank, Command, Space, Number };

constexpr std::array<Leading, 256> leadingBytes() {
  std::array<Leading, 256> kinds{};
  kinds['<'] = Leading::Tag;
  kinds['>'] = Leading::TagEnd;
  kinds['\t'] = kinds['\n'] = Leading::Blank;
  kinds[' '] = Leading::Space;
  kinds['-'] = Leading::Number;
  for (char c = '0'; c <= '9'; ++c) kinds[static_cast<unsigned char>(c)] = Leading::Number;
  for (const char c : {'m', 'n', 'l', 'b', 's', 'p', 'c'}) {
    kinds[static_cast<unsigned char>(c)] = Leading::Command;
  }
  return kinds;
}
inline constexpr std::array<Leading, 256> kLeading = leadingBytes();

// Whether the 8 bytes before `at` end in "</font>", as most markup does.
inline bool endsInFontClose(const char* at) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the last byte read is the highest");
  constexpr std::uint64_t kClose = 0x3E746E6F662F3C00u;  // "</font>" after any byte
  std::uint64_t word;
  std::memcpy(&word, at - 8, sizeof word);
  return (word & ~std::uint64_t{0xFF}) == kClose;
}

}  // namespace drawing_detail

inline bool mayBeDrawing(std::string_view markup) {
  // The usual cue at once: a letter or a stop before the style's "</font>",
  // or before a "</b>", "</i>", ... and it.
  const std::size_t size = markup.size();
  if (size >= 9 && drawing_detail::endsInFontClose(markup.data() + size)) {
    std::size_t last = size - 8;
    if (markup[last] == '>' && last >= 4 && markup[last - 3] == '<') last -= 4;
    if (drawing_detail::kLeading[static_cast<unsigned char>(markup[last])] ==
        drawing_detail::Leading::Other) {
      return false;
    }
  }
  return mayBeDrawingByWalk(markup);
}

}  // namespace cli
