#include "cli/vtt_writer.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "cli/cue_preparer.h"
#include "cli/cue_time.h"
#include "cli/vtt_classes.h"
#include "script/text_buffer.h"

namespace cli {
namespace {

class VttWriter final : public CueWriter {
 public:
  VttWriter(std::FILE* out, std::int64_t shift, bool style)
      : output_(out), style_(style), preparer_(shift, &classes_) {}

  bool leavesOutDrawings() const override { return true; }

  void write(const Cue& cue) override {
    const std::optional<CueTimes> times = preparer_.times(cue, &counts_);
    if (!times) return;
    const std::size_t offset = text_.size();
    if (!preparer_.appendText(cue, *times, offset, &text_, &counts_)) return;
    cues_.push_back(Entry{times->start, times->end, offset, text_.size() - offset});
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
  const bool style_;
  VttClasses classes_;
  CuePreparer<EndRule::AfterStart> preparer_;
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
