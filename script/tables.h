// The two tables that a script header leaves behind and every event line reads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

namespace ssa {

// Event field name -> 0-based column among the fields after "Dialogue:".
// Its size is the number of fields an event line is cut into. The transparent
// comparator lets a line look up "Text" and "Style" without building strings.
using EventColumns = std::map<std::string, std::uint32_t, std::less<>>;

// Opening and closing markup of text in one style.
using StyleMarkup = std::pair<std::string, std::string>;

// Style name -> its markup; only styles that yield markup have an entry.
using StyleTable = std::map<std::string, StyleMarkup, std::less<>>;

}  // namespace ssa
