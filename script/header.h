// Script header: fills the event column table and the style table.
#pragma once

#include <string_view>

#include "script/tables.h"

namespace ssa {

// Assigns the ten default event columns (Marked 0 ... Text 9), each by
// insert-or-assign: entries under other names stay.
void assignDefaultColumns(EventColumns& eventColumns);

// An events "Format:" line (trimmed): its comma-separated names after the
// first eight bytes replace every column; a repeated name keeps its first.
void readEventsFormat(std::string_view line, EventColumns& eventColumns);

// Walks the header text (the whole payload of a "SUB " format record) through
// the section machine: style "Format:" and "Style:" lines fill styleTable,
// events "Format:" lines replace eventColumns. Entries are added and
// overwritten, never removed. Answers whether eventColumns has "Text" after.
// Does not assign the defaults; the caller does that first.
bool readScriptHeader(std::string_view header, EventColumns& eventColumns, StyleTable& styleTable);

}  // namespace ssa
