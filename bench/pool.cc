#include "bench/pool.h"

#include <algorithm>
#include <cstring>

#include "framework/messages.h"

namespace bench {

void PooledSample::release() {
  if (references <= 0) {
    ++pool.misuse;
    return;
  }
  --references;
  ++pool.releases;
  if (references == 0 && !resident) pool.spare.push_back(this);
}

void* PooledSample::lockPayload() {
  ++pool.lockBalance;
  return bytes.get();
}

void PooledSample::unlockPayload() { --pool.lockBalance; }

void PooledSample::reserve(std::size_t size) {
  if (size <= capacity) return;
  // Grows by doubling, so a buffer settles at its largest line after a few lines.
  std::size_t grown = capacity == 0 ? 256 : capacity;
  while (grown < size) grown *= 2;
  bytes = std::make_unique<char[]>(grown);
  capacity = grown;
}

PooledSample* SamplePool::make(bool isResident) {
  all.push_back(std::unique_ptr<PooledSample>(new PooledSample(*this, isResident)));
  PooledSample* sample = all.back().get();
  sample->payloadSize = 0;
  std::memset(sample->unknown1, 0, sizeof sample->unknown1);
  std::memset(sample->formatIdentifier, 0, sizeof sample->formatIdentifier);
  sample->formatIdentifierLength = 0;
  std::memset(sample->unknown2, 0, sizeof sample->unknown2);
  sample->streamParams[0] = sample->streamParams[1] = 0;
  return sample;
}

FLM::MediaBuffer* SamplePool::allocate(std::uint32_t payloadBytes, std::uint32_t, std::uint32_t) {
  PooledSample* sample;
  if (spare.empty()) {
    sample = make(false);
  } else {
    sample = spare.back();
    spare.pop_back();
  }
  sample->reserve(payloadBytes);
  sample->payloadSize = payloadBytes;
  sample->references = 1;
  ++allocations;
  return sample;
}

PooledSample* SamplePool::resident(std::string_view bytes) {
  PooledSample* sample = make(true);
  sample->reserve(bytes.size() + 1);
  if (!bytes.empty()) std::memcpy(sample->bytes.get(), bytes.data(), bytes.size());
  sample->payloadSize = static_cast<std::uint32_t>(bytes.size());
  return sample;
}

PooledSample* SamplePool::formatRecord(std::string_view identifier, std::string_view header) {
  PooledSample* record = resident(header);
  std::memcpy(record->formatIdentifier, identifier.data(),
              std::min(identifier.size(), sizeof record->formatIdentifier));
  record->formatIdentifierLength = static_cast<std::uint32_t>(identifier.size());
  return record;
}

std::string SamplePool::problems() const {
  std::string text;
  if (misuse != 0) text += std::to_string(misuse) + " releases without a reference; ";
  if (lockBalance != 0) text += "payload locks unbalanced by " + std::to_string(lockBalance) + "; ";
  std::size_t held = 0;
  for (const auto& sample : all) held += sample->references > 0 ? 1 : 0;
  if (held != 0) text += std::to_string(held) + " buffers still referenced; ";
  return text;
}

bool CountingSink::streamMessage(std::uint32_t id, FLM::TypedValue* value) {
  if (id != FLM::MsgSample) return true;  // forwarded stream parameters
  auto* sample = static_cast<PooledSample*>(static_cast<FLM::MediaBuffer*>(value->payload.object));
  ++samples;
  bytes += sample->payloadSize;
  if (keep) kept.emplace_back(sample->payload());
  sample->release();
  return true;
}

}  // namespace bench
