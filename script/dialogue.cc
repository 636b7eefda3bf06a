// Event line conversion in one pass over the line.
//
// The override blocks are defined by a loop that, after every translation,
// searches again from the beginning of the markup: a "{" that a translation
// brings in (a font name, or the digits of a colour) starts the next block.
// The same result comes from one left-to-right pass, because
//  - the text before the first "{" never changes again, so it is final, and
//  - a translation never holds a "}" (a block holds only its closing one),
//    so the next block always ends at the next "}" of the untouched input.
// What a translation leaves from its first "{" on is kept as the carry: the
// next block is the carry followed by the input up to its next "}". Only a
// font name can make the carry long, and its translation keeps the carry's
// tail, so the carry is trimmed at the front and appended at the back; each
// byte is looked at a bounded number of times.
#include "script/dialogue.h"

#include "script/text.h"

namespace ssa {
namespace {

constexpr std::string_view kFaceOpen = "<font face=\"";
constexpr std::string_view kAttributeClose = "\">";
// Looked up as views, so that each comparison with a key knows both lengths.
constexpr std::string_view kTextColumn = "Text";
constexpr std::string_view kStyleColumn = "Style";

// The blocks are split between the carry (a) and the input (b); a block is
// never copied unless a code needs its bytes together.
struct Block {
  std::string_view a;
  std::string_view b;
  std::size_t size() const { return a.size() + b.size(); }
  char at(std::size_t i) const { return i < a.size() ? a[i] : b[i - a.size()]; }
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The single-pass form of replacing "\N", then "\n", then "\h": the three
// codes never overlap and no replacement forms a new code with its
// neighbours, so replacing every code of the original text in one pass
// gives the same bytes as the three repeated searches. Answers `text`
// itself when it holds no code (most lines: nothing is copied), else `out`.
std::string_view replaceLineBreaks(std::string_view text, TextBuffer& out) {
  out.clear();
  std::size_t done = 0;
  // Only a backslash starts a code: the search jumps from one to the next.
  for (std::size_t i = text.find('\\'); i != std::string_view::npos && i + 1 < text.size();
       i = text.find('\\', i + 1)) {
    const char code = text[i + 1];
    if (code != 'N' && code != 'n' && code != 'h') continue;
    out.append(text.substr(done, i - done));
    out.push(code == 'h' ? ' ' : '\n');
    done = i + 2;
    ++i;  // the code's letter starts nothing
  }
  if (done == 0) return text;
  out.append(text.substr(done));
  return out.view();
}

}  // namespace

void splitEventFields(std::string_view line, std::uint32_t limit,
                      std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t start = 0;
  // Each comma is looked for only when a field is to end at it: the last
  // field, usually the Text, is never scanned for one.
  while (static_cast<std::uint32_t>(fields.size()) + 1 < limit) {
    const std::uint32_t comma = findFieldComma(line, static_cast<std::uint32_t>(start));
    if (comma == kNoPosition) {
      fields.push_back(trim(line.substr(start)));  // the end of the line: no more fields
      return;
    }
    fields.push_back(trim(line.substr(start, comma - start)));
    start = comma + 1;
  }
  fields.push_back(trim(line.substr(start)));  // keeps every comma it contains
}

namespace {

// Writes the translation of the override blocks of `in` after `out`.
class BlockTranslator {
 public:
  BlockTranslator(std::string_view in, TextBuffer& out, std::string& carry, std::string& block)
      : in(in), out(out), carry(carry), gathered(block) {
    carry.clear();
  }

  void run() {
    for (;;) {
      std::size_t open = read;
      if (carry.size() == carryStart) {
        open = in.find('{', read);
        if (open == std::string_view::npos) break;
      }
      const std::size_t close = in.find('}', open);
      if (close == std::string_view::npos) break;  // the rest passes through unchanged
      out.append(in.substr(read, open - read));
      const Block block{std::string_view(carry).substr(carryStart),
                        in.substr(open, close - open + 1)};
      read = close + 1;
      translate(block);
    }
    out.append(std::string_view(carry).substr(carryStart));
    out.append(in.substr(read));
  }

