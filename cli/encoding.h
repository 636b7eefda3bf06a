// Which character set a script is written in. A byte-order mark decides
// first, then the zero bytes of UTF-16 or UTF-32 without one, then whether
// the bytes are valid UTF-8 (escape sequences of ISO-2022 aside); anything
// else goes to the detector subtitle players use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

struct Encoding {
  // Why a script is read in it.
  enum class Basis {
    Bundled,        // the sample built into the program
    Given,          // --encoding NAME
    Mark,           // a byte-order mark
    Zeros,          // UTF-16 or UTF-32 without a mark, by the zero bytes beside ASCII
    ValidUtf8,      // all of it is valid UTF-8
    ValidFirstMiB,  // the first MiB of what cannot be read twice is
    Detected,       // the detector's verdict
    Fallback,       // none of the above: UTF-8, with replacements
  };
  std::string name = "UTF-8";  // as iconv knows it
  Basis basis = Basis::ValidUtf8;
  std::size_t mark = 0;  // bytes of byte-order mark before the text
  // Detected or Given: the detector's or the user's name, when the set read
  // is another.
  std::string named;
};

// Why, in words: "byte-order mark", "detected as GB18030", ...
std::string howDecided(const Encoding& encoding);

// A name as iconv compares it, upper case without "-" and "_": "utf_16le"
// and "UTF-16LE" are one.
std::string charsetLetters(std::string_view name);

// "UTF-8" however it is spelt ("utf8", "Utf_8", ...).
bool isUtf8Name(std::string_view name);

// Whether the encoding `name` is the one a byte-order mark stands for
// ("utf-16" for a UTF-16LE mark, "utf8" for UTF-8's).
bool readsMark(std::string_view name, const Encoding& mark);

// Bytes in a code unit of the set `name`: 2 for UTF-16 and UCS-2, 4 for
// UTF-32 and UCS-4, in either byte order or with it left open; else 1.
std::size_t codeUnitBytes(std::string_view name);

// True when iconv converts from `name` to UTF-8. False with *trouble set
// when no converter can be opened now, whatever the name (no descriptor
// left, no memory): that is no verdict on the name.
bool canConvertFrom(const std::string& name, std::string* trouble = nullptr);

// Why iconv_open just failed, in words, when the cause was not the name: ""
// for a set iconv does not know.
std::string converterTrouble(int error);

// The one wording of a converter that does not open, for `trouble` as
// converterTrouble gives it.
std::string noConverter(const std::string& encoding, const std::string& trouble);

// A byte-order mark at the start of `head`: UTF-8, UTF-16 or UTF-32, either
// byte order.
std::optional<Encoding> encodingFromMark(std::string_view head);

// UTF-16 or UTF-32 without a mark: a script is mostly ASCII, so in its
// first bytes nearly every other byte (three in four) is zero, and the others
// nearly never are; or its first characters are all ASCII.
std::optional<Encoding> encodingFromZeros(std::string_view head);

// A name that leaves the byte order open ("UTF-16", "ucs4") with the one
// that the zero bytes of `head`, which has no mark, show: iconv would take
// one of its own. Other names, and text that shows none, as they are.
std::string withByteOrder(const std::string& name, std::string_view head);

// Whether an input is valid UTF-8, fed to it in pieces that may cut a
// sequence anywhere.
class Utf8Check {
 public:
  // False from the first malformed sequence on.
  bool feed(std::string_view piece);
  // The answer once the input has ended: false also when it ended inside a
  // sequence.
  bool valid() const { return valid_ && pending_.empty(); }
  // True once a malformed sequence has been fed.
  bool malformed() const { return !valid_; }

 private:
  bool valid_ = true;
  std::string pending_;  // a sequence cut by the end of the last piece
};

// The set to read a detected one as: the one scripts named so are written
// in (CP932 for SHIFT_JIS, KOI8-U for KOI8-R, ...); Windows-1252 for a DOS, Mac or seldom-used
// ISO page named for text that is `fewWindows1252` (see CharsetDetector);
// the Windows page of an ISO one named for text that `holdsC1`, which the
// ISO pages never hold as text; else the same.
std::string readAsDetected(const std::string& detected, bool fewWindows1252 = false,
                           bool holdsC1 = false);

// The set to read a given one as: CP932 for the names of Shift-JIS, whose
// standard form reads the backslash of every override code as a yen sign;
// else the same. Not readAsDetected's table, on purpose: a set the user
// names (KOI8-R, EUC-KR) is read as named, not as the one scripts use.
std::string readAsGiven(const std::string& given);

// What the set reads byte 0x5C as ("U+00A5"), when that is not the
// backslash; empty when it is, or cannot be told (UTF-16 and the like).
std::string backslashReadAs(const std::string& name);

// The character set of bytes that are not UTF-8, fed to it in pieces.
class CharsetDetector {
 public:
  CharsetDetector();
  ~CharsetDetector();
  CharsetDetector(const CharsetDetector&) = delete;
  CharsetDetector& operator=(const CharsetDetector&) = delete;

  void feed(std::string_view piece);
  // An iconv name; empty when nothing was recognised.
  std::string finish();
  // At most one byte in 50 above ASCII, and Windows-1252 reads every one:
  // text the detector has too little to go on for.
  bool fewWindows1252() const { return high_ * 50 <= bytes_ && !outside1252_; }
  // A byte from 0x80 to 0x9F was fed: a control in the ISO pages, a letter
  // or a quote in the Windows ones.
  bool holdsC1() const { return holdsC1_; }

 private:
  void* detector_;
  std::uint64_t bytes_ = 0;
  std::uint64_t high_ = 0;    // above 0x7F
  bool outside1252_ = false;  // one Windows-1252 leaves undefined was fed
  bool holdsC1_ = false;
};

}  // namespace cli
