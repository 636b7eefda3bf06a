// What subrite-host reads of a dialogue line itself, for its writers: Start,
// End and Style, and on demand Text, cut by the module's own rules and
// functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "script/tables.h"

namespace cli {

// The columns only the host reads, beside the module's Style and Text.
inline constexpr std::string_view kStartColumn = "Start";
inline constexpr std::string_view kEndColumn = "End";

inline bool isDialogue(std::string_view line) {
  return line.substr(0, ssa::kDialoguePrefix.size()) == ssa::kDialoguePrefix;
}

struct EventFields {
  std::string_view start;
  std::string_view end;
  std::string_view style;
};

// Reads the three fields of each "Dialogue:" line (empty when one is
// missing) and follows the module's column rule from line to line.
class EventFieldReader {
 public:
  // The columns the header left (hostkit::ScriptHeader::columns).
  explicit EventFieldReader(ssa::EventColumns columns);
  // Only for lines that begin with "Dialogue:"; the views point into `line`.
  EventFields read(std::string_view line);
  // The Text field of the line last read, as the module cuts it (empty when
  // the line has none). Not cut by read(): it is needed rarely, and is most
  // often the last field, so that cutting it walks the whole line.
  std::string_view text(std::string_view line);
  // Whether the line last read reaches its Text field at all. A comma that
  // ends the line begins an empty one to whoever wrote it, though the
  // module's cut ends no field there.
  bool reachesText(std::string_view line);

 private:
  // Cuts the line last read as far as its Text field: the fields cut.
  std::size_t cutToText(std::string_view line);

  ssa::EventColumns columns_;
  std::optional<std::size_t> start_, end_, style_;
  std::size_t text_;         // where the module looks for Text, once it has added it
  std::uint32_t limit_ = 0;  // the fields the last line was cut into, at most
  bool textAdded_ = false;
  // The leading fields of a line: as far as the last of the three, or as
  // far as Text; sized once.
  std::size_t leading_ = 0;
  std::vector<std::string_view> fields_;
};

}  // namespace cli
