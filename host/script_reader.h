// Reading a script the way subrite-host hands it to the module: bytes as
// bytes, one line at a time, with only a small window of the input in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/tables.h"

namespace hostcli {

// Lines without their terminators. CRLF, LF and a lone CR each end a line; a
// UTF-8 byte-order mark at the very start is dropped; a last line without a
// terminator still counts. No character set is assumed.
class LineReader {
 public:
  // Reads the descriptor, which stays open.
  explicit LineReader(int fd);
  // Reads bytes that outlive the reader.
  explicit LineReader(std::string_view bytes);

  // The next line, valid until the next call (it mostly points into the read
  // window); false at the end of the input or on a read error (then error()
  // says which).
  bool next(std::string_view* line);
  // The same, copied.
  bool next(std::string* line);
  std::uint64_t linesRead() const { return lines_; }
  const std::string& error() const { return error_; }

 private:
  // Appends more input after end_; false at the end or on an error.
  bool fill();
  // Position of the first `c` from begin_, end_ when none; kept in *cached.
  std::size_t nextByte(char c, std::size_t* cached);

  int fd_ = -1;
  std::string_view memory_;
  std::vector<char> window_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  // Where the next LF and the next CR stand in the window (end_ when it has
  // none), so that a file of lone CRs is not searched to the end for an LF
  // on every line; kUnknown once the window has changed.
  static constexpr std::size_t kUnknown = ~std::size_t{0};
  std::size_t nextLF_ = kUnknown;
  std::size_t nextCR_ = kUnknown;
  bool started_ = false;    // the byte-order mark has been looked for
  bool afterCR_ = false;    // an LF right here belongs to the CR before it
  bool exhausted_ = false;
  std::string spill_;  // a line that runs past the end of the window
  std::uint64_t lines_ = 0;
  std::string error_;
};

// Where an event line's fields are, from the events "Format:" line, with the
// module's rules and functions: the names are the comma-separated pieces
// after the first eight bytes, a repeated name keeps its first column, and
// the number of distinct names is the number of fields a line is cut into.
class EventColumns {
 public:
  // The columns a script without an events "Format:" line has.
  EventColumns();
  // From a trimmed "Format:" line.
  static EventColumns fromFormatLine(std::string_view line);

  std::optional<std::size_t> find(std::string_view name) const;
  std::size_t fieldLimit() const { return columns_.size(); }
  // The module takes the whole line as Text once it has converted a line
  // under columns without one; the host follows, to cut lines alike.
  void addMissingText();

 private:
  ssa::EventColumns columns_;
};

// What the host needs of one dialogue line for its writers.
struct EventFields {
  std::string_view start;
  std::string_view end;
  std::string_view style;
};

// Reads Start, End and Style of a "Dialogue:" line (empty when a field is
// missing) and follows the module's column rule afterwards.
class EventReader {
 public:
  explicit EventReader(EventColumns columns);
  // Only for lines that begin with "Dialogue:"; the views point into `line`.
  EventFields read(std::string_view line);

 private:
  EventColumns columns_;
  std::optional<std::size_t> start_, end_, style_;
  // Fields enough that the three above end where the full cut ends them: one
  // past the last of them, which then takes the rest (usually the Text).
  std::size_t needed_ = 0;
  bool textAdded_ = false;
  std::vector<std::string_view> fields_;
};

constexpr std::string_view kDialoguePrefix = "Dialogue:";
inline bool isDialogue(std::string_view line) {
  return line.substr(0, kDialoguePrefix.size()) == kDialoguePrefix;
}

// The part of a script that goes into the format record.
struct ScriptHeader {
  // Every line up to and including the "Format:" line of "[Events]", joined
  // with "\n".
  std::string text;
  // "SSA" for a "[V4 Styles]" section, "ASS" for "[V4+ Styles]" or neither.
  const char* inputFormat = "ASS";
  EventColumns columns;
  bool hasEvents = false;
  // An event line that came before any events "Format:" line: it ends the
  // header (the module then cuts lines by its default columns) and is the
  // first event.
  std::optional<std::string> firstEvent;
};

// Largest header the host holds; a file without "[Events]" this far in is
// not taken for a script.
inline constexpr std::size_t kMaxHeaderBytes = 64u << 20;

// Reads the header. False on a read error, when the input ends before
// "[Events]" or when the header grows beyond kMaxHeaderBytes; *error says
// which.
bool readHeader(LineReader& reader, ScriptHeader* header, std::string* error);

}  // namespace hostcli
