#include "cli/decoding_source.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/encoding.h"
#include "cli/utf8.h"

namespace cli {
namespace {

constexpr std::size_t kBuffer = 64 * 1024;
// Room kept for the longest thing written at once: a sequence or a U+FFFD.
constexpr std::size_t kLongest = 4;

iconv_t asConverter(void* converter) { return static_cast<iconv_t>(converter); }

}  // namespace

DecodingSource::DecodingSource(hostkit::ByteSource& input, const std::string& encoding,
                               std::uint64_t offset)
    : input_(input), in_(kBuffer), inOffset_(offset), output_(kBuffer) {
  if (isUtf8Name(encoding)) return;
  const iconv_t converter = ::iconv_open("UTF-8", encoding.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    // The bytes must not pass as UTF-8 for it.
    openError_ = noConverter(encoding, converterTrouble(errno));
    return;
  }
  converter_ = converter;
  // Passed over where iconv cannot read a sequence, so that what follows
  // is read in step.
  unit_ = codeUnitBytes(encoding);
}

DecodingSource::~DecodingSource() {
  if (converter_ != nullptr) ::iconv_close(asConverter(converter_));
}

std::ptrdiff_t DecodingSource::read(char* into, std::size_t room, std::string* error) {
  if (!openError_.empty()) {
    *error = openError_;
    return -1;
  }
  if (converter_ == nullptr && outBegin_ == outEnd_ && inBegin_ == inEnd_ && !ended_ &&
      room >= kLongest) {
    // UTF-8 in: read straight into the caller's buffer and check it there.
    // Only what follows a malformed sequence, or a sequence the read cut,
    // takes the copying path.
    inOffset_ += inEnd_;
    inBegin_ = inEnd_ = 0;
    const std::ptrdiff_t n = input_.read(into, room, error);
    if (n <= 0) {
      ended_ = n == 0;
      return n;
    }
    const std::size_t got = static_cast<std::size_t>(n);
    const std::size_t valid = validUtf8Prefix(std::string_view(into, got));
    if (valid < got) {
      std::memcpy(in_.data(), into + valid, got - valid);
      inOffset_ += valid;
      inEnd_ = got - valid;
    } else {
      inOffset_ += got;
    }
    if (valid > 0) {
      straight_ = true;
      return static_cast<std::ptrdiff_t>(valid);
    }
  }
  if (outBegin_ == outEnd_) {
    std::ptrdiff_t status = 0;
    if (!refill(error, &status)) return status;
  }
  const std::size_t n = std::min(room, outEnd_ - outBegin_);
  std::memcpy(into, output_.data() + outBegin_, n);
  outBegin_ += n;
  return static_cast<std::ptrdiff_t>(n);
}

bool DecodingSource::refill(std::string* error, std::ptrdiff_t* status) {
  outBegin_ = outEnd_ = counted_ = 0;
  for (;;) {
    if (inBegin_ < inEnd_) {
      if (converter_ != nullptr) {
        convertIconv();
      } else {
        convertUtf8();
      }
    }
    if (outEnd_ > 0) {
      if (replaced_ == 0) countOutput();
      return true;
    }
    if (ended_) {
      *status = 0;
      return false;
    }
    if (!readMore(error, status)) {
      if (*status < 0) return false;
      ended_ = true;  // once more round: a sequence cut by the end is replaced
    }
  }
}

bool DecodingSource::readMore(std::string* error, std::ptrdiff_t* status) {
  // What is left is a sequence cut by the end of the last read: to the front.
  inOffset_ += inBegin_;
  std::memmove(in_.data(), in_.data() + inBegin_, inEnd_ - inBegin_);
  inEnd_ -= inBegin_;
  inBegin_ = 0;
  *status = input_.read(in_.data() + inEnd_, in_.size() - inEnd_, error);
  if (*status <= 0) return false;
  inEnd_ += static_cast<std::size_t>(*status);
  return true;
}

void DecodingSource::convertUtf8() {
  while (inBegin_ < inEnd_ && outputRoom() >= kLongest) {
    const std::string_view rest(in_.data() + inBegin_, inEnd_ - inBegin_);
    const std::size_t valid = validUtf8Prefix(rest.substr(0, outputRoom()));
    std::memcpy(output_.data() + outEnd_, rest.data(), valid);
    outEnd_ += valid;
    inBegin_ += valid;
    if (valid == rest.size()) return;
    const int length = utf8Sequence(rest.substr(valid));
    if (length > 0) return;               // a valid sequence with no room left for it
    if (length == 0 && !ended_) return;   // one the next read completes
    if (outputRoom() < kLongest) return;  // replaced on the next round
    replace(length == 0 ? rest.size() - valid : static_cast<std::size_t>(-length));
  }
}

void DecodingSource::convertIconv() {
  while (inBegin_ < inEnd_ && outputRoom() >= kLongest) {
    char* in = in_.data() + inBegin_;
    std::size_t inLeft = inEnd_ - inBegin_;
    char* out = output_.data() + outEnd_;
    std::size_t outLeft = outputRoom();
    const std::size_t converted = ::iconv(asConverter(converter_), &in, &inLeft, &out, &outLeft);
    const int why = errno;
    inBegin_ = static_cast<std::size_t>(in - in_.data());
    outEnd_ = static_cast<std::size_t>(out - output_.data());
    if (converted != static_cast<std::size_t>(-1)) continue;
    if (why == E2BIG) return;
    if (why == EINVAL && !ended_) return;  // a sequence the next read completes
    if (outputRoom() < kLongest) return;
    // EILSEQ, or a sequence the end of the input cuts.
    replace(why == EINVAL ? inEnd_ - inBegin_ : std::min(unit_, inEnd_ - inBegin_));
  }
}

void DecodingSource::replace(std::size_t skipped) {
  if (replaced_++ == 0) {
    countOutput();
    firstLine_ = straight_ ? 0 : lineEnds_.lines + 1;
    firstOffset_ = inOffset_ + inBegin_;
  }
  std::memcpy(output_.data() + outEnd_, kReplacementCharacter.data(), kReplacementCharacter.size());
  outEnd_ += kReplacementCharacter.size();
  inBegin_ += skipped;
}

void DecodingSource::countOutput() {
  lineEnds_.count(std::string_view(output_.data() + counted_, outEnd_ - counted_));
  counted_ = outEnd_;
}

void LineEnds::count(std::string_view bytes) {
  // A CR that ends the bytes counts now; the LF that may follow it does not.
  if (bytes.empty()) return;
  const char* const end = bytes.data() + bytes.size();
  const char* p = bytes.data();
  if (afterCR && *p == '\n') ++p;
  afterCR = end[-1] == '\r';
  for (const char* lf = p; (lf = static_cast<const char*>(std::memchr(lf, '\n', end - lf)));) {
    ++lines;
    ++lf;
  }
  for (const char* cr = p; (cr = static_cast<const char*>(std::memchr(cr, '\r', end - cr)));) {
    ++cr;
    if (cr == end || *cr != '\n') ++lines;
  }
}

}  // namespace cli
