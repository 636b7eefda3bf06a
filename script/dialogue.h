// Conversion of one event line into markup.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/tables.h"
#include "script/text_buffer.h"

namespace ssa {

// Cuts a line into at most `limit` trimmed fields at the field commas; the
// last field keeps every comma it contains. The views point into `line`.
void splitEventFields(std::string_view line, std::uint32_t limit,
                      std::vector<std::string_view>& fields);

// Turns the text after "Dialogue:" into markup: picks the Text field, replaces
// the line-break codes, translates the override blocks and wraps the result in
// the style's markup. Every step runs in time linear in the line.
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

 private:
  std::vector<std::string_view> fields_;
  TextBuffer text_;    // the Text field with its line-break codes replaced, if it has any
  TextBuffer markup_;  // the result
  std::string carry_;  // translated text that opens a further block
  std::string block_;  // one block gathered for a colour or size code
};

}  // namespace ssa
