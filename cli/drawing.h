// Vector drawings. An event drawn in drawing mode ("{\p1}m 0 0 l 100 0 ...")
// is a shape for a renderer to paint; the module keeps its commands as text,
// as it keeps any text, and SubRip and WebVTT leave out a cue that holds
// nothing else, since their readers would show the numbers as dialogue.
#pragma once

#include <string_view>

namespace cli {

// Whether the markup may be a drawing's: its first byte after tags and
// blanks is a lowercase drawing command letter, followed by a space, a
// digit or "-", and its last is a digit or "c" (a drawing ends in a number,
// or in the command that closes a spline). A cheap test on every cue,
// before the exact one on the script's text.
bool mayBeDrawing(std::string_view markup);

// Whether an event's Text field, as the script writes it, is a drawing and
// nothing else: it has text other than blanks (space, tab, "\N", "\n",
// "\h") drawn in drawing mode and none outside it. The field is read as the
// module reads it: a block runs from "{" to the next "}", and a "{" with no
// "}" after it is text. In a block, "\p" and digits not all 0 turn drawing
// mode on; "\r", and any other "\p" ("\p0", "\p" with no digits, digits
// followed by letters as in "\p1x", a "\p" within another tag's brackets),
// turn it off; "\pos" and "\pbo" leave it as it is. A cue is kept when in
// doubt.
bool isDrawing(std::string_view text);

}  // namespace cli
