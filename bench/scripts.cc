#include "bench/scripts.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "hostkit/script_source.h"
#include "script/tables.h"

namespace bench {
namespace {

constexpr const char* kStyleNames[] = {
    "Default", "Default - Italic", "Top",        "Flashback", "Narration",
    "Sign",    "OP Romaji",        "OP English", "ED",        "Note"};
constexpr const char* kFonts[] = {"Arial",        "Gandhi Sans", "Open Sans Semibold",
                                  "Trebuchet MS", "Noto Sans",   "Times New Roman",
                                  "Georgia",      "Verdana"};
constexpr const char* kWords[] = {
    "the",      "a",        "and",     "but",   "so",     "if",      "then",  "when",  "because",
    "after",    "I",        "you",     "we",    "they",   "it",      "this",  "that",  "here",
    "now",      "never",    "always",  "maybe", "really", "just",    "still", "again", "time",
    "way",      "night",    "world",   "life",  "hand",   "place",   "house", "door",  "friend",
    "mother",   "captain",  "city",    "river", "light",  "dream",   "heart", "name",  "story",
    "answer",   "promise",  "go",      "come",  "see",    "look",    "think", "know",  "want",
    "feel",     "say",      "tell",    "leave", "stay",   "wait",    "run",   "find",  "keep",
    "remember", "forget",   "believe", "good",  "wrong",  "strange", "quiet", "late",  "first",
    "last",     "together", "alone"};
constexpr const char* kNames[] = {"Aiko", "Ren", "Marta", "Tom", "Yuki", "Narrator"};
constexpr const char* kUnicode[] = {"\xE3\x81\x82\xE3\x82\x8A\xE3\x81\x8C\xE3\x81\xA8\xE3\x81\x86",
                                    "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
                                    "\xD0\xBC\xD0\xB8\xD1\x80",
                                    "d\xC3\xA9j\xC3\xA0 vu, na\xC3\xAFve caf\xC3\xA9",
                                    "\xF0\x9F\x98\x80 \xF0\x9F\x8E\x89"};

template <typename T, std::size_t N>
constexpr std::size_t countOf(const T (&)[N]) {
  return N;
}

// Small, fast and the same everywhere (no library distribution involved).
class Random {
 public:
  explicit Random(std::uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint32_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return static_cast<std::uint32_t>((state * 0x2545F4914F6CDD1Dull) >> 32);
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }
  std::uint32_t between(std::uint32_t lo, std::uint32_t hi) { return lo + below(hi - lo + 1); }
  bool chance(std::uint32_t percent) { return below(100) < percent; }
  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(N)];
  }

 private:
  std::uint64_t state;
};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char buffer[256];
  va_list args;
  va_start(args, pattern);
  const int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  return std::string(buffer, n < 0 ? 0 : std::min<std::size_t>(n, sizeof buffer - 1));
}

std::string timestamp(std::uint32_t cs) {
  return format("%u:%02u:%02u.%02u", cs / 360000, cs / 6000 % 60, cs / 100 % 60, cs % 100);
}

class Lines {
 public:
  explicit Lines(std::uint32_t seed) : random(seed) {}

  std::string sentence(std::uint32_t lo = 3, std::uint32_t hi = 14) {
    const std::uint32_t n = random.between(lo, hi);
    std::string s;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (i != 0) s += random.chance(15) ? ", " : " ";
      s += random.pick(kWords);
    }
    s[0] = static_cast<char>(s[0] >= 'a' && s[0] <= 'z' ? s[0] - 32 : s[0]);
    return s + (random.chance(70) ? "." : "?");
  }

  std::string colourCode() {
    const std::uint32_t bgr = random.below(0x1000000);
    switch (random.below(4)) {
      case 0:
        return format("\\c&H%06X&", bgr);
      case 1:
        return format("\\1c&H%06X&", bgr);
      case 2:
        return format("\\3c&H%06X&", bgr);
      default:
        return format("\\c&H%X&", bgr);
    }
  }

  std::string karaoke(std::uint32_t blocks) {
    static constexpr const char* kSyllables[] = {"ka", "shi", "to", "na", "mi", "yo", "ru",
                                                 "wa", "ga",  "de", "n",  "so", "ra", "ko"};
    std::string s;
    for (std::uint32_t i = 0; i < blocks; ++i) {
      s += format("{\\k%u}", random.between(5, 60));
      s += random.pick(kSyllables);
      if (random.chance(20)) s += ' ';
    }
    return s;
  }

  // One text of the mixture, weighted as scripts mix them.
  std::string text(std::string& style) {
    std::uint32_t pick = random.below(100);
    const auto take = [&pick](std::uint32_t weight) {
      if (pick < weight) return true;
      pick -= weight;
      return false;
    };
    if (take(40)) return sentence();
    if (take(15)) {
      return random.chance(50) ? sentence(3, 8) + "\\N" + sentence(3, 8)
                               : sentence(2, 5) + "\\h\\h" + sentence(2, 5);
    }
    if (take(10)) return "{\\i1}" + sentence() + "{\\i0}";
    if (take(5)) return "{\\b1}" + sentence(2, 6) + "{\\b0} " + sentence(2, 6);
    if (take(8)) return "{" + colourCode() + "}" + sentence();
    if (take(6)) {
      style = "Sign";
      return format("{\\an8\\pos(%u,%u)\\fs%u\\fn%s}", random.between(20, 1900),
                    random.between(20, 1060), random.between(24, 90), random.pick(kFonts)) +
             sentence(1, 5);
    }
    if (take(2)) return sentence(3, 8) + " {TL note: " + sentence(3, 6) + "}";
    if (take(4)) return std::string(random.pick(kUnicode)) + "\\N" + sentence(2, 6);
    style = "OP Romaji";
    return karaoke(random.between(20, 200));
  }

  std::string event(const char* kind, std::uint32_t start, std::string_view style,
                    std::string_view text) {
    std::string line = kind;
    line += format(" %u,", random.chance(85) ? 0u : random.between(1, 9));
    line += timestamp(start) + "," + timestamp(start + random.between(80, 600)) + ",";
    line += style;
    line += ",";
    if (random.chance(25)) line += random.pick(kNames);
    line += ",0,0,0,,";
    line += text;
    return line;
  }

  Random random;
};

}  // namespace

