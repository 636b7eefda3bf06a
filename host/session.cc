#include "host/session.h"

#include <cstring>

namespace hostcli {
namespace {

// What the host stamps with MsgStreamParams. The values mean nothing to the
// plug-in; it copies them onto every output sample, which is checked.
constexpr std::uint32_t kStreamWords[2] = {0x5355421Au, 0x0000FACEu};
// Problems kept in words; the rest are only counted.
constexpr std::size_t kProblemsKept = 20;

void appendUtf8(std::string* out, std::uint32_t code) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// 16-bit text to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string wideToUtf8(const FLM::String<unsigned short>& text) {
  std::string out;
  if (text.data == nullptr) return out;
  for (std::int32_t i = 0; i < text.length; ++i) {
    const std::uint32_t unit = text.data[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.length &&
        text.data[i + 1] >= 0xDC00 && text.data[i + 1] <= 0xDFFF) {
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
  sink_.keepOutputs = false;
  sink_.onOutput = [this](const host::Output& output) { received(output); };
  streamParameters_.words[0] = kStreamWords[0];
  streamParameters_.words[1] = kStreamWords[1];
}

Session::~Session() { close(); }

bool Session::create(GetPlugin entry, std::string* error) {
  entry(&pluginHost_, &plugin_);
  if (plugin_ == nullptr) {
    *error = "_getPlugin gave no plug-in object";
    return false;
  }
  void* found = nullptr;
  if (plugin_->queryInterface(&FLM::IdInterfaceComponent, &found) != FLM::Plugin::StatusFound ||
      found == nullptr) {
    *error = "the plug-in has no component interface";
    return false;
  }
  component_ = static_cast<FLM::ComponentInterface*>(found);
  found = nullptr;
  if (plugin_->queryInterface(&FLM::IdInterfaceTransform, &found) != FLM::Plugin::StatusFound ||
      found == nullptr) {
    *error = "the plug-in has no transform interface";
    return false;
  }
  transform_ = static_cast<FLM::TransformInterface*>(found);
  if (!component_->attach(&context_)) {
    *error = "the plug-in refused to attach";
    return false;
  }
  attached_ = true;
  return true;
}

bool Session::open(const char* inputFormat, std::string* error) {
  in_ = transform_->connectUpstream(1, inputFormat, 0);
  if (in_ == nullptr) {
    *error = std::string("the plug-in refused an input port for ") + inputFormat;
    return false;
  }
  out_ = transform_->connectDownstream(1, "UTF8", 0);
  if (out_ == nullptr) {
    *error = "the plug-in refused an output port for UTF8";
    return false;
  }
  FLM::TypedValue upstream = host::objectValue(&source_);
  FLM::TypedValue downstream = host::objectValue(&sink_);
  FLM::TypedValue samples = host::objectValue(&allocator_);
  if (!in_->controlMessage(FLM::MsgConnect, &upstream) ||
      !out_->controlMessage(FLM::MsgConnect, &downstream) ||
      !out_->controlMessage(FLM::MsgAllocator, &samples)) {
    *error = "the plug-in refused its peers or the sample allocator";
    return false;
  }
  // Forwarded to the sink, which takes it.
  FLM::TypedValue parameters = host::objectValue(&streamParameters_);
  in_->streamMessage(FLM::MsgStreamParams, &parameters);
  return true;
}

Properties Session::properties() {
  Properties result{"(none)", "(none)", "(none)", "(none)"};
  FLM::TypedValue value{};
  if (component_->getProperty("Name", &value) && value.type == FLM::TypeWideString &&
      value.payload.wideString != nullptr) {
    result.name = wideToUtf8(*value.payload.wideString);
  }
  value = FLM::TypedValue{};
  if (component_->getProperty("Type", &value) && value.type == FLM::TypeString &&
      value.payload.string != nullptr && value.payload.string->data != nullptr) {
    result.type = value.payload.string->data;
  }
  const auto fourCC = [this](const char* name, std::string* text) {
    FLM::TypedValue code{};
    code.type = FLM::TypeFourCC;
    if (!component_->getProperty(name, &code)) return;
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
  host::Buffer* record = ledger_.formatRecord("SUB ", header, host::Holder::Component);
  FLM::TypedValue value = host::objectValue(record);
  const std::size_t before = sink_.forwarded.size();
  const bool answer = in_->streamMessage(FLM::MsgFormat, &value);
  if (sink_.forwarded.size() > before) {
    // Not taken: the reference is the host's again.
    record->handTo(host::Holder::Host);
    record->releaseAs(host::Holder::Host);
    problem("the script header was forwarded downstream instead of parsed");
  }
  return answer;
}

bool Session::sendEvent(std::string_view line, std::uint64_t sequence) {
  current_ = sequence;
  outputsForCurrent_ = 0;
  host::Buffer* sample = ledger_.sample(line, host::Holder::Component);
  sample->passThrough[0] = static_cast<std::uint32_t>(sequence);
  sample->passThrough[1] = static_cast<std::uint32_t>(sequence >> 32);
  FLM::TypedValue value = host::objectValue(sample);
  if (!in_->streamMessage(FLM::MsgSample, &value)) {
    problem("event " + std::to_string(sequence) + " was refused");
  }
  current_ = 0;
  return outputsForCurrent_ > 0;
}

void Session::received(const host::Output& output) {
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
  const std::string_view markup(output.payload.data(), output.payload.size() - 1);
  // A NUL byte inside the script's text is carried through; the sink counts
  // it as a short string, which it is not.
  if (markup.find('\0') != std::string_view::npos) ++embeddedNuls_;
  if (onMarkup) onMarkup(sequence, markup);
}

void Session::close() {
  if (plugin_ == nullptr) return;
  if (in_ != nullptr && !transform_->disconnectUpstream(in_)) {
    problem("the plug-in refused to close its input port");
  }
  if (out_ != nullptr && !transform_->disconnectDownstream(out_)) {
    problem("the plug-in refused to close its output port");
  }
  in_ = out_ = nullptr;
  if (attached_) component_->detach();
  attached_ = false;
  FLM::Plugin* const plugin = plugin_;
  plugin_ = nullptr;
  component_ = nullptr;
  transform_ = nullptr;
  const std::int32_t left = plugin->release();
  const auto& events = pluginHost_.events;
  if (left != 0 || events.size() != 2 || events[0].released || !events[1].released ||
      events[0].plugin != plugin || events[1].plugin != plugin) {
    problem("the plug-in object did not end with the host's release (" + std::to_string(left) +
            " references left)");
  }
}

void Session::problem(std::string text) {
  if (++problemCount_ <= kProblemsKept) problems_.push_back(std::move(text));
}

std::vector<std::string> Session::problems() const {
  std::vector<std::string> all = problems_;
  if (problemCount_ > kProblemsKept) {
    all.push_back("... and " + std::to_string(problemCount_ - kProblemsKept) + " more");
  }
  if (sink_.problems.size() > embeddedNuls_) {
    for (std::size_t i = 0; i < sink_.problems.size() && i < kProblemsKept; ++i) {
      all.push_back("downstream: " + sink_.problems[i]);
    }
  }
  if (source_.calls != 0) all.push_back("the plug-in called its upstream peer");
  if (!ledger_.clean()) all.push_back("buffer accounting: " + ledger_.summary());
  return all;
}

}  // namespace hostcli
