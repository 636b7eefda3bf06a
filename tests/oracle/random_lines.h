// Deterministic generators of hostile and realistic script text, for tests
// that run the reference converter beside the production one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace oracle {

// `count` line texts, each the part of an event line after "Dialogue:".
// The same seed gives the same lines on every platform.
std::vector<std::string> randomLines(std::uint32_t seed, std::size_t count);

// One script header: style and events "Format:" lines, style lines and
// section heads in random orders, with assorted line separators.
std::string randomHeader(std::uint32_t seed);

}  // namespace oracle
