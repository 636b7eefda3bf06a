#include "tests/oracle/random_lines.h"

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace oracle {
namespace {

using namespace std::string_literals;

// Draws with plain modulo on the engine's output instead of the standard
// distributions, whose results the library may choose: a seed must name the
// same lines everywhere a failure is reported.
class Dice {
 public:
  explicit Dice(std::uint32_t seed) : engine_(seed) {}

  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(engine_() % n); }
  bool percent(std::uint32_t p) { return below(100) < p; }
  const std::string& pick(const std::vector<std::string>& from) {
    return from[below(static_cast<std::uint32_t>(from.size()))];
  }
  char byte() { return static_cast<char>(below(256)); }

 private:
  std::mt19937 engine_;
};

// Literals are std::string so that embedded NUL bytes survive.
const std::vector<std::string>& words() {
  static const std::vector<std::string> kWords = {"Hello",
                                                  "world",
                                                  "a",
                                                  "x",
                                                  "Line one",
                                                  "T, and more",
                                                  "a<b & c>d",
                                                  "Big",
                                                  "  spaced",
                                                  "end ",
                                                  "0",
                                                  "22",
                                                  "&H",
                                                  "Sign",
                                                  "r",
                                                  "\xC3\xA9t\xC3\xA9",
                                                  "\xFF",
                                                  "\x80",
                                                  "\xE2\x80\x94",
                                                  "fin\xFE"};
  return kWords;
}

const std::vector<std::string>& blocks() {
  static const std::vector<std::string> kBlocks = {
      // Codes the table translates.
      "{\\b1}", "{\\b0}", "{\\i1}", "{\\i0}", "{\\u1}", "{\\u0}", "{\\s1}", "{\\s0}", "{\\b700}",
      "{\\i10}", "{\\bord2}", "{Sign}", "{\\fnArial}", "{\\fnTimes New Roman}", "{\\fn}", "{\\fn }",
      "{\\fs20}", "{\\fs22}", "{\\fs21}", "{\\fs23}", "{\\fs30}", "{\\fs0}", "{\\fs200000022}",
      "{\\fs4294967318}", "{\\fs20\\b1}", "{\\c&H0000FF&}", "{\\1c&HFF&}", "{\\c&H80FF&}",
      "{\\c&HFF8000}", "{\\c&Hff8000&}", "{\\c&H00FF8000&}", "{\\c&HF&}", "{\\c16777215}",
      "{\\c-1}", "{\\c 255}", "{\\c\t+65280}", "{\\c99999999999}", "{\\c-99999999999}",
      "{\\c2147483648}", "{\\c-2147483649}", "{\\c12abc}", "{\\c0x00FF00}",
      "{\\c\0"
      "12}"s,
      "{\\1c\0"
      "FF}"s,
      // Codes that are deleted.
      "{\\fs}", "{\\fsx}", "{\\b}", "{\\B1}", "{\\3c&H000000&}", "{\\k20}", "{\\pos(1,2)}",
      "{\\pos(10,20)}", "{\\r}", "{\\rDefault}", "{\\an8}", "{}", "{a}", "{ab}", "{\\}", "{\\fz}",
      // Translations that bring a "{" back into the markup.
      "{\\fn{}", "{\\fn{\\i1}", "{\\fn{{}", "{\\c&H{0{0{0&}", "{\\c&H{{&}", "{\\1c&H{{{{&}",
      "{\\c&H{{{{{{}", "{\\fn\\c{}",
      // Unbalanced, nested and reversed braces.
      "{", "}", "}{", "{{}", "{}}", "{\\i1", "\\i1}", "{a{\\i1}b}", "{\\c&H0000FF&", "{\\fs2{0}",
      "{x,y}", "{,},", "{\\b1}{\\i1}"};
  return kBlocks;
}

const std::vector<std::string>& escapes() {
  static const std::vector<std::string> kEscapes = {"\\N",  "\\n",  "\\h",    "\\",    "\\\\N",
                                                    "\\\\", "\\hN", "\\N\\N", "\\\\n", "\\{",
                                                    "\\}",  "N",    "h"};
  return kEscapes;
}

const std::vector<std::string>& controls() {
  static const std::vector<std::string> kControls = {"\0"s, "\0\0"s, "\r", "\n", "\r\n", "\t",
                                                     " ",   "  ",    ",",  ",,", " , "};
  return kControls;
}

const std::vector<std::string>& styles() {
  static const std::vector<std::string> kStyles = {
      "Default", "Default", "Note",      "Other",      " Default ",  "default",  "Short",
      "",        "{x,y}",   "Default\r", "\0Default"s, "Def{,}ault", "\tDefault"};
  return kStyles;
}

// An override block made up on the spot: random codes with random arguments,
// closed or not.
std::string madeUpBlock(Dice& dice) {
  static const std::vector<std::string> kCodes = {"b", "i",  "u",  "s",  "fn",  "fs",
                                                  "c", "1c", "3c", "k",  "pos", "r",
                                                  "B", "f",  "1",  "an", "c&H", "1c&H"};
  static const std::vector<std::string> kArgs = {
      "",      "0",     "1", "20", "22", "-1",        "&H0000FF&", "&HFF&", "FF",
      "(1,2)", "Arial", "{", " ",  "\\", "&H{0{0{0&", "00FF8000",  "abc",   "\0"s};
  std::string block = "{";
  const std::uint32_t codes = 1 + dice.below(3);
  for (std::uint32_t i = 0; i < codes; ++i) {
    if (dice.percent(85)) block += "\\";
    block += dice.pick(kCodes);
    block += dice.pick(kArgs);
  }
  if (dice.percent(85)) block += "}";
  return block;
}

// Event text: a run of words, blocks, escapes, control bytes and raw bytes.
std::string randomText(Dice& dice) {
  std::string text;
  const std::uint32_t pieces = dice.below(12);
  for (std::uint32_t i = 0; i < pieces; ++i) {
    switch (dice.below(10)) {
      case 0:
      case 1:
        text += dice.pick(words());
        break;
      case 2:
      case 3:
        text += dice.pick(blocks());
        break;
      case 4:
        text += madeUpBlock(dice);
        break;
      case 5:
        text += dice.pick(escapes());
        break;
      case 6:
        text += dice.pick(controls());
        break;
      case 7:
        text += dice.byte();
        break;
      case 8:
        text += "{";
        break;
      default:
        text += "}";
        break;
    }
  }
  return text;
}

// A leading field of an event line: the usual values and some hostile ones.
std::string randomField(Dice& dice) {
  static const std::vector<std::string> kFields = {
      "0",     "0000", "0:00:01.00", "0:00:03.50", "",     " ",   "Marked=0", "Actor",
      "{x,y}", "{,",   "}",          "\0"s,        "\r\n", " 0 ", "\t"};
  if (dice.percent(15)) return randomText(dice);
  return dice.pick(kFields);
}

// The ten fields of an ordinary line, with a random style and text.
std::string realisticLine(Dice& dice) {
  std::string line = dice.percent(80) ? " " : "";
  line += dice.percent(50) ? "0" : "Marked=0";
  line += ",0:00:01.00,0:00:03.50,";
  line += dice.pick(styles());
  line += ",";
  line += dice.percent(80) ? "" : randomField(dice);
  line += ",0000,0000,0000,";
  line += dice.percent(85) ? "" : randomField(dice);
  line += ",";
  line += randomText(dice);
  if (dice.percent(30)) line += "\0"s;  // the NUL a payload may count
  return line;
}

// Any number of fields, any text; commas and braces everywhere.
std::string fieldSoup(Dice& dice) {
  std::string line;
  const std::uint32_t fields = dice.below(14);
  for (std::uint32_t i = 0; i < fields; ++i) {
    line += randomField(dice);
    line += ",";
  }
  if (dice.percent(70)) line += randomText(dice);
  return line;
}

// Raw bytes from an alphabet rich in the bytes the converter reacts to.
std::string byteSoup(Dice& dice) {
  static const std::string kAlphabet = ",,,,{{{}}}\\\\NnhbiusfcnN1\r\n\t  01289&H\0\xFF\x80"s;
  std::string line;
  const std::uint32_t length = dice.below(48);
  for (std::uint32_t i = 0; i < length; ++i) {
    if (dice.percent(10)) {
      line += dice.byte();
    } else {
      const auto size = static_cast<std::uint32_t>(kAlphabet.size());
      line += kAlphabet[dice.below(size)];
    }
  }
  return line;
}

std::string shortLine(Dice& dice) {
  static const std::vector<std::string> kShort = {
      "",          " ",           ",",    "{",  "}",  "\\",     "\0"s,          "\r\n",
      ",,,,,,,,,", ",,,,,,,,,,",  " a,b", "{}", "}{", "{\\i1}", ",,,,,,,,,\0"s, ",,,,,,,,,{",
      "\\N",       ",,,,,,,,,\\N"};
  if (dice.percent(30)) return std::string(1, dice.byte());
  return dice.pick(kShort);
}

// One line of a header from the pools below; `styleColumns` is the column
// count of the last style format line, so that style lines often fit it.
std::string headerLine(Dice& dice, std::uint32_t& styleColumns) {
  static const std::vector<std::string> kHeads = {
      "[Script Info]",
      "[V4 Styles]",
      "[V4+ Styles]",
      "[Events]",
      "[v4+ styles]",
      "[V4+ Styles]   ",
      "[V4+ Styles]\t",
      "[Fonts]",
      "[events]",
      "ScriptType: v4.00+",
      "; comment",
      "Title: x",
      " ",
      "\0"s,
      "Dialogue: 0,0:00:01.00,0:00:03.50,Default,,0,0,0,,Hi"};
  static const std::vector<std::string> kStyleNames = {
      "Name",   "Fontname",        "Fontsize",  "PrimaryColour", "Bold",
      "Italic", "SecondaryColour", "Underline", "Outline",       "name"};
  static const std::vector<std::string> kEventNames = {"Layer",   "Marked", "Start",   "End",
                                                       "Style",   "Name",   "MarginL", "MarginR",
                                                       "MarginV", "Effect", "Text",    "text"};
  static const std::vector<std::string> kOddFormats = {
      "Format:",      "Format: ",    "Format:Name,Fontname", "Format:x",
      "Format: Name", "Format: ,,,", "Format: Text"};
  static const std::vector<std::string> kOddStyles = {"Style:", "Style: ", "Style:x",
                                                      "Style: Default", "Style: ,,,"};
  static const std::vector<std::string> kNames = {"Default",  "Note",    "Other", "Short",
                                                  " Default", "default", "{x}",   "Note\t"};
  static const std::vector<std::string> kFonts = {"Arial", "Tahoma", "Times New Roman", "\tArial",
                                                  "A\"B"};
  static const std::vector<std::string> kSizes = {
      "20", "22", "21", "23", "30", "0", "abc", " 20", "200000022", "4294967318", "12.5"};
  static const std::vector<std::string> kColours = {
      "&HFF8000",    "&HFF8000&", "&HFF&", "&H00FFFFFF", "&HFFFFFF&", "255", "-1",
      "99999999999", "&hFF8000&", "x",     " 12",        "&H{0{0{0",  "&&"};
  static const std::vector<std::string> kFlags = {"0", "-1", "1", "00", " 0"};
  static const std::vector<std::string> kSeparators = {",", ", ", " ,", ",,"};

  switch (dice.below(6)) {
    case 0:
      return dice.pick(kHeads);
    case 1: {
      if (dice.percent(15)) return dice.pick(kOddFormats);
      // Style columns in random order, some missing, some repeated.
      std::string line = "Format: ";
      const std::uint32_t count = 1 + dice.below(8);
      for (std::uint32_t i = 0; i < count; ++i) {
        if (i > 0) line += dice.percent(80) ? ", " : ",";
        line += dice.pick(kStyleNames);
      }
      styleColumns = count;
      return line;
    }
    case 2:
    case 3: {
      if (dice.percent(10)) return dice.pick(kOddStyles);
      std::string line = "Style: ";
      std::uint32_t count = styleColumns;
      if (dice.percent(20)) count = dice.below(9);
      for (std::uint32_t i = 0; i < count; ++i) {
        if (i > 0) line += dice.percent(90) ? "," : dice.pick(kSeparators);
        switch (dice.below(5)) {
          case 0:
            line += dice.pick(kNames);
            break;
          case 1:
            line += dice.pick(kFonts);
            break;
          case 2:
            line += dice.pick(kSizes);
            break;
          case 3:
            line += dice.pick(kColours);
            break;
          default:
            line += dice.pick(kFlags);
            break;
        }
      }
      return line;
    }
    default: {
      if (dice.percent(10)) return dice.pick(kOddFormats);
      // Event columns: usually the ten, sometimes shuffled, short or doubled.
      std::vector<std::string> names = {"Layer",   "Start",   "End",     "Style",  "Name",
                                        "MarginL", "MarginR", "MarginV", "Effect", "Text"};
      if (dice.percent(40)) {
        for (std::size_t i = names.size(); i > 1; --i) {
          std::swap(names[i - 1], names[dice.below(static_cast<std::uint32_t>(i))]);
        }
      }
      if (dice.percent(30)) {
        names.resize(dice.below(static_cast<std::uint32_t>(names.size())));
      }
      if (dice.percent(20)) names.push_back(dice.pick(kEventNames));
      std::string line = "Format: ";
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) line += dice.percent(85) ? ", " : ",";
        line += names[i];
      }
      return line;
    }
  }
}

}  // namespace

