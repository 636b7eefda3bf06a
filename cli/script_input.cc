#include "cli/script_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "cli/utf8.h"
#include "script/text.h"

namespace cli {
namespace {

constexpr std::size_t kPiece = 64 * 1024;

// Text holds few control bytes besides tabs, line ends and the escapes of
// ISO-2022; a video or other binary file given by mistake holds many.
bool holdsFewControlBytes(std::string_view bytes) {
  std::size_t controls = 0;
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    controls += c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1B;
  }
  return controls * 100 <= bytes.size();
}

// Text of 16 or 32 bits a character, told by its mark or, without one, by
// its zeros.
std::optional<Encoding> wideEncoding(std::string_view ahead, const std::optional<Encoding>& mark) {
  if (mark) return isUtf8Name(mark->name) ? std::nullopt : mark;
  return encodingFromZeros(ahead);
}

// Few control bytes, or wide text, which is mostly zeros.
bool readsAsText(std::string_view ahead) {
  return holdsFewControlBytes(ahead) || wideEncoding(ahead, encodingFromMark(ahead));
}

}  // namespace

// The bytes read ahead, less the byte-order mark, then the rest of the
// descriptor.
class ScriptInput::ReadAhead final : public hostkit::ByteSource {
 public:
  ReadAhead(std::unique_ptr<char[]> bytes, std::size_t size, std::size_t skip, int fd)
      : bytes_(std::move(bytes)), size_(size), at_(std::min(skip, size)), rest_(fd) {}

