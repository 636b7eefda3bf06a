#include "cli/messages.h"

#include <unistd.h>

#include <cerrno>

namespace cli {
namespace {

constexpr char kProgram[] = "subrite-host: ";
constexpr char kClearLine[] = "\r\033[K";

// Control characters, as file names and script text may hold, written as
// escapes: a line break would cut the message in two, and a terminal would
// act on the others.
void appendVisible(std::string* out, const std::string& text) {
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
  if (whole_ != nullptr && !waiting_.empty()) whole_->sayLines(waiting_);
}

void Messages::say(const std::string& text) {
  std::string line = kProgram;
  appendVisible(&line, text);
  line += '\n';
  if (whole_ != nullptr) {
    waiting_ += line;
  } else {
    sayLines(line);
  }
}

void Messages::sayLines(const std::string& lines) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::string bytes;
  if (!progress_.empty()) bytes = kClearLine;
  bytes += lines;
  bytes += progress_;
  write(bytes);
}

void Messages::progress(const std::string& text) {
  if (whole_ != nullptr) return whole_->progress(text);
  std::lock_guard<std::mutex> guard(mutex_);
  if (text == progress_) return;
  write(kClearLine + text);
  progress_ = text;
}

// One write of the whole text where the descriptor takes it, so that a line
// is never cut by another's.
void Messages::write(const std::string& bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace cli
