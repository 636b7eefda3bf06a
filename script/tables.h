// The two tables that a script header leaves behind and every event line reads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace ssa {

// Event field name -> 0-based column among the fields after "Dialogue:".
// Its size is the number of fields an event line is cut into. The transparent
// comparator lets a line look up "Text" and "Style" without building strings.
using EventColumns = std::map<std::string, std::uint32_t, std::less<>>;

// The lines that are converted, and the columns read by name.
constexpr std::string_view kDialoguePrefix = "Dialogue:";
constexpr std::string_view kTextColumn = "Text";
constexpr std::string_view kStyleColumn = "Style";

// The Text column, added at 0 when the columns have none: the whole line is
// then the text, for this line and every later one. Allocates only to add.
inline EventColumns::iterator findOrAddTextColumn(EventColumns& columns) {
  const auto text = columns.find(kTextColumn);
  return text != columns.end() ? text : columns.emplace(kTextColumn, 0).first;
}

// Opening and closing markup of text in one style.
using StyleMarkup = std::pair<std::string, std::string>;

// Style name -> its markup; only styles that yield markup have an entry.
using StyleTable = std::map<std::string, StyleMarkup, std::less<>>;

}  // namespace ssa
