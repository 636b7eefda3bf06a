#include "cli/vtt_classes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "script/text.h"

namespace cli {
namespace {

// The module's size, a sign and steps of two points around 22, in tenths of
// a point and never below a tenth of 22; 0 for what is no such size.
std::int64_t sizeTenths(std::string_view value) {
  if (value.size() < 2 || value.size() > 7 || (value[0] != '+' && value[0] != '-') ||
      value.find_first_not_of("0123456789", 1) != std::string_view::npos) {
    return 0;
  }
  const std::int64_t steps = std::stol(std::string(value.substr(1)));
  const std::int64_t points = 22 + (value[0] == '+' ? steps : -steps) * 2;
  return std::max<std::int64_t>(22, points * 10);
}

// `size` as a rounded percentage of `of`, both in tenths of a point: from the
// sizes themselves, so that a rounded percentage is never divided again.
std::int64_t percentOf(std::int64_t size, std::int64_t of) { return (size * 100 + of / 2) / of; }

std::string sizeClass(std::string_view value) {
  return std::string(value[0] == '+' ? "zp" : "zm") + std::string(value.substr(1));
}

}  // namespace

std::string_view VttClasses::appendFont(const FontTag& font, std::string_view enclosingSize,
                                        std::string* out) {
  std::string_view size;
  for (int i = 0; i < font.attributes - font.emptyAttributes; ++i) {
    const std::string_view attribute = font.kept[i];  // ` name="value"`
    const std::size_t quote = attribute.find('"');
    const std::string_view name = attribute.substr(1, quote - 2);
    const std::string_view value = attribute.substr(quote + 1, attribute.size() - quote - 2);
    if (name == "face") {
      auto known = faces_.find(value);
      if (known == faces_.end()) {
        known = faces_.emplace(value, static_cast<int>(faces_.size()) + 1).first;
        cueFaces_.push_back(known);
      }
      const int number = known->second;
      // A CSS string: a ">" is escaped too, so that no "-->" reaches the block.
      std::string family = "font-family: \"";
      for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || c == '>' || byte < 0x20 || byte == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\%X ", byte);
          family += escape;
        } else {
          family += c;
        }
      }
      family += "\";";
      const std::string id = "f" + std::to_string(number);
      define(id, family);
      *out += "." + id;
    } else if (name == "size") {
      // A size of the module's form: a sign and up to six digits.
      const std::int64_t tenths = sizeTenths(value);
      if (tenths == 0) continue;
      size = value;
      std::string id = sizeClass(value);
      // Without an enclosing size, a percentage of the cue's 22 points.
      std::int64_t of = 220;
      if (!enclosingSize.empty()) {
        of = sizeTenths(enclosingSize);
        // No longer than the attribute it stands for, as rebuilt_ requires:
        // the enclosing value has at most six digits.
        id += "-" + sizeClass(enclosingSize);
      }
      define(id, "font-size: " + std::to_string(percentOf(tenths, of)) + "%;");
      *out += "." + id;
    } else if (name == "color") {
      // "#RRGGBB": readFont keeps no other colour.
      std::string hex(value.substr(1));
      for (char& c : hex) c = ssa::asciiUpper(c);
      const std::string id = "c" + hex;
      define(id, "color: #" + hex + ";");
      *out += "." + id;
    }
  }
  return size;
}

void VttClasses::strike() { define("s", "text-decoration: line-through;"); }

void VttClasses::define(const std::string& name, const std::string& declaration) {
  const auto [rule, added] = rules_.emplace(name, declaration);
  if (added) cueRules_.push_back(rule);
}

void VttClasses::beginCue() {
  cueRules_.clear();
  cueFaces_.clear();
}

void VttClasses::forgetCue() {
  for (const Rules::iterator rule : cueRules_) rules_.erase(rule);
  // The newest numbers: those left stay 1 to their count.
  for (const Faces::iterator face : cueFaces_) faces_.erase(face);
  beginCue();
}

std::string VttClasses::styleBlock() const {
  if (rules_.empty()) return std::string();
  std::string block = "STYLE\n";
  for (const auto& [name, declaration] : rules_) {
    block += "::cue(." + name + ") { " + declaration + " }\n";
  }
  return block;
}

}  // namespace cli
