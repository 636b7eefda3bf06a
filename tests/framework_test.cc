// The records shared with the host, on their own.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "framework/flm.h"

namespace {

using FLM::sharedAllocator;
using FLM::String;

// Counts what goes through it, to show a buffer returns to its own allocator.
template <typename T>
class CountingAllocator : public FLM::StandardAllocator<T> {
 public:
  T* allocate(std::uint32_t count) override {
    ++allocations;
    return FLM::StandardAllocator<T>::allocate(count);
  }
  void free(T* block) override {
    ++frees;
    FLM::StandardAllocator<T>::free(block);
  }
  int allocations = 0;
  int frees = 0;
};

TEST(StringTest, MakeCopiesTextAndTerminator) {
  CountingAllocator<char> allocator;
  {
    String<char> text("SSA", &allocator);
    EXPECT_STREQ(text.data, "SSA");
    EXPECT_EQ(text.length, 3);
    EXPECT_EQ(text.allocator, &allocator);
    EXPECT_EQ(allocator.allocations, 1);
  }
  EXPECT_EQ(allocator.frees, 1);
}

TEST(StringTest, NullTextIsEmptyAndClearIsIdempotent) {
  CountingAllocator<char> allocator;
  String<char> empty(nullptr, &allocator);
  EXPECT_EQ(empty.data, nullptr);
  EXPECT_EQ(empty.length, 0);
  EXPECT_EQ(empty.allocator, &allocator);
  String<char> text("x", &allocator);
  text.clear();
  text.clear();
  EXPECT_EQ(text.data, nullptr);
  EXPECT_EQ(text.length, 0);
  EXPECT_EQ(text.allocator, &allocator);
  EXPECT_EQ(allocator.frees, 1);
}

TEST(StringTest, CopyUsesTheGivenAllocator) {
  CountingAllocator<unsigned short> first;
  CountingAllocator<unsigned short> second;
  const unsigned short wide[] = {'A', 0x263A, 'z', 0};
  String<unsigned short> original(wide, &first);
  String<unsigned short> copy(original, &second);
  EXPECT_NE(copy.data, original.data);
  EXPECT_EQ(copy.length, 3);
  EXPECT_EQ(copy.data[1], 0x263A);
  EXPECT_EQ(copy.data[3], 0);
  EXPECT_EQ(second.allocations, 1);
  String<unsigned short> fromEmpty(String<unsigned short>(nullptr, &first), &second);
  EXPECT_EQ(fromEmpty.data, nullptr);
  EXPECT_EQ(second.allocations, 1);
}

TEST(StandardAllocatorTest, WideCountThatOverflowsFailsInsteadOfAllocatingLittleOrMuch) {
  EXPECT_THROW(sharedAllocator<unsigned short>().allocate(0x80000000u), std::bad_alloc);
  EXPECT_THROW(sharedAllocator<unsigned short>().allocate(0xFFFFFFFFu), std::bad_alloc);
  unsigned short* block = sharedAllocator<unsigned short>().allocate(4);
  block[3] = 7;
  sharedAllocator<unsigned short>().free(block);
}

TEST(StandardAllocatorTest, OneSharedInstancePerElementType) {
  EXPECT_EQ(&sharedAllocator<char>(), &sharedAllocator<char>());
  EXPECT_EQ(FLM::IdInterfaceComponent.allocator, &sharedAllocator<char>());
}

TEST(IdentifierTest, TextsAreExact) {
  const struct {
    const String<char>& id;
    const char* text;
  } rows[] = {
      {FLM::IdInterfaceComponent, "com.zelk.flowloom.interface.component"},
      {FLM::IdInterfaceTransform, "com.zelk.flowloom.interface.transform"},
      {FLM::IdComponentTransform, "com.zelk.flowloom.component.transform"},
      {FLM::IdComponentInput, "com.zelk.flowloom.component.input"},
      {FLM::IdInterfaceInput, "com.zelk.flowloom.interface.input"},
      {FLM::IdComponentOutput, "com.zelk.flowloom.component.output"},
      {FLM::IdComponentOutputSingle, "com.zelk.flowloom.component.output.single"},
      {FLM::IdComponentOutputMultiple, "com.zelk.flowloom.component.output.multiple"},
      {FLM::IdInterfaceOutput, "com.zelk.flowloom.interface.output"},
  };
  for (const auto& row : rows) {
    EXPECT_STREQ(row.id.data, row.text);
    EXPECT_EQ(row.id.length, static_cast<std::int32_t>(std::strlen(row.text)));
  }
}

TEST(IdentifierTest, ComparisonReadsTheTextNotTheLength) {
  String<char> same("com.zelk.flowloom.interface.component", &sharedAllocator<char>());
  same.length = 2;
  EXPECT_TRUE(FLM::sameIdentifier(same, FLM::IdInterfaceComponent));
  String<char> none(nullptr, &sharedAllocator<char>());
  EXPECT_FALSE(FLM::sameIdentifier(none, FLM::IdInterfaceComponent));
}

TEST(TypedValueTest, LayoutIsSharedWithTheHost) {
  EXPECT_EQ(sizeof(FLM::TypedValue), 16u);
  EXPECT_EQ(alignof(FLM::TypedValue), 8u);
  FLM::TypedValue value{};
  value.payload.fourCC = 0x00415353;  // "SSA"
  const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
  EXPECT_EQ(bytes[8], 'S');
  EXPECT_EQ(bytes[10], 'A');
  EXPECT_EQ(bytes[11], 0);
}

}  // namespace
