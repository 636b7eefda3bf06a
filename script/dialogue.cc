// Event line conversion in one pass over the line.
//
// The line-break codes are replaced all over the Text field before any block
// is translated, and the blocks are defined by a loop that, after every
// translation, searches again from the beginning of the markup: a "{" that a
// translation brings in (a font name, or the digits of a colour) starts the
// next block. The same result comes from one left-to-right pass, because
//  - the three codes never overlap and no replacement forms a new code with
//    its neighbours, so each code of the original text can be replaced where
//    the pass meets it, inside a block or not; no code holds a brace, so the
//    braces stand where they stood;
//  - the text before the first "{" never changes again, so it is final, and
//  - a translation never holds a "}" (a block holds only its closing one),
//    so the next block always ends at the next "}" of the untouched input.
// What a translation leaves from its first "{" on is kept as the carry: the
// next block is the carry followed by the input up to its next "}". The
// carry is made of replaced text, so it is never searched for codes. Only a
// font name can make the carry long, and its translation keeps the carry's
// tail, so the carry is trimmed at the front and appended at the back; each
// byte is looked at a bounded number of times.
//
// The pass stops only at "{", "}" and backslashes (ByteFinder); the bytes
// between are copied in one piece. The markup is written through a pointer
// after one reservation, which holds as long as nothing is written beyond
// the input that is left: plain text and codes write at most what they
// read, and only a translation can write more, by at most kMostAdded bytes
// (see the rules below). So before a translation the room for those is
// checked, and the buffer grows in the rare line that runs out of it.
#include "script/dialogue.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "script/scan.h"
#include "script/text.h"

