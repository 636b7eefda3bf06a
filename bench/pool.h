// A lean host side for the benchmarks: buffers that are made once and reused,
// a sample allocator that hands them out, and a downstream peer that only
// counts. The accounting is a handful of counters, so the host's own share of
// a measured sample path stays small, yet a leak, a double release or an
// unbalanced payload lock still shows up (see SamplePool::problems).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/host_objects.h"
#include "framework/interfaces.h"

namespace bench {

class SamplePool;

// A buffer that belongs to a pool for its whole life. An output buffer goes
// back to the pool's free list on its release; a resident buffer (an input
// sample filled once and sent again and again) only loses its reference.
class PooledSample final : public FLM::MediaBuffer {
 public:
  void release() override;
  void* lockPayload() override;
  void unlockPayload() override;

  // Re-arms a resident buffer before it is sent: the message carries one reference.
  void handOut() { references = 1; }
  std::string_view payload() const { return {bytes.get(), payloadSize}; }

 private:
  friend class SamplePool;
  PooledSample(SamplePool& pool, bool resident) : pool(pool), resident(resident) {}
  void reserve(std::size_t size);

  SamplePool& pool;
  const bool resident;
  int references = 0;
  std::unique_ptr<char[]> bytes;
  std::size_t capacity = 0;
};

class SamplePool final : public FLM::SampleAllocator {
 public:
  SamplePool() = default;
  SamplePool(const SamplePool&) = delete;
  SamplePool& operator=(const SamplePool&) = delete;

  // Output samples: the most recently released buffer first, so that in
  // steady state one warm buffer serves every line and nothing is allocated.
  FLM::MediaBuffer* allocate(std::uint32_t payloadBytes, std::uint32_t count,
                             std::uint32_t flags) override;

  // An input sample holding `bytes`, owned by the pool, sent with handOut().
  PooledSample* resident(std::string_view bytes);
  // A format record with the given identifier and header payload.
  PooledSample* formatRecord(std::string_view identifier, std::string_view header);

  // What went wrong so far; empty when every reference and lock balanced.
  std::string problems() const;

  std::uint64_t allocations = 0;  // output samples handed out
  std::uint64_t releases = 0;     // references dropped, inputs and outputs
  std::int64_t lockBalance = 0;   // lockPayload minus unlockPayload
  std::uint64_t misuse = 0;       // releases of a buffer without a reference

 private:
  friend class PooledSample;
  PooledSample* make(bool resident);

  std::vector<std::unique_ptr<PooledSample>> all;
  std::vector<PooledSample*> spare;
};

// The downstream peer: takes every output sample, adds up what it carried
// and releases it at once. With `keep` set it also keeps a copy of each
// payload, for checking the output, never while timing.
class CountingSink final : public FLM::PortInterface {
 public:
  bool acceptMessage(std::uint32_t, FLM::TypedValue*) override { return true; }
  bool controlMessage(std::uint32_t, FLM::TypedValue*) override { return true; }
  bool queryMessage(std::uint32_t, FLM::TypedValue*) override { return false; }
  bool streamMessage(std::uint32_t id, FLM::TypedValue* value) override;

  std::uint64_t samples = 0;
  std::uint64_t bytes = 0;
  bool keep = false;
  std::vector<std::string> kept;
};

}  // namespace bench
