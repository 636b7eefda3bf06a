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
static_assert(offsetof(MediaBuffer, passThrough) == 44 + kShift);
static_assert(offsetof(MediaBuffer, passThrough) + 4 == 48 + kShift);
static_assert(offsetof(MediaBuffer, formatIdentifier) == 44 + kShift);
static_assert(offsetof(MediaBuffer, formatIdentifierLength) == 56 + kShift);
static_assert(offsetof(MediaBuffer, streamParams) == 68 + kShift);
static_assert(offsetof(MediaBuffer, streamParams) + 4 == 72 + kShift);

static_assert(offsetof(StreamParameters, words) == 4);
static_assert(offsetof(StreamParameters, words) + 4 == 8);

#if defined(__i386__)
static_assert(sizeof(void*) == 4 && sizeof(String<char>) == 12);
static_assert(offsetof(MediaBuffer, payloadSize) == 4);
static_assert(offsetof(MediaBuffer, streamParams) == 68);
#elif defined(__x86_64__)
static_assert(offsetof(MediaBuffer, payloadSize) == 8);
static_assert(offsetof(MediaBuffer, passThrough) == 48);
static_assert(offsetof(MediaBuffer, formatIdentifierLength) == 60);
static_assert(offsetof(MediaBuffer, streamParams) == 72);
#endif

}  // namespace
}  // namespace FLM
