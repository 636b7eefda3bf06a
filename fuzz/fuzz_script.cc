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
#include "script/tables.h"
#include "tests/oracle/oracle.h"

namespace {

using fuzzing::expect;

constexpr std::uint32_t kParams[2] = {0x51575157u, 0x75517551u};

void checkOutput(const hostkit::ReceivedSample& output, const std::string& markup,
                 std::uint32_t index) {
  expect(output.payloadSize == markup.size() + 1, "output payloadSize is not its length + 1");
  expect(output.payload.compare(0, markup.size(), markup) == 0 &&
             output.payload.size() == markup.size() + 1 && output.payload.back() == '\0',
         "output markup differs from the reference",
         "expected: " + markup + "\nactual:   " + output.payload);
  expect(output.passThrough[0] == index && output.passThrough[1] == ~index,
         "passThrough not copied from the input sample");
  expect(output.streamParams[0] == kParams[0] && output.streamParams[1] == kParams[1],
         "streamParams not stamped on the output sample");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const hostkit::Script script = fuzzing::readScript(input);

  hostkit::HostSide host;
  FLM::StreamParameters parameters{0, {kParams[0], kParams[1]}};
  hostkit::PluginDriver driver;  // last: shut down before the host objects go

  expect(driver.create(_getPlugin, &host.pluginHost), "_getPlugin gave no object");
  expect(driver.open(size % 2 == 0 ? "ASS" : "SSA", host.wiring(&parameters)),
         "a port did not open, or the wiring was refused");

  // The reference's tables, filled the same way.
  oracle::EventColumns columns;
  oracle::StyleTable styles;
  // A script that starts with its events runs without a header, on the
  // tables the component starts with.
  const std::string& header = script.header.text;
  if (!header.empty()) {
    bool forwarded = false;
    const bool answer = driver.sendHeader(host.ledger, host.sink, header, "SUB ", &forwarded);
    const bool expected = oracle::parseScriptHeader(header, columns, styles);
    expect(answer == expected, "MsgFormat answer differs from the reference parse");
    expect(!forwarded, "an accepted format record was forwarded");
  }

  // One event line as one sample, checked against the reference.
  const auto sendEvent = [&](std::string_view line, std::uint32_t index) {
    // Hosts differ in whether payloadSize counts a terminator: take both.
    std::string payload(line);
    if (index % 2 == 1) payload.push_back('\0');
    hostkit::Buffer* sample = host.ledger.sample(payload, hostkit::Holder::Component);
    sample->passThrough[0] = index;
    sample->passThrough[1] = ~index;
    const bool answer = driver.sendSample(sample);
    expect(answer, "MsgSample refused although the peer accepts everything");

    std::string markup;
    const bool converts =
        payload.size() >= ssa::kDialoguePrefix.size() &&
        payload.compare(0, ssa::kDialoguePrefix.size(), ssa::kDialoguePrefix) == 0 &&
        oracle::convertLine(payload.substr(ssa::kDialoguePrefix.size()), columns, styles, &markup);
    expect(host.sink.outputs.size() == (converts ? 1u : 0u),
           converts ? "no output for a line the reference converts"
                    : "output for a line the reference consumes silently",
           payload);
    if (converts) checkOutput(host.sink.outputs.front(), markup, index);
    host.sink.outputs.clear();
  };

  // Twice: the second pass on a reopened input port, whose next header
  // (the whole input this time) is parsed into the tables the first left.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      // Reopened by hand: this step is what the pass tests.
      expect(driver.outputSide->disconnectUpstream(driver.in), "closing the input port");
      driver.in = driver.outputSide->connectUpstream(1, "ASS", 0);
      expect(driver.in != nullptr, "the input port did not reopen");
      const bool answer = driver.sendHeader(host.ledger, host.sink, input);
      expect(answer == oracle::parseScriptHeader(std::string(input), columns, styles),
             "MsgFormat answer differs from the reference parse, on the second header");
    }
    std::uint32_t index = 0;
    for (const std::string& line : script.events) {
      sendEvent(line, index++);
    }
  }

  const void* address = driver.plugin;
  const std::vector<std::string> refused = driver.shutDown();
  expect(refused.empty(), "the shut-down was refused", refused.empty() ? "" : refused.front());
  expect(host.pluginHost.toldAroundRelease(address),
         "the host was not told around the deletion exactly once");
  fuzzing::expectSinkClean(host.sink);
  fuzzing::expectLedgerClean(host.ledger);
  expect(host.source.calls == 0, "the upstream peer was called");
  return 0;
}
