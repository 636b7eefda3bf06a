#include "cli/vtt_writer.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "cli/balance.h"
#include "script/text_buffer.h"

namespace cli {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

class VttWriter final : public CueWriter {
 public:
  VttWriter(std::FILE* out, std::int64_t shift) : out_(out), shift_(shift) {}
  ~VttWriter() override { VttWriter::finish(); }

  void write(const Cue& cue) override {
    const std::uint64_t start = cueTime(cue.start, shift_, &counts_);
    std::uint64_t end = cueTime(cue.end, shift_, &counts_);
    const std::size_t offset = text_.size();
    if (!cueText_.append(&text_, cue.markup, &counts_.balance)) {
      ++counts_.withoutText;
      return;
    }
    // A cue must end after it starts: the shortest that does. Counted, as
    // in SubRip, only for cues that are written.
    if (end <= start) {
      end = start + 1;
      ++counts_.endsRaised;
    }
    cues_.push_back(Entry{start, end, offset, text_.size() - offset});
  }

  void finish() override {
    if (done_) return;
    done_ = true;
    std::string pending = "WEBVTT\n\n";
    const std::string styles = classes_.styleBlock();
    if (!styles.empty()) pending += styles + "\n";
    std::stable_sort(cues_.begin(), cues_.end(),
                     [](const Entry& a, const Entry& b) { return a.start < b.start; });
    for (const Entry& cue : cues_) {
      pending += vttTime(cue.start);
      pending += " --> ";
      pending += vttTime(cue.end);
      pending += '\n';
      pending.append(text_.view().substr(cue.offset, cue.length));
      pending += "\n\n";
      ++counts_.written;
      if (pending.size() >= kChunk) put(&pending);
    }
    put(&pending);
    std::fflush(out_);
  }

  const WriterCounts& counts() const override { return counts_; }
  int writeError() const override { return error_; }

 private:
  struct Entry {
    std::uint64_t start;
    std::uint64_t end;
    std::size_t offset;  // its cue text in text_
    std::size_t length;
  };

  void put(std::string* bytes) {
    if (!bytes->empty() && error_ == 0 &&
        std::fwrite(bytes->data(), 1, bytes->size(), out_) != bytes->size()) {
      error_ = errno != 0 ? errno : EIO;
    }
    bytes->clear();
  }

  std::FILE* out_;
  const std::int64_t shift_;
  VttClasses classes_;
  CueTextMaker cueText_{&classes_};
  ssa::TextBuffer text_;  // every cue's text, one after the other
  std::vector<Entry> cues_;
  WriterCounts counts_;
  int error_ = 0;
  bool done_ = false;
};

}  // namespace

std::unique_ptr<CueWriter> makeVttWriter(std::FILE* out, std::int64_t shift) {
  return std::make_unique<VttWriter>(out, shift);
}

}  // namespace cli
