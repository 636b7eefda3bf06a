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
      start_(column(columns_, kStartColumn)),
      end_(column(columns_, kEndColumn)),
      style_(column(columns_, ssa::kStyleColumn)),
      text_(column(columns_, ssa::kTextColumn).value_or(0)) {
  for (const auto& index : {start_, end_, style_}) {
    if (index) leading_ = std::max(leading_, *index + 1);
  }
  fields_.resize(std::max(leading_, text_ + 1));
}

EventFields EventFieldReader::read(std::string_view line) {
  limit_ = static_cast<std::uint32_t>(columns_.size());
  const std::size_t cut = ssa::cutLeadingEventFields(line.substr(ssa::kDialoguePrefix.size()),
                                                     limit_, leading_, fields_.data());
  // The module takes the whole line as Text once it has converted a line
  // under columns without one, which adds a column; the host follows.
  if (!textAdded_) {
    ssa::findOrAddTextColumn(columns_);
    textAdded_ = true;
  }
  const auto field = [this, cut](const std::optional<std::size_t>& index) {
    return index && *index < cut ? fields_[*index] : std::string_view();
  };
  return EventFields{field(start_), field(end_), field(style_)};
}

std::size_t EventFieldReader::cutToText(std::string_view line) {
  return ssa::cutLeadingEventFields(line.substr(ssa::kDialoguePrefix.size()), limit_, text_ + 1,
                                    fields_.data());
}

bool EventFieldReader::reachesText(std::string_view line) {
  const std::size_t cut = cutToText(line);
  return cut > text_ || (cut == text_ && line.back() == ',');
}

std::string_view EventFieldReader::text(std::string_view line) {
  return cutToText(line) > text_ ? fields_[text_] : std::string_view();
}

}  // namespace cli
