// A script's bytes in any character set, handed on as valid UTF-8: each
// sequence that cannot be read becomes one U+FFFD, and the first one is
// located for the warning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/script_source.h"

namespace cli {

// Line ends counted as LineReader counts them: an LF, a CR, and a CR LF
// once, in bytes that come in pieces.
struct LineEnds {
  void count(std::string_view bytes);
  std::uint64_t lines = 0;
  bool afterCR = false;  // the last piece ended with a CR
};

class DecodingSource final : public hostkit::ByteSource {
 public:
  // Reads `input` (borrowed) as `encoding`, which canConvertFrom accepts or
  // isUtf8Name names (then only malformed sequences are replaced); when no
  // converter opens for it after all, every read fails and says why. `offset`
  // is where `input` starts in the file, for the position of the first
  // replacement.
  DecodingSource(hostkit::ByteSource& input, const std::string& encoding, std::uint64_t offset);
  ~DecodingSource() override;
  DecodingSource(const DecodingSource&) = delete;
  DecodingSource& operator=(const DecodingSource&) = delete;

  std::ptrdiff_t read(char* into, std::size_t room, std::string* error) override;

  // Sequences replaced so far, and where the first of them stands: its line
  // from 1 and its byte offset in the file. The line is 0 when valid UTF-8
  // passed straight through before it (nothing counts lines there): then
  // the file's own line ends before the offset tell it.
  std::uint64_t replaced() const { return replaced_; }
  std::uint64_t firstLine() const { return firstLine_; }
  std::uint64_t firstOffset() const { return firstOffset_; }

 private:
  // Converts what input_ holds into output_; false when nothing more will come
  // (*status: 0 at the end, negative on a read error).
  bool refill(std::string* error, std::ptrdiff_t* status);
  // Takes more input after what is left of the last; false at its end.
  bool readMore(std::string* error, std::ptrdiff_t* status);
  void convertUtf8();
  void convertIconv();
  // Puts one U+FFFD in place of `skipped` input bytes.
  void replace(std::size_t skipped);
  std::size_t outputRoom() const { return output_.size() - outEnd_; }
  // Counts the line ends handed on from output_, until the first
  // replacement has its line.
  void countOutput();

  hostkit::ByteSource& input_;
  void* converter_ = nullptr;  // iconv's; null for UTF-8 in
  std::string openError_;      // why converter_ could not be opened: every read fails
  std::size_t unit_ = 1;       // bytes skipped at a sequence iconv cannot read
  std::vector<char> in_;
  std::size_t inBegin_ = 0, inEnd_ = 0;
  std::uint64_t inOffset_;  // the file offset of in_[0]
  bool ended_ = false;
  std::vector<char> output_;
  std::size_t outBegin_ = 0, outEnd_ = 0;
  std::size_t counted_ = 0;  // output_ bytes whose line ends are counted
  LineEnds lineEnds_;
  bool straight_ = false;  // bytes were handed on straight, uncounted
  std::uint64_t replaced_ = 0;
  std::uint64_t firstLine_ = 0;
  std::uint64_t firstOffset_ = 0;
};

}  // namespace cli
