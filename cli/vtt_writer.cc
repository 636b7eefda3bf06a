#include "cli/vtt_writer.h"

#include <algorithm>
#include <string>
#include <vector>

#include "cli/balance.h"
#include "cli/cue_time.h"
#include "cli/vtt_classes.h"
#include "script/text_buffer.h"

namespace cli {
namespace {

class VttWriter final : public CueWriter {
 public:
  VttWriter(std::FILE* out, std::int64_t shift, bool style)
      : output_(out), shift_(shift), style_(style) {}

  bool leavesOutDrawings() const override { return true; }

  void write(const Cue& cue) override {
    if (cue.drawing) {
      counts_.addDrawing(cue.line);
      return;
    }
    TimeCounts times;
    const std::uint64_t start = cueTime(cue.start, shift_, &times);
    std::uint64_t end = cueTime(cue.end, shift_, &times);
    const std::size_t offset = text_.size();
    if (!cueText_.append(&text_, cue.markup, &counts_.balance)) {
      counts_.addWithoutText(cue.line);
      return;
    }
    // A cue must end after it starts: the shortest that does. Counted, as
    // in SubRip, only for cues that are written.
    if (end <= start) {
      end = start + 1;
      ++counts_.endsRaised;
    }
    cues_.push_back(Entry{start, end, offset, text_.size() - offset});
    counts_.addTimes(times, cue.line);
  }

  void finish() override {
    if (done_) return;
    done_ = true;
    ssa::TextBuffer& pending = output_.pending();
    pending.append("WEBVTT\n\n");
    const std::string styles = style_ ? classes_.styleBlock() : std::string();
    if (!styles.empty()) {
      pending.append(styles);
      pending.push('\n');
    }
    std::stable_sort(cues_.begin(), cues_.end(),
                     [](const Entry& a, const Entry& b) { return a.start < b.start; });
    for (const Entry& cue : cues_) {
      pending.append(vttTime(cue.start));
      pending.append(kCueArrow);
      pending.append(vttTime(cue.end));
      pending.push('\n');
      pending.append(text_.view().substr(cue.offset, cue.length));
      pending.append("\n\n");
      ++counts_.written;
      output_.writeIfFull();
    }
    output_.write();
  }

  const WriterCounts& counts() const override { return counts_; }
  int writeError() const override { return output_.error(); }

 private:
  struct Entry {
    std::uint64_t start;
    std::uint64_t end;
    std::size_t offset;  // its cue text in text_
    std::size_t length;
  };

  ChunkedOutput output_;
  const std::int64_t shift_;
  const bool style_;
  VttClasses classes_;
  CueTextMaker cueText_{&classes_};
  ssa::TextBuffer text_;  // every cue's text, one after the other
  std::vector<Entry> cues_;
  WriterCounts counts_;
  bool done_ = false;
};

}  // namespace

std::unique_ptr<CueWriter> makeVttWriter(std::FILE* out, std::int64_t shift, bool style) {
  return std::make_unique<VttWriter>(out, shift, style);
}

}  // namespace cli
