#include "cli/session.h"

#include <cstring>

#include "cli/utf8.h"

namespace cli {
namespace {

// What the host stamps with MsgStreamParams. The values mean nothing to the
// plug-in; it copies them onto every output sample, which is checked.
constexpr std::uint32_t kStreamWords[2] = {0x5355421Au, 0x0000FACEu};
// Problems kept in words, as many as the peer keeps; the rest are only
// counted.
constexpr std::size_t kProblemsKept = hostkit::SinkPort::kProblemsKept;

// The first kProblemsKept of `count` problems, of which `kept` holds at
// least those, then how many more there were.
void appendFirstProblems(std::vector<std::string>* all, const std::vector<std::string>& kept,
                         std::uint64_t count, const std::string& prefix) {
  for (std::size_t i = 0; i < kept.size() && i < kProblemsKept; ++i) {
    all->push_back(prefix + kept[i]);
  }
  if (count > kProblemsKept) {
    all->push_back(prefix + "... and " + std::to_string(count - kProblemsKept) + " more");
  }
}

// 16-bit text to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string wideToUtf8(const FLM::String<unsigned short>& text) {
  std::string out;
  if (text.data == nullptr) return out;
  for (std::int32_t i = 0; i < text.length; ++i) {
    const std::uint32_t unit = text.data[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.length && text.data[i + 1] >= 0xDC00 &&
        text.data[i + 1] <= 0xDFFF) {
      appendUtf8(&out, 0x10000 + ((unit - 0xD800) << 10) + (text.data[++i] - 0xDC00u));
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      appendUtf8(&out, 0xFFFD);
    } else {
      appendUtf8(&out, unit);
    }
  }
  return out;
}

}  // namespace

Session::Session() {
  // Cues are written as they come; the sink keeps none of them.
  host_.sink.onStream = [this](const hostkit::SampleView& output) { received(output); };
  streamParameters_.words[0] = kStreamWords[0];
  streamParameters_.words[1] = kStreamWords[1];
}

Session::~Session() = default;

bool Session::start(hostkit::GetPlugin entry, const char* inputFormat, std::string* error) {
  return driver_.create(entry, &host_.pluginHost, error) &&
         driver_.open(inputFormat, host_.wiring(&streamParameters_), error);
}

Properties Session::properties() {
  Properties result{"(none)", "(none)", "(none)", "(none)"};
  FLM::TypedValue value{};
  if (driver_.component->getProperty("Name", &value) && value.type == FLM::TypeWideString &&
      value.payload.wideString != nullptr) {
    result.name = wideToUtf8(*value.payload.wideString);
  }
  value = FLM::TypedValue{};
  if (driver_.component->getProperty("Type", &value) && value.type == FLM::TypeString &&
      value.payload.string != nullptr && value.payload.string->data != nullptr) {
    result.type = value.payload.string->data;
  }
  const auto fourCC = [this](const char* name, std::string* text) {
    FLM::TypedValue code{};
    code.type = FLM::TypeFourCC;
    if (!driver_.component->getProperty(name, &code)) return;
    // First character in the lowest byte; a short name ends at its NUL.
    char bytes[5] = {};
    std::memcpy(bytes, code.payload.bytes, 4);
    *text = bytes;
  };
  fourCC("InputFormat", &result.inputFormat);
  fourCC("OutputFormat", &result.outputFormat);
  return result;
}

bool Session::sendHeader(std::string_view header) {
  bool forwarded = false;
  const bool answer = driver_.sendHeader(host_.ledger, host_.sink, header, "SUB ", &forwarded);
  if (forwarded) problem("the script header was forwarded downstream instead of parsed");
  return answer;
}

void Session::sendEvent(std::string_view line, std::uint64_t sequence) {
  current_ = sequence;
  outputsForCurrent_ = 0;
  hostkit::Buffer* sample = host_.ledger.sample(line, hostkit::Holder::Component);
  if (sample == nullptr) {  // the ledger refused this thread: nothing to send
    problem("event " + std::to_string(sequence) + " could not be made");
    current_ = 0;
    return;
  }
  sample->passThrough[0] = static_cast<std::uint32_t>(sequence);
  sample->passThrough[1] = static_cast<std::uint32_t>(sequence >> 32);
  if (!driver_.sendSample(sample)) {
    problem("event " + std::to_string(sequence) + " was refused");
  }
  current_ = 0;
}

void Session::received(const hostkit::SampleView& output) {
  const std::uint64_t sequence =
      output.passThrough[0] | (std::uint64_t{output.passThrough[1]} << 32);
  if (current_ == 0 || sequence != current_) {
    problem("an output sample carries event " + std::to_string(sequence) + " while event " +
            std::to_string(current_) + " was being sent");
    return;
  }
  if (++outputsForCurrent_ > 1) {
    problem("event " + std::to_string(sequence) + " gave more than one output sample");
    return;
  }
  if (output.streamParams[0] != kStreamWords[0] || output.streamParams[1] != kStreamWords[1]) {
    problem("the output of event " + std::to_string(sequence) +
            " does not carry the stream parameters");
  }
  if (output.payload.empty() || output.payload.back() != '\0') {
    problem("the output of event " + std::to_string(sequence) + " is not NUL-terminated");
    return;
  }
  if (onMarkup) onMarkup(std::string_view(output.payload.data(), output.payload.size() - 1));
}

void Session::close() {
  if (driver_.plugin == nullptr) return;
  const void* const plugin = driver_.plugin;
  for (std::string& refused : driver_.shutDown()) teardownProblems_.push_back(std::move(refused));
  if (!host_.pluginHost.toldAroundRelease(plugin)) {
    teardownProblems_.push_back(
        "the host was not told once before and once after the plug-in object's deletion");
  }
}

void Session::problem(std::string text) {
  if (++problemCount_ <= kProblemsKept) problems_.push_back(std::move(text));
}

std::vector<std::string> Session::problems() const {
  std::vector<std::string> all = teardownProblems_;
  appendFirstProblems(&all, problems_, problemCount_, "");
  appendFirstProblems(&all, host_.sink.problems, host_.sink.problemCount, "downstream: ");
  if (host_.source.calls != 0) all.push_back("the plug-in called its upstream peer");
  if (!host_.ledger.clean()) {
    for (const std::string& line : host_.ledger.summaryLines()) {
      all.push_back("buffer accounting: " + line);
    }
  }
  return all;
}

}  // namespace cli
