// Message identifiers. They are compared whole; nothing is derived from their
// parts. Control messages (top four bits 3) arrive on controlMessage, stream
// messages (top four bits 2) on streamMessage.
#pragma once

#include <cstdint>

namespace FLM {

inline constexpr std::uint32_t MsgConnect = 0x3000000E;       // payload: the peer port
inline constexpr std::uint32_t MsgAllocator = 0x3008000E;     // payload: a SampleAllocator
inline constexpr std::uint32_t MsgFlush = 0x30010000;         // argument not read
inline constexpr std::uint32_t MsgStreamParams = 0x2009000E;  // payload: StreamParameters
inline constexpr std::uint32_t MsgSample = 0x200D000A;        // payload: a MediaBuffer sample
inline constexpr std::uint32_t MsgFormat = 0x2019000E;        // payload: the format record

}  // namespace FLM
