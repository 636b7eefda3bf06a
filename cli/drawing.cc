#include "cli/drawing.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "script/text.h"

namespace cli {
namespace {

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
constexpr std::array<Leading, 256> kLeading = leadingBytes();

// Whether the 8 bytes before `at` end in "</font>", as most markup does.
bool endsInFontClose(const char* at) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the last byte read is the highest");
  constexpr std::uint64_t kClose = 0x3E746E6F662F3C00u;  // "</font>" after any byte
  std::uint64_t word;
  std::memcpy(&word, at - 8, sizeof word);
  return (word & ~std::uint64_t{0xFF}) == kClose;
}

constexpr bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The mode after the tags of one block (its bytes between the braces). Only
// "\p" and digits at the block's own level turn it on; "\r", any other tag
// that begins "\p" but "\pos" and "\pbo", and a "\p" within another tag's
// brackets ("\t(0,100,\p1)") turn it off.
bool modeAfterBlock(std::string_view block, bool drawing) {
  int depth = 0;  // of brackets
  for (std::size_t i = 0; i + 1 < block.size(); ++i) {
    if (block[i] == '(') ++depth;
    if (block[i] == ')' && depth > 0) --depth;
    if (block[i] != '\\') continue;
    const char code = block[i + 1];
    if (code == 'r') {
      drawing = false;
    } else if (code == 'p') {
      const std::string_view tag = block.substr(i + 1, 3);
      if (tag == "pos" || tag == "pbo") continue;
      std::size_t j = i + 2;
      bool on = false;
      for (; j < block.size() && ssa::isDigit(block[j]); ++j) on = on || block[j] != '0';
      drawing = on && depth == 0 && j > i + 2 && !(j < block.size() && isLetter(block[j]));
      i = j - 1;
    }
  }
  return drawing;
}

// The last byte of the markup that is neither a tag's nor a blank; 0 when
// there is none. The closing tags the module writes are "</font>" and four
// bytes long ("</b>").
char lastShown(const char* begin, const char* at) {
  for (;;) {
    if (at == begin) return 0;
    switch (kLeading[static_cast<unsigned char>(at[-1])]) {
      case Leading::Blank:
      case Leading::Space:
        --at;
        break;
      case Leading::TagEnd:
        if (at - begin >= 8 && endsInFontClose(at)) {
          at -= 7;
        } else if (at - begin >= 4 && at[-4] == '<') {
          at -= 4;
        } else {
          while (--at != begin && at[-1] != '<') {
          }
          if (at == begin) return 0;
          --at;
        }
        break;
      default:
        return at[-1];
    }
  }
}

}  // namespace

bool mayBeDrawing(std::string_view markup) {
  const char* const begin = markup.data();
  const char* const end = begin + markup.size();
  // The last byte shown first, which costs less: most lines end in a
  // letter or a stop, not a number or a "c".
  const char last = lastShown(begin, end);
  if (last != 'c' && !ssa::isDigit(last)) return false;
  for (const char* p = begin; p != end; ++p) {
    switch (kLeading[static_cast<unsigned char>(*p)]) {
      case Leading::Tag:
        p = static_cast<const char*>(std::memchr(p, '>', static_cast<std::size_t>(end - p)));
        if (p == nullptr) return false;
        break;
      case Leading::Blank:
      case Leading::Space:
        break;
      case Leading::Command:
        return p + 1 != end && kLeading[static_cast<unsigned char>(p[1])] >= Leading::Space;
      default:
        return false;
    }
  }
  return false;
}

bool isDrawing(std::string_view text) {
  bool drawing = false;
  bool drawn = false;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '{') {
      const std::size_t close = text.find('}', i + 1);
      if (close != std::string_view::npos) {
        drawing = modeAfterBlock(text.substr(i + 1, close - i - 1), drawing);
        i = close + 1;
        continue;
      }
    } else if (c == '\\' && i + 1 < text.size() &&
               (text[i + 1] == 'N' || text[i + 1] == 'n' || text[i + 1] == 'h')) {
      i += 2;
      continue;
    } else if (ssa::isSpaceOrTab(c)) {
      ++i;
      continue;
    }
    if (!drawing) return false;
    drawn = true;
    ++i;
  }
  return drawn;
}

}  // namespace cli
