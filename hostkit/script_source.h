// The one way to cut a script into what the host sends: the header, for the
// format record, and the event lines after it, one sample each. Bytes stay
// bytes: no character set is assumed. Only a small window of the input is
// held, so a script of any length streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/tables.h"

namespace hostkit {

// Where a LineReader's bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `room` bytes (room > 0) into `into`: how many, 0 at the end of the
  // input; negative on a read error, with *error saying which.
  virtual std::ptrdiff_t read(char* into, std::size_t room, std::string* error) = 0;
};

// A descriptor read as it is; it stays open.
class FdSource final : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  std::ptrdiff_t read(char* into, std::size_t room, std::string* error) override;

 private:
  int fd_;
};

// Longest line a LineReader holds: a file of zero bytes, or /dev/zero, has
// no line end, and its one line must not take all the memory there is.
inline constexpr std::size_t kMaxLineBytes = 64u << 20;

// Lines without their terminators. CRLF, LF and a lone CR each end a line; a
// UTF-8 byte-order mark at the very start is dropped; a last line without a
// terminator still counts. A line longer than its limit (kMaxLineBytes, in
// whole MiB) ends the input with an error.
class LineReader {
 public:
  // Reads bytes that outlive the reader.
  explicit LineReader(std::string_view bytes);
  // Reads the source, borrowed: it must outlive the reader.
  explicit LineReader(ByteSource& source);

  // The next line, valid until the next call (it mostly points into the read
  // window); false at the end of the input or on a read error (then error()
  // says which).
  bool next(std::string_view* line);
  std::uint64_t linesRead() const { return lines_; }
  const std::string& error() const { return error_; }
  // Whether the input ended at a line longer than the limit.
  bool overlong() const { return overlong_; }
  // A lower limit, which tests use to reach it cheaply.
  void setLineLimit(std::size_t bytes) { lineLimit_ = bytes; }

 private:
  // Appends more input after end_; false at the end or on an error.
  bool fill();
  // Position of the first `c` from begin_, end_ when none; kept in *cached.
  std::size_t nextByte(char c, std::size_t* cached);

  ByteSource* source_ = nullptr;  // null: the bytes are memory_
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
  bool started_ = false;  // the byte-order mark has been looked for
  bool afterCR_ = false;  // an LF right here belongs to the CR before it
  bool exhausted_ = false;
  bool overlong_ = false;
  std::size_t lineLimit_ = kMaxLineBytes;
  std::string spill_;  // a line that runs past the end of the window
  std::uint64_t lines_ = 0;
  std::string error_;
};

// The part of a script that goes into the format record.
struct ScriptHeader {
  // Every line up to and including the "Format:" line of "[Events]", but
  // embedded files (see readHeader), joined with "\n".
  std::string text;
  // "SSA" for a "[V4 Styles]" section, "ASS" for "[V4+ Styles]" or neither.
  const char* inputFormat = "ASS";
  // The columns the module cuts event lines by after this header, read by
  // its own function from the events "Format:" line; its defaults without one.
  ssa::EventColumns columns;
  bool hasEvents = false;
  // An event line that came before any events "Format:" line: it ends the
  // header (the module then cuts lines by its default columns) and is the
  // first event, as nextEvent gives it.
  std::optional<std::string> firstEvent;
};

// Largest header the host holds; a file without "[Events]" this far in is
// not taken for a script.
inline constexpr std::size_t kMaxHeaderBytes = 64u << 20;

// Reads the header, less the lines of embedded files ([Fonts], [Graphics])
// that the module could not take for a style's. False on a read error, when
// the input ends before "[Events]" or when the header grows beyond
// kMaxHeaderBytes; *error says which. On false, header->text holds what was
// read.
bool readHeader(LineReader& reader, ScriptHeader* header, std::string* error);

// The next line after the header that is not blank, whatever it holds (the
// module takes "Dialogue:" lines and passes over the rest), without the
// spaces, tabs and byte-order marks it may begin with (the module reads an
// event from its first byte; the header it trims itself). False at the end of the input or
// on a read error.
bool nextEvent(LineReader& reader, std::string_view* event);

// A whole script in memory, cut as above: the header, then each event line
// as nextEvent gives it.
struct Script {
  ScriptHeader header;
  std::vector<std::string> events;
};

// False, with *error, as readHeader; script->header.text then holds every
// line it keeps, and there are no events.
bool splitScript(std::string_view bytes, Script* script, std::string* error);

}  // namespace hostkit
