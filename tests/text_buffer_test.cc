#include "script/text_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

namespace ssa {
namespace {

constexpr std::size_t kLimit = PTRDIFF_MAX;

TEST(TextBufferTest, KeepsEveryByteAcrossGrowth) {
  TextBuffer buffer;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string piece(static_cast<std::size_t>(i % 7), static_cast<char>('a' + i % 26));
    buffer.append(piece);
    expected += piece;
    buffer.push(static_cast<char>(i));
    expected += static_cast<char>(i);
  }
  EXPECT_EQ(buffer.view(), expected);
  buffer.clear();
  buffer.append("x");
  EXPECT_EQ(buffer.view(), "x");
}

// A view of a buffer that never grew still has an address, so it can be
// handed to memcpy as it is.
TEST(TextBufferTest, FreshBufferViewHasAnAddress) {
  const TextBuffer buffer;
  EXPECT_NE(buffer.view().data(), nullptr);
  EXPECT_EQ(buffer.view().size(), 0u);
}

// Sizes no buffer can hold are refused with bad_alloc before anything is read
// or allocated: the views claim far more than the few bytes they point at.
TEST(TextBufferTest, RefusesSizesBeyondTheLimit) {
  struct Case {
    const char* name;
    std::size_t held;
    std::size_t appended;
  };
  const Case cases[] = {
      {"one byte above the limit", 0, kLimit + 1},
      // Doubling the capacity up to this need would wrap it to 0.
      {"above half the address space", 0, kLimit + 2},
      {"the largest size", 0, SIZE_MAX},
      {"a sum one byte above the limit", 10, kLimit - 9},
      // The sum wraps to less than the capacity already there.
      {"a sum that wraps to 0", 10, SIZE_MAX - 9},
      {"a sum that wraps to the held size", 10, SIZE_MAX},
  };
  const char bytes[] = "0123456789";
  for (const Case& c : cases) {
    TextBuffer buffer;
    buffer.append(std::string_view(bytes, c.held));
    EXPECT_THROW(buffer.append(std::string_view(bytes, c.appended)), std::bad_alloc) << c.name;
    // Refused: the buffer holds what it held, and takes more.
    EXPECT_EQ(buffer.view(), std::string_view(bytes, c.held)) << c.name;
    buffer.push('!');
    EXPECT_EQ(buffer.view(), std::string(bytes, c.held) + "!") << c.name;
  }
}

}  // namespace
}  // namespace ssa
