// The module's benchmarks: the line conversion on its own, the whole sample
// path through the plug-in interfaces, the host's share of that path, the
// header parse, and the growth of one line's time with its length.
//
//   subrite_bench [--script=FILE] [benchmark flags]
//
// FILE is a generated script whose dialogue lines make the mixed set; without
// it the set comes from the built-in generator.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "bench/heap.h"
#include "bench/pipeline.h"
#include "bench/pool.h"
#include "bench/scripts.h"
#include "script/dialogue.h"
#include "script/header.h"
#include "script/scan.h"

namespace bench {
namespace {

constexpr std::size_t kPrefix = ssa::kDialoguePrefix.size();

// The two tables a header leaves, as the component builds them.
struct Tables {
  explicit Tables(std::string_view header) {
    ssa::assignDefaultColumns(columns);
    ssa::readScriptHeader(header, columns, styles);
  }
  ssa::EventColumns columns;
  ssa::StyleTable styles;
};

std::uint64_t totalBytes(const std::vector<std::string>& lines) {
  std::uint64_t bytes = 0;
  for (const std::string& line : lines) bytes += line.size();
  return bytes;
}

// Throughput and steady-state allocations of a loop over `lines`, one pass
// per iteration. The pass before the timed loop warms every scratch buffer.
template <typename Pass>
void measurePasses(benchmark::State& state, const std::vector<std::string>& lines, Pass pass) {
  pass();
  const std::uint64_t before = heapAllocations();
  for (auto _ : state) pass();
  const std::uint64_t allocations = heapAllocations() - before;
  const auto count = static_cast<std::int64_t>(lines.size());
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(totalBytes(lines)));
  state.counters["allocs/line"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations() * count);
}

// ssa::LineConverter::convert alone, on whole "Dialogue:" lines.
void convertLines(benchmark::State& state, const std::string& header,
                  const std::vector<std::string>& lines) {
  const Tables tables(header);
  ssa::EventColumns columns = tables.columns;
  ssa::LineConverter converter;
  measurePasses(state, lines, [&] {
    for (const std::string& line : lines) {
      const bool converted =
          converter.convert(std::string_view(line).substr(kPrefix), columns, tables.styles)
              .has_value();
      benchmark::DoNotOptimize(converted);
    }
  });
}

// MsgSample into the input port, through the component, to the output sample
// at the downstream peer. The input samples are filled once and resent.
void samplePath(benchmark::State& state, const std::string& header,
                const std::vector<std::string>& lines, std::uint64_t expectedOutputs) {
  SamplePool pool;
  CountingSink sink;
  {
    Pipeline pipeline(header, pool, sink);
    if (!pipeline.ok()) return state.SkipWithError("the module refused its set-up");
    const std::vector<PooledSample*> samples = pipeline.residentSamples(lines);
    measurePasses(state, lines, [&] {
      for (PooledSample* sample : samples) {
        const bool answer = pipeline.send(sample);
        benchmark::DoNotOptimize(answer);
      }
    });
  }
  const std::uint64_t passes = static_cast<std::uint64_t>(state.iterations()) + 1;
  if (sink.samples != passes * expectedOutputs) {
    state.SkipWithError("the peer got another number of output samples than expected");
  }
  const std::string problems = pool.problems();
  if (!problems.empty()) state.SkipWithError(problems.c_str());
}

// What the host does for the component on the path, without the component:
// the payload locks of the input (probe, prefix test, copy), its release,
// the output sample's allocation, lock and hand-off to the peer. `outputs`
// holds each line's output size, 0 for a line without output.
void hostOnly(benchmark::State& state, const std::vector<std::string>& lines,
              const std::vector<std::uint32_t>& outputs) {
  SamplePool pool;
  CountingSink sink;
  std::vector<FLM::MediaBuffer*> samples;
  for (const std::string& line : lines) samples.push_back(pool.resident(line));
  // Through the interfaces, as the component reaches them: the compiler is
  // not to know the objects behind them and call their code directly.
  FLM::SampleAllocator* allocator = &pool;
  FLM::PortInterface* peer = &sink;
  asm volatile("" : "+r"(allocator), "+r"(peer));
  measurePasses(state, lines, [&] {
    for (std::size_t i = 0; i < samples.size(); ++i) {
      FLM::MediaBuffer* input = samples[i];
      static_cast<PooledSample*>(input)->handOut();
      for (int access = 0; access < 3; ++access) {
        benchmark::DoNotOptimize(input->lockPayload());
        input->unlockPayload();
      }
      if (outputs[i] != 0) {
        FLM::MediaBuffer* output = allocator->allocate(outputs[i], 1, 1);
        benchmark::DoNotOptimize(output->lockPayload());
        output->unlockPayload();
        output->payloadSize = outputs[i];
        FLM::TypedValue value = hostkit::objectValue(output);
        benchmark::DoNotOptimize(peer->streamMessage(FLM::MsgSample, &value));
      }
      input->release();
    }
  });
  const std::string problems = pool.problems();
  if (!problems.empty()) state.SkipWithError(problems.c_str());
}

void headerParse(benchmark::State& state, std::size_t styles) {
  const std::string header = assHeader(styles);
  if (Tables(header).styles.size() != styles) {
    return state.SkipWithError("the header did not give one entry per style");
  }
  for (auto _ : state) {
    // Fresh tables each time, as a new component has; freeing them is counted too.
    ssa::EventColumns columns;
    ssa::StyleTable table;
    ssa::assignDefaultColumns(columns);
    const bool ok = ssa::readScriptHeader(header, columns, table);
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(header.size()));
  state.counters["styles/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(styles),
                         benchmark::Counter::kIsRate);
}

// Runs the mixed set through the module and through the converter alone and
// compares every output byte: a benchmark of a path that gives other output
// would measure the wrong thing. Also answers each line's output size.
bool checkPath(const EventSet& set, std::vector<std::uint32_t>& outputSizes) {
  SamplePool pool;
  CountingSink sink;
  Pipeline pipeline(set.header, pool, sink);
  if (!pipeline.ok()) {
    std::fprintf(stderr, "subrite_bench: the module refused its set-up\n");
    return false;
  }
  sink.keep = true;
  const Tables tables(set.header);
  ssa::EventColumns columns = tables.columns;
  ssa::LineConverter converter;
  outputSizes.clear();
  for (const std::string& line : set.dialogue) {
    const std::size_t before = sink.kept.size();
    pipeline.send(pool.resident(line));
    const std::optional<std::string_view> converted =
        converter.convert(std::string_view(line).substr(kPrefix), columns, tables.styles);
    const std::string markup = converted ? std::string(*converted) + '\0' : std::string();
    const bool sent = sink.kept.size() == before + 1;
    if (sent != converted.has_value() || (sent && sink.kept.back() != markup)) {
      std::fprintf(stderr, "subrite_bench: the module's output differs for: %s\n", line.c_str());
      return false;
    }
    outputSizes.push_back(sent ? static_cast<std::uint32_t>(markup.size()) : 0);
  }
  return true;
}

bool heapCountSeesModule() {
  const std::uint64_t before = heapAllocations();
  {
    SamplePool pool;
    CountingSink sink;
    Pipeline pipeline(assHeader(2), pool, sink);
  }
  return heapAllocations() > before;
}

std::vector<std::string> asCommentLines(const std::vector<std::string>& lines) {
  std::vector<std::string> comments;
  for (const std::string& line : lines) comments.push_back("Comment:" + line.substr(kPrefix));
  return comments;
}

// The growth lines: one line of `count` units of `unit`.
struct Growth {
  const char* name;
  std::string_view unit;
  std::size_t blocksPerUnit;  // 0: the sizes count bytes of plain text
  std::vector<std::size_t> sizes;
};

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  std::string script;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--script=", 9) == 0) {
      script = argv[i] + 9;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  static EventSet mixed;
  if (script.empty() || !readScript(script, mixed)) {
    if (!script.empty()) std::fprintf(stderr, "subrite_bench: cannot read %s\n", script.c_str());
    mixed = generatedScript(20000, 1);
  }
  if (!heapCountSeesModule()) {
    std::fprintf(stderr, "subrite_bench: the module's allocations are not counted\n");
    return 1;
  }
  static std::vector<std::uint32_t> outputSizes;
  if (!checkPath(mixed, outputSizes)) return 1;
  static const std::vector<std::string> comments = asCommentLines(mixed.dialogue);
  benchmark::AddCustomContext(
      "mixed set", mixed.origin + ": " + std::to_string(mixed.dialogue.size()) +
                       " dialogue lines, " + std::to_string(totalBytes(mixed.dialogue)) + " bytes");

