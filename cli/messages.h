// What subrite-host says on standard error. Each message is one whole line,
// written at once, so the lines of files converted side by side never mix;
// a progress line, when there is one, is taken away before a message and
// drawn again after it. Thread-safe, but for one that holds a script's lines
// (below), which is its thread's alone.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

namespace cli {

// The name messages begin with.
inline constexpr char kProgramName[] = "subrite-host";

class Messages {
 public:
  Messages() = default;
  // Lines said to this one wait, and go to `whole` together when it is
  // destroyed: what is said of one script of a batch stays together. Used
  // by one thread.
  explicit Messages(Messages* whole) : whole_(whole) {}
  ~Messages();
  Messages(const Messages&) = delete;
  Messages& operator=(const Messages&) = delete;

  // "subrite-host: " and the parts, on a line of their own; control
  // characters are written as escapes (\n, \x1B). Without memory for the
  // line, the parts go out as they are, at once: a message is never lost,
  // nor is a throw made of it.
  void say(std::initializer_list<std::string_view> parts) noexcept;
  void say(std::string_view text) noexcept { say({text}); }
  // Shows `text` as the progress line (only where standard error is a
  // terminal; the caller decides); an empty text takes it away. One that
  // holds a script's lines hands it on at once.
  void progress(const std::string& text) noexcept;

 private:
  // Writes the pieces with one system call, the progress line taken away
  // before them (or the line cleared, when `clear`) and drawn again after
  // them. Makes no allocation.
  void write(const std::string_view* pieces, std::size_t count, bool clear) noexcept;
  void write(std::initializer_list<std::string_view> pieces, bool clear = false) noexcept {
    write(pieces.begin(), pieces.size(), clear);
  }

  Messages* const whole_ = nullptr;  // set: this one holds a script's lines
  std::string waiting_;              // lines for whole_; its one thread, no lock
  std::mutex mutex_;                 // guards progress_, keeps each write whole
  std::string progress_;             // what the progress line shows now
};

}  // namespace cli