std::vector<std::string> randomLines(std::uint32_t seed, std::size_t count) {
  Dice dice(seed);
  std::vector<std::string> lines;
  lines.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    switch (dice.below(10)) {
      case 0:
      case 1:
      case 2:
      case 3:
        lines.push_back(realisticLine(dice));
        break;
      case 4:
      case 5:
        lines.push_back(fieldSoup(dice));
        break;
      case 6:
      case 7:
        lines.push_back(byteSoup(dice));
        break;
      case 8:
        lines.push_back(shortLine(dice));
        break;
      default:
        lines.push_back(randomText(dice));
        break;
    }
  }
  return lines;
}

std::string randomHeader(std::uint32_t seed) {
  static const std::vector<std::string> kBreaks = {"\r\n", "\r\n",   "\n",  "\n",   "\r",
                                                   "\n\n", "\r\r\n", " \n", "\0\n"s};
  Dice dice(seed);
  std::string header;
  std::uint32_t styleColumns = 6;
  // Usually a header of the usual shape, its pieces shaken a little.
  if (dice.percent(50)) {
    header += "[Script Info]" + dice.pick(kBreaks);
    header += (dice.percent(80) ? "[V4+ Styles]" : "[V4 Styles]") + dice.pick(kBreaks);
    header += "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic" + dice.pick(kBreaks);
    header += "Style: Default,Arial,20,&HFF8000,-1,0" + dice.pick(kBreaks);
  }
  const std::uint32_t lines = dice.below(16);
  for (std::uint32_t i = 0; i < lines; ++i) {
    if (dice.percent(10)) header += dice.pick(controls());
    header += headerLine(dice, styleColumns);
    header += dice.pick(kBreaks);
  }
  return header;
}

}  // namespace oracle
