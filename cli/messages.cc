#include "cli/messages.h"

#include <unistd.h>

#include <cerrno>

namespace cli {
namespace {

constexpr char kProgram[] = "subrite-host: ";
constexpr char kClearLine[] = "\r\033[K";

}  // namespace

void Messages::say(const std::string& text) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::string bytes;
  if (!progress_.empty()) bytes = kClearLine;
  bytes += kProgram + text + '\n';
  bytes += progress_;
  write(bytes);
}

void Messages::progress(const std::string& text) {
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
