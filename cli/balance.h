// Cue text for readers that expect balanced tags and no blank lines (SubRip,
// WebVTT), made from the module's markup: the markup leaves tags open by
// design, may hold attributes with empty values, and may hold blank lines,
// which end a cue in those forms.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "cli/count_rows.h"
#include "cli/font_tag.h"
#include "script/text_buffer.h"

namespace cli {

class VttClasses;

// What balancing changed, added up over cues.
struct BalanceCounts {
  std::uint64_t closedAtEnd = 0;       // tags left open, closed at the end of the cue
  std::uint64_t strayClosings = 0;     // closing tags with nothing of their kind open: dropped
  std::uint64_t repeatedOpenings = 0;  // <b>, <i>, <u> or <s> while one is open: dropped
  std::uint64_t reopened = 0;          // tags closed for a crossing closing tag, opened again
  std::uint64_t emptyAttributes = 0;   // face="", size="", a color not "#RRGGBB": dropped
  std::uint64_t emptyFonts = 0;    // <font> left without attributes: dropped with its closing tag
  std::uint64_t partedTags = 0;    // text that would read as a tag: parted
  std::uint64_t partedArrows = 0;  // "-->" that would read as a cue's timing: parted
  std::uint64_t nulBytes = 0;      // NUL bytes of the text: written as U+FFFD

  BalanceCounts& operator+=(const BalanceCounts& other);
};

// Every count, in the order --stats prints them.
inline constexpr CountRow<BalanceCounts> kBalanceRows[] = {
    {"tags closed at end:", "", &BalanceCounts::closedAtEnd, true},
    {"tags crossed:", " (closed and reopened)", &BalanceCounts::reopened, true},
    {"stray closings:", " (dropped)", &BalanceCounts::strayClosings, true},
    {"repeated openings:", " (dropped)", &BalanceCounts::repeatedOpenings, true},
    {"empty attributes:", " (dropped)", &BalanceCounts::emptyAttributes, true},
    {"empty fonts:", " (dropped)", &BalanceCounts::emptyFonts, true},
    {"tags parted:", " (text that would read as a tag)", &BalanceCounts::partedTags, true},
    {"arrows parted:", " (a --> in the text)", &BalanceCounts::partedArrows, true},
    {"NUL bytes:", " (written as U+FFFD)", &BalanceCounts::nulBytes, true},
};
static_assert(sizeof(BalanceCounts) == std::size(kBalanceRows) * sizeof(std::uint64_t),
              "a count without a row would be neither printed nor added up");

inline BalanceCounts& BalanceCounts::operator+=(const BalanceCounts& other) {
  addRows(kBalanceRows, other, this);
  return *this;
}

// Appends the cue text of `markup`. Tags are only the forms the module
// writes: <b> <i> <u> <s>, their closing tags, <font> with face, size and
// color attributes (each at most once), and </font>; anything else is text
// and stays as it is.
//  - A closing tag closes the last open tag of its kind; the tags opened
//    after that one are closed before it and opened again after it.
//  - A closing tag with nothing of its kind open is dropped.
//  - <b>, <i>, <u> or <s> while one of its kind is open is dropped: it
//    changes nothing, and the closing tag after it ends the style, as the
//    override code it came from did. (It also keeps the work linear: else
//    each of many nested <b> could close and reopen every <font> after it.)
//  - An attribute with an empty value is dropped, as are a colour that is
//    not "#RRGGBB" and (SubRip) a face holding '"', '<' or '>', which its
//    readers cannot take in a value; a <font> left with none is dropped,
//    and the closing tag that belongs to it too. A line break
//    in a value becomes a space: a tag must not hold a blank line, which
//    would end the cue.
//  - Tags left open are closed at the end, the last opened first.
//  - Tags stand next to the text they mark: an opening tag is written just
//    before the next text that is not blank (space, tab, line break), a
//    closing one just after the last; tags around no such text are dropped.
//  - Lines that would hold nothing but spaces and tabs are dropped.
//  - A "<" of the text that would read as a tag is followed by U+2060 WORD
//    JOINER, which readers do not show: the text stays, and stays text.
//    Such are a <font> with an attribute twice, and what dropping or moving
//    tags brings together ("<</u>/b>" gives "</b>"). (WebVTT escapes the
//    "<" instead.)
//  - Each "-->" becomes "--" U+2060 ">": SubRip readers take a line that
//    holds one for a cue's timing. (WebVTT escapes the ">".)
//  - A NUL byte becomes U+FFFD: readers built on C strings would end the
//    cue there, and WebVTT readers read it so.
// Answers whether there was text other than blanks; when there was not,
// nothing is appended. The std::string form of CueTextMaker::append, for the
// tests and the fuzz targets.
bool appendCueText(std::string* out, std::string_view markup, BalanceCounts* counts);

// The same, keeping its working memory from one cue to the next: what a
// writer of many cues uses. Made with a VttClasses, it writes WebVTT cue
// text instead: the same balancing, with <s> and <font> as class spans
// (<c.s>, <c.cFF0000.f1>) whose classes it defines there, and "&", "<" and
// ">" of the text escaped.
class CueTextMaker {
 public:
  CueTextMaker() = default;
  explicit CueTextMaker(VttClasses* classes) : classes_(classes) {}

  bool append(ssa::TextBuffer* out, std::string_view markup, BalanceCounts* counts);

