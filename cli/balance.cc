#include "cli/balance.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "cli/utf8.h"
#include "cli/vtt_classes.h"
#include "script/scan.h"
#include "script/text.h"

namespace cli {
namespace {

constexpr std::string_view kClosings[] = {"</b>", "</i>", "</u>", "</s>", "</font>"};
// WebVTT has no <s> and no <font>: both are class spans.
constexpr std::string_view kVttClosings[] = {"</b>", "</i>", "</u>", "</c>", "</c>"};

// Where a run of text ends: a tag, or a line break.
constexpr ssa::ByteTrio kStops = ssa::makeTrio('<', '\n', '<');
// The same, and the ends of arrows, in a one-line cue written as it is.
constexpr ssa::ByteTrio kLineStops = ssa::makeTrio('<', '\n', '>');

constexpr std::string_view kArrow = "-->";

// Whether `text` holds `prefix` at `at`. A comparison of known length of a
// few bytes, which the compiler makes of a word or two, not a call: this
// runs for every tag of every cue.
template <std::size_t N>
bool holds(std::string_view text, std::size_t at, const char (&prefix)[N]) {
  return text.size() >= at + (N - 1) && std::memcmp(text.data() + at, prefix, N - 1) == 0;
}

// <b>, <i>, <u> and <s> by their letter; -1 for any other.
int simpleKind(char letter) {
  switch (letter) {
    case 'b':
      return 0;
    case 'i':
      return 1;
    case 'u':
      return 2;
    case 's':
      return 3;
    default:
      return -1;
  }
}

// Eight bytes of text as one number, the first in the lowest byte, as x86
// loads them.
constexpr std::uint64_t word(const char (&bytes)[9]) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
  return value;
}

std::uint64_t load(const char* at) {
  std::uint64_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Whether text[value, end) holds a line feed; `end` is the value's closing
// quote, and the seven bytes before it are the tag's. A value of a colour or
// a size is one word with that quote, tested without a call; before a
// shorter one stand bytes of its attribute's name, never a line feed.
bool holdsLineBreak(std::string_view text, std::size_t value, std::size_t end) {
  if (end - value > 7) return std::memchr(text.data() + value, '\n', end - value) != nullptr;
  const std::uint64_t feeds = load(text.data() + end - 7) ^ 0x0A0A0A0A0A0A0A0Au;
  return ((feeds - 0x0101010101010101u) & ~feeds & 0x8080808080808080u) != 0;
}

// Hexadecimal digits, either case, by byte: 1 for a digit, 0 for the rest.
constexpr auto kHexDigits = [] {
  std::array<unsigned char, 256> digits{};
  for (int c = 0; c < 256; ++c) {
    digits[c] = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  }
  return digits;
}();

// Whether a colour value's "#RRGGBB" and its closing quote begin at `value`:
// what readers take for a colour. The module writes other values for some
// override codes ("#-10000", "#GG0000"). Six look-ups, not a loop, and
// inlined: most tags of the longest cues are colours.
[[gnu::always_inline]] inline bool holdsColourValue(std::string_view text, std::size_t value) {
  if (value + 8 > text.size() || text[value] != '#' || text[value + 7] != '"') return false;
  const auto digit = [&text, value](std::size_t i) -> unsigned {
    return kHexDigits[static_cast<unsigned char>(text[value + i])];
  };
  // One test of all six, not six branches.
  return (digit(1) & digit(2) & digit(3) & digit(4) & digit(5) & digit(6)) != 0;
}

// Whether what follows a face's closing quote at `at` is what the module
// writes after one: another attribute, or the end of the tag.
bool endsFace(std::string_view text, std::size_t at) {
  return at < text.size() &&
         (text[at] == '>' || holds(text, at, " size=\"") || holds(text, at, " color=\""));
}

// Inlined into applyTag, which runs for every tag of every cue. Without
// `shortCut`, every tag takes the walk (tests hold the two to one result).
[[gnu::always_inline]] inline void readFont(std::string_view text, FontTag* tag, bool shortCut) {
  tag->length = 0;
  tag->attributes = tag->emptyAttributes = 0;
  tag->lineBreaks = false;
  tag->repeated = false;
  tag->unsafeFace = false;
  if (!holds(text, 0, "<font")) return;
  // The module's colour tag, most tags of the longest cues: its fixed bytes
  // and six digits, not the walk below, which gives the same.
  constexpr std::size_t kColourTag = sizeof "<font color=\"#RRGGBB\">" - 1;
  if (shortCut && text.size() >= kColourTag && load(text.data() + 5) == word(" color=\"") &&
      holdsColourValue(text, 13) && text[kColourTag - 1] == '>') {
    tag->attributes = 1;
    tag->kept[0] = std::string_view(text.data() + 5, kColourTag - 6);
    tag->length = kColourTag;
    return;
  }
  std::size_t at = 5;
  unsigned seen = 0;
  // Every attribute with its quotes takes at least eight bytes, so each is
  // told by the eight at its start: " face=\"", " size=\"" and their first
  // value byte, or " color=\"".
  constexpr std::uint64_t kSevenBytes = 0x00FFFFFFFFFFFFFFu;
  while (at + 8 <= text.size()) {
    const std::uint64_t name = load(text.data() + at);
    std::size_t value;
    unsigned which;
    if ((name & kSevenBytes) == (word(" face=\"_") & kSevenBytes)) {
      which = 1, value = at + 7;
    } else if ((name & kSevenBytes) == (word(" size=\"_") & kSevenBytes)) {
      which = 2, value = at + 7;
    } else if (name == word(" color=\"")) {
      which = 4, value = at + 8;
    } else {
      break;
    }
    if ((seen & which) != 0) tag->repeated = true;
    seen |= which;
    // A colour's value holds no quote: its own ends it.
    const bool colour = which == 4 && holdsColourValue(text, value);
    std::size_t end = colour ? value + 7 : text.find('"', value);
    // A face is the script's font name, quotes and all: it ends at the quote
    // that the next attribute or the end of the tag follows.
    while (which == 1 && end != std::string_view::npos && !endsFace(text, end + 1)) {
      end = text.find('"', end + 1);
    }
    if (end == std::string_view::npos) return;
    const std::size_t start = at;
    at = end + 1;
    if (tag->repeated) continue;  // only read to its end
    if (end == value || (end == value + 1 && text[value] == '#') || (which == 4 && !colour)) {
      ++tag->emptyAttributes;
    } else {
      if (which == 1) {
        tag->face = tag->attributes - tag->emptyAttributes;
        const std::string_view name(text.data() + value, end - value);
        tag->unsafeFace = name.find_first_of("\"<>") != std::string_view::npos;
      }
      tag->kept[tag->attributes - tag->emptyAttributes] =
          std::string_view(text.data() + start, end + 1 - start);
      tag->lineBreaks = tag->lineBreaks || holdsLineBreak(text, value, end);
    }
    ++tag->attributes;
  }
  if (at < text.size() && text[at] == '>' && tag->attributes > 0) tag->length = at + 1;
}

// The tag that begins `text`, told apart by position: <b>, <i>, <u>, <s>,
// their closing tags, </font> and <font ...>, whose attributes go to *font
// (one with an attribute twice included: readers take it for a tag).
struct TagForm {
  std::size_t length = 0;  // 0: no tag
  int kind = 0;            // simpleKind's number, or kFontKind
  bool closing = false;
};
constexpr int kFontKind = 4;

[[gnu::always_inline]] inline TagForm readForm(std::string_view text, FontTag* font,
                                               bool shortCut = true) {
  if (text.size() < 3) return {};
  if (text[1] == '/') {
    if (text.size() >= 4 && text[3] == '>' && simpleKind(text[2]) >= 0) {
      return {4, simpleKind(text[2]), true};
    }
    if (holds(text, 0, "</font>")) return {7, kFontKind, true};
    return {};
  }
  if (text[2] == '>' && simpleKind(text[1]) >= 0) return {3, simpleKind(text[1]), false};
  if (text[1] != 'f') return {};
  readFont(text, font, shortCut);
  return {font->length, kFontKind, false};
}

// Whether `text` begins with what SubRip readers take for a tag: the
// module's forms, and any other spelling of b, i, u, s and font that they
// read too ("<I>", "<b >", "<font color=red>"), in any case.
bool isTag(std::string_view text) {
  FontTag font;
  if (readForm(text, &font).length != 0) return true;
  std::size_t at = text.size() > 1 && text[1] == '/' ? 2 : 1;
  if (at >= text.size()) return false;
  if (simpleKind(ssa::asciiLower(text[at])) >= 0) {
    ++at;
  } else if (text.size() >= at + 4 && ssa::asciiLower(text[at]) == 'f' &&
             ssa::asciiLower(text[at + 1]) == 'o' && ssa::asciiLower(text[at + 2]) == 'n' &&
             ssa::asciiLower(text[at + 3]) == 't') {
    at += 4;
  } else {
    return false;
  }
  if (at >= text.size()) return false;
  if (text[at] == '>') return true;
  return (ssa::isSpaceOrTab(text[at]) || text[at] == '\n') &&
         text.find('>', at) != std::string_view::npos;
}

// Invisible, and no reader takes "<" and it for the start of a tag.
constexpr std::string_view kWordJoiner = "\xE2\x81\xA0";  // U+2060

}  // namespace

bool appendCueText(std::string* out, std::string_view markup, BalanceCounts* counts) {
  ssa::TextBuffer text;
  if (!CueTextMaker().append(&text, markup, counts)) return false;
  out->append(text.view());
  return true;
}

bool CueTextMaker::append(ssa::TextBuffer* out, std::string_view markup, BalanceCounts* counts) {
  if (std::size_t nul = markup.find('\0'); nul != std::string_view::npos) {
    withoutNuls_.clear();
    do {
      withoutNuls_.append(markup.substr(0, nul)).append(kReplacementCharacter);
      markup.remove_prefix(nul + 1);
      ++counts->nulBytes;
    } while ((nul = markup.find('\0')) != std::string_view::npos);
    withoutNuls_.append(markup);
    markup = withoutNuls_;
  }
  const std::size_t before = out->size();
  startCue(out, markup.size(), counts);
  std::size_t at = 0;  // what is before it is done
  // Most cues open with their style's <font>, which is read once and kept;
  // most of those are one line that needs no change, which is written in one
  // piece. The walk gives the same for both, at three to four times the
  // work.
  if (!generalOnly_ && holds(markup, 0, "<font")) {
    at = openKnown(markup);
    if (!open_.empty() && classes_ == nullptr && styledLine(markup.substr(at))) return true;
  }
  walk(markup, at);
  return endCue(before);
}

void CueTextMaker::startCue(ssa::TextBuffer* out, std::size_t markupSize, BalanceCounts* counts) {
  counts_ = counts;
  out_ = out;
  open_.clear();
  firstPending_ = 0;
  std::fill(std::begin(kindOpen_), std::end(kindOpen_), false);
  fonts_ = 0;
  fontSizes_.clear();
  blanks_.clear();
  pendingEnd_ = nullptr;
  rebuilt_.clear();
  angles_.clear();
  // Rebuilt tags are never longer than the markup: views into them hold.
  if (rebuilt_.capacity() < markupSize) rebuilt_.reserve(markupSize);
  anyText_ = false;
  knownAdded_ = false;
  openingArrow_ = false;
  if (classes_ != nullptr) classes_->beginCue();
}

void CueTextMaker::walk(std::string_view markup, std::size_t at) {
  // Text runs end at a tag or a line break, which one walk finds.
  ssa::ByteFinder stops(markup, kStops, ssa::currentScan());
  for (std::size_t stop = stops.next();; stop = stops.next()) {
    if (stop < at) continue;  // inside a tag already read
    if (stop > at) putText(markup.substr(at, stop - at));
    if (stop == markup.size()) break;
    if (markup[stop] == '\n') {
      blanks_.push('\n');
      at = stop + 1;
      continue;
    }
    const std::size_t length = applyTag(markup.substr(stop));
    if (length == 0) {
      putText(markup.substr(stop, 1));  // a "<" that starts no tag is text
      if (classes_ == nullptr) angles_.push_back(cueBytes() - 1);
      at = stop + 1;
    } else {
      at = stop + length;
    }
  }
}

bool CueTextMaker::endCue(std::size_t before) {
  if (!anyText_) {
    out_->resize(before);
    if (classes_ != nullptr) {
      classes_->forgetCue();
      // Its opening names classes that are gone.
      if (knownAdded_) known_.pop_back();
    }
    return false;
  }
  closeAtEnd();
  if (blanks_.size() != 0) putBlanks(true);
  flush();
  if (!angles_.empty()) partFalseTags();
  if (classes_ == nullptr) partArrows(before);
  return true;
}

void CueTextMaker::partFalseTags() {
  const std::string_view cue = out_->view();
  std::vector<std::size_t>& parted = angles_;
  parted.erase(std::remove_if(parted.begin(), parted.end(),
                              [cue](std::size_t at) { return !isTag(cue.substr(at)); }),
               parted.end());
  if (parted.empty()) return;
  counts_->partedTags += parted.size();
  // Rebuilt from the first one on, which is rare enough to copy.
  const std::string tail(cue.substr(parted.front()));
  out_->resize(parted.front());
  std::size_t from = 0;
  for (const std::size_t at : parted) {
    const std::size_t end = at + 1 - parted.front();
    out_->append(std::string_view(tail).substr(from, end - from));
    out_->append(kWordJoiner);
    from = end;
  }
  out_->append(std::string_view(tail).substr(from));
}

void CueTextMaker::partArrows(std::size_t from) {
  const std::string_view cue = out_->view().substr(from);
  const std::size_t first = cue.find(kArrow);
  if (first == std::string_view::npos) return;
  const std::string tail(cue.substr(first));  // rare enough to copy
  out_->resize(from + first);
  std::string_view rest = tail;
  for (std::size_t at = 0; at != std::string_view::npos; at = rest.find(kArrow)) {
    out_->append(rest.substr(0, at + 2));
    out_->append(kWordJoiner);
    rest.remove_prefix(at + 2);
    ++counts_->partedArrows;
  }
  out_->append(rest);
}

bool CueTextMaker::styledLine(std::string_view rest) {
  // Most cues are in their style's <font>, in one more style or none:
  // "TEXT</font>" or "<i>TEXT</i></font>", TEXT without tags, not starting
  // or ending with a blank or a line break, and without a line of blanks
  // only. Those are balanced as they are.
  constexpr std::string_view kFontClosing = "</font>";
  if (rest.size() <= kFontClosing.size() ||
      !holds(rest, rest.size() - kFontClosing.size(), "</font>")) {
    return false;
  }
  rest.remove_suffix(kFontClosing.size());
  std::string_view inner;
  if (rest.size() > 7 && rest[0] == '<' && rest[2] == '>' && simpleKind(rest[1]) >= 0 &&
      holds(rest, rest.size() - 4, "</") && rest[rest.size() - 2] == rest[1] &&
      rest.back() == '>') {
    inner = rest.substr(0, 3);
    rest = rest.substr(3, rest.size() - 7);
  }
  const auto endsLine = [](char c) { return ssa::isSpaceOrTab(c) || c == '\n'; };
  if (rest.empty() || endsLine(rest.front()) || endsLine(rest.back())) return false;
  // The arrows are looked for in the same walk: the text can hold one only
  // at a ">" of its own, since what stands before it ends in '>' and what
  // follows it begins with '<'.
  bool arrows = openingArrow_;
  ssa::ByteFinder stops(rest, kLineStops, ssa::currentScan());
  for (std::size_t stop = stops.next(); stop < rest.size(); stop = stops.next()) {
    if (rest[stop] == '<') return false;  // a tag: the walk
    if (rest[stop] == '>') {
      arrows = arrows || (stop >= 2 && rest[stop - 1] == '-' && rest[stop - 2] == '-');
      continue;
    }
    // A line break, which the text after it ends before the end: the line it
    // begins holds more than blanks unless another line break follows them.
    std::size_t next = stop + 1;
    while (ssa::isSpaceOrTab(rest[next])) ++next;
    if (rest[next] == '\n') return false;  // a line of blanks, which goes
  }
  // Written in one piece: this is the path of most cues.
  const std::string_view opening = open_.back().opening;
  const std::size_t closings =
      (inner.empty() ? 0 : 4) + (opening.empty() ? 0 : kFontClosing.size());
  const std::size_t at = out_->size();
  const std::size_t size = opening.size() + inner.size() + rest.size() + closings;
  char* p = out_->reserve(at, size) + at;
  out_->resize(at + size);
  const auto copy = [&p](std::string_view bytes) {
    if (bytes.empty()) return;
    std::memcpy(p, bytes.data(), bytes.size());
    p += bytes.size();
  };
  copy(opening);
  copy(inner);
  copy(rest);
  if (!inner.empty()) {
    const char closing[] = {'<', '/', inner[1], '>'};
    copy(std::string_view(closing, sizeof closing));
  }
  if (!opening.empty()) copy(kFontClosing);
  if (arrows) partArrows(at);
  return true;
}

std::size_t CueTextMaker::openKnown(std::string_view markup) {
  // A known tag holds one ">", its last byte: the same bytes at the start of
  // the markup are the same tag.
  for (const Known& known : known_) {
    // Tags of one form share their first bytes: their last ones tell them
    // apart sooner.
    const std::size_t size = known.tag.size();
    if (markup.size() < size || markup[size - 1] != '>' ||
        markup[size - 2] != known.tag[size - 2] ||
        std::memcmp(known.tag.data(), markup.data(), size - 2) != 0) {
      continue;
    }
    counts_->emptyAttributes += static_cast<std::uint64_t>(known.emptyAttributes);
    if (known.opening.empty()) ++counts_->emptyFonts;
    open_.push_back(Element{Kind::Font, known.opening, false});
    ++fonts_;
    if (classes_ != nullptr) fontSizes_.push_back(known.size);
    openingArrow_ = known.arrow;
    return size;
  }
  const std::size_t length = applyTag(markup);
  if (length == 0) return 0;
  openingArrow_ = open_.back().opening.find(kArrow) != std::string_view::npos;
  const std::string_view tag = markup.substr(0, length);
  if (tag.find('>') != length - 1) return length;  // a ">" in a value
  if (known_.size() == kKnown) known_.erase(known_.begin());
  knownAdded_ = true;
  known_.push_back(Known{std::string(tag), std::string(open_.back().opening), font_.emptyAttributes,
                         classes_ != nullptr ? std::string(fontSizes_.back()) : std::string(),
                         openingArrow_});
  open_.back().opening = known_.back().opening;
  if (classes_ != nullptr) fontSizes_.back() = known_.back().size;
  return length;
}

std::size_t CueTextMaker::applyTag(std::string_view text) {
  static_assert(static_cast<int>(Kind::Font) == kFontKind, "a form's kind is a Kind");
  const TagForm form = readForm(text, &font_, !generalOnly_);
  if (form.length == 0) return 0;
  if (form.closing) {
    closeKind(static_cast<Kind>(form.kind));
    return form.length;
  }
  if (form.kind != kFontKind) {
    const int kind = form.kind;
    if (kindOpen_[kind]) {
      ++counts_->repeatedOpenings;
    } else {
      kindOpen_[kind] = true;
      std::string_view opening = text.substr(0, 3);
      if (classes_ != nullptr && static_cast<Kind>(kind) == Kind::Strike) {
        classes_->strike();
        opening = "<c.s>";
      }
      open_.push_back(Element{static_cast<Kind>(kind), opening, false});
    }
    return 3;
  }
  if (font_.repeated) return 0;  // not the module's form: text
  openFont(text.substr(0, font_.length));
  return font_.length;
}

// Inlined into applyTag, as readFont is.
[[gnu::always_inline]] inline void CueTextMaker::openFont(std::string_view tag) {
  FontTag& font = font_;
  if (font.unsafeFace && classes_ == nullptr) {
    // A SubRip reader ends the value at its first quote, or the tag at its
    // first ">": the face goes, as an empty one does.
    std::copy(font.kept + font.face + 1, font.kept + (font.attributes - font.emptyAttributes),
              font.kept + font.face);
    ++font.emptyAttributes;
  }
  counts_->emptyAttributes += static_cast<std::uint64_t>(font.emptyAttributes);
  std::string_view opening;
  std::string_view size;
  if (font.emptyAttributes == font.attributes) {
    // Dropped, with its closing tag.
  } else if (classes_ != nullptr) {
    opening = rebuiltForVtt(&size);
  } else if (font.emptyAttributes > 0 || font.lineBreaks) {
    opening = rebuiltForSrt();
  } else {
    opening = tag;
  }
  if (opening.empty()) ++counts_->emptyFonts;
  open_.push_back(Element{Kind::Font, opening, false});
  ++fonts_;
  if (classes_ != nullptr) fontSizes_.push_back(size.empty() ? enclosingSize() : size);
}

std::string_view CueTextMaker::rebuiltForSrt() {
  const FontTag& font = font_;
  const std::size_t start = rebuilt_.size();
  rebuilt_ += "<font";
  for (int i = 0; i < font.attributes - font.emptyAttributes; ++i) rebuilt_ += font.kept[i];
  rebuilt_ += '>';
  if (font.lineBreaks) std::replace(rebuilt_.begin() + start, rebuilt_.end(), '\n', ' ');
  return std::string_view(rebuilt_).substr(start);
}

// Inlined into openFont: most of WebVTT's fonts come here.
[[gnu::always_inline]] inline std::string_view CueTextMaker::rebuiltForVtt(std::string_view* size) {
  // No longer than the tag it stands for, as rebuilt_ requires.
  const std::size_t start = rebuilt_.size();
  rebuilt_ += "<c";
  *size = classes_->appendFont(font_, enclosingSize(), &rebuilt_);
  if (rebuilt_.size() == start + 2) {
    rebuilt_.resize(start);
    return {};
  }
  rebuilt_ += '>';
  return std::string_view(rebuilt_).substr(start);
}

void CueTextMaker::closeKind(Kind kind) {
  if (kind == Kind::Font ? fonts_ == 0 : !kindOpen_[static_cast<int>(kind)]) {
    ++counts_->strayClosings;
    return;
  }
  std::size_t i = open_.size();
  while (open_[i - 1].kind != kind) --i;
  // Those opened later close first, and open again at the next text.
  for (std::size_t above = open_.size(); above-- > i;) {
    if (open_[above].shown) {
      close(open_[above]);
      ++counts_->reopened;
    }
  }
  if (open_[i - 1].shown) close(open_[i - 1]);
  if (i == open_.size()) {
    open_.pop_back();
  } else {
    open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(i - 1));
  }
  firstPending_ = std::min(firstPending_, i - 1);
  if (kind == Kind::Font) {
    --fonts_;
    if (classes_ != nullptr) fontSizes_.pop_back();
  } else {
    kindOpen_[static_cast<int>(kind)] = false;
  }
}