namespace ssa {
namespace {

// --- The override codes -------------------------------------------------------

// Positions in an override block, counted from 0 at its "{". Position 1,
// normally the backslash, plays no part.
constexpr std::size_t kCodeAt = 2;      // the code letter, which picks the translation
constexpr std::size_t kDetailAt = 3;    // "1" switches a tag on; "n" or "s" after "f"
constexpr std::size_t kArgumentAt = 4;  // where a font name or size starts
// A block of fewer bytes is deleted whatever it holds.
constexpr std::size_t kShortestTranslated = 5;

enum class Condition { Always, DetailIsOne, DetailIsN, SizeDigits };
enum class Output { Literal, Face, Size, Colour };

// Rows of one code stand together; the first whose condition holds gives
// the translation, and a block that no row takes is deleted.
struct Rule {
  char code;
  Condition when;
  Output output;
  std::string_view literal;  // for Output::Literal
};

// What each output adds to its block of m bytes (m >= 5), at most:
//  Literal  at most 4 bytes                                 -1
//  Face     "<font face=\"" + (m - 5) + "\">"               +9
//  Size     "<font size=\"" + s + "\">", s <= max(3, d + 1)
//           for the d <= m - 5 digits, and m >= 6           +11
//  Colour   "<font color=\"#" + 6 + "\">", and m >= 9       +13
constexpr std::size_t kMostAdded = 13;

constexpr Rule kRules[] = {
    {'b', Condition::DetailIsOne, Output::Literal, "<b>"},
    {'b', Condition::Always, Output::Literal, "</b>"},
    {'i', Condition::DetailIsOne, Output::Literal, "<i>"},
    {'i', Condition::Always, Output::Literal, "</i>"},
    {'u', Condition::DetailIsOne, Output::Literal, "<u>"},
    {'u', Condition::Always, Output::Literal, "</u>"},
    {'s', Condition::DetailIsOne, Output::Literal, "<s>"},
    {'s', Condition::Always, Output::Literal, "</s>"},
    {'f', Condition::DetailIsN, Output::Face, {}},
    {'f', Condition::SizeDigits, Output::Size, {}},
    // Deleted when the block holds no colour.
    {'c', Condition::Always, Output::Colour, {}},
    {'1', Condition::Always, Output::Colour, {}},
};
constexpr std::size_t kRuleCount = sizeof kRules / sizeof kRules[0];
constexpr std::uint8_t kNoRule = 0xFF;

// The first row of each code letter, by byte value.
constexpr std::array<std::uint8_t, 256> firstRules() {
  std::array<std::uint8_t, 256> first{};
  for (auto& row : first) row = kNoRule;
  for (std::size_t r = kRuleCount; r > 0; --r) {
    first[static_cast<unsigned char>(kRules[r - 1].code)] = static_cast<std::uint8_t>(r - 1);
  }
  return first;
}
constexpr std::array<std::uint8_t, 256> kFirstRule = firstRules();

constexpr bool rowsOfACodeStandTogether() {
  for (std::size_t r = 0; r < kRuleCount; ++r) {
    for (std::size_t later = r + 2; later < kRuleCount; ++later) {
      if (kRules[later].code == kRules[r].code && kRules[later - 1].code != kRules[r].code) {
        return false;
      }
    }
  }
  return true;
}
static_assert(rowsOfACodeStandTogether(), "the rows of a code must stand together");

constexpr std::string_view kFaceOpen = "<font face=\"";
constexpr std::string_view kSizeOpen = "<font size=\"";
constexpr std::string_view kColourOpen = "<font color=\"#";
constexpr std::string_view kAttributeClose = "\">";

// The bytes the pass over the Text field stops at, and those the field
// split stops at.
constexpr ByteTrio kBlockBytes = makeTrio('{', '}', '\\');
constexpr ByteTrio kFieldBytes = makeTrio(',', '{', '}');

// --- The line-break codes -------------------------------------------------------

// What a backslash followed by the byte becomes: "\N" and "\n" a line
// feed, "\h" a space; 0 where the two bytes are no code.
constexpr std::array<char, 256> lineBreaks() {
  std::array<char, 256> replacement{};
  replacement['N'] = '\n';
  replacement['n'] = '\n';
  replacement['h'] = ' ';
  return replacement;
}
constexpr std::array<char, 256> kLineBreaks = lineBreaks();

// Whether one of the six bytes of a colour is "{", a word at a time: the
// digits are copied from the block unchecked, so they may open a block.
bool holdsBrace(const char* colour) {
  static_assert(kColourDigits == 6, "a colour is a word and a half");
  std::uint32_t low = 0;
  std::uint32_t high = 0;  // the bytes past the colour stay 0, which is no brace
  std::memcpy(&low, colour, 4);
  std::memcpy(&high, colour + 4, 2);
  const auto holdsZero = [](std::uint32_t word) {
    return ((word - 0x01010101u) & ~word & 0x80808080u) != 0;
  };
  return holdsZero(low ^ 0x7B7B7B7Bu) || holdsZero(high ^ 0x7B7B7B7Bu);
}

// A block split between the carry (a) and the input (b); never copied unless
// a code needs its bytes together.
struct Block {
  std::string_view a;
  std::string_view b;
  std::size_t size() const { return a.size() + b.size(); }
  char at(std::size_t i) const { return i < a.size() ? a[i] : b[i - a.size()]; }
};

bool holds(Condition when, const Block& block) {
  switch (when) {
    case Condition::DetailIsOne:
      return block.at(kDetailAt) == '1';
    case Condition::DetailIsN:
      return block.at(kDetailAt) == 'n';
    case Condition::SizeDigits:
      return block.at(kDetailAt) == 's' && isDigit(block.at(kArgumentAt));
    case Condition::Always:
      break;
  }
  return true;
}

// --- Writing ----------------------------------------------------------------

// Bytes kept free past everything the markup may still need, so that a short
// run can be copied as one fixed-size piece.
constexpr std::size_t kSlack = 32;
constexpr std::size_t kShortCopy = 16;

// The markup, written through a pointer into the buffer's storage.
struct Writer {
  Writer(TextBuffer& buffer, std::size_t room) : buffer(buffer) { point(0, room); }

  // Tags and attributes are a few bytes: those are copied in two fixed
  // pieces that may overlap, without a call.
  void copy(std::string_view bytes) {
    const char* const from = bytes.data();
    const std::size_t size = bytes.size();
    if (size > 16) {
      std::memcpy(at, from, size);
    } else if (size >= 8) {
      std::memcpy(at, from, 8);
      std::memcpy(at + size - 8, from + size - 8, 8);
    } else if (size >= 4) {
      std::memcpy(at, from, 4);
      std::memcpy(at + size - 4, from + size - 4, 4);
    } else {
      for (std::size_t i = 0; i < size; ++i) at[i] = from[i];
    }
    at += size;
  }

