#include "cli/encoding.h"

#include <fcntl.h>
#include <iconv.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/utf8.h"
#include "script/text.h"

namespace cli {
namespace {

// How far into the input the zero bytes are counted: the header, ASCII in
// every script.
constexpr std::size_t kZeroWindow = 4096;

// Characters at the start of the input that settle a wide encoding when
// they are all ASCII.
constexpr std::size_t kOpening = 8;

// The sets of 16- and 32-bit code units: the letters of the name that
// leaves the byte order open, and the names of either order.
struct WideSet {
  std::string_view letters;
  std::size_t width;
  const char* little;
  const char* big;
};
constexpr WideSet kWideSets[] = {{"UTF16", 2, "UTF-16LE", "UTF-16BE"},
                                 {"UCS2", 2, "UCS-2LE", "UCS-2BE"},
                                 {"UTF32", 4, "UTF-32LE", "UTF-32BE"},
                                 {"UCS4", 4, "UCS-4LE", "UCS-4BE"}};

}  // namespace

std::string charsetLetters(std::string_view name) {
  std::string kept;
  for (const char c : name) {
    if (c == '-' || c == '_') continue;
    kept += ssa::asciiUpper(c);
  }
  return kept;
}

bool isUtf8Name(std::string_view name) { return charsetLetters(name) == "UTF8"; }

bool readsMark(std::string_view name, const Encoding& mark) {
  const std::string given = charsetLetters(name);
  const std::string marked = charsetLetters(mark.name);
  if (given == marked) return true;
  // "UTF-16" and "UTF-32" read either byte order's mark; UCS-2 and UCS-4
  // have none of their own.
  for (const WideSet& set : kWideSets) {
    if (given == set.letters) {
      return marked == charsetLetters(set.little) || marked == charsetLetters(set.big);
    }
  }
  return false;
}

std::size_t codeUnitBytes(std::string_view name) {
  const std::string letters = charsetLetters(name);
  for (const WideSet& set : kWideSets) {
    if (ssa::startsWith(letters, set.letters)) return set.width;
  }
  return 1;
}

bool canConvertFrom(const std::string& name, std::string* trouble) {
  const iconv_t converter = ::iconv_open("UTF-8", name.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    const std::string why = converterTrouble(errno);
    if (trouble != nullptr) *trouble = why;
    return false;
  }
  ::iconv_close(converter);
  return true;
}

std::string converterTrouble(int error) {
  // glibc answers EINVAL also when the set's module or its table cannot be
  // opened for want of a descriptor: opening a file of our own tells the
  // two apart, the process's limit and the system's alike.
  if (error == EINVAL) {
    const int spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (spare >= 0) ::close(spare);
    if (spare >= 0 || (errno != EMFILE && errno != ENFILE)) return {};
    error = errno;
  }
  return std::strerror(error);
}

std::string noConverter(const std::string& encoding, const std::string& trouble) {
  return "cannot read it as " + encoding + ": " +
         (trouble.empty() ? std::string("iconv does not know it") : trouble);
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
    if (ssa::startsWith(head, known.mark))
      return Encoding{known.name, Encoding::Basis::Mark, known.mark.size(), {}};
  }
  return std::nullopt;
}

std::string howDecided(const Encoding& encoding) {
  switch (encoding.basis) {
    case Encoding::Basis::Bundled:
      return "bundled";
    case Encoding::Basis::Given:
      return encoding.named.empty() ? "given" : "given as " + encoding.named;
    case Encoding::Basis::Mark:
      return "byte-order mark";
    case Encoding::Basis::Zeros:
      return ssa::startsWith(encoding.name, "UTF-32")
                 ? "no byte-order mark; three zero bytes beside each ASCII character"
                 : "no byte-order mark; a zero byte beside each ASCII character";
    case Encoding::Basis::ValidUtf8:
      return "valid UTF-8";
    case Encoding::Basis::ValidFirstMiB:
      return "valid UTF-8 in its first MiB";
    case Encoding::Basis::Detected:
      return encoding.named.empty() ? "detected" : "detected as " + encoding.named;
    case Encoding::Basis::Fallback:
      return "not valid UTF-8, and no other encoding recognised";
  }
  return {};
}

