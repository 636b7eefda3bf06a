#include "hostkit/script_source.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "hostkit/descriptor_wait.h"
#include "script/header.h"
#include "script/text.h"

namespace hostkit {
namespace {

constexpr std::size_t kWindow = 64 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Event types that may stand in "[Events]"; one of them before any "Format:"
// line means the script has none.
bool isEventLine(std::string_view trimmed) {
  for (std::string_view type :
       {"Dialogue:", "Comment:", "Picture:", "Sound:", "Movie:", "Command:"}) {
    if (ssa::startsWith(trimmed, type)) return true;
  }
  return false;
}

// Spaces, tabs and byte-order marks: scripts joined end to end keep the
// second one's mark at the start of a line, where it reads as nothing.
std::string_view withoutIndent(std::string_view line) {
  for (;;) {
    if (!line.empty() && ssa::isSpaceOrTab(line.front())) {
      line.remove_prefix(1);
    } else if (ssa::startsWith(line, kByteOrderMark)) {
      line.remove_prefix(kByteOrderMark.size());
    } else {
      return line;
    }
  }
}

bool isSectionHead(std::string_view line) {
  return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

// Embedded files are written six bits a byte, as the bytes '!' to '`', which
// take in '[' and ']': about one line of data in 4,096 is bracketed so. A
// section's name holds a lowercase letter or a space, which data never does.
bool isEncodedData(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c >= '!' && c <= '`'; });
}

}  // namespace

// --- Sources and lines ----------------------------------------------------

std::ptrdiff_t FdSource::read(char* into, std::size_t room, std::string* error) {
  for (;;) {
    const ssize_t n = ::read(fd_, into, room);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitUntilReady(fd_, POLLIN)) continue;
    *error = std::strerror(errno);
    return -1;
  }
}

LineReader::LineReader(std::string_view bytes) : memory_(bytes), window_(kWindow) {}

LineReader::LineReader(ByteSource& source) : source_(&source), window_(kWindow) {}

bool LineReader::fill() {
  if (exhausted_) return false;
  nextLF_ = nextCR_ = kUnknown;
  if (begin_ == end_) begin_ = end_ = 0;
  const std::size_t room = window_.size() - end_;
  if (source_ == nullptr) {
    const std::size_t n = std::min(room, memory_.size());
    std::memcpy(window_.data() + end_, memory_.data(), n);
    memory_.remove_prefix(n);
    end_ += n;
    if (n == 0) exhausted_ = true;
    return n != 0;
  }
  const std::ptrdiff_t n = source_->read(window_.data() + end_, room, &error_);
  if (n > 0) {
    end_ += static_cast<std::size_t>(n);
    return true;
  }
  exhausted_ = true;
  return false;
}

std::size_t LineReader::nextByte(char c, std::size_t* cached) {
  if (*cached == kUnknown || *cached < begin_) {
    const void* found = std::memchr(window_.data() + begin_, c, end_ - begin_);
    *cached = found == nullptr
                  ? end_
                  : static_cast<std::size_t>(static_cast<const char*>(found) - window_.data());
  }
  return *cached;
}

bool LineReader::next(std::string_view* line) {
  if (!started_) {
    started_ = true;
    while (end_ - begin_ < kByteOrderMark.size() && fill()) {
    }
    const std::string_view head(window_.data() + begin_, end_ - begin_);
    if (ssa::startsWith(head, kByteOrderMark)) begin_ += kByteOrderMark.size();
  }
  spill_.clear();
  bool partial = false;
  for (;;) {
    if (begin_ == end_ && !fill()) {
      if (partial && error_.empty()) {
        ++lines_;
        *line = spill_;
        return true;
      }
      return false;
    }
    if (afterCR_) {
      afterCR_ = false;
      if (window_[begin_] == '\n') {
        ++begin_;
        continue;
      }
    }
    const std::size_t stop = std::min(nextByte('\n', &nextLF_), nextByte('\r', &nextCR_));
    const std::string_view piece(window_.data() + begin_, stop - begin_);
    if (spill_.size() + piece.size() > lineLimit_) {
      error_ = "line " + std::to_string(lines_ + 1) + " is longer than " +
               std::to_string(lineLimit_ >> 20) + " MiB";
      overlong_ = exhausted_ = true;
      begin_ = end_;
      std::string().swap(spill_);
      return false;
    }
    if (stop == end_) {
      spill_.append(piece);
      begin_ = end_;
      partial = true;
      continue;
    }
    afterCR_ = window_[stop] == '\r';
    begin_ = stop + 1;
    ++lines_;
    if (partial) {
      spill_.append(piece);
      *line = spill_;
    } else {
      *line = piece;
    }
    return true;
  }
}

// --- Header ---------------------------------------------------------------

bool readHeader(LineReader& reader, ScriptHeader* header, std::string* error) {
  *header = ScriptHeader();
  ssa::assignDefaultColumns(header->columns);
  bool styleSeen = false;
  bool embedded = false;  // in [Fonts] or [Graphics]
  std::string_view line;
  while (reader.next(&line)) {
    const std::string_view trimmed = ssa::trim(line);
    // Indented by tabs too, which trim keeps.
    if (header->hasEvents && (isEventLine(trimmed) || isEventLine(withoutIndent(line)))) {
      header->firstEvent = std::string(withoutIndent(line));
      return true;
    }
    if (isSectionHead(trimmed) && !(embedded && isEncodedData(trimmed))) {
      embedded = trimmed == "[Fonts]" || trimmed == "[Graphics]";
    } else if (embedded && !ssa::startsWith(trimmed, "Style:") &&
               !ssa::startsWith(trimmed, "Format:")) {
      // Embedded files, many MiB of them at times, mean nothing to the
      // module: only the lines it could take for a style's are sent.
      continue;
    }
    if (!header->text.empty()) header->text += '\n';
    header->text += line;
    if (header->text.size() > kMaxHeaderBytes) {
      *error = "no [Events] section in its first " + std::to_string(kMaxHeaderBytes >> 20) +
               " MiB: not an SSA/ASS script";
      return false;
    }
    if (!styleSeen && (trimmed == "[V4 Styles]" || trimmed == "[V4+ Styles]")) {
      styleSeen = true;
      header->inputFormat = trimmed == "[V4 Styles]" ? "SSA" : "ASS";
    }
    if (trimmed == "[Events]") {
      header->hasEvents = true;
    } else if (header->hasEvents && ssa::startsWith(trimmed, "Format:")) {
      ssa::readEventsFormat(trimmed, header->columns);
      return true;
    }
  }
  if (reader.overlong()) {
    *error = reader.error() + ": not an SSA/ASS script";
    return false;
  }
  if (!reader.error().empty()) {
    *error = "cannot read: " + reader.error();
    return false;
  }
  if (!header->hasEvents) {
    *error = "no [Events] section: not an SSA/ASS script";
    return false;
  }
  return true;
}

bool nextEvent(LineReader& reader, std::string_view* event) {
  for (std::string_view line; reader.next(&line);) {
    *event = withoutIndent(line);
    if (!event->empty()) return true;
  }
  return false;
}

bool splitScript(std::string_view bytes, Script* script, std::string* error) {
  script->events.clear();
  LineReader reader(bytes);
  if (!readHeader(reader, &script->header, error)) return false;
  if (script->header.firstEvent) script->events.push_back(*script->header.firstEvent);
  for (std::string_view event; nextEvent(reader, &event);) script->events.emplace_back(event);
  return true;
}

}  // namespace hostkit