  void makeRoom(std::size_t bytes) {
    if (static_cast<std::size_t>(end - at) < bytes) point(written(), bytes);
  }

  std::size_t written() const { return static_cast<std::size_t>(at - begin); }

  TextBuffer& buffer;
  char* begin;
  char* at;  // the next byte of markup goes here
  char* end;

 private:
  void point(std::size_t kept, std::size_t room) {
    begin = buffer.reserve(kept, room);
    at = begin + kept;
    end = begin + buffer.capacity();
  }
};

// --- The pass over the Text field --------------------------------------------

class TextPass {
 public:
  enum class State : unsigned char {
    Outside,   // no "{" waits for its "}"
    Block,     // a "{" of the input does, and the block is read where it stands
    LongBlock  // the block begins with the carry or has a code replaced
  };

  // `tail` is what the writer must still take after the text: the style's
  // closing markup and the slack.
  TextPass(std::string_view text, Writer& out, std::size_t tail, std::string& carry,
           TextBuffer& rewritten, std::string& gathered)
      : text(text), out(out), tail(tail), carry(carry), rewritten(rewritten), gathered(gathered) {
    carry.clear();
  }

  // The state of the pass lives in locals while it runs and in the members
  // only around the rare paths: every write through the markup's pointer
  // could change a member, as far as the compiler knows. Out of line, so
  // that the loop has the registers to itself.
  __attribute__((noinline)) void run(WindowScan scan) {
    const char* const bytes = text.data();
    const std::size_t size = text.size();
    ByteFinder find(text, kBlockBytes, scan);
    char* at = out.at;
    // Text before this is written; in a block, its input starts here (or is
    // gathered from blockStart up to here, when a code was replaced).
    std::size_t done = 0;
    State state = State::Outside;
    for (std::size_t i = find.next(); i < size; i = find.next()) {
      switch (bytes[i]) {
        case '{':
          if (state != State::Outside) break;  // an ordinary byte inside a block
          at = copyRun(at, bytes, size, done, i);
          state = State::Block;
          done = i;
          // The backslash of the usual "{\k20}" starts no code: passed over here.
          if (i + 2 < size && bytes[i + 1] == '\\' &&
              kLineBreaks[static_cast<unsigned char>(bytes[i + 2])] == 0) {
            find.passNext(i + 1);
          }
          break;
        case '}':
          if (state == State::Outside) break;  // passes through
          // The usual block (no carry, no code replaced, no row takes it) is
          // deleted here; any other takes the long way.
          if (state == State::LongBlock || mayTranslate(bytes, done, i)) {
            out.at = at;
            state = closeBlock(done, i) ? State::LongBlock : State::Outside;
            at = out.at;
          } else {
            state = State::Outside;
          }
          done = i + 1;
          break;
        default: {  // a backslash
          if (i + 1 == size) break;
          const char replacement = kLineBreaks[static_cast<unsigned char>(bytes[i + 1])];
          if (replacement == 0) break;
          if (state != State::Outside) {
            // The block must be read with the code replaced: it is gathered apart.
            rewriteCode(done, i, replacement);
            state = State::LongBlock;
          } else {
            at = copyRun(at, bytes, size, done, i);
            *at++ = replacement;
          }
          done = i + 2;  // the code's letter starts nothing
          break;
        }
      }
    }
    out.at = at;
    // An unclosed block passes through as it stands, codes replaced.
    if (state != State::Outside) {
      out.copy(carryView());
      if (isRewritten) out.copy(rewritten.view());
    }
    out.at = copyRun(out.at, bytes, size, done, size);
  }

 private:
  // Whether a block of the input alone, from its "{" at open to its "}" at
  // close, may be translated: long enough, and with a code that some row has.
  static bool mayTranslate(const char* bytes, std::size_t open, std::size_t close) {
    return close - open + 1 >= kShortestTranslated &&
           kFirstRule[static_cast<unsigned char>(bytes[open + kCodeAt])] != kNoRule;
  }

