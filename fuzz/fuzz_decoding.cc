// subrite-host's reading of a script in any character set: whatever the
// bytes, the encoding and the sizes of the reads, the lines handed on are
// valid UTF-8, UTF-8 in comes out as it went in unless something was
// replaced, and what the detector names iconv reads.
//
// The input is an encoding selector byte, a byte for the size of each read
// from the file and one for each read of the reader, then the file's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "cli/decoding_source.h"
#include "cli/encoding.h"
#include "cli/utf8.h"
#include "fuzz/checks.h"
#include "hostkit/script_source.h"

namespace {

using fuzzing::expect;

// The encodings of real scripts, and the odd ones out: code units of two and
// four bytes, and stateful ones.
const char* const kEncodings[] = {"UTF-8",  "UTF-16LE", "UTF-16BE",    "UTF-32LE",  "UTF-32BE",
                                  "CP1252", "GB18030",  "CP932",       "SHIFT_JIS", "BIG5",
                                  "EUC-KR", "KOI8-R",   "ISO-2022-JP", "UTF-7"};

// The file, handed out in reads of a fixed size.
class PieceSource final : public hostkit::ByteSource {
 public:
  PieceSource(std::string_view bytes, std::size_t piece) : bytes_(bytes), piece_(piece) {}

  std::ptrdiff_t read(char* into, std::size_t room, std::string*) override {
    const std::size_t n = std::min({room, piece_, bytes_.size()});
    std::memcpy(into, bytes_.data(), n);
    bytes_.remove_prefix(n);
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::string_view bytes_;
  std::size_t piece_;
};

// Everything the source hands on, in reads of `room` bytes.
std::string drain(cli::DecodingSource& source, std::size_t room) {
  std::string out;
  std::string buffer(room, '\0');
  std::string error;
  for (;;) {
    const std::ptrdiff_t n = source.read(buffer.data(), room, &error);
    expect(n >= 0, "a read from memory failed", error);
    if (n == 0) return out;
    expect(static_cast<std::size_t>(n) <= room, "a read wrote past its room");
    out.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::string encoding = kEncodings[data[0] % (sizeof kEncodings / sizeof kEncodings[0])];
  const std::size_t piece = 1 + data[1] % 64;
  const std::size_t room = 1 + data[2] % 32;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 3, size - 3);

  PieceSource file(bytes, piece);
  cli::DecodingSource decoding(file, encoding, 0);
  const std::string text = drain(decoding, room);
  expect(cli::validUtf8Prefix(text) == text.size(), "decoded text that is not UTF-8", encoding);
  if (decoding.replaced() == 0) {
    expect(!cli::isUtf8Name(encoding) || text == bytes, "UTF-8 changed without a replacement");
  } else {
    expect(decoding.firstOffset() < bytes.size(), "the first replacement lies past the input");
  }

  // The same through the line reader, as the host reads a script.
  PieceSource again(bytes, piece);
  cli::DecodingSource decodingAgain(again, encoding, 0);
  hostkit::LineReader reader(decodingAgain);
  std::string_view line;
  while (reader.next(&line)) {
    expect(cli::validUtf8Prefix(line) == line.size(), "a line that is not UTF-8", encoding);
  }
  expect(reader.error().empty(), "the line reader failed", reader.error());

  // What the detector names (as the host uses it) must be readable.
  cli::CharsetDetector detector;
  detector.feed(bytes);
  const std::string detected = detector.finish();
  if (!detected.empty()) {
    expect(cli::canConvertFrom(
               cli::readAsDetected(detected, detector.fewWindows1252(), detector.holdsC1())),
           "a detected encoding iconv cannot read", detected);
  }
  cli::encodingFromMark(bytes);
  cli::encodingFromZeros(bytes);
  return 0;
}
