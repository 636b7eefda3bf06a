// What subrite-host says on standard error. Each message is one whole line,
// written at once, so the lines of files converted side by side never mix;
// a progress line, when there is one, is taken away before a message and
// drawn again after it. Thread-safe, but for one that holds a script's lines
// (below), which is its thread's alone.
#pragma once

#include <mutex>
#include <string>

namespace cli {

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

  // "subrite-host: <text>" on a line of its own; control characters in
  // `text` are written as escapes (\n, \x1B).
  void say(const std::string& text);
  // Shows `text` as the progress line (only where standard error is a
  // terminal; the caller decides); an empty text takes it away. One that
  // holds a script's lines hands it on at once.
  void progress(const std::string& text);

 private:
  // Whole lines, at once, with the progress line taken away and drawn again.
  void sayLines(const std::string& lines);
  void write(const std::string& bytes);

  Messages* const whole_ = nullptr;  // set: this one holds a script's lines
  std::string waiting_;              // lines for whole_; its one thread, no lock
  std::mutex mutex_;                 // guards progress_, keeps each write whole
  std::string progress_;             // what the progress line shows now
};

}  // namespace cli
