#include "cli/encoding.h"

#include <iconv.h>
#include <uchardet/uchardet.h>

#include <algorithm>

#include "cli/utf8.h"

namespace cli {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// How far into the input the zero bytes are counted: the header, ASCII in
// every script.
constexpr std::size_t kZeroWindow = 4096;

}  // namespace

std::string charsetLetters(std::string_view name) {
  std::string kept;
  for (const char c : name) {
    if (c == '-' || c == '_') continue;
    kept += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return kept;
}

bool isUtf8Name(std::string_view name) { return charsetLetters(name) == "UTF8"; }

bool readsMark(std::string_view name, const Encoding& mark) {
  const std::string given = charsetLetters(name);
  const std::string marked = charsetLetters(mark.name);
  // "UTF-16" and "UTF-32" read either byte order's mark.
  return given == marked || (marked.size() == 7 && given == marked.substr(0, 5));
}

bool canConvertFrom(const std::string& name) {
  const iconv_t converter = ::iconv_open("UTF-8", name.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  ::iconv_close(converter);
  return true;
}

std::optional<Encoding> encodingFromMark(std::string_view head) {
  // UTF-32LE's mark begins with UTF-16LE's: the longer one is looked for first.
  static constexpr struct {
    std::string_view mark;
    const char* name;
  } kMarks[] = {{std::string_view("\xFF\xFE\0\0", 4), "UTF-32LE"},
                {std::string_view("\0\0\xFE\xFF", 4), "UTF-32BE"},
                {"\xEF\xBB\xBF", "UTF-8"},
                {"\xFF\xFE", "UTF-16LE"},
                {"\xFE\xFF", "UTF-16BE"}};
  for (const auto& known : kMarks) {
    if (startsWith(head, known.mark))
      return Encoding{known.name, Encoding::Basis::Mark, known.mark.size(), {}};
  }
  return std::nullopt;
}

std::string howDecided(const Encoding& encoding) {
  switch (encoding.basis) {
    case Encoding::Basis::Bundled:
      return "bundled";
    case Encoding::Basis::Given:
      return "given";
    case Encoding::Basis::Mark:
      return "byte-order mark";
    case Encoding::Basis::Zeros:
      return "no byte-order mark; every other byte is zero";
    case Encoding::Basis::ValidUtf8:
      return "valid UTF-8";
    case Encoding::Basis::ValidFirstMiB:
      return "valid UTF-8 in its first MiB";
    case Encoding::Basis::Detected:
      return encoding.detected.empty() ? "detected" : "detected as " + encoding.detected;
    case Encoding::Basis::Fallback:
      return "not valid UTF-8, and no other encoding recognised";
  }
  return {};
}

std::optional<Encoding> encodingFromZeros(std::string_view head) {
  const std::size_t pairs = std::min(head.size(), kZeroWindow) / 2;
  if (pairs < 2) return std::nullopt;
  std::size_t zeros[2] = {0, 0};  // at even and at odd offsets
  for (std::size_t i = 0; i < pairs * 2; ++i) {
    if (head[i] == '\0') ++zeros[i % 2];
  }
  // Most of one side and hardly any of the other.
  const auto most = [pairs](std::size_t n) { return n * 10 >= pairs * 7; };
  const auto few = [pairs](std::size_t n) { return n * 10 <= pairs; };
  if (most(zeros[1]) && few(zeros[0])) return Encoding{"UTF-16LE", Encoding::Basis::Zeros, 0, {}};
  if (most(zeros[0]) && few(zeros[1])) return Encoding{"UTF-16BE", Encoding::Basis::Zeros, 0, {}};
  return std::nullopt;
}

bool Utf8Check::feed(std::string_view piece) {
  if (!valid_) return false;
  // First the sequence the last piece cut, a byte at a time.
  while (!pending_.empty() && !piece.empty()) {
    pending_ += piece.front();
    piece.remove_prefix(1);
    const int length = utf8Sequence(pending_);
    if (length < 0) return valid_ = false;
    if (length > 0) pending_.clear();
  }
  const std::size_t valid = validUtf8Prefix(piece);
  if (valid == piece.size()) return true;
  if (utf8Sequence(piece.substr(valid)) != 0) return valid_ = false;
  pending_ = piece.substr(valid);
  return true;
}

CharsetDetector::CharsetDetector() : detector_(::uchardet_new()) {}

CharsetDetector::~CharsetDetector() { ::uchardet_delete(static_cast<uchardet_t>(detector_)); }

void CharsetDetector::feed(std::string_view piece) {
  ::uchardet_handle_data(static_cast<uchardet_t>(detector_), piece.data(), piece.size());
}

std::string CharsetDetector::finish() {
  const auto detector = static_cast<uchardet_t>(detector_);
  ::uchardet_data_end(detector);
  const char* name = ::uchardet_get_charset(detector);
  return name != nullptr ? name : "";
}

std::string inUse(const std::string& detected) {
  // Scripts are written on Windows: in its Shift-JIS 0x5C is the backslash
  // of every override code and line break, not a yen sign; its Korean and
  // Western sets put letters where the standard ones have control codes.
  static constexpr struct {
    std::string_view standard;
    const char* windows;
  } kSupersets[] = {{"SHIFT_JIS", "CP932"}, {"EUC-KR", "CP949"}, {"ISO-8859-1", "WINDOWS-1252"}};
  for (const auto& pair : kSupersets) {
    if (detected == pair.standard) return pair.windows;
  }
  return detected;
}

}  // namespace cli
