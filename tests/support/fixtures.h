// Texts that several test files share: the worked example's header and the
// markup its styles put around a text.
#pragma once

#include <string>
#include <string_view>

namespace fixtures {

// Styles Default and Note (and Short, which defines nothing), and the ten
// ASS event columns with Style at 3 and Text at 9.
inline const std::string kWorkedHeader =
    "[Script Info]\n"
    "ScriptType: v4.00+\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\n"
    "Style: Default,Arial,20,&HFF8000,-1,0\n"
    "Style: Note,Tahoma,30,255,0,1\n"
    "Style: Short,Arial,20\n"
    "[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

// The markup of style Default ("Arial", 20 points, &HFF8000, bold) and of
// style Note ("Tahoma", 30 points, red, italic).
inline const std::string kDefaultOpen = "<font face=\"Arial\" size=\"-1\" color=\"#0080FF\"><b>";
inline const std::string kDefaultClose = "</b></font>";
inline const std::string kNoteOpen = "<font face=\"Tahoma\" size=\"+4\" color=\"#FF0000\"><i>";
inline const std::string kNoteClose = "</i></font>";

// "Dialogue: 0,0:00:01.00,0:00:03.50,<style>,,0000,0000,0000,,<text>"
inline std::string dialogue(std::string_view style, std::string_view text) {
  std::string line = "Dialogue: 0,0:00:01.00,0:00:03.50,";
  line.append(style);
  line.append(",,0000,0000,0000,,");
  line.append(text);
  return line;
}

}  // namespace fixtures
