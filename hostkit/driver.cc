#include "hostkit/driver.h"

#include "framework/identifiers.h"

namespace hostkit {
namespace {

bool refuse(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

}  // namespace

bool PluginDriver::create(GetPlugin entry, FLM::PluginHost* host, std::string* error) {
  entry(host, &plugin);
  if (plugin == nullptr) return refuse(error, "_getPlugin gave no plug-in object");
  void* found = nullptr;
  if (plugin->queryInterface(&FLM::IdInterfaceComponent, &found) != FLM::Plugin::StatusFound ||
      found == nullptr) {
    return refuse(error, "the plug-in has no component interface");
  }
  component = static_cast<FLM::ComponentInterface*>(found);
  found = nullptr;
  if (plugin->queryInterface(&FLM::IdInterfaceTransform, &found) != FLM::Plugin::StatusFound ||
      found == nullptr) {
    return refuse(error, "the plug-in has no transform interface");
  }
  transform = static_cast<FLM::TransformInterface*>(found);
  inputSide = transform;
  outputSide = transform;
  return true;
}

bool PluginDriver::open(const char* inputFormat, const Wiring& wiring, std::string* error) {
  if (wiring.context != nullptr) {
    attached_ = component->attach(wiring.context);
    if (!attached_) return refuse(error, "the plug-in refused to attach");
  }
  in = outputSide->connectUpstream(1, inputFormat, 0);
  if (in == nullptr) {
    return refuse(error, std::string("the plug-in refused an input port for ") + inputFormat);
  }
  out = inputSide->connectDownstream(1, "UTF8", 0);
  if (out == nullptr) return refuse(error, "the plug-in refused an output port for UTF8");
  FLM::TypedValue upstream = objectValue(wiring.upstream);
  FLM::TypedValue downstream = objectValue(wiring.downstream);
  FLM::TypedValue allocator = objectValue(wiring.allocator);
  if (!in->controlMessage(FLM::MsgConnect, &upstream) ||
      !out->controlMessage(FLM::MsgConnect, &downstream) ||
      !out->controlMessage(FLM::MsgAllocator, &allocator)) {
    return refuse(error, "the plug-in refused its peers or the sample allocator");
  }
  if (wiring.streamParameters != nullptr) {
    // Forwarded downstream, whose answer is the answer: not the plug-in's to refuse.
    FLM::TypedValue parameters = objectValue(wiring.streamParameters);
    in->streamMessage(FLM::MsgStreamParams, &parameters);
  }
  return true;
}

bool PluginDriver::sendHeader(Ledger& ledger, const SinkPort& sink, std::string_view header,
                              std::string_view identifier, bool* forwarded) {
  Buffer* const record = ledger.formatRecord(identifier, header, Holder::Component);
  if (forwarded != nullptr) *forwarded = false;
  if (record == nullptr) return false;  // the ledger refused this thread: nothing was sent
  const std::size_t before = sink.forwarded.size();
  const bool answer = sendFormat(record);
  const bool wentOn = sink.forwarded.size() > before;
  if (wentOn) record->returnToHost();
  if (forwarded != nullptr) *forwarded = wentOn;
  return answer;
}

PluginDriver::Refusals PluginDriver::stop() {
  Refusals refusals;
  if (plugin == nullptr) return refusals;
  refusals.inputPort = in != nullptr && !outputSide->disconnectUpstream(in);
  refusals.outputPort = out != nullptr && !inputSide->disconnectDownstream(out);
  in = out = nullptr;
  refusals.detach = attached_ && !component->detach();
  attached_ = false;
  FLM::Plugin* const last = plugin;
  plugin = nullptr;
  component = nullptr;
  transform = nullptr;
  inputSide = nullptr;
  outputSide = nullptr;
  refusals.referencesLeft = last->release();
  return refusals;
}

std::vector<std::string> PluginDriver::shutDown() {
  const Refusals refusals = stop();
  std::vector<std::string> refused;
  if (refusals.inputPort) refused.push_back("the plug-in refused to close its input port");
  if (refusals.outputPort) refused.push_back("the plug-in refused to close its output port");
  if (refusals.detach) refused.push_back("the plug-in refused to detach");
  if (refusals.referencesLeft != 0) {
    refused.push_back("the plug-in object did not end with the host's release (" +
                      std::to_string(refusals.referencesLeft) + " references left)");
  }
  return refused;
}

}  // namespace hostkit
