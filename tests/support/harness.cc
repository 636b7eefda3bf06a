#include "tests/support/harness.h"

namespace testing_support {

Harness::Harness() { create(_getPlugin, &pluginHost); }

Harness::~Harness() { stop(); }

void Harness::open(const char* inputFormat) {
  std::string error;
  ASSERT_TRUE(PluginDriver::open(inputFormat, wiring(), &error)) << error;
}

bool Harness::sendHeader(std::string_view header, std::string_view identifier) {
  return PluginDriver::sendHeader(ledger, sink, header, identifier);
}

bool Harness::sendSample(std::string_view bytes, std::uint32_t pass0, std::uint32_t pass1) {
  hostkit::Buffer* sample = ledger.sample(bytes, hostkit::Holder::Component);
  sample->passThrough[0] = pass0;
  sample->passThrough[1] = pass1;
  return PluginDriver::sendSample(sample);
}

std::vector<std::string> Harness::markups() const {
  std::vector<std::string> texts;
  for (const hostkit::ReceivedSample& output : sink.outputs) {
    texts.push_back(output.payload.substr(0, output.payload.size() - 1));
  }
  return texts;
}

::testing::AssertionResult LedgerClean(const hostkit::Ledger& ledger) {
  if (ledger.clean()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << ledger.summary();
}

}  // namespace testing_support
