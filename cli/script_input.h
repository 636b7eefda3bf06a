// The script subrite-host converts: a file, standard input or the bundled
// sample, its character set decided, read line by line as UTF-8. Only a
// read-ahead of its first MiB and the reader's window are held.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/decoding_source.h"
#include "cli/encoding.h"
#include "hostkit/script_source.h"

namespace cli {

// How much of an input that cannot be read twice (standard input, a pipe)
// decides its character set.
inline constexpr std::size_t kReadAhead = 1u << 20;

class ScriptInput {
 public:
  ScriptInput();
  ~ScriptInput();
  ScriptInput(const ScriptInput&) = delete;
  ScriptInput& operator=(const ScriptInput&) = delete;

  // Opens the file named, or standard input for "-", or, without a name,
  // takes `bundled` (which must outlive this). False with *error.
  bool open(const std::optional<std::string>& name, std::string_view bundled, std::string* error);
  // The open descriptor; -1 for the bundled script.
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }

  // Decides the character set, from `encoding` when it is not "auto" (then
  // one that canConvertFrom accepts) unless a byte-order mark says another,
  // and reads the header. A regular file whose first kReadAhead bytes are
  // text (few control bytes) is read to its end (and back) when they are
  // ASCII, and when the detector is asked (not UTF-8, or ISO-2022's
  // escapes); anything else is judged by those bytes. False with *error on
  // a read error or for what is not a script.
  bool start(const std::string& encoding, std::string* error);
  const Encoding& encoding() const { return encoding_; }
  // The lines that tell the user a script was not read as plain UTF-8 and
  // how to choose otherwise, and warn of a set that loses the backslash;
  // none when there is nothing to tell. Also after start failed, when the
  // set was decided: a set that garbles the header is the likely cause.
  std::vector<std::string> notices() const;
  // The converter, when the bytes are not read as they are.
  const DecodingSource* decoding() const { return decoding_.get(); }
  // The line of the first sequence replaced, from 1; 0 when none was, or
  // when it cannot be told (standard input, past valid UTF-8).
  std::uint64_t firstReplacedLine() const;

  hostkit::ScriptHeader& header() { return header_; }
  hostkit::LineReader& reader() { return *reader_; }
  // Lines read so far; 0 before the reading starts.
  std::uint64_t linesRead() const { return reader_ ? reader_->linesRead() : 0; }
  // Whether the script's first kReadAhead bytes read as text: few control
  // bytes, or the mark or zeros of 16- or 32-bit text. start() judges a pipe
  // and the sample; a regular file's start is read again for it, once, when
  // first asked. After start().
  bool startReadsAsText();

 private:
  class ReadAhead;
  // Reads the descriptor from where it stands to its end, in pieces, then
  // goes back to `resume` bytes into the script.
  template <typename Feed>
  bool readRest(Feed feed, std::uint64_t resume, std::string* error);
  // Reads the first kReadAhead bytes, or all there are, from where the
  // descriptor stands (the script's origin) into `bytes`; *size is 0 on
  // entry. False with *error on a read error.
  bool readStart(char* bytes, std::size_t* size, std::string* error);
  // Sets encoding_ from the set given (one canConvertFrom accepts), unless
  // a byte-order mark says another; notes what is worth telling of it.
  void useGiven(const std::string& encoding, std::string_view ahead,
                const std::optional<Encoding>& mark);
  // Sets encoding_ from the bytes; *asIs when they need no converting (all
  // of them were seen to be valid UTF-8). False with *error on a read error.
  // In turn: a mark of UTF-16 or UTF-32, or their zero bytes; valid UTF-8;
  // a UTF-8 mark over bytes that are not; the detector.
  // `mark` is the byte-order mark `ahead` begins with, if any.
  bool decide(std::string_view ahead, const std::optional<Encoding>& mark, bool whole, bool* asIs,
              std::string* error);
  // What the UTF-8 check of the input found.
  struct Utf8Verdict {
    bool valid = false;
    bool checkedWhole = false;  // else only the first MiB, which is then free of malformed bytes
    bool escapes = false;       // holds ESC, as ISO-2022 text does
  };
  bool checkUtf8(std::string_view ahead, bool whole, Utf8Verdict* verdict, std::string* error);
  bool useValidUtf8(std::string_view ahead, bool whole, const std::optional<Encoding>& mark,
                    const Utf8Verdict& utf8, bool* asIs, std::string* error);
  bool useDetected(std::string_view ahead, bool whole, std::string* error);
  // False, with *error saying why no converter from `encoding` opens
  // (`trouble`, from canConvertFrom).
  bool cannotConvert(const std::string& encoding, const std::string& trouble,
                     std::string* error) const;
  // Whether the rest of the input is read to decide its set, then read
  // again: only for a regular file whose first MiB looks like text.
  bool worthReadingTwice(std::string_view ahead, bool whole) const;
  // The detector's name for the input's set, from all of it when it can be
  // read again (then it is read back to where `ahead` ends), else `ahead`;
  // and, when `used` is given, the set to read it as (see readAsDetected).
  bool detect(std::string_view ahead, bool whole, std::string* detected, std::string* used,
              std::string* error);

  int fd_ = -1;
  std::uint64_t origin_ = 0;  // the descriptor's offset where the script begins
  std::string name_ = "the bundled sample";
  std::string_view bundled_;
  Encoding encoding_;
  bool regularFile_ = false;              // so it can be read again
  std::optional<bool> startReadsAsText_;  // see startReadsAsText()
  bool worthTelling_ = false;             // not read as the UTF-8 it was seen or said to be
  std::string setAside_;                  // the encoding given, when a byte-order mark overrode it
  bool seemsUtf8_ = false;   // given another, its first MiB is valid UTF-8 beyond ASCII
  std::string backslashAs_;  // given a set that reads 0x5C as another character: which
  std::unique_ptr<ReadAhead> ahead_;
  std::unique_ptr<DecodingSource> decoding_;
  std::optional<hostkit::LineReader> reader_;
  hostkit::ScriptHeader header_;
};

}  // namespace cli
