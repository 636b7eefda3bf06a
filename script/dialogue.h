// Conversion of one event line into markup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/style_index.h"
#include "script/tables.h"
#include "script/text_buffer.h"

namespace ssa {

// Cuts a line into at most `limit` trimmed fields at the field commas: the
// commas outside brace blocks, but never the last byte of the line (a comma
// that ends the line opens no empty field). The last field keeps every comma
// it contains. The views point into `line`. The whole cut, for the tests and
// the fuzz targets; the converter and the host cut only what they read.
void splitEventFields(std::string_view line, std::uint32_t limit,
                      std::vector<std::string_view>& fields);

// The first `count` fields that splitEventFields(line, limit, ...) gives, or
// all of them when it gives fewer, written to fields[0], fields[1], ...;
// answers how many. The line is walked only as far as the last of them, and
// nothing is allocated: for a caller that reads a few leading fields of
// every line.
std::size_t cutLeadingEventFields(std::string_view line, std::uint32_t limit, std::size_t count,
                                  std::string_view* fields);

// Turns the text after "Dialogue:" into markup: picks the Text field, replaces
// the line-break codes, translates the override blocks and wraps the result in
// the style's markup, in one pass over the line.
//
// Holds scratch buffers that are reused from line to line, so a converter in
// steady state allocates nothing. Not thread-safe: one converter per caller
// (the component keeps one under its lock).
class LineConverter {
 public:
  // The markup, valid until the next call; nothing when the line has no Text
  // field (no output). Adds "Text" -> 0 to eventColumns when the table has no
  // "Text" entry, as later lines rely on.
  std::optional<std::string_view> convert(std::string_view lineText, EventColumns& eventColumns,
                                          const StyleTable& styleTable);

  // The converter keeps what every line needs from the two tables (the
  // number of fields, the Text and Style columns, an index of the styles)
  // from one call to the next. Whoever changes the tables, other than
  // through convert, calls this before the next line.
  void tablesChanged() { tables_.valid = false; }

 private:
  struct Tables {
    bool valid = false;
    const EventColumns* columns = nullptr;  // what the rest was read from
    const StyleTable* styles = nullptr;
    std::uint32_t fieldLimit = 0;
    std::uint32_t textColumn = 0;
    std::optional<std::uint32_t> styleColumn;
    StyleIndex styleIndex;
  };

  // Reads the tables into tables_, adding "Text" first when it is missing.
  void readTables(EventColumns& eventColumns, const StyleTable& styleTable);

  Tables tables_;
  TextBuffer markup_;     // the result
  std::string carry_;     // translated text that opens a further block
  TextBuffer rewritten_;  // a block whose line-break codes are replaced
  std::string gathered_;  // a block in one piece, for a colour or size code
};

}  // namespace ssa
