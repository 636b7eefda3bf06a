// Tagged value carried by every port message and every property: the tag at
// byte 0, an 8-byte payload at byte 8, 16 bytes aligned to 8 on i386 too.
#pragma once

#include <cstdint>

namespace FLM {

template <typename T>
struct String;

enum TypeTag : std::uint8_t {
  TypeFourCC = 6,       // payload: 32-bit code, first character in the lowest byte
  TypeString = 11,      // payload: String<char>*
  TypeWideString = 13,  // payload: String<unsigned short>*
  TypeObject = 14,      // payload: a host object (sample, format record, ...)
};

struct alignas(8) TypedValue {
  std::uint8_t type;
  std::uint8_t unused[7];
  // A writer sets only the member it means; bytes it does not set keep
  // whatever they held.
  union Payload {
    void* object;
    String<char>* string;
    String<unsigned short>* wideString;
    std::uint32_t fourCC;
    std::uint8_t bytes[8];
  } payload;
};

}  // namespace FLM
