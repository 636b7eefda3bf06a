#include "bench/module.h"

namespace bench {

Module::Module(std::string_view header, SamplePool& pool, CountingSink& sink)
    : pool(pool), sink(sink) {
  _getPlugin(&pluginHost, &plugin);
  if (plugin == nullptr) return;
  void* found = nullptr;
  plugin->queryInterface(&FLM::IdInterfaceTransform, &found);
  transform = static_cast<FLM::TransformInterface*>(found);
  if (transform == nullptr) return;
  in = static_cast<FLM::OutputInterface*>(transform)->connectUpstream(1, "ASS", 0);
  out = static_cast<FLM::InputInterface*>(transform)->connectDownstream(1, "UTF8", 0);
  if (in == nullptr || out == nullptr) return;

  FLM::TypedValue upstream = bench::objectValue(&source);
  FLM::TypedValue downstream = bench::objectValue(&sink);
  FLM::TypedValue allocator = bench::objectValue(&pool);
  FLM::TypedValue streamParameters = bench::objectValue(&parameters);
  PooledSample* record = pool.formatRecord("SUB ", header);
  record->handOut();
  FLM::TypedValue format = bench::objectValue(record);
  ready = in->controlMessage(FLM::MsgConnect, &upstream) &&
          out->controlMessage(FLM::MsgConnect, &downstream) &&
          out->controlMessage(FLM::MsgAllocator, &allocator) &&
          in->streamMessage(FLM::MsgStreamParams, &streamParameters) &&
          in->streamMessage(FLM::MsgFormat, &format);
}

Module::~Module() {
  if (plugin == nullptr) return;
  if (in != nullptr) static_cast<FLM::OutputInterface*>(transform)->disconnectUpstream(in);
  if (out != nullptr) static_cast<FLM::InputInterface*>(transform)->disconnectDownstream(out);
  plugin->release();
}

std::vector<PooledSample*> Module::residentSamples(const std::vector<std::string>& lines) {
  std::vector<PooledSample*> samples;
  samples.reserve(lines.size());
  for (const std::string& line : lines) samples.push_back(pool.resident(line));
  return samples;
}

}  // namespace bench