  // bytes[from, to) of the text's `size`: a short run as one fixed piece,
  // when the text has the bytes to read and the slack takes what is written
  // past the run.
  static char* copyRun(char* at, const char* bytes, std::size_t size, std::size_t from,
                       std::size_t to) {
    const std::size_t length = to - from;
    if (length <= kShortCopy && size - from >= kShortCopy) {
      std::memcpy(at, bytes + from, kShortCopy);
    } else if (length != 0) {
      std::memcpy(at, bytes + from, length);
    }
    return at + length;
  }

  // The rare paths are kept out of the loop, which then keeps its state in
  // registers.
  __attribute__((noinline)) void rewriteCode(std::size_t from, std::size_t code, char replacement) {
    if (!isRewritten) {
      rewritten.clear();
      blockStart = from;
      isRewritten = true;
    }
    rewritten.append(std::string_view(text.data() + from, code - from));
    rewritten.push(replacement);
  }

  // The block (after the carry) that `close` ends; its input not yet
  // gathered starts at `done`. Answers whether a carry is left.
  __attribute__((noinline)) bool closeBlock(std::size_t done, std::size_t close) {
    std::string_view input;
    std::size_t start = done;  // the block's first byte of input
    if (isRewritten) {
      rewritten.append(std::string_view(text.data() + done, close + 1 - done));
      input = rewritten.view();
      start = blockStart;
      isRewritten = false;
    } else {
      input = std::string_view(text.data() + done, close + 1 - done);
    }
    const Block block{carryView(), input};
    // Everything the block's bytes and the rest of the input may still write.
    const std::size_t room = block.a.size() + (text.size() - start) + kMostAdded + tail;
    translate(block, room);
    return carryStart != carry.size();
  }

  void translate(const Block& block, std::size_t room) {
    if (block.size() < kShortestTranslated) return drop();
    const char code = block.at(kCodeAt);
    for (std::size_t r = kFirstRule[static_cast<unsigned char>(code)];
         r < kRuleCount && kRules[r].code == code; ++r) {
      const Rule& rule = kRules[r];
      if (!holds(rule.when, block)) continue;
      out.makeRoom(room);
      switch (rule.output) {
        case Output::Literal:
          return emit(rule.literal);
        case Output::Face:
          return emitFace(block);
        case Output::Size:
          return emitSize(block);
        case Output::Colour:
          return emitColour(block);
      }
    }
    drop();
  }

  void drop() { clearCarry(); }

  // A translation replaces its block: what precedes its first "{" is final,
  // the rest becomes the carry. Only `value` can hold a "{".
  void emit(std::string_view prefix, std::string_view value = {}, std::string_view suffix = {}) {
    clearCarry();
    out.copy(prefix);
    std::size_t open = 0;  // values are short: a loop, not a library search
    while (open < value.size() && value[open] != '{') ++open;
    if (open == value.size()) {
      out.copy(value);
      out.copy(suffix);
      return;
    }
    out.copy(value.substr(0, open));
    carry.assign(value.substr(open));
    carry.append(suffix);
  }

  // kFaceOpen + the bytes from kArgumentAt up to the closing brace +
  // kAttributeClose, without copying the carry: its tail stays where it is.
  void emitFace(const Block& block) {
    std::string_view prefix = kFaceOpen;
    const std::string_view inputPart = block.b.substr(0, block.b.size() - 1);
    if (block.a.size() > kArgumentAt) {
      const std::string_view carried = block.a.substr(kArgumentAt);
      const std::size_t open = carried.find('{');
      if (open != std::string_view::npos) {
        // The carry's own tail becomes the new carry, in place.
        out.copy(prefix);
        out.copy(carried.substr(0, open));
        carryStart += kArgumentAt + open;
        compactCarry();
        carry.append(inputPart);
        carry.append(kAttributeClose);
        return;
      }
      out.copy(prefix);
      out.copy(carried);
      prefix = {};
    }
    const std::size_t skip = block.a.size() < kArgumentAt ? kArgumentAt - block.a.size() : 0;
    emit(prefix, inputPart.substr(skip), kAttributeClose);
  }

  // Emitted also when the size converts to nothing.
  void emitSize(const Block& block) {
    std::size_t end = kArgumentAt;
    while (end < block.size() && isDigit(block.at(end))) ++end;
    char size[kMaxRelativeSize];
    const std::size_t length = writeRelativeFontSize(gather(block, kArgumentAt, end), size);
    emit(kSizeOpen, std::string_view(size, length), kAttributeClose);
  }

