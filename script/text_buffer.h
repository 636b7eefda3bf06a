// A byte buffer for text that is built up and read back many times over:
// it grows by doubling, is never cleared byte by byte, and its appends are
// inlined, where those of the standard string are calls.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace ssa {

class TextBuffer {
 public:
  void clear() { size_ = 0; }
  std::size_t size() const { return size_; }
  std::string_view view() const { return std::string_view(data_.get(), size_); }

  void append(std::string_view text) {
    const std::size_t n = text.size();
    if (size_ + n > capacity_) grow(size_ + n);
    if (n != 0) std::memcpy(data_.get() + size_, text.data(), n);
    size_ += n;
  }

  void push(char c) {
    if (size_ == capacity_) grow(size_ + 1);
    data_[size_++] = c;
  }

 private:
  void grow(std::size_t needed) {
    std::size_t capacity = capacity_ < 256 ? 256 : capacity_ * 2;
    while (capacity < needed) capacity *= 2;
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
