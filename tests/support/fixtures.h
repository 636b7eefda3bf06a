// Texts that several test files share: the worked example's header, the
// markup its styles put around a text, and the value tables that the
// converter and the reference converter are both held to.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// A value and what it converts to.
struct Conversion {
  std::string text;
  std::string expected;
};

// Font sizes in points and the relative size the markup gives them.
inline const std::vector<Conversion> kRelativeFontSizes = {
    {"20", "-1"},
    {"21", "-0"},
    {"22", ""},
    {"23", "+0"},
    {"24", "+1"},
    {"25", "+1"},
    {"30", "+4"},
    {"1", "-10"},
    {"100", "+39"},
    {"0", ""},
    {"", ""},
    {"abc", ""},
    {" 20", ""},
    {"20.9", "-1"},
    {"22.5", ""},
    // Large sizes keep their whole magnitude.
    {"200000021", "+99999999"},
    {"200000022", "+100000000"},
    {"4294967295", "+2147483636"},
    // 4294967318 wraps to 22.
    {"4294967318", ""},
    {std::string("2\0000", 3), "-10"},
};

// Colours as a script writes them (hexadecimal BGR or decimal) and as RGB
// digits; empty when there is no colour.
inline const std::vector<Conversion> kColours = {
    {"&HFF8000", "0080FF"},
    {"&HFF8000&", "0080FF"},
    {"&HFF&", "FF0000"},
    {"&H80FF&", "FF8000"},
    {"&Hff8000&", "0080ff"},
    {"&HFFFFFF&", "FFFFFF"},
    {"&H00FF8000&", ""},
    {"&H00FFFFFF", ""},
    {"&HABC&", ""},
    {"&H", ""},
    {"&H&", ""},
    {"&hFF8000&", ""},
    // Only one trailing "&" is dropped.
    {"&HFF8000&&", ""},
    {"255", "FF0000"},
    {"65280", "00FF00"},
    {"16711680", "0000FF"},
    {"16777215", "FFFFFF"},
    {"-1", "FFFFFF"},
    {"12abc", "0C0000"},
    {"0x00FF00", "000000"},
    {"255&", "FF0000"},
    {"abc", ""},
    {"x", ""},
    {"5", ""},
    {"7", ""},
    {"", ""},
    {"&&", ""},
    {std::string("&H\0\0&", 5), std::string(2, '\0') + "0000"},
    // A decimal colour is read as "%d" reads it: white space, sign, NUL
    // bytes, clamping.
    {" \t\v+255", "FF0000"},
    {"- 1", ""},
    {"+", ""},
    {std::string("12\0" "34", 5), "0C0000"},
    {std::string("\0" "12", 3), ""},
    {"99999999999", "FFFFFF"},
    {"2147483648", "FFFFFF"},
    {"-2147483649", "000000"},
    {"-99999999999", "000000"},
    {"-16777216", "000000"},
};

}  // namespace fixtures
