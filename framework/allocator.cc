#include "framework/allocator.h"

namespace FLM {

template <typename T>
StandardAllocator<T>& sharedAllocator() {
  // A function-local static: the identifier constants are built from it at
  // load time, before any other static of this module could be relied on.
  static StandardAllocator<T> instance;
  return instance;
}

template StandardAllocator<char>& sharedAllocator<char>();
template StandardAllocator<unsigned short>& sharedAllocator<unsigned short>();

}  // namespace FLM