std::string assHeader(std::size_t styles) {
  std::string h =
      "[Script Info]\n"
      "Title: Benchmark script\n"
      "ScriptType: v4.00+\n"
      "WrapStyle: 0\n"
      "PlayResX: 1920\n"
      "PlayResY: 1080\n"
      "ScaledBorderAndShadow: yes\n"
      "\n"
      "[V4+ Styles]\n"
      "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
      "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
      "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n";
  Random random(styles);
  for (std::size_t i = 0; i < styles; ++i) {
    const std::string name = i < countOf(kStyleNames) ? kStyleNames[i] : format("Style %06zu", i);
    h += "Style: " + name + "," + kFonts[i % countOf(kFonts)] + ",";
    h += format(
        "%u,&H00%06X,&H000000FF,&H00%06X,&H80000000,%d,%d,0,0,100,100,0,0,1,2.5,1,%d,"
        "60,60,40,1\n",
        48 + 4 * random.below(7), i < 2 ? 0xFFFFFFu : random.below(0x1000000),
        random.below(0x1000000), i != 0 && random.chance(30) ? -1 : 0,
        name.find("Italic") != std::string::npos ? -1 : 0, i == 2 ? 8 : 2);
  }
  h += "\n[Events]\n"
       "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
  return h;
}

std::string dialogueLine(std::string_view style, std::string_view text) {
  std::string line = "Dialogue: 0,0:01:02.50,0:01:05.00,";
  line += style;
  line += ",,0,0,0,,";
  line += text;
  return line;
}

std::string repeat(std::string_view unit, std::size_t count) {
  std::string s;
  s.reserve(unit.size() * count);
  for (std::size_t i = 0; i < count; ++i) s += unit;
  return s;
}

std::string plainText(std::size_t size) {
  static constexpr std::string_view kPhrase =
      "We waited by the river until the lights came on, and then we walked home. ";
  std::string s = repeat(kPhrase, size / kPhrase.size() + 1);
  s.resize(size);
  return s;
}

bool readScript(const std::string& path, EventSet& set) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  hostkit::Script script;
  std::string error;
  if (!hostkit::splitScript(bytes, &script, &error)) return false;
  set = EventSet{};
  set.origin = path;
  set.header = std::move(script.header.text);
  for (std::string& line : script.events) {
    if (line.compare(0, ssa::kDialoguePrefix.size(), ssa::kDialoguePrefix) == 0)
      set.dialogue.push_back(std::move(line));
  }
  return !set.dialogue.empty();
}

EventSet generatedScript(std::size_t lines, std::uint32_t seed) {
  EventSet set;
  set.origin = format("built-in generator, %zu lines, seed %u", lines, seed);
  set.header = assHeader(countOf(kStyleNames));
  Lines make(seed);
  std::uint32_t start = make.random.below(3000);
  // A few lines with 10,000 blocks or more, as long karaoke effects produce.
  const std::size_t huge = lines < 3 ? lines : 3;
  for (std::size_t i = 0; i < lines; ++i) {
    start += make.random.below(200);
    std::string style = make.random.chance(60) ? "Default" : make.random.pick(kStyleNames);
    std::string text = i * huge / lines != (i + 1) * huge / lines
                           ? make.karaoke(make.random.between(10000, 15000))
                           : make.text(style);
    set.dialogue.push_back(make.event("Dialogue:", start, style, text));
  }
  return set;
}

}  // namespace bench
