#include "cli/messages.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "hostkit/descriptor_wait.h"

namespace cli {
namespace {

constexpr std::string_view kPrefix = ": ";
constexpr char kClearLine[] = "\r\033[K";

// Control characters, as file names and script text may hold, written as
// escapes: a line break would cut the message in two, and a terminal would
// act on the others.
void appendVisible(std::string* out, std::string_view text) {
  constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out->push_back(c);
    } else if (c == '\n') {
      *out += "\\n";
    } else if (c == '\r') {
      *out += "\\r";
    } else if (c == '\t') {
      *out += "\\t";
    } else {
      *out += "\\x";
      out->push_back(kHex[byte >> 4]);
      out->push_back(kHex[byte & 15]);
    }
  }
}

}  // namespace

Messages::~Messages() {
  if (whole_ != nullptr && !waiting_.empty()) whole_->write({waiting_});
}

void Messages::say(std::initializer_list<std::string_view> parts) noexcept {
  try {
    std::string line = kProgramName;
    line += kPrefix;
    for (const std::string_view part : parts) appendVisible(&line, part);
    line += '\n';
    if (whole_ != nullptr) {
      waiting_ += line;
    } else {
      write({line});
    }
  } catch (const std::bad_alloc&) {
    Messages& out = whole_ != nullptr ? *whole_ : *this;
    if (!waiting_.empty()) out.write({waiting_});
    waiting_.clear();
    constexpr std::size_t kMostParts = 6;
    std::string_view pieces[kMostParts + 3] = {kProgramName, kPrefix};
    std::size_t count = 2;
    for (const std::string_view part : parts) {
      if (count < kMostParts + 2) pieces[count++] = part;
    }
    pieces[count++] = "\n";
    out.write(pieces, count, false);
  }
}

void Messages::progress(const std::string& text) noexcept {
  if (whole_ != nullptr) return whole_->progress(text);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (text == progress_) return;
    try {
      progress_ = text;
    } catch (const std::bad_alloc&) {
      return;  // the line shown stays
    }
  }
  write({}, true);
}

void Messages::write(const std::string_view* pieces, std::size_t count, bool clear) noexcept {
  std::lock_guard<std::mutex> guard(mutex_);
  constexpr std::size_t kMostPieces = 12;
  iovec parts[kMostPieces];
  std::size_t left = 0;
  const auto add = [&parts, &left](std::string_view piece) {
    if (piece.empty() || left == kMostPieces) return;
    parts[left++] = iovec{const_cast<char*>(piece.data()), piece.size()};
  };
  if (clear || !progress_.empty()) add(kClearLine);
  for (std::size_t i = 0; i < count; ++i) add(pieces[i]);
  add(progress_);
  // A message that cannot be written is lost: there is nowhere to say so.
  hostkit::writeWhole(STDERR_FILENO, parts, static_cast<int>(left));
}

}  // namespace cli