  void emitColour(const Block& block) {
    char colour[kColourDigits];
    if (!writeOverrideColour(gather(block, 0), colour)) return drop();
    if (holdsBrace(colour)) {
      return emit(kColourOpen, std::string_view(colour, kColourDigits), kAttributeClose);
    }
    // The usual colour: its pieces have fixed sizes, so they are copied
    // without a call.
    clearCarry();
    char* const at = out.at;
    std::memcpy(at, kColourOpen.data(), kColourOpen.size());
    std::memcpy(at + kColourOpen.size(), colour, kColourDigits);
    std::memcpy(at + kColourOpen.size() + kColourDigits, kAttributeClose.data(),
                kAttributeClose.size());
    out.at = at + kColourOpen.size() + kColourDigits + kAttributeClose.size();
  }

  // The block's bytes [from, to) in one piece; only for the short-lived codes
  // whose block is consumed whole, so each byte is gathered once.
  std::string_view gather(const Block& block, std::size_t from,
                          std::size_t to = std::string_view::npos) {
    if (to > block.size()) to = block.size();
    if (block.a.empty()) return block.b.substr(from, to - from);
    gathered.clear();
    for (std::size_t i = from; i < to; ++i) gathered.push_back(block.at(i));
    return gathered;
  }

  std::string_view carryView() const {
    return std::string_view(carry.data() + carryStart, carry.size() - carryStart);
  }

  void clearCarry() {
    carry.clear();
    carryStart = 0;
  }

  // Keeps the carry's dead front from growing without bound.
  void compactCarry() {
    if (carryStart > 64 && carryStart > carry.size() / 2) {
      carry.erase(0, carryStart);
      carryStart = 0;
    }
  }

