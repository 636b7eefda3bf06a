// A replaced global operator new for the module tests: it counts live blocks
// (the module's allocations included, since the executable's definition wins)
// and can be told to fail, to drive the out-of-memory paths.
#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/support/harness.h"

namespace {
std::atomic<std::int64_t> liveBlocks{0};
std::atomic<std::int64_t> allowedAllocations{-1};
thread_local int exemptDepth = 0;  // inside Heap::Exempt scopes on this thread
}  // namespace

namespace testing_support {
std::int64_t Heap::live() { return liveBlocks.load(); }
void Heap::failAfter(std::int64_t n) { allowedAllocations.store(n); }
bool Heap::failurePending() { return allowedAllocations.load() >= 0; }
Heap::Exempt::Exempt() { ++exemptDepth; }
Heap::Exempt::~Exempt() { --exemptDepth; }
}  // namespace testing_support

void* operator new(std::size_t size) {
  if (exemptDepth == 0 && allowedAllocations.load(std::memory_order_relaxed) >= 0 &&
      allowedAllocations.fetch_sub(1) == 0) {
    allowedAllocations.store(-1);
    throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

void operator delete[](void* block) noexcept { ::operator delete(block); }
void operator delete(void* block, std::size_t) noexcept { ::operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { ::operator delete(block); }

// The nothrow forms (a stable sort's buffer asks so) count and fail the same
// way, answering null; defined here, so that no sanitizer's own form makes a
// block this file's delete would free as another kind.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return ::operator new(size, tag);
}
void operator delete(void* block, const std::nothrow_t&) noexcept { ::operator delete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { ::operator delete(block); }
