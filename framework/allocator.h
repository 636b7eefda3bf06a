// Heap allocator object. A buffer carries the allocator that made it, so that
// whoever frees it, on either side of the boundary, returns it to the same heap.
#pragma once

#include <cstdint>
#include <new>

namespace FLM {

template <typename T>
class StandardAllocator {
 public:
  virtual ~StandardAllocator() = default;

  // Slot 1. A block of `count` elements; throws std::bad_alloc when the byte
  // size does not fit in 32 bits, on every architecture alike.
  virtual T* allocate(std::uint32_t count) {
    const std::uint64_t bytes = std::uint64_t{count} * sizeof(T);
    if (bytes > 0xFFFFFFFFu) throw std::bad_alloc();
    return static_cast<T*>(::operator new(static_cast<std::size_t>(bytes)));
  }

  // Slot 2. Returns a block obtained from allocate of this allocator.
  virtual void free(T* block) { ::operator delete(block); }
};

// The module's one allocator per element type, created on first use and
// destroyed at unload. [any thread]
template <typename T>
StandardAllocator<T>& sharedAllocator();

extern template StandardAllocator<char>& sharedAllocator<char>();
extern template StandardAllocator<unsigned short>& sharedAllocator<unsigned short>();

}  // namespace FLM
