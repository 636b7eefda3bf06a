// subrite-host's writers on any cues: whatever markup and times arrive,
// SubRip, WebVTT and JSON lines must pass the strict readers of the tests,
// and the short cuts of the cue text and of the time reading must give what
// their general ways give.
//
// The input is a shift selector byte, then cues separated by 0xFF (a byte
// no UTF-8 holds), each "START,END,MARKUP"; a missing part is empty.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/balance.h"
#include "cli/cue_time.h"
#include "cli/vtt_classes.h"
#include "cli/writers.h"
#include "fuzz/checks.h"
#include "script/text_buffer.h"
#include "tests/cli/json_check.h"
#include "tests/cli/srt_check.h"
#include "tests/cli/vtt_check.h"

namespace {

using fuzzing::expect;

constexpr std::int64_t kShifts[] = {0, 1, -1, 2500, -2500, 3600000, -86400000};

struct CueParts {
  std::string_view start, end, markup;
};

std::vector<CueParts> readCues(std::string_view input) {
  std::vector<CueParts> cues;
  while (!input.empty()) {
    const std::size_t stop = input.find('\xFF');
    std::string_view piece = input.substr(0, stop);
    input = stop == std::string_view::npos ? std::string_view() : input.substr(stop + 1);
    CueParts cue;
    const std::size_t first = piece.find(',');
    cue.start = piece.substr(0, first);
    if (first != std::string_view::npos) {
      piece.remove_prefix(first + 1);
      const std::size_t second = piece.find(',');
      cue.end = piece.substr(0, second);
      if (second != std::string_view::npos) cue.markup = piece.substr(second + 1);
    }
    cues.push_back(cue);
  }
  return cues;
}

// Everything one writer makes of the cues.
struct Written {
  std::string text;
  cli::WriterCounts counts;
};

Written write(cli::OutputForm form, const std::vector<CueParts>& parts, std::int64_t shift) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = ::open_memstream(&buffer, &size);
  expect(stream != nullptr, "open_memstream failed");
  Written written;
  {
    const std::unique_ptr<cli::CueWriter> writer = cli::makeWriter(form, stream, shift);
    std::uint64_t number = 0;
    for (const CueParts& part : parts) {
      ++number;
      writer->write(cli::Cue{number, number, part.start, part.end, "Default", part.markup});
    }
    writer->finish();
    expect(writer->writeError() == 0, "a write to memory failed");
    written.counts = writer->counts();
  }
  std::fclose(stream);
  written.text.assign(buffer, size);
  std::free(buffer);
  return written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::int64_t shift = kShifts[data[0] % (sizeof kShifts / sizeof kShifts[0])];
  const std::vector<CueParts> cues =
      readCues(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

  // The module keeps UTF-8 as it is, and subrite-host hands it nothing else;
  // a carriage return ends the script's line it would be in.
  bool asHanded = true;
  for (const CueParts& cue : cues) {
    asHanded = asHanded && cli_test::isValidUtf8(cue.start) && cli_test::isValidUtf8(cue.end) &&
               cli_test::isValidUtf8(cue.markup) && cue.markup.find('\r') == std::string_view::npos;
  }

  for (const CueParts& cue : cues) {
    // The reading of the usual time form by position is a short cut too.
    for (const std::string_view time : {cue.start, cue.end}) {
      expect(cli::parseScriptTime(time) == cli::parseScriptTimeByParts(time),
             "the two readings of a time differ", time);
    }
    for (const bool vtt : {false, true}) {
      cli::VttClasses classes;
      cli::CueTextMaker quick(vtt ? &classes : nullptr);
      cli::CueTextMaker general(vtt ? &classes : nullptr);
      general.useGeneralWalkOnly();
      ssa::TextBuffer quickText;
      ssa::TextBuffer generalText;
      cli::BalanceCounts quickCounts;
      cli::BalanceCounts generalCounts;
      const bool hasText = quick.append(&quickText, cue.markup, &quickCounts);
      expect(general.append(&generalText, cue.markup, &generalCounts) == hasText &&
                 quickText.view() == generalText.view(),
             "the short cuts and the general walk differ", cue.markup);
      if (!vtt) {
        const std::string problem = cli_test::tagProblem(quickText.view());
        expect(problem.empty(), "unbalanced cue text", problem + "\n" + std::string(cue.markup));
      }
    }
  }

  const Written srt = write(cli::OutputForm::Srt, cues, shift);
  const Written vtt = write(cli::OutputForm::Vtt, cues, shift);
  const Written jsonl = write(cli::OutputForm::Jsonl, cues, shift);
  write(cli::OutputForm::Markup, cues, shift);

  // JSON lines take any bytes: each line is JSON, and gives back the markup
  // when it was UTF-8.
  expect(jsonl.counts.written == cues.size(), "JSON lines lost a cue");
  std::string_view lines = jsonl.text;
  for (std::size_t i = 0; i < cues.size(); ++i) {
    const std::size_t end = lines.find('\n');
    expect(end != std::string_view::npos, "a JSON line is missing", jsonl.text);
    const cli_test::JsonObject object = cli_test::readJsonObject(lines.substr(0, end));
    expect(object.valid, "a JSON line the strict reader refuses",
           object.error + "\n" + std::string(lines.substr(0, end)));
    expect(object.numbers.at("index") == std::to_string(i + 1), "a JSON line's index is wrong");
    expect(!cli_test::isValidUtf8(cues[i].markup) || object.strings.at("markup") == cues[i].markup,
           "a JSON line does not give back its markup", cues[i].markup);
    lines.remove_prefix(end + 1);
  }
  expect(lines.empty(), "more JSON lines than cues", jsonl.text);
  if (asHanded) {
    const cli_test::SrtVerdict srtVerdict = cli_test::checkSrt(srt.text);
    expect(srtVerdict.valid, "SubRip the strict reader refuses",
           srtVerdict.error + "\n" + srt.text);
    expect(srtVerdict.cues == srt.counts.written, "SubRip cues miscounted");
    const cli_test::VttVerdict vttVerdict = cli_test::checkVtt(vtt.text);
    expect(vttVerdict.valid, "WebVTT the strict reader refuses",
           vttVerdict.error + "\n" + vtt.text);
    expect(vttVerdict.cues == vtt.counts.written, "WebVTT cues miscounted");
  }
  expect(srt.counts.written + srt.counts.withoutText == cues.size(), "SubRip lost a cue");
  expect(vtt.counts.written + vtt.counts.withoutText == cues.size(), "WebVTT lost a cue");
  return 0;
}