  const std::string_view text;
  Writer& out;
  const std::size_t tail;
  std::string& carry;  // translated text from its first "{"; never holds a "}"
  TextBuffer& rewritten;
  std::string& gathered;
  std::size_t carryStart = 0;  // the carry is carry[carryStart..]
  bool isRewritten = false;    // the block's input so far is in `rewritten`
  std::size_t blockStart = 0;  // where that input starts
};

// --- The fields ----------------------------------------------------------------

struct LineFields {
  std::optional<std::string_view> text;
  std::optional<std::string_view> style;
};

// Calls onComma with the position of each field comma of the line in turn
// (a comma outside braces, never the last byte: a comma that ends the line
// opens no field), at most `count` of them. One walk over the commas and
// braces, which the finder gives a window at a time.
template <typename OnComma>
void forEachFieldComma(std::string_view line, std::uint64_t count, WindowScan scan,
                       OnComma onComma) {
  if (count == 0 || line.size() <= 1) return;
  const std::string_view searched(line.data(), line.size() - 1);
  ByteFinder find(searched, kFieldBytes, scan);
  bool inBlock = false;
  for (std::size_t i = find.next(); i < searched.size(); i = find.next()) {
    const char c = line[i];
    if (c == ',') {
      if (inBlock) continue;  // a comma inside braces ends no field
      onComma(i);
      if (--count == 0) return;
    } else {
      inBlock = c == '{';  // "{" inside a block keeps it open, "}" outside leaves it closed
    }
  }
}

// The Text and Style fields, cut as splitEventFields cuts the line but only
// as far as the later of the two.
LineFields cutFields(std::string_view line, std::uint32_t limit, std::uint32_t textColumn,
                     std::optional<std::uint32_t> styleColumn, WindowScan scan) {
  LineFields fields;
  // No field has this number: the fields of a line are counted in 32 bits
  // and the last one is never wanted here.
  const std::uint32_t style = styleColumn ? *styleColumn : UINT32_MAX;
  const std::uint32_t last = styleColumn && style > textColumn ? style : textColumn;
  std::uint32_t field = 0;
  std::size_t start = 0;
  // Only the two wanted fields are trimmed.
  const auto keep = [&](std::size_t end) {
    const std::string_view bytes = trim(std::string_view(line.data() + start, end - start));
    if (field == textColumn) fields.text = bytes;
    if (field == style) fields.style = bytes;
  };
  // Fields that a comma ends; the one after them takes the rest of the line.
  const std::uint32_t commaFields = limit > 1 ? limit - 1 : 0;
  // The walk ends there, or after the last field wanted.
  const std::uint64_t stop = std::min<std::uint64_t>(commaFields, std::uint64_t{last} + 1);
  forEachFieldComma(line, stop, scan, [&](std::size_t comma) {
    if (field == textColumn || field == style) keep(comma);
    start = comma + 1;
    ++field;
  });
  if (field <= last) keep(line.size());
  return fields;
}

}  // namespace

void splitEventFields(std::string_view line, std::uint32_t limit,
                      std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t start = 0;
  // Fields that a comma ends; the last one keeps every comma it contains.
  const std::uint32_t commaFields = limit > 1 ? limit - 1 : 0;
  forEachFieldComma(line, commaFields, currentScan(), [&](std::size_t comma) {
    fields.push_back(trim(line.substr(start, comma - start)));
    start = comma + 1;
  });
  fields.push_back(trim(line.substr(start)));
}

std::size_t cutLeadingEventFields(std::string_view line, std::uint32_t limit, std::size_t count,
                                  std::string_view* fields) {
  if (count == 0) return 0;
  std::size_t cut = 0;
  std::size_t start = 0;
  // As splitEventFields, stopping once `count` fields have ended at a comma.
  const std::uint32_t commaFields = limit > 1 ? limit - 1 : 0;
  forEachFieldComma(line, std::min<std::uint64_t>(commaFields, count), currentScan(),
                    [&](std::size_t comma) {
                      fields[cut++] = trim(std::string_view(line.data() + start, comma - start));
                      start = comma + 1;
                    });
  if (cut < count) fields[cut++] = trim(std::string_view(line.data() + start, line.size() - start));
  return cut;
}

void LineConverter::readTables(EventColumns& eventColumns, const StyleTable& styleTable) {
  tables_.valid = false;
  const auto text = findOrAddTextColumn(eventColumns);
  tables_.styleIndex.build(styleTable);
  tables_.columns = &eventColumns;
  tables_.styles = &styleTable;
  tables_.fieldLimit = static_cast<std::uint32_t>(eventColumns.size());
  tables_.textColumn = text->second;
  const auto style = eventColumns.find(kStyleColumn);
  tables_.styleColumn.reset();
  if (style != eventColumns.end()) tables_.styleColumn = style->second;
  tables_.valid = true;
}

std::optional<std::string_view> LineConverter::convert(std::string_view lineText,
                                                       EventColumns& eventColumns,
                                                       const StyleTable& styleTable) {
  std::uint32_t limit = tables_.fieldLimit;
  if (!tables_.valid || tables_.columns != &eventColumns || tables_.styles != &styleTable) {
    // The line is cut by the table as it stands before "Text" is added.
    limit = static_cast<std::uint32_t>(eventColumns.size());
    readTables(eventColumns, styleTable);
  }

  const WindowScan scan = currentScan();
  const LineFields fields =
      cutFields(lineText, limit, tables_.textColumn, tables_.styleColumn, scan);
  if (!fields.text) return std::nullopt;
  // A Style column past the end of a short line gives no style.
  const StyleMarkup* style = fields.style ? tables_.styleIndex.find(*fields.style) : nullptr;
  const std::string_view open = style != nullptr ? std::string_view(style->first) : "";
  const std::string_view close = style != nullptr ? std::string_view(style->second) : "";

  const std::string_view text = *fields.text;
  const std::size_t tail = close.size() + kSlack;
  // The pass needs the text once; twice leaves most lines room for every
  // translation. Saturated: a 32-bit size cannot count twice 2 GiB, and a
  // room that wrapped round would be a few bytes (a room that large cannot
  // be had, and fails as any allocation does).
  const std::size_t least = open.size() + text.size() + tail;
  Writer out(markup_, least + std::min(text.size(), SIZE_MAX - least));
  out.copy(open);
  TextPass(text, out, tail, carry_, rewritten_, gathered_).run(scan);
  out.copy(close);
  markup_.resize(out.written());
  return markup_.view();
}

}  // namespace ssa
