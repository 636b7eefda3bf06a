#include "bench/pipeline.h"

namespace bench {

Pipeline::Pipeline(std::string_view header, SamplePool& pool, CountingSink& sink)
    : pool(pool), sink(sink) {
  if (!driver.create(_getPlugin, &pluginHost) ||
      !driver.open("ASS", {&context, &source, &sink, &pool, &parameters})) {
    return;
  }
  PooledSample* record = pool.formatRecord("SUB ", header);
  record->handOut();
  ready = driver.sendFormat(record);
}

std::vector<PooledSample*> Pipeline::residentSamples(const std::vector<std::string>& lines) {
  std::vector<PooledSample*> samples;
  samples.reserve(lines.size());
  for (const std::string& line : lines) samples.push_back(pool.resident(line));
  return samples;
}

}  // namespace bench
