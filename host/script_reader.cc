#include "host/script_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace hostcli {
namespace {

constexpr std::size_t kWindow = 64 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool isTrimmable(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\0'; }

// Event types that may stand in "[Events]"; one of them before any "Format:"
// line means the script has none.
bool isEventLine(std::string_view trimmed) {
  for (std::string_view type :
       {"Dialogue:", "Comment:", "Picture:", "Sound:", "Movie:", "Command:"}) {
    if (startsWith(trimmed, type)) return true;
  }
  return false;
}

// Position of the next field comma from `start`, as the module finds it: not
// inside a brace block, never the last byte.
std::size_t fieldComma(std::string_view text, std::size_t start) {
  bool inBlock = false;
  for (std::size_t pos = start; pos + 1 < text.size(); ++pos) {
    const char c = text[pos];
    if (inBlock) {
      if (c == '}') inBlock = false;
    } else if (c == ',') {
      return pos;
    } else if (c == '{') {
      inBlock = true;
    }
  }
  return std::string_view::npos;
}

}  // namespace

// --- LineReader ---------------------------------------------------------

LineReader::LineReader(int fd) : fd_(fd), window_(kWindow) {}

LineReader::LineReader(std::string_view bytes) : memory_(bytes), window_(kWindow) {}

bool LineReader::fill() {
  if (exhausted_) return false;
  if (begin_ == end_) begin_ = end_ = 0;
  const std::size_t room = window_.size() - end_;
  if (fd_ < 0) {
    const std::size_t n = std::min(room, memory_.size());
    std::memcpy(window_.data() + end_, memory_.data(), n);
    memory_.remove_prefix(n);
    end_ += n;
    if (n == 0) exhausted_ = true;
    return n != 0;
  }
  for (;;) {
    const ssize_t n = ::read(fd_, window_.data() + end_, room);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error_ = std::strerror(errno);
    exhausted_ = true;
    return false;
  }
}

bool LineReader::next(std::string* line) {
  line->clear();
  if (!started_) {
    started_ = true;
    while (end_ - begin_ < kByteOrderMark.size() && fill()) {
    }
    const std::string_view head(window_.data() + begin_, end_ - begin_);
    if (startsWith(head, kByteOrderMark)) begin_ += kByteOrderMark.size();
  }
  bool partial = false;
  for (;;) {
    if (begin_ == end_ && !fill()) {
      if (partial && error_.empty()) {
        ++lines_;
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
    const char* first = window_.data() + begin_;
    const char* last = window_.data() + end_;
    const char* stop = std::find_if(first, last, [](char c) { return c == '\n' || c == '\r'; });
    line->append(first, stop);
    if (stop == last) {
      begin_ = end_;
      partial = true;
      continue;
    }
    afterCR_ = *stop == '\r';
    begin_ = static_cast<std::size_t>(stop - window_.data()) + 1;
    ++lines_;
    return true;
  }
}

// --- Fields ---------------------------------------------------------------

std::string_view trimScript(std::string_view text) {
  if (text.size() <= 1) return text;
  std::size_t start = 0;
  std::size_t last = text.size() - 1;
  while (start < last && isTrimmable(text[start])) ++start;
  if (!isTrimmable(text[start])) {
    while (last > start && isTrimmable(text[last])) --last;
  }
  return text.substr(start, last - start + 1);
}

EventColumns::EventColumns() {
  static constexpr std::string_view kDefaults[] = {"Marked",  "Start",   "End",
                                                   "Style",   "Name",    "MarginL",
                                                   "MarginR", "MarginV", "Effect",
                                                   "Text"};
  for (std::size_t i = 0; i < std::size(kDefaults); ++i) {
    columns_.emplace(std::string(kDefaults[i]), i);
  }
}

EventColumns EventColumns::fromFormatLine(std::string_view line) {
  EventColumns result;
  result.columns_.clear();
  // "Format:" and the one byte after it, whatever it is.
  std::string_view names = line.size() > 8 ? line.substr(8) : std::string_view();
  std::size_t column = 0;
  while (!names.empty()) {
    const std::size_t comma = names.find(',');
    const std::string_view piece = names.substr(0, comma);
    // Runs of commas count as one: an empty piece is no column.
    if (!piece.empty()) result.columns_.emplace(std::string(trimScript(piece)), column++);
    if (comma == std::string_view::npos) break;
    names.remove_prefix(comma + 1);
  }
  return result;
}

std::optional<std::size_t> EventColumns::find(std::string_view name) const {
  const auto it = columns_.find(name);
  if (it == columns_.end()) return std::nullopt;
  return it->second;
}

void EventColumns::addMissingText() { columns_.emplace("Text", 0); }

void splitEventFields(std::string_view text, std::size_t limit,
                      std::vector<std::string_view>* fields) {
  fields->clear();
  std::size_t start = 0;
  std::size_t comma = fieldComma(text, 0);
  while (fields->size() + 1 < limit) {
    if (comma == std::string_view::npos) {
      fields->push_back(trimScript(text.substr(start)));
      return;
    }
    fields->push_back(trimScript(text.substr(start, comma - start)));
    start = comma + 1;
    comma = fieldComma(text, start);
  }
  fields->push_back(trimScript(text.substr(start)));
}

EventReader::EventReader(EventColumns columns) : columns_(std::move(columns)) {}

EventFields EventReader::read(std::string_view line) {
  splitEventFields(line.substr(kDialoguePrefix.size()), columns_.fieldLimit(), &fields_);
  columns_.addMissingText();
  const auto field = [this](std::string_view name) -> std::string_view {
    const std::optional<std::size_t> index = columns_.find(name);
    return index && *index < fields_.size() ? fields_[*index] : std::string_view();
  };
  return EventFields{field("Start"), field("End"), field("Style")};
}

// --- Header ---------------------------------------------------------------

bool readHeader(LineReader& reader, ScriptHeader* header, std::string* error) {
  *header = ScriptHeader();
  bool styleSeen = false;
  std::string line;
  while (reader.next(&line)) {
    const std::string_view trimmed = trimScript(line);
    if (header->hasEvents && isEventLine(trimmed)) {
      header->firstEvent = line;
      return true;
    }
    if (!header->text.empty()) header->text += '\n';
    header->text += line;
    if (header->text.size() > kMaxHeaderBytes) {
      *error = "no [Events] section in its first 64 MiB: not an SSA/ASS script";
      return false;
    }
    if (!styleSeen && (trimmed == "[V4 Styles]" || trimmed == "[V4+ Styles]")) {
      styleSeen = true;
      header->inputFormat = trimmed == "[V4 Styles]" ? "SSA" : "ASS";
    }
    if (trimmed == "[Events]") {
      header->hasEvents = true;
    } else if (header->hasEvents && startsWith(trimmed, "Format:")) {
      header->columns = EventColumns::fromFormatLine(trimmed);
      return true;
    }
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

}  // namespace hostcli
