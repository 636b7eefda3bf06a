// What SubRip and WebVTT do alike with a cue before writing it: a drawing
// is left out, both times are read and moved, the cue text is made and an
// end that comes too soon is raised, each counted in the writer's tally.
// Only the rule for the end differs between the two. Inline: it runs for
// every cue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "cli/balance.h"
#include "cli/cue_time.h"
#include "cli/writers.h"
#include "script/text_buffer.h"

namespace cli {

// How an end that comes too soon is raised.
enum class EndRule {
  NotBeforeStart,  // SubRip: an end before the start becomes the start
  AfterStart,      // WebVTT: one not after it, a millisecond after it
};

// A cue's times, moved and with its end raised.
struct CueTimes {
  std::uint64_t start = 0;
  std::uint64_t end = 0;  // raised by the rule
  // The script's text of each, when the cue time repeats its digits (see
  // cueTime); else null.
  const char* startDigits = nullptr;
  const char* endDigits = nullptr;
  bool endRaised = false;
  TimeCounts counts;  // counted once the cue is written
};

// A template, so that nothing is tested for the rule per cue.
template <EndRule kRule>
class CuePreparer {
 public:
  // With `classes`, the cue text is WebVTT's (CueTextMaker).
  explicit CuePreparer(std::int64_t shift, VttClasses* classes = nullptr)
      : shift_(shift), cueText_(classes) {}

  // The cue's times; nothing for a drawing, which is counted. A time that
  // cannot be read stands at 0 rather than dropping the cue.
  std::optional<CueTimes> times(const Cue& cue, WriterCounts* counts) const {
    if (cue.drawing) {
      counts->addDrawing(cue.line);
      return std::nullopt;
    }
    CueTimes times;
    times.start = cueTime(cue.start, shift_, &times.counts, &times.startDigits);
    times.end = cueTime(cue.end, shift_, &times.counts, &times.endDigits);
    if constexpr (kRule == EndRule::NotBeforeStart) {
      times.endRaised = times.end < times.start;
      if (times.endRaised) {
        times.end = times.start;
        times.endDigits = times.startDigits;
      }
    } else {
      // The shortest cue that ends after it starts.
      times.endRaised = times.end <= times.start;
      if (times.endRaised) {
        times.end = times.start + 1;
        times.endDigits = nullptr;
      }
    }
    return times;
  }

  // Appends the cue text of `cue` to *out and counts the cue's raised end
  // and times, as those of a cue written. When it has no text, *out is taken
  // back to `from`, the cue is counted as without text and the answer is
  // false.
  bool appendText(const Cue& cue, const CueTimes& times, std::size_t from, ssa::TextBuffer* out,
                  WriterCounts* counts) {
    if (!cueText_.append(out, cue.markup, &counts->balance)) {
      out->resize(from);
      counts->addWithoutText(cue.line);
      return false;
    }
    if (times.endRaised) ++counts->endsRaised;
    counts->addTimes(times.counts, cue.line);
    return true;
  }

 private:
  const std::int64_t shift_;
  CueTextMaker cueText_;
};

}  // namespace cli
