#include "cli/writers.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <optional>

#include "cli/cue_preparer.h"
#include "cli/cue_time.h"
#include "cli/decimal.h"
#include "cli/json.h"
#include "cli/vtt_writer.h"
#include "hostkit/descriptor_wait.h"
#include "script/text_buffer.h"

namespace cli {
namespace {

template <typename Out>
void appendNumber(Out* out, std::uint64_t value) {
  char text[20];
  out->append(std::string_view(text, static_cast<std::size_t>(putNumber(text, value) - text)));
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
  SrtWriter(std::FILE* out, std::int64_t shift) : GatheringWriter(out), preparer_(shift) {}

 private:
  bool leavesOutDrawings() const override { return true; }

  void append(const Cue& cue, ssa::TextBuffer* out) override {
    const std::optional<CueTimes> times = preparer_.times(cue, &counts_);
    if (!times) return;
    // The number, the two times, the arrow and two line ends.
    constexpr std::size_t kHead = 96;
    const std::size_t before = out->size();
    char* const head = out->reserve(before, kHead) + before;
    char* p = putNumber(head, counts_.written + 1);
    *p++ = '\n';
    p = putTime(p, times->start, times->startDigits);
    p = std::copy(kCueArrow.begin(), kCueArrow.end(), p);
    p = putTime(p, times->end, times->endDigits);
    *p++ = '\n';
    out->resize(before + static_cast<std::size_t>(p - head));
    if (!preparer_.appendText(cue, *times, before, out, &counts_)) return;
    out->append("\n\n");
    ++counts_.written;
  }

  static char* putTime(char* p, std::uint64_t milliseconds, const char* digits) {
    return digits != nullptr ? putCueTimeDigits(p, digits) : putCueTime(p, milliseconds);
  }

  CuePreparer<EndRule::NotBeforeStart> preparer_;
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
  std::string_view pending = pending_.view();
  const int fd = ::fileno(out_);
  if (fd < 0) {  // a stream in memory
    if (error_ == 0 && std::fwrite(pending.data(), 1, pending.size(), out_) != pending.size()) {
      error_ = errno != 0 ? errno : EIO;
    }
    pending = {};
  }
  if (!pending.empty() && error_ == 0) {
    iovec whole{const_cast<char*>(pending.data()), pending.size()};
    error_ = hostkit::writeWhole(fd, &whole, 1);
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

}  // namespace cli