  // Every cue takes the general walk, without the known openings, the
  // one-line cue written in one piece and the colour tag read by its form:
  // for tests, which hold the two to the same results.
  void useGeneralWalkOnly() { generalOnly_ = true; }

 private:
  enum class Kind { Bold, Italic, Underline, Strike, Font };
  struct Element {
    Kind kind;
    // Static text, the markup's own bytes, or rebuilt_'s; empty for a
    // <font> left without attributes, which is never written.
    std::string_view opening;
    bool shown;  // its opening tag is written and not closed since
  };

  // Makes every member that lives for one cue ready for the next (one added
  // must be reset here).
  void startCue(ssa::TextBuffer* out, std::size_t markupSize, BalanceCounts* counts);
  // The text runs, line breaks and tags of `markup` from `at` on.
  void walk(std::string_view markup, std::size_t at);
  // Closes what is left open and parts what would read as a tag or a cue's
  // timing; false, with the cue taken back from `before` on, when it had no
  // text.
  bool endCue(std::size_t before);
  // The <font> tag that begins `markup` when it has been read before: the
  // style's opening, which begins cue after cue. Answers its length; 0 when
  // there is none (then nothing was done).
  std::size_t openKnown(std::string_view markup);
  // The rest of a one-line cue after its <font> (the one element open) when
  // it needs no change: then it is written, its arrows parted, and the answer
  // is true.
  bool styledLine(std::string_view rest);
  // Acts on the tag that begins `text`: opens or closes an element, counting
  // what is dropped. Answers its length; 0 when it is text.
  std::size_t applyTag(std::string_view text);
  // Opens the <font> just read into font_, `tag` as the markup has it,
  // counting what it drops.
  void openFont(std::string_view tag);
  // Its opening tag rebuilt in rebuilt_: without the attributes dropped,
  // line breaks in values as spaces.
  std::string_view rebuiltForSrt();
  // Its class span in rebuilt_, the classes defined, and in *size the size
  // value its class carries; empty when no attribute gives a class.
  std::string_view rebuiltForVtt(std::string_view* size);
  void closeKind(Kind kind);
  void close(Element& element);
  // Closes every element still shown, the last opened first, counting each:
  // a long cue leaves thousands open, for which room is made at once.
  void closeAtEnd();
  void putText(std::string_view run);     // a run without line breaks
  void putEscaped(std::string_view run);  // for WebVTT
  // The blanks waiting before text that is not blank, less the blank lines.
  void putBlanks(bool atEnd);
  // Bytes that stay as they are until the cue is done: the markup's,
  // rebuilt_'s, known_'s and literals. Those that follow the last ones in
  // memory (a tag as the markup has it and the text after it) join them,
  // and go out with them in one copy.
  void put(std::string_view bytes);
  // What put keeps goes out.
  void flush() {
    if (pendingEnd_ != nullptr) appendPending();
  }
  void appendPending();
  // Parts the text "<"s of the cue (angles_) that now read as a tag.
  void partFalseTags();
  // Parts each "-->" of the cue from `from` on: a line holding one reads as
  // a cue's timing to SubRip readers that look for it anywhere.
  void partArrows(std::size_t from);
  // Bytes of the cue text so far, what put keeps included.
  std::size_t cueBytes() const {
    return out_->size() +
           (pendingEnd_ != nullptr ? static_cast<std::size_t>(pendingEnd_ - pending_) : 0);
  }

  // Nothing is appended before the first text that is not blank.
  ssa::TextBuffer* out_ = nullptr;
  const char* pending_ = nullptr;     // bytes put and not yet appended...
  const char* pendingEnd_ = nullptr;  // ...up to here; null when none
  BalanceCounts* counts_ = nullptr;
  std::vector<Element> open_;
  std::size_t firstPending_ = 0;  // below it every element is shown, or never is
  bool kindOpen_[4] = {};         // b, i, u, s: in open_
  std::size_t fonts_ = 0;         // <font> elements in open_
  // WebVTT: the size value in effect within each <font> of open_, in order:
  // its own, else its enclosing one's (empty for none). Kept so, not looked
  // for, because fonts without a size may nest as deep as the line is long.
  // Fonts close last opened first, so it is a stack.
  std::vector<std::string_view> fontSizes_;
  std::string_view enclosingSize() const {
    return fontSizes_.empty() ? std::string_view() : fontSizes_.back();
  }
  ssa::TextBuffer blanks_;  // blanks not yet written
  FontTag font_;            // the last <font> tag read
  struct Known {
    std::string tag;      // as the markup has it
    std::string opening;  // what it becomes; empty when it is dropped
    int emptyAttributes;
    std::string size;  // WebVTT: the size value its class carries
    bool arrow;        // the opening holds "-->"
  };
  static constexpr std::size_t kKnown = 8;
  std::vector<Known> known_;  // the last openings read at the start of a cue
  bool knownAdded_ = false;   // this cue's opening was new to known_
  bool openingArrow_ = false;  // the opening openKnown gave holds "-->"
  // A markup that holds a NUL, with each one as U+FFFD: the cue is made
  // from it instead, so it lives until the cue is written.
  std::string withoutNuls_;
  std::string rebuilt_;  // <font> tags with attributes dropped; never reallocated during a cue
  bool anyText_ = false;
  std::vector<std::size_t> angles_;  // where in out_ the cue's text "<"s stand (SubRip)
  VttClasses* classes_ = nullptr;    // set: WebVTT cue text
  bool generalOnly_ = false;
};

}  // namespace cli