// Inlined: every text run and opening tag comes here.
[[gnu::always_inline]] inline void CueTextMaker::put(std::string_view bytes) {
  if (bytes.data() == pendingEnd_) {
    pendingEnd_ += bytes.size();
    return;
  }
  flush();
  pending_ = bytes.data();
  pendingEnd_ = pending_ + bytes.size();
}

void CueTextMaker::appendPending() {
  out_->append(std::string_view(pending_, static_cast<std::size_t>(pendingEnd_ - pending_)));
  pendingEnd_ = nullptr;
}

void CueTextMaker::close(Element& element) {
  // Of four or seven bytes: two moves of four, not a call. A crossing
  // closes many in a row, none of them next to another in memory.
  const std::string_view closing =
      (classes_ != nullptr ? kVttClosings : kClosings)[static_cast<int>(element.kind)];
  flush();
  const std::size_t at = out_->size();
  char* to = out_->reserve(at, closing.size()) + at;
  std::memcpy(to, closing.data(), 4);
  std::memcpy(to + closing.size() - 4, closing.data() + closing.size() - 4, 4);
  out_->resize(at + closing.size());
  element.shown = false;
}

void CueTextMaker::closeAtEnd() {
  const std::string_view* const closings = classes_ != nullptr ? kVttClosings : kClosings;
  std::size_t bytes = 0;
  for (const Element& element : open_) {
    if (element.shown) bytes += closings[static_cast<int>(element.kind)].size();
  }
  if (bytes == 0) return;
  flush();
  const std::size_t at = out_->size();
  char* to = out_->reserve(at, bytes) + at;
  for (std::size_t i = open_.size(); i-- > 0;) {
    if (!open_[i].shown) continue;
    // Four or seven bytes, as in close().
    const std::string_view closing = closings[static_cast<int>(open_[i].kind)];
    std::memcpy(to, closing.data(), 4);
    std::memcpy(to + closing.size() - 4, closing.data() + closing.size() - 4, 4);
    to += closing.size();
    open_[i].shown = false;
    ++counts_->closedAtEnd;
  }
  out_->resize(at + bytes);
}

