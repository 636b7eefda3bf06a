// Counted, NUL-terminated string that carries its allocator. Shared with the
// host: data at 0, length at 4, allocator at 8 on i386.
#pragma once

#include <cstdint>

#include "framework/allocator.h"

namespace FLM {

template <typename T>
struct String {
  T* data;                          // length elements and a 0, or null
  std::int32_t length;              // elements before the terminating 0
  StandardAllocator<T>* allocator;  // made data and must free it

  // Makes a copy of a NUL-terminated text; a null text gives an empty string.
  String(const T* text, StandardAllocator<T>* allocator)
      : data(nullptr), length(0), allocator(allocator) {
    if (text == nullptr) return;
    std::int32_t count = 0;
    while (text[count] != 0) ++count;
    assign(text, count);
  }

  // Copies another string's elements into a buffer of the given allocator.
  String(const String& other, StandardAllocator<T>* allocator)
      : data(nullptr), length(0), allocator(allocator) {
    if (other.data != nullptr) assign(other.data, other.length);
  }

  String(const String&) = delete;
  String& operator=(const String&) = delete;

  ~String() { clear(); }

  // Frees the buffer through its own allocator; a second clear does nothing.
  void clear() {
    if (data != nullptr) allocator->free(data);
    data = nullptr;
    length = 0;
  }

 private:
  void assign(const T* source, std::int32_t count) {
    T* buffer = allocator->allocate(static_cast<std::uint32_t>(count) + 1);
    for (std::int32_t i = 0; i < count; ++i) buffer[i] = source[i];
    buffer[count] = 0;
    data = buffer;
    length = count;
  }
};

}  // namespace FLM
