#include "tests/support/harness.h"

namespace testing_support {

const char kWorkedHeader[] =
    "[Script Info]\n"
    "ScriptType: v4.00+\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\n"
    "Style: Default,Arial,20,&HFF8000,-1,0\n"
    "Style: Note,Tahoma,30,255,0,1\n"
    "Style: Short,Arial,20\n"
    "[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

const char kDefaultOpen[] = "<font face=\"Arial\" size=\"-1\" color=\"#0080FF\"><b>";
const char kDefaultClose[] = "</b></font>";

std::string dialogue(std::string_view style, std::string_view text) {
  std::string line = "Dialogue: 0,0:00:01.00,0:00:03.50,";
  line.append(style);
  line.append(",,0000,0000,0000,,");
  line.append(text);
  return line;
}

Module::Module() {
  _getPlugin(&pluginHost, &plugin);
  if (plugin == nullptr) return;
  void* found = nullptr;
  plugin->queryInterface(&FLM::IdInterfaceComponent, &found);
  component = static_cast<FLM::ComponentInterface*>(found);
  plugin->queryInterface(&FLM::IdInterfaceTransform, &found);
  transform = static_cast<FLM::TransformInterface*>(found);
  inputSide = transform;
  outputSide = transform;
}

Module::~Module() { releasePlugin(); }

void Module::open(const char* inputFormat) {
  in = outputSide->connectUpstream(1, inputFormat, 0);
  out = inputSide->connectDownstream(1, "UTF8", 0);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  FLM::TypedValue upstream = host::objectValue(&source);
  FLM::TypedValue downstream = host::objectValue(&sink);
  FLM::TypedValue samples = host::objectValue(&allocator);
  ASSERT_TRUE(in->controlMessage(FLM::MsgConnect, &upstream));
  ASSERT_TRUE(out->controlMessage(FLM::MsgConnect, &downstream));
  ASSERT_TRUE(out->controlMessage(FLM::MsgAllocator, &samples));
}

bool Module::sendHeader(std::string_view header, std::string_view identifier) {
  host::Buffer* record = ledger.formatRecord(identifier, header, host::Holder::Component);
  FLM::TypedValue value = host::objectValue(record);
  const std::size_t before = sink.forwarded.size();
  const bool answer = in->streamMessage(FLM::MsgFormat, &value);
  // A forwarded record was not taken: its reference is the host's again.
  if (sink.forwarded.size() > before) {
    record->handTo(host::Holder::Host);
    record->releaseAs(host::Holder::Host);
  }
  return answer;
}

bool Module::sendSample(std::string_view bytes, std::uint32_t pass0, std::uint32_t pass1) {
  host::Buffer* sample = ledger.sample(bytes, host::Holder::Component);
  sample->passThrough[0] = pass0;
  sample->passThrough[1] = pass1;
  FLM::TypedValue value = host::objectValue(sample);
  return in->streamMessage(FLM::MsgSample, &value);
}

std::vector<std::string> Module::markups() const {
  std::vector<std::string> texts;
  for (const host::Output& output : sink.outputs) {
    texts.push_back(output.payload.substr(0, output.payload.size() - 1));
  }
  return texts;
}

void Module::releasePlugin() {
  if (plugin == nullptr) return;
  if (in != nullptr) outputSide->disconnectUpstream(in);
  if (out != nullptr) inputSide->disconnectDownstream(out);
  in = out = nullptr;
  plugin->release();
  plugin = nullptr;
}

::testing::AssertionResult LedgerClean(const host::Ledger& ledger) {
  if (ledger.clean()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << ledger.summary();
}

}  // namespace testing_support
