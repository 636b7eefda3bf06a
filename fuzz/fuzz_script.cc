// A whole script through the module as a host sends it: the header in a
// "SUB " format record, then one sample per event line; then the input port
// reopened, the whole input as the next header, and the events once more.
// Every answer and every output sample is checked against the reference
// converter, and after the last release every host buffer must be accounted
// for.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/accounts.h"
#include "tests/oracle/oracle.h"

namespace {

using fuzzing::expect;

constexpr std::string_view kDialogue = "Dialogue:";
constexpr std::uint32_t kParams[2] = {0x51575157u, 0x75517551u};

void checkOutput(const host::Output& output, const std::string& markup, std::uint32_t index) {
  expect(output.payloadSize == markup.size() + 1, "output payloadSize is not its length + 1");
  expect(output.payload.compare(0, markup.size(), markup) == 0 &&
             output.payload.size() == markup.size() + 1 && output.payload.back() == '\0',
         "output markup differs from the reference", "expected: " + markup +
                                                         "\nactual:   " + output.payload);
  expect(output.passThrough[0] == index && output.passThrough[1] == ~index,
         "passThrough not copied from the input sample");
  expect(output.streamParams[0] == kParams[0] && output.streamParams[1] == kParams[1],
         "streamParams not stamped on the output sample");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const fuzzing::Script script = fuzzing::splitScript(input);

  host::PluginHost pluginHost;
  host::Ledger ledger;
  host::Allocator allocator(ledger);
  host::SinkPort sink;
  host::SourcePort source;

  FLM::Plugin* plugin = nullptr;
  _getPlugin(&pluginHost, &plugin);
  expect(plugin != nullptr, "_getPlugin gave no object");
  void* found = nullptr;
  plugin->queryInterface(&FLM::IdInterfaceTransform, &found);
  auto* transform = static_cast<FLM::TransformInterface*>(found);
  FLM::OutputInterface* outputSide = transform;
  FLM::InputInterface* inputSide = transform;
  FLM::PortInterface* in = outputSide->connectUpstream(1, size % 2 == 0 ? "ASS" : "SSA", 0);
  FLM::PortInterface* out = inputSide->connectDownstream(1, "UTF8", 0);
  expect(in != nullptr && out != nullptr, "a port did not open");
  FLM::TypedValue upstream = host::objectValue(&source);
  FLM::TypedValue downstream = host::objectValue(&sink);
  FLM::TypedValue samples = host::objectValue(&allocator);
  expect(in->controlMessage(FLM::MsgConnect, &upstream) &&
             out->controlMessage(FLM::MsgConnect, &downstream) &&
             out->controlMessage(FLM::MsgAllocator, &samples),
         "wiring refused");

  // The reference's tables, filled the same way.
  oracle::EventColumns columns;
  oracle::StyleTable styles;
  // A script that starts with its events runs without a header, on the
  // tables the component starts with.
  if (!script.header.empty()) {
    host::Buffer* record = ledger.formatRecord("SUB ", script.header, host::Holder::Component);
    FLM::TypedValue value = host::objectValue(record);
    const bool answer = in->streamMessage(FLM::MsgFormat, &value);
    const bool expected = oracle::parseScriptHeader(std::string(script.header), columns, styles);
    expect(answer == expected, "MsgFormat answer differs from the reference parse");
    expect(sink.forwarded.empty(), "an accepted format record was forwarded");
  }

  FLM::StreamParameters parameters{0, {kParams[0], kParams[1]}};
  FLM::TypedValue parameterValue = host::objectValue(&parameters);
  in->streamMessage(FLM::MsgStreamParams, &parameterValue);

  // One event line as one sample, checked against the reference.
  const auto sendEvent = [&](std::string_view line, std::uint32_t index) {
    // Hosts differ in whether payloadSize counts a terminator: take both.
    std::string payload(line);
    if (index % 2 == 1) payload.push_back('\0');
    host::Buffer* sample = ledger.sample(payload, host::Holder::Component);
    sample->passThrough[0] = index;
    sample->passThrough[1] = ~index;
    FLM::TypedValue value = host::objectValue(sample);
    const bool answer = in->streamMessage(FLM::MsgSample, &value);
    expect(answer, "MsgSample refused although the peer accepts everything");

    std::string markup;
    const bool converts = payload.size() >= kDialogue.size() &&
                          payload.compare(0, kDialogue.size(), kDialogue) == 0 &&
                          oracle::convertLine(payload.substr(kDialogue.size()), columns, styles,
                                              &markup);
    expect(sink.outputs.size() == (converts ? 1u : 0u),
           converts ? "no output for a line the reference converts"
                    : "output for a line the reference consumes silently",
           payload);
    if (converts) checkOutput(sink.outputs.front(), markup, index);
    sink.outputs.clear();
  };

  // Twice: the second pass on a reopened input port, whose next header
  // (the whole input this time) is parsed into the tables the first left.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      expect(outputSide->disconnectUpstream(in), "closing the input port");
      in = outputSide->connectUpstream(1, "ASS", 0);
      expect(in != nullptr, "the input port did not reopen");
      host::Buffer* record = ledger.formatRecord("SUB ", input, host::Holder::Component);
      FLM::TypedValue value = host::objectValue(record);
      const bool answer = in->streamMessage(FLM::MsgFormat, &value);
      expect(answer == oracle::parseScriptHeader(std::string(input), columns, styles),
             "MsgFormat answer differs from the reference parse, on the second header");
    }
    std::uint32_t index = 0;
    for (const std::string_view line : script.events) {
      sendEvent(line, index++);
    }
  }

  outputSide->disconnectUpstream(in);
  inputSide->disconnectDownstream(out);
  const void* address = plugin;
  expect(plugin->release() == 0, "the last release did not answer 0");
  fuzzing::expectReleased(pluginHost, address);
  fuzzing::expectSinkClean(sink);
  fuzzing::expectLedgerClean(ledger);
  expect(source.calls == 0, "the upstream peer was called");
  return 0;
}