  static const std::string header = assHeader(10);
  static const std::vector<std::string> plain = {dialogueLine(
      "Default", "I never thought we would see the city lights again, not after that night.")};
  static const std::vector<std::string> styled = {
      dialogueLine("Flashback",
                   "{\\i1}Wait,{\\i0} you said {\\c&H00FFFF&}the river{\\r}?\\NThat was "
                   "{\\b1}years{\\b0} ago.")};
  static const std::vector<std::string> karaoke = {
      dialogueLine("OP Romaji", repeat("{\\k20}ka", 50))};

  const auto line = [](const char* name, const std::vector<std::string>& lines,
                       const std::string& head) {
    return benchmark::RegisterBenchmark(
        name, [&lines, &head](benchmark::State& state) { convertLines(state, head, lines); });
  };
  line("line/plain", plain, header);
  line("line/styled", styled, header);
  line("line/karaoke50", karaoke, header);
  line("line/mixed", mixed.dialogue, mixed.header)->Unit(benchmark::kMillisecond);

  // The conversion with each window scan this processor runs; the others
  // use the widest, as the module does.
  static ssa::ScanKind widest = ssa::ScanKind::Words;
  for (const ssa::ScanKind kind : ssa::kScanKinds) {
    if (!ssa::scanSupported(kind)) continue;
    widest = kind;
    benchmark::RegisterBenchmark((std::string("scan/mixed:") + ssa::scanName(kind)).c_str(),
                                 [kind](benchmark::State& state) {
                                   ssa::useScan(kind);
                                   convertLines(state, mixed.header, mixed.dialogue);
                                   ssa::useScan(widest);
                                 })
        ->Unit(benchmark::kMillisecond);
  }

