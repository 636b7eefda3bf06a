// Holds the records shared with the host to their byte layout. i386 is the
// host's architecture; on x86_64 only the field order can be shared, and one
// layout is pinned so that test hosts and the module agree.
#include <cstddef>

#include "framework/flm.h"

// MediaBuffer is polymorphic, so offsetof is only conditionally supported;
// g++ gives the plain field offset, which is what is pinned here.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace FLM {
namespace {

constexpr std::size_t kWord = sizeof(void*);
// i386 offsets of the MediaBuffer fields after the vtable pointer; on x86_64
// every one sits 4 bytes further on.
constexpr std::size_t kShift = kWord - 4;

static_assert(sizeof(TypedValue) == 16 && alignof(TypedValue) == 8);
static_assert(offsetof(TypedValue, type) == 0 && offsetof(TypedValue, payload) == 8);

static_assert(offsetof(String<char>, data) == 0);
static_assert(offsetof(String<char>, length) == kWord);
static_assert(offsetof(String<char>, allocator) == 2 * kWord);
static_assert(offsetof(String<unsigned short>, allocator) == 2 * kWord);
static_assert(sizeof(String<char>) == 3 * kWord);

static_assert(offsetof(MediaBuffer, payloadSize) == 4 + kShift);
static_assert(offsetof(MediaBuffer, passThrough[0]) == 44 + kShift);
static_assert(offsetof(MediaBuffer, passThrough[1]) == 48 + kShift);
static_assert(offsetof(MediaBuffer, formatIdentifier) == 44 + kShift);
static_assert(offsetof(MediaBuffer, formatIdentifierLength) == 56 + kShift);
static_assert(offsetof(MediaBuffer, streamParams[0]) == 68 + kShift);
static_assert(offsetof(MediaBuffer, streamParams[1]) == 72 + kShift);

static_assert(offsetof(StreamParameters, words[0]) == 4);
static_assert(offsetof(StreamParameters, words[1]) == 8);

// Sizes: a field added or widened anywhere shows here even when the
// offsets before it hold.
#if defined(__i386__)
static_assert(sizeof(void*) == 4);
static_assert(sizeof(String<char>) == 12 && sizeof(String<unsigned short>) == 12);
static_assert(sizeof(StandardAllocator<char>) == 4 &&
              sizeof(StandardAllocator<unsigned short>) == 4);
static_assert(offsetof(MediaBuffer, payloadSize) == 4);
static_assert(offsetof(MediaBuffer, streamParams[1]) == 72);
static_assert(sizeof(MediaBuffer) == 76);
#elif defined(__x86_64__)
static_assert(sizeof(String<char>) == 24 && sizeof(String<unsigned short>) == 24);
static_assert(sizeof(StandardAllocator<char>) == 8 &&
              sizeof(StandardAllocator<unsigned short>) == 8);
static_assert(offsetof(MediaBuffer, payloadSize) == 8);
static_assert(offsetof(MediaBuffer, passThrough[1]) == 52);
static_assert(offsetof(MediaBuffer, formatIdentifierLength) == 60);
static_assert(offsetof(MediaBuffer, streamParams[1]) == 76);
static_assert(sizeof(MediaBuffer) == 80);
#endif
static_assert(sizeof(StreamParameters) == 12);

}  // namespace
}  // namespace FLM