  std::ptrdiff_t read(char* into, std::size_t room, std::string* error) override {
    if (at_ == size_) return rest_.read(into, room, error);
    const std::size_t n = std::min(room, size_ - at_);
    std::memcpy(into, bytes_.get() + at_, n);
    at_ += n;
    if (at_ == size_) bytes_.reset();
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_;
  std::size_t at_;
  hostkit::FdSource rest_;
};

ScriptInput::ScriptInput() = default;

ScriptInput::~ScriptInput() {
  if (fd_ > STDIN_FILENO) ::close(fd_);
}

bool ScriptInput::open(const std::optional<std::string>& name, std::string_view bundled,
                       std::string* error) {
  bundled_ = bundled;
  if (!name) return true;
  if (*name == "-") {
    fd_ = STDIN_FILENO;
    name_ = "standard input";
    return true;
  }
  name_ = *name;
  fd_ = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    *error = "cannot open " + name_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ScriptInput::start(const std::string& encoding, std::string* error) {
  if (fd_ < 0) {
    startReadsAsText_ = true;
    encoding_ = Encoding{"UTF-8", Encoding::Basis::Bundled, 0, {}};
    reader_.emplace(bundled_);
  } else {
    // Not cleared first: only what is read is looked at.
    std::unique_ptr<char[]> bytes(new char[kReadAhead]);
    std::size_t size = 0;
    if (!readStart(bytes.get(), &size, error)) return false;
    const std::string_view ahead(bytes.get(), size);
    const bool whole = size < kReadAhead;
    struct stat info {};
    regularFile_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    // A regular file is judged again only if it comes to that; a pipe
    // cannot be read again.
    if (!regularFile_) startReadsAsText_ = readsAsText(ahead);
    const std::optional<Encoding> mark = encodingFromMark(ahead);
    bool asIs = false;
    if (encoding != "auto") {
      useGiven(encoding, ahead, mark);
    } else if (!decide(ahead, mark, whole, &asIs, error)) {
      return false;
    }
    ahead_ = std::make_unique<ReadAhead>(std::move(bytes), size, encoding_.mark, fd_);
    if (asIs) {
      reader_.emplace(*ahead_);
    } else {
      decoding_ = std::make_unique<DecodingSource>(*ahead_, encoding_.name, encoding_.mark);
      reader_.emplace(*decoding_);
    }
  }
  std::string headerError;
  if (!hostkit::readHeader(*reader_, &header_, &headerError)) {
    *error = name_ + ": " + headerError;
    return false;
  }
  return true;
}

bool ScriptInput::readStart(char* bytes, std::size_t* size, std::string* error) {
  // Standard input may stand part way into a file: the script begins there.
  const off_t at = ::lseek(fd_, 0, SEEK_CUR);
  origin_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
  hostkit::FdSource source(fd_);
  std::string readError;
  for (std::ptrdiff_t n = 1; n > 0 && *size < kReadAhead; *size += static_cast<std::size_t>(n)) {
    n = source.read(bytes + *size, kReadAhead - *size, &readError);
    if (n < 0) {
      *error = name_ + ": cannot read: " + readError;
      return false;
    }
  }
  return true;
}

void ScriptInput::useGiven(const std::string& encoding, std::string_view ahead,
                           const std::optional<Encoding>& mark) {
  encoding_ = Encoding{encoding, Encoding::Basis::Given, 0, {}};
  // No text in any encoding begins with a byte-order mark: one given for a
  // whole folder does not read a script that has one otherwise.
  if (mark && !readsMark(encoding, *mark)) {
    encoding_ = *mark;
    setAside_ = encoding;
  } else if (!isUtf8Name(encoding) && !isAscii(ahead) && Utf8Check().feed(ahead)) {
    seemsUtf8_ = true;
  }
  if (mark) return;
  const std::string ordered = withByteOrder(encoding, ahead);
  encoding_.name = readAsGiven(ordered);
  if (encoding_.name != ordered) {
    encoding_.named = encoding;
    worthTelling_ = true;
  }
  backslashAs_ = backslashReadAs(encoding_.name);
}

template <typename Feed>
bool ScriptInput::readRest(Feed feed, std::uint64_t resume, std::string* error) {
  std::vector<char> piece(kPiece);
  hostkit::FdSource source(fd_);
  std::string readError;
  for (;;) {
    const std::ptrdiff_t n = source.read(piece.data(), piece.size(), &readError);
    if (n < 0) {
      *error = name_ + ": cannot read: " + readError;
      return false;
    }
    if (n == 0) break;
    feed(std::string_view(piece.data(), static_cast<std::size_t>(n)));
  }
  if (::lseek(fd_, static_cast<off_t>(origin_ + resume), SEEK_SET) < 0) {
    *error = name_ + ": cannot read: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ScriptInput::decide(std::string_view ahead, const std::optional<Encoding>& mark, bool whole,
                         bool* asIs, std::string* error) {
  const std::optional<Encoding> wide = wideEncoding(ahead, mark);
  if (wide) {
    encoding_ = *wide;
    worthTelling_ = true;
    return true;
  }
  Utf8Verdict utf8;
  if (!checkUtf8(ahead, whole, &utf8, error)) return false;
  if (utf8.valid) return useValidUtf8(ahead, whole, mark, utf8, asIs, error);
  if (mark) {
    encoding_ = *mark;  // the mark says UTF-8: malformed bytes are replaced
    return true;
  }
  return useDetected(ahead, whole, error);
}

// Valid multi-byte sequences in the first MiB are UTF-8 beyond doubt: the
// bytes above 0x7F of other encodings almost never form them. The rest is
// then checked as it is read. Plain ASCII says nothing: a regular file is
// read to its end first (and back), anything else cannot be.
bool ScriptInput::checkUtf8(std::string_view ahead, bool whole, Utf8Verdict* verdict,
                            std::string* error) {
  const auto holdsEscape = [](std::string_view bytes) {
    return std::memchr(bytes.data(), '\x1B', bytes.size()) != nullptr;
  };
  Utf8Check check;
  check.feed(ahead);
  verdict->escapes = holdsEscape(ahead);
  const bool readOn = !check.malformed() && isAscii(ahead) && worthReadingTwice(ahead, whole);
  if (readOn && !readRest(
                    [&](std::string_view piece) {
                      check.feed(piece);
                      verdict->escapes = verdict->escapes || holdsEscape(piece);
                    },
                    ahead.size(), error)) {
    return false;
  }
  // Checked to its end, or its first MiB only, which may end inside a
  // sequence where the input may not.
  verdict->checkedWhole = whole || readOn;
  verdict->valid = verdict->checkedWhole ? check.valid() : !check.malformed();
  return true;
}

// Seven-bit text that switches character sets by escape sequences
// (ISO-2022-JP, -KR, -CN) is valid UTF-8 too: its escapes give it away.
bool ScriptInput::useValidUtf8(std::string_view ahead, bool whole,
                               const std::optional<Encoding>& mark, const Utf8Verdict& utf8,
                               bool* asIs, std::string* error) {
  if (!mark && utf8.escapes) {
    std::string detected;
    if (!detect(ahead, whole, &detected, nullptr, error)) return false;
    std::string trouble;
    if (ssa::startsWith(detected, "ISO-2022-") && canConvertFrom(detected, &trouble)) {
      encoding_ = Encoding{detected, Encoding::Basis::Detected, 0, {}};
      worthTelling_ = true;
      return true;
    }
    if (!trouble.empty()) return cannotConvert(detected, trouble, error);
  }
  if (mark) {
    encoding_ = *mark;
  } else {
    encoding_ =
        Encoding{"UTF-8",
                 utf8.checkedWhole ? Encoding::Basis::ValidUtf8 : Encoding::Basis::ValidFirstMiB,
                 0,
                 {}};
  }
  *asIs = utf8.checkedWhole;
  return true;
}

bool ScriptInput::useDetected(std::string_view ahead, bool whole, std::string* error) {
  std::string detected;
  std::string used;
  if (!detect(ahead, whole, &detected, &used, error)) return false;
  worthTelling_ = true;
  if (detected.empty()) {
    encoding_ = Encoding{"UTF-8", Encoding::Basis::Fallback, 0, {}};
    return true;
  }
  // Every set the detector names converts (the decoding fuzz target holds
  // it): one that does not open now is no reason to read it as UTF-8.
  std::string trouble;
  if (!canConvertFrom(used, &trouble)) return cannotConvert(used, trouble, error);
  encoding_ = Encoding{used, Encoding::Basis::Detected, 0, used == detected ? "" : detected};
  return true;
}

bool ScriptInput::cannotConvert(const std::string& encoding, const std::string& trouble,
                                std::string* error) const {
  *error = name_ + ": " + noConverter(encoding, trouble);
  return false;
}

bool ScriptInput::worthReadingTwice(std::string_view ahead, bool whole) const {
  // A file that is not text is judged by its first MiB, and refused by the
  // header reader soon after, not read whole first.
  return !whole && regularFile_ && holdsFewControlBytes(ahead);
}

bool ScriptInput::startReadsAsText() {
  if (!startReadsAsText_) {
    std::unique_ptr<char[]> bytes(new char[kReadAhead]);
    const ssize_t n = ::pread(fd_, bytes.get(), kReadAhead, static_cast<off_t>(origin_));
    // A start that cannot be read again is not held against the script.
    startReadsAsText_ =
        n <= 0 || readsAsText(std::string_view(bytes.get(), static_cast<std::size_t>(n)));
  }
  return *startReadsAsText_;
}

bool ScriptInput::detect(std::string_view ahead, bool whole, std::string* detected,
                         std::string* used, std::string* error) {
  CharsetDetector detector;
  detector.feed(ahead);
  if (worthReadingTwice(ahead, whole) &&
      !readRest([&detector](std::string_view piece) { detector.feed(piece); }, ahead.size(),
                error)) {
    return false;
  }
  *detected = detector.finish();
  if (used != nullptr)
    *used = readAsDetected(*detected, detector.fewWindows1252(), detector.holdsC1());
  return true;
}

std::uint64_t ScriptInput::firstReplacedLine() const {
  if (decoding_ == nullptr || decoding_->replaced() == 0) return 0;
  if (decoding_->firstLine() != 0) return decoding_->firstLine();
  // UTF-8 passed straight through up to it: the file's own line ends count.
  if (!regularFile_) return 0;
  std::vector<char> piece(kPiece);
  LineEnds ends;
  for (std::uint64_t at = 0; at < decoding_->firstOffset();) {
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(piece.size(), decoding_->firstOffset() - at));
    const ssize_t n = ::pread(fd_, piece.data(), want, static_cast<off_t>(origin_ + at));
    if (n <= 0) return 0;
    ends.count(std::string_view(piece.data(), static_cast<std::size_t>(n)));
    at += static_cast<std::uint64_t>(n);
  }
  return ends.lines + 1;
}

std::vector<std::string> ScriptInput::notices() const {
  std::vector<std::string> lines;
  if (!setAside_.empty()) {
    lines.push_back(name_ + ": read as " + encoding_.name +
                    ", as its byte-order mark says, not as " + setAside_);
  } else if (seemsUtf8_) {
    const std::string asked = encoding_.named.empty() ? "" : " (given as " + encoding_.named + ")";
    lines.push_back("warning: " + name_ + ": read as " + encoding_.name + asked +
                    " as asked, though it reads as UTF-8 (--encoding auto would read it so)");
  } else if (worthTelling_) {
    const std::string read =
        name_ + ": read as " + encoding_.name + " (" + howDecided(encoding_) + ")";
    // A mark decides whatever --encoding says, and a name given was chosen.
    const bool chosen =
        encoding_.basis == Encoding::Basis::Mark || encoding_.basis == Encoding::Basis::Given;
    lines.push_back(chosen ? read : read + "; give --encoding NAME to read it otherwise");
  }
  if (!backslashAs_.empty()) {
    lines.push_back("warning: " + name_ + ": " + encoding_.name + " reads the backslash as " +
                    backslashAs_ + ": override codes and line breaks are lost");
  }
  return lines;
}

}  // namespace cli