 private:
  void translate(const Block& block) {
    const std::size_t size = block.size();
    if (size <= 4) return drop();
    const char code = block.at(2);
    const bool on = block.at(3) == '1';
    switch (code) {
      case 'b':
        return emit(on ? "<b>" : "</b>");
      case 'i':
        return emit(on ? "<i>" : "</i>");
      case 'u':
        return emit(on ? "<u>" : "</u>");
      case 's':
        return emit(on ? "<s>" : "</s>");
      case 'f':
        if (block.at(3) == 'n') return emitFace(block);
        if (block.at(3) == 's' && isDigit(block.at(4))) return emitSize(block);
        return drop();
      case 'c':
      case '1': {
        const std::string colour = overrideColour(gather(block, 0));
        if (colour.empty()) return drop();
        return emit("<font color=\"#", colour, kAttributeClose);
      }
      default:
        return drop();
    }
  }

  void drop() { clearCarry(); }

  // A translation replaces its block: what precedes its first "{" is final,
  // the rest becomes the carry. Only `value` can hold a "{".
  void emit(std::string_view prefix, std::string_view value = {}, std::string_view suffix = {}) {
    clearCarry();
    out.append(prefix);
    const std::size_t open = value.find('{');
    if (open == std::string_view::npos) {
      out.append(value);
      out.append(suffix);
      return;
    }
    out.append(value.substr(0, open));
    carry.assign(value.substr(open));
    carry.append(suffix);
  }

  // "<font face=\"" + bytes 4 up to the closing brace + "\">", without
  // copying the carry: its tail stays where it is.
  void emitFace(const Block& block) {
    std::string_view prefix = kFaceOpen;
    const std::string_view inputPart = block.b.substr(0, block.b.size() - 1);
    if (block.a.size() > 4) {
      const std::string_view carried = block.a.substr(4);
      const std::size_t open = carried.find('{');
      if (open != std::string_view::npos) {
        // The carry's own tail becomes the new carry, in place.
        out.append(prefix);
        out.append(carried.substr(0, open));
        carryStart += 4 + open;
        compactCarry();
        carry.append(inputPart);
        carry.append(kAttributeClose);
        return;
      }
      out.append(prefix);
      out.append(carried);
      prefix = {};
    }
    const std::size_t skip = block.a.size() < 4 ? 4 - block.a.size() : 0;
    emit(prefix, inputPart.substr(skip), kAttributeClose);
  }

  // Emitted also when the size converts to nothing.
  void emitSize(const Block& block) {
    std::size_t end = 4;
    while (end < block.size() && isDigit(block.at(end))) ++end;
    const std::string size = relativeFontSize(gather(block, 4, end));
    emit("<font size=\"", size, kAttributeClose);
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

  const std::string_view in;
  TextBuffer& out;
  std::string& carry;  // translated text from its first "{"; never holds a "}"
  std::string& gathered;
  std::size_t carryStart = 0;  // the carry is carry[carryStart..]
  std::size_t read = 0;        // input before this is done
};

}  // namespace

std::optional<std::string_view> LineConverter::convert(std::string_view lineText,
                                                       EventColumns& eventColumns,
                                                       const StyleTable& styleTable) {
  splitEventFields(lineText, static_cast<std::uint32_t>(eventColumns.size()), fields_);

  auto textColumn = eventColumns.find(kTextColumn);
  // Without a Text column the whole line is the text, for this line and all
  // later ones.
  if (textColumn == eventColumns.end()) {
    textColumn = eventColumns.emplace(kTextColumn, 0).first;
  }
  if (textColumn->second >= fields_.size()) return std::nullopt;

  const StyleMarkup* style = nullptr;
  const auto styleColumn = eventColumns.find(kStyleColumn);
  // A Style column past the end of a short line gives no style.
  if (styleColumn != eventColumns.end() && styleColumn->second < fields_.size()) {
    const auto entry = styleTable.find(fields_[styleColumn->second]);
    if (entry != styleTable.end()) style = &entry->second;
  }

  const std::string_view text = replaceLineBreaks(fields_[textColumn->second], text_);
  markup_.clear();
  if (style != nullptr) markup_.append(style->first);
  BlockTranslator(text, markup_, carry_, block_).run();
  if (style != nullptr) markup_.append(style->second);
  return markup_.view();
}

}  // namespace ssa