// Text between tags, on one line. Blanks wait until text that is not blank
// follows, so that tags stay next to what they mark and blank lines can be
// dropped.
void CueTextMaker::putText(std::string_view run) {
  const char* const end = run.data() + run.size();
  const char* first = run.data();
  while (first != end && ssa::isSpaceOrTab(*first)) ++first;
  if (first == end) return blanks_.append(run);
  const char* last = end;
  while (ssa::isSpaceOrTab(last[-1])) --last;
  if (first != run.data()) blanks_.append(std::string_view(run.data(), first - run.data()));
  if (blanks_.size() != 0) putBlanks(false);
  Element* const elements = open_.data();
  const std::size_t open = open_.size();
  for (std::size_t i = firstPending_; i < open; ++i) {
    if (elements[i].shown || elements[i].opening.empty()) continue;
    put(elements[i].opening);
    elements[i].shown = true;
  }
  firstPending_ = open;
  const std::string_view shown(first, static_cast<std::size_t>(last - first));
  if (classes_ == nullptr) {
    put(shown);
  } else {
    putEscaped(shown);
  }
  if (last != end) blanks_.append(std::string_view(last, static_cast<std::size_t>(end - last)));
  anyText_ = true;
}

void CueTextMaker::putBlanks(bool atEnd) {
  flush();  // blanks_ is written over: its bytes go out now
  const std::string_view blanks = blanks_.view();
  const std::size_t firstBreak = blanks.find('\n');
  if (firstBreak == std::string_view::npos) {
    out_->append(blanks);
  } else {
    // What ends the line written so far, one line break, and what begins
    // the next line; the lines between hold nothing. Before the first text
    // there is no line to end.
    if (anyText_) out_->append(blanks.substr(0, firstBreak));
    if (anyText_ && !atEnd) out_->push('\n');
    if (!atEnd) out_->append(blanks.substr(blanks.rfind('\n') + 1));
  }
  blanks_.clear();
}

void CueTextMaker::putEscaped(std::string_view run) {
  for (;;) {
    const std::size_t special = run.find_first_of("&<>");
    put(run.substr(0, special));
    if (special == std::string_view::npos) return;
    put(run[special] == '&' ? "&amp;" : run[special] == '<' ? "&lt;" : "&gt;");
    run.remove_prefix(special + 1);
  }
}

}  // namespace cli
