#include "cli/event_fields.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "script/dialogue.h"

namespace cli {
namespace {

std::optional<std::size_t> column(const ssa::EventColumns& columns, std::string_view name) {
  const auto it = columns.find(name);
  if (it == columns.end()) return std::nullopt;
  return it->second;
}

}  // namespace

EventFieldReader::EventFieldReader(ssa::EventColumns columns)
    : columns_(std::move(columns)),
      start_(column(columns_, "Start")),
      end_(column(columns_, "End")),
      style_(column(columns_, "Style")) {
  for (const auto& index : {start_, end_, style_}) {
    if (index) needed_ = std::max(needed_, *index + 2);
  }
}

EventFields EventFieldReader::read(std::string_view line) {
  // The fields before the last one of a cut end at the same commas whatever
  // the limit, so cutting fewer gives the three the same bytes.
  const std::size_t limit = std::min(needed_, columns_.size());
  ssa::splitEventFields(line.substr(kDialoguePrefix.size()), static_cast<std::uint32_t>(limit),
                        fields_);
  // The module takes the whole line as Text once it has converted a line
  // under columns without one, which adds a column; the host follows.
  if (!textAdded_) {
    columns_.emplace("Text", 0);
    textAdded_ = true;
  }
  const auto field = [this](const std::optional<std::size_t>& index) {
    return index && *index < fields_.size() ? fields_[*index] : std::string_view();
  };
  return EventFields{field(start_), field(end_), field(style_)};
}

}  // namespace cli