  benchmark::RegisterBenchmark("path/mixed", [](benchmark::State& state) {
    std::uint64_t outputs = 0;
    for (const std::uint32_t size : outputSizes) outputs += size != 0 ? 1 : 0;
    samplePath(state, mixed.header, mixed.dialogue, outputs);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("path/host_only", [](benchmark::State& state) {
    hostOnly(state, mixed.dialogue, outputSizes);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("path/no_output", [](benchmark::State& state) {
    samplePath(state, mixed.header, comments, 0);
  })->Unit(benchmark::kMillisecond);

  for (const std::size_t styles : {10u, 1000u, 100000u}) {
    benchmark::RegisterBenchmark(("header/styles:" + std::to_string(styles)).c_str(),
                                 [styles](benchmark::State& state) { headerParse(state, styles); })
        ->Unit(styles >= 1000 ? benchmark::kMillisecond : benchmark::kMicrosecond);
  }

  static const Growth growths[] = {
      {"growth/karaoke", "{\\k20}ab", 1, {10000, 20000, 40000, 80000}},
      {"growth/italic", "{\\i1}a{\\i0}b", 2, {10000, 20000, 40000, 80000}},
      {"growth/colour", "{\\c&H0000FF&}ab", 1, {10000, 20000, 40000, 80000}},
      {"growth/plain", "", 0, {80000, 160000, 320000, 640000}},
      {"growth/breaks", "ab\\N", 1, {10000, 20000, 40000, 80000}},
  };
  // A deque: each benchmark keeps a reference to its line.
  static std::deque<std::vector<std::string>> growthLines;
  for (const Growth& growth : growths) {
    for (const std::size_t size : growth.sizes) {
      growthLines.push_back(
          {dialogueLine("Default", growth.blocksPerUnit == 0
                                       ? plainText(size)
                                       : repeat(growth.unit, size / growth.blocksPerUnit))});
      const std::vector<std::string>& lines = growthLines.back();
      benchmark::RegisterBenchmark(
          (std::string(growth.name) + ":" + std::to_string(size)).c_str(),
          [&lines](benchmark::State& state) { convertLines(state, header, lines); })
          ->Unit(benchmark::kMicrosecond)
          ->MinTime(0.2);
    }
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
