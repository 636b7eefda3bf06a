// A byte buffer for text that is built up and read back many times over:
// it grows by doubling, is never cleared byte by byte, and its appends are
// inlined, where those of the standard string are calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace ssa {

class TextBuffer {
 public:
  void clear() { size_ = 0; }
  std::size_t size() const { return size_; }
  // Never without an address: before the first growth it views a static
  // empty text, so the view can go to memcpy as it is.
  std::string_view view() const {
    return data_ ? std::string_view(data_.get(), size_) : std::string_view("", 0);
  }

  void append(std::string_view text) {
    const std::size_t n = text.size();
    if (n > capacity_ - size_) grow(n);
    if (n != 0) std::memcpy(data_.get() + size_, text.data(), n);
    size_ += n;
  }

  void push(char c) {
    if (size_ == capacity_) grow(1);
    data_[size_++] = c;
  }

  // For a writer that works through a pointer: keeps the first `kept` bytes
  // (at most the size), makes room for `extra` more after them and answers
  // the storage, valid until the next growth. The writer says with resize
  // how much it wrote.
  char* reserve(std::size_t kept, std::size_t extra) {
    size_ = kept;
    if (extra > capacity_ - size_) grow(extra);
    return data_.get();
  }
  std::size_t capacity() const { return capacity_; }
  // At most the capacity.
  void resize(std::size_t size) { size_ = size; }

 private:
  // No object may be larger than this, so neither the size nor the
  // capacity ever goes above it.
  static constexpr std::size_t kMaxSize = PTRDIFF_MAX;

  static std::size_t doubled(std::size_t capacity) {
    return capacity > kMaxSize / 2 ? kMaxSize : capacity * 2;
  }

  // Makes room for `extra` more bytes; a need beyond kMaxSize (where the sum
  // or the doubling would wrap) fails as every other allocation does.
  void grow(std::size_t extra) {
    if (extra > kMaxSize - size_) throw std::bad_alloc();
    const std::size_t needed = size_ + extra;
    std::size_t capacity = capacity_ < 256 ? 256 : doubled(capacity_);
    while (capacity < needed) capacity = doubled(capacity);
    std::unique_ptr<char[]> data(new char[capacity]);
    if (size_ != 0) std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace ssa