namespace {

// Mostly ASCII text in units of `width` bytes: true when the first byte of
// each carries the text (little-endian), false when the last does; that
// byte is hardly ever zero, and each of the others nearly always is.
std::optional<bool> littleEndian(std::string_view head, std::size_t width) {
  const std::size_t units = std::min(head.size(), kZeroWindow) / width;
  if (units < 2) return std::nullopt;
  std::size_t zeros[4] = {};  // at each offset within a unit
  for (std::size_t i = 0; i < units * width; ++i) {
    if (head[i] == '\0') ++zeros[i % width];
  }
  const auto textAt = [&zeros, units, width](std::size_t text) {
    for (std::size_t at = 0; at < width; ++at) {
      const bool fits = at == text ? zeros[at] * 10 <= units : zeros[at] * 10 >= units * 7;
      if (!fits) return false;
    }
    return true;
  };
  if (textAt(0)) return true;
  if (textAt(width - 1)) return false;
  // Long lines of CJK text can outweigh a short header's zeros, but the
  // header begins the file, in ASCII, a zero beside every character: text
  // in any other encoding holds no zero byte.
  const auto asciiOpening = [head, width](std::size_t text) {
    if (head.size() < kOpening * width) return false;
    for (std::size_t i = 0; i < kOpening * width; ++i) {
      const auto c = static_cast<unsigned char>(head[i]);
      const bool fits = i % width == text
                            ? (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r'
                            : c == 0;
      if (!fits) return false;
    }
    return true;
  };
  if (asciiOpening(0)) return true;
  if (asciiOpening(width - 1)) return false;
  return std::nullopt;
}

}  // namespace

std::optional<Encoding> encodingFromZeros(std::string_view head) {
  if (const std::optional<bool> little = littleEndian(head, 2)) {
    return Encoding{*little ? "UTF-16LE" : "UTF-16BE", Encoding::Basis::Zeros, 0, {}};
  }
  if (const std::optional<bool> little = littleEndian(head, 4)) {
    return Encoding{*little ? "UTF-32LE" : "UTF-32BE", Encoding::Basis::Zeros, 0, {}};
  }
  return std::nullopt;
}

std::string withByteOrder(const std::string& name, std::string_view head) {
  const std::string letters = charsetLetters(name);
  for (const WideSet& set : kWideSets) {
    if (letters != set.letters) continue;
    const std::optional<bool> little = littleEndian(head, set.width);
    if (little) return *little ? set.little : set.big;
  }
  return name;
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
  bytes_ += piece.size();
  for (const char byte : piece) {
    const auto c = static_cast<unsigned char>(byte);
    if (c < 0x80) continue;
    ++high_;
    outside1252_ = outside1252_ || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
    holdsC1_ = holdsC1_ || c < 0xA0;
  }
}

std::string CharsetDetector::finish() {
  const auto detector = static_cast<uchardet_t>(detector_);
  ::uchardet_data_end(detector);
  const char* name = ::uchardet_get_charset(detector);
  return name != nullptr ? name : "";
}

std::string readAsDetected(const std::string& detected, bool fewWindows1252, bool holdsC1) {
  // A few accented letters or curly quotes leave the detector guessing, and
  // its guess may be a page no script is written in ("don't" with a Windows
  // apostrophe comes back as Mac Central European). Scripts are written on
  // Windows: the pages of its own and the ISO ones it names for them are
  // believed (Baltic and Romanian text, a few letters a line, is named
  // ISO-8859-13 and -16).
  static constexpr std::string_view kGuessed[] = {"IBM", "MAC-", "ISO-8859-3", "ISO-8859-4",
                                                  "ISO-8859-10"};  // how their names begin
  if (fewWindows1252) {
    for (const std::string_view guessed : kGuessed) {
      if (ssa::startsWith(detected, guessed)) return "WINDOWS-1252";
    }
  }
  struct Pair {
    std::string_view named;
    const char* readAs;
  };
  // The sets scripts named so are written in: the Windows supersets, and
  // KOI8-U, which has Ukrainian letters where KOI8-R has box-drawing
  // characters, which no subtitle holds.
  static constexpr Pair kReadInstead[] = {{"SHIFT_JIS", "CP932"},
                                          {"EUC-KR", "CP949"},
                                          {"ISO-8859-1", "WINDOWS-1252"},
                                          {"KOI8-R", "KOI8-U"}};
  for (const auto& pair : kReadInstead) {
    if (detected == pair.named) return pair.readAs;
  }
  // Curly quotes, dashes and some letters of the Windows pages are controls
  // in the ISO ones: their presence says which was written.
  static constexpr Pair kWindowsPages[] = {
      {"ISO-8859-2", "WINDOWS-1250"},  {"ISO-8859-7", "WINDOWS-1253"},
      {"ISO-8859-8", "WINDOWS-1255"},  {"ISO-8859-9", "WINDOWS-1254"},
      {"ISO-8859-13", "WINDOWS-1257"}, {"ISO-8859-15", "WINDOWS-1252"},
      {"ISO-8859-16", "WINDOWS-1250"}, {"TIS-620", "WINDOWS-874"}};
  if (holdsC1) {
    for (const auto& pair : kWindowsPages) {
      if (detected == pair.named) return pair.readAs;
    }
  }
  return detected;
}

std::string readAsGiven(const std::string& given) {
  const std::string letters = charsetLetters(given);
  for (const std::string_view name : {"SHIFTJIS", "SJIS", "MSKANJI", "CSSHIFTJIS"}) {
    if (letters == name) return "CP932";
  }
  return given;
}

std::string backslashReadAs(const std::string& name) {
  const iconv_t converter = ::iconv_open("UTF-32BE", name.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::string();
  char in[] = "\\";
  char out[8] = {};
  char* from = in;
  char* to = out;
  std::size_t left = 1;
  std::size_t room = sizeof out;
  const bool converted =
      ::iconv(converter, &from, &left, &to, &room) != static_cast<std::size_t>(-1);
  ::iconv_close(converter);
  if (!converted || to - out != 4) return std::string();
  const std::uint32_t code = (std::uint32_t{static_cast<unsigned char>(out[0])} << 24) |
                             (std::uint32_t{static_cast<unsigned char>(out[1])} << 16) |
                             (std::uint32_t{static_cast<unsigned char>(out[2])} << 8) |
                             static_cast<unsigned char>(out[3]);
  if (code == '\\') return std::string();
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code));
  return text;
}

}  // namespace cli
