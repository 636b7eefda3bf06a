#include "cli/writers.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "cli/utf8.h"
#include "cli/vtt_writer.h"
#include "script/text.h"
#include "script/text_buffer.h"

namespace cli {
namespace {

// "00" to "99": two digits at once.
constexpr std::array<char, 200> digitPairs() {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}
constexpr std::array<char, 200> kDigitPairs = digitPairs();

// Two digits of `value` (below 100), a leading zero included.
char* putTwoDigits(char* p, unsigned value) {
  std::memcpy(p, &kDigitPairs[2 * value], 2);
  return p + 2;
}

// 1, 10, 100, ... 10^19.
constexpr std::array<std::uint64_t, 20> powersOfTen() {
  std::array<std::uint64_t, 20> powers{};
  std::uint64_t power = 1;
  for (auto& entry : powers) {
    entry = power;
    power *= 10;
  }
  return powers;
}
constexpr std::array<std::uint64_t, 20> kPowersOfTen = powersOfTen();

// The decimal digits of `value`, without dividing: its bit length times
// log10(2) (1233 / 4096) is the number of digits or one more, which one
// comparison settles. 0 is taken for 1, which has as many.
int digitCount(std::uint64_t value) {
  const std::uint64_t nonZero =
      value | 1;  // as many digits, since every power of ten past 1 is even
  const int estimate = ((64 - __builtin_clzll(nonZero)) * 1233) >> 12;  // at most 19
  return estimate + 1 - (nonZero < kPowersOfTen[static_cast<std::size_t>(estimate)] ? 1 : 0);
}

// Writes `value` in decimal at `p`; answers the end. Pieces of a cue are
// written through a pointer into room reserved for them, which costs far
// less than formatted output or appends; the digits go two at a time, from
// the last, once their number is known.
char* putNumber(char* p, std::uint64_t value) {
  char* const end = p + digitCount(value);
  char* q = end;
  for (; value >= 100; value /= 100) {
    q -= 2;
    std::memcpy(q, &kDigitPairs[2 * (value % 100)], 2);
  }
  if (value >= 10) {
    std::memcpy(q - 2, &kDigitPairs[2 * value], 2);
  } else {
    q[-1] = static_cast<char>('0' + value);
  }
  return end;
}

template <typename Out>
void appendNumber(Out* out, std::uint64_t value) {
  char text[20];
  out->append(std::string_view(text, static_cast<std::size_t>(putNumber(text, value) - text)));
}

// "hh:mm:ss,mmm" (or "." for `separator`), at most 30 bytes (up to 20
// digits of hours). Below the hour the arithmetic is 32-bit, which is cheaper.
char* putCueTime(char* p, std::uint64_t milliseconds, char separator = ',') {
  const std::uint64_t hours = milliseconds / 3600000;
  const auto rest = static_cast<unsigned>(milliseconds % 3600000);
  p = hours < 100 ? putTwoDigits(p, static_cast<unsigned>(hours)) : putNumber(p, hours);
  *p++ = ':';
  p = putTwoDigits(p, rest / 60000);
  *p++ = ':';
  p = putTwoDigits(p, rest / 1000 % 60);
  *p++ = separator;
  *p++ = static_cast<char>('0' + rest % 1000 / 100);
  return putTwoDigits(p, rest % 100);
}

// Where a piece of at most `most` bytes (at least 4) of `bytes` may end so
// that it is escaped as it would be within the whole: before the lead byte
// of the sequence the limit falls in. After four continuation bytes in a
// row the limit cuts no sequence: a sequence is at most four bytes long.
std::size_t pieceEnd(std::string_view bytes, std::size_t most) {
  if (bytes.size() <= most) return bytes.size();
  const auto continues = [bytes](std::size_t at) {
    return (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80;
  };
  for (std::size_t lead = most; lead + 3 >= most; --lead) {
    if (!continues(lead)) return lead;
  }
  return most;
}

// Gathers the writing of cues into large writes; the rest is at finish().
class GatheringWriter : public CueWriter {
 public:
  explicit GatheringWriter(std::FILE* out) : output_(out) {}

  void write(const Cue& cue) final {
    append(cue, &output_.pending());
    output_.writeIfFull();
  }

  void finish() final { output_.write(); }

  const WriterCounts& counts() const final { return counts_; }
  int writeError() const final { return output_.error(); }

 protected:
  // For a writer that never takes back what it appended: writes out the
  // part of a long cue appended so far.
  void writeIfFull() { output_.writeIfFull(); }

  WriterCounts counts_;

 private:
  // Appends the cue's form to *out; counts it when it is written.
  virtual void append(const Cue& cue, ssa::TextBuffer* out) = 0;

  ChunkedOutput output_;
};

// One block a cue: a heading line, the markup byte for byte, a blank line.
class MarkupWriter final : public GatheringWriter {
 public:
  using GatheringWriter::GatheringWriter;

 private:
  void append(const Cue& cue, ssa::TextBuffer* out) override {
    ++counts_.written;
    out->push('#');
    appendNumber(out, cue.number);
    out->append(" line ");
    appendNumber(out, cue.line);
    out->push(' ');
    out->append(cue.start);
    out->append(kCueArrow);
    out->append(cue.end);
    out->push(' ');
    out->append(cue.style);
    out->push('\n');
    out->append(cue.markup);
    out->append("\n\n");
  }
};

class SrtWriter final : public GatheringWriter {
 public:
  SrtWriter(std::FILE* out, std::int64_t shift) : GatheringWriter(out), shift_(shift) {}

 private:
  bool leavesOutDrawings() const override { return true; }

  void append(const Cue& cue, ssa::TextBuffer* out) override {
    if (cue.drawing) {
      counts_.addDrawing(cue.line);
      return;
    }
    // A time that cannot be read stands at 0 rather than dropping the cue.
    TimeCounts times;
    const std::uint64_t start = cueTime(cue.start, shift_, &times);
    std::uint64_t end = cueTime(cue.end, shift_, &times);
    const bool endRaised = end < start;
    if (endRaised) end = start;
    // The number, the two times, the arrow and two line ends.
    constexpr std::size_t kHead = 96;
    const std::size_t before = out->size();
    char* const head = out->reserve(before, kHead) + before;
    char* p = putNumber(head, counts_.written + 1);
    *p++ = '\n';
    p = putCueTime(p, start);
    p = std::copy(kCueArrow.begin(), kCueArrow.end(), p);
    p = putCueTime(p, end);
    *p++ = '\n';
    out->resize(before + static_cast<std::size_t>(p - head));
    if (!cueText_.append(out, cue.markup, &counts_.balance)) {
      out->resize(before);
      counts_.addWithoutText(cue.line);
      return;
    }
    out->append("\n\n");
    ++counts_.written;
    if (endRaised) ++counts_.endsRaised;
    counts_.addTimes(times, cue.line);
  }

  const std::int64_t shift_;
  CueTextMaker cueText_;
};

class JsonlWriter final : public GatheringWriter {
 public:
  JsonlWriter(std::FILE* out, std::int64_t shift) : GatheringWriter(out), shift_(shift) {}

 private:
  void append(const Cue& cue, ssa::TextBuffer* out) override {
    ++counts_.written;
    out->append("{\"index\":");
    appendNumber(out, cue.number);
    out->append(",\"line\":");
    appendNumber(out, cue.line);
    out->append(",\"start\":");
    appendTime(out, cue.start, cue.line);
    out->append(",\"end\":");
    appendTime(out, cue.end, cue.line);
    out->append(",\"style\":");
    appendJsonString(out, cue.style);
    out->append(",\"markup\":\"");
    // A long line goes out in pieces rather than held escaped whole (up to
    // six times its size).
    for (std::string_view rest = cue.markup; !rest.empty();) {
      const std::size_t cut = pieceEnd(rest, ChunkedOutput::kChunk);
      appendJsonEscaped(out, rest.substr(0, cut));
      rest.remove_prefix(cut);
      writeIfFull();
    }
    out->append("\"}\n");
  }

  // As the script writes it, less the tabs the field cut keeps beside it;
  // moved, when there is a shift and it can be read.
  void appendTime(ssa::TextBuffer* out, std::string_view time, std::uint64_t line) {
    time = trimSpacesAndTabs(time);
    if (shift_ == 0 || !parseScriptTime(time)) return appendJsonString(out, time);
    TimeCounts times;
    appendJsonString(out, scriptTime(cueTime(time, shift_, &times)));
    counts_.addTimes(times, line);
  }

  const std::int64_t shift_;
};

}  // namespace

const char* extensionOf(OutputForm form) {
  switch (form) {
    case OutputForm::Markup:
      return ".markup";
    case OutputForm::Srt:
      return ".srt";
    case OutputForm::Vtt:
      return ".vtt";
    case OutputForm::Jsonl:
      return ".jsonl";
  }
  return "";
}

void ChunkedOutput::write() {
  const std::string_view pending = pending_.view();
  if (!pending.empty() && error_ == 0 &&
      std::fwrite(pending.data(), 1, pending.size(), out_) != pending.size()) {
    error_ = errno != 0 ? errno : EIO;
  }
  pending_.clear();
}

std::unique_ptr<CueWriter> makeWriter(OutputForm form, std::FILE* out, std::int64_t shift,
                                      bool vttStyle) {
  switch (form) {
    case OutputForm::Markup:
      return std::make_unique<MarkupWriter>(out);
    case OutputForm::Srt:
      return std::make_unique<SrtWriter>(out, shift);
    case OutputForm::Vtt:
      return makeVttWriter(out, shift, vttStyle);
    case OutputForm::Jsonl:
      return std::make_unique<JsonlWriter>(out, shift);
  }
  return nullptr;
}

std::uint64_t cueTime(std::string_view text, std::int64_t shift, TimeCounts* counts) {
  const std::optional<std::uint64_t> read = parseScriptTime(text);
  if (!read) ++counts->unreadable;
  const std::uint64_t time = read.value_or(0);
  if (shift >= 0) return time + static_cast<std::uint64_t>(shift);
  const auto back = static_cast<std::uint64_t>(-shift);
  if (time >= back) return time - back;
  ++counts->clamped;
  return 0;
}

std::optional<std::uint64_t> parseScriptTime(std::string_view text) {
  // Nearly every script writes its times as H:MM:SS.cc: those are read by
  // position, the eight bytes "MM:SS.cc" as one word, a tenth of the general
  // reading's work.
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte 0 of the word is text[2]");
  if (text.size() == 10 && text[1] == ':') {
    const unsigned hours = static_cast<unsigned char>(text[0]) - unsigned{'0'};  // wraps when below
    std::uint64_t word;
    std::memcpy(&word, text.data() + 2, sizeof word);
    constexpr std::uint64_t kDigits = 0xFFFF00FFFF00FFFFu;       // bytes 0, 1, 3, 4, 6 and 7
    constexpr std::uint64_t kPunctuation = 0x00002E00003A0000u;  // ':' at 2, '.' at 5
    constexpr std::uint64_t kHighNibbles = 0xF0F000F0F000F0F0u & kDigits;
    constexpr std::uint64_t kThrees = 0x3030003030003030u;  // what a digit's high nibble is
    constexpr std::uint64_t kSixes = 0x0606000606000606u;   // pushes 0x3A-0x3F out of 0x3_
    // Once every digit byte is 0x30-0x3F, adding 6 carries into no other byte.
    if (hours <= 9 && (word & ~kDigits) == kPunctuation && (word & kHighNibbles) == kThrees &&
        ((word + kSixes) & kHighNibbles) == kThrees) {
      const std::uint64_t values = word & (kDigits & 0x0F0F0F0F0F0F0F0Fu);
      // Byte 0 becomes ten times the minutes' first digit plus the second,
      // byte 3 the seconds' and byte 6 the hundredths'; no byte passes 99.
      const std::uint64_t pairs = values * 10 + (values >> 8);
      const auto minutes = static_cast<unsigned>(pairs & 0xFF);
      const auto seconds = static_cast<unsigned>((pairs >> 24) & 0xFF);
      const auto hundredths = static_cast<unsigned>((pairs >> 48) & 0xFF);
      return std::uint64_t{(hours * 60 + minutes) * 60 + seconds} * 1000 + hundredths * 10;
    }
  }
  return parseScriptTimeByParts(text);
}

std::string_view trimSpacesAndTabs(std::string_view text) {
  while (!text.empty() && ssa::isSpaceOrTab(text.front())) text.remove_prefix(1);
  while (!text.empty() && ssa::isSpaceOrTab(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<std::uint64_t> parseScriptTimeByParts(std::string_view text) {
  text = trimSpacesAndTabs(text);
  const char* p = text.data();
  const char* const end = p + text.size();
  std::uint64_t seconds = 0;
  // Hours, minutes and seconds, apart by ':', of 1 to 9 digits each (more
  // could overflow and mean nothing as a time).
  for (int part = 0; part < 3; ++part) {
    if (part > 0 && (p == end || *p++ != ':')) return std::nullopt;
    const char* const first = p;
    std::uint64_t value = 0;
    for (; p != end && ssa::isDigit(*p); ++p)
      value = value * 10 + static_cast<std::uint64_t>(*p - '0');
    if (p == first || p - first > 9) return std::nullopt;
    seconds = seconds * 60 + value;
  }
  std::uint64_t milliseconds = 0;
  if (p != end && *p == '.') {
    ++p;
    for (std::uint64_t scale = 100; p != end && ssa::isDigit(*p); ++p, scale /= 10) {
      milliseconds += scale * static_cast<std::uint64_t>(*p - '0');
    }
  }
  if (p != end) return std::nullopt;
  return seconds * 1000 + milliseconds;
}

std::string srtTime(std::uint64_t milliseconds) {
  char text[32];
  return std::string(text, putCueTime(text, milliseconds));
}

std::string vttTime(std::uint64_t milliseconds) {
  char text[32];
  return std::string(text, putCueTime(text, milliseconds, '.'));
}

std::string scriptTime(std::uint64_t milliseconds) {
  char text[40];
  char* p = putNumber(text, milliseconds / 3600000);
  const auto rest = static_cast<unsigned>(milliseconds % 3600000);
  *p++ = ':';
  p = putTwoDigits(p, rest / 60000);
  *p++ = ':';
  p = putTwoDigits(p, rest / 1000 % 60);
  *p++ = '.';
  if (rest % 10 == 0) {
    p = putTwoDigits(p, rest % 1000 / 10);
  } else {
    *p++ = static_cast<char>('0' + rest % 1000 / 100);
    p = putTwoDigits(p, rest % 100);
  }
  return std::string(text, p);
}

void appendJsonString(ssa::TextBuffer* out, std::string_view bytes) {
  out->push('"');
  appendJsonEscaped(out, bytes);
  out->push('"');
}

void appendJsonEscaped(ssa::TextBuffer* out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  while (!bytes.empty()) {
    // Printable ASCII other than quote and backslash goes as it is, a run at a time.
    std::size_t plain = 0;
    while (plain < bytes.size() && bytes[plain] >= 0x20 && bytes[plain] < 0x7F &&
           bytes[plain] != '"' && bytes[plain] != '\\') {
      ++plain;
    }
    out->append(bytes.substr(0, plain));
    bytes.remove_prefix(plain);
    if (bytes.empty()) break;
    const unsigned char c = static_cast<unsigned char>(bytes.front());
    const int length = utf8Sequence(bytes);
    if (length <= 0) {
      out->append("\\ufffd");
      bytes.remove_prefix(length == 0 ? bytes.size() : static_cast<std::size_t>(-length));
      continue;
    }
    const std::string_view sequence = bytes.substr(0, static_cast<std::size_t>(length));
    bytes.remove_prefix(static_cast<std::size_t>(length));
    if (sequence == "\xE2\x80\xA8" || sequence == "\xE2\x80\xA9") {
      // Valid JSON, but not valid inside a JavaScript string literal.
      out->append(sequence == "\xE2\x80\xA8" ? "\\u2028" : "\\u2029");
    } else if (length > 1) {
      out->append(sequence);
    } else if (c == '"' || c == '\\') {
      out->push('\\');
      out->push(static_cast<char>(c));
    } else if (c == '\n') {
      out->append("\\n");
    } else if (c == '\r') {
      out->append("\\r");
    } else if (c == '\t') {
      out->append("\\t");
    } else if (c < 0x20 || c == 0x7F) {
      out->append("\\u00");
      out->push(kHex[c >> 4]);
      out->push(kHex[c & 0xF]);
    } else {
      out->push(static_cast<char>(c));
    }
  }
}

}  // namespace cli
