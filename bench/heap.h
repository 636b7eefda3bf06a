// Counts every operator new of the process. The module is linked in, so its
// allocations land here too: the executable's definition wins.
#pragma once

#include <cstdint>

namespace bench {

// Allocations so far (new and new[], every form).
std::uint64_t heapAllocations();

}  // namespace bench
