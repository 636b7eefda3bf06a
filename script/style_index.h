// The style table by hash, so that a line finds its style with one
// comparison of names instead of a walk down the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "script/tables.h"

namespace ssa {

// Views the names and markup of the table it was built from: valid until
// that table changes, and built again then.
class StyleIndex {
 public:
  void build(const StyleTable& styles) {
    slots_.clear();
    if (styles.empty()) return;
    std::size_t size = 8;
    while (size < 2 * styles.size()) size *= 2;  // at least half the slots stay empty
    slots_.assign(size, Slot{});
    mask_ = size - 1;
    for (const auto& [name, markup] : styles) {
      std::size_t i = hash(name) & mask_;
      while (slots_[i].markup != nullptr) i = (i + 1) & mask_;
      slots_[i] = Slot{name, &markup};
    }
  }

  // The markup of exactly that name, or null.
  const StyleMarkup* find(std::string_view name) const {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = hash(name) & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.markup == nullptr) return nullptr;
      if (slot.name == name) return slot.markup;
    }
  }

 private:
  struct Slot {
    std::string_view name;
    const StyleMarkup* markup = nullptr;  // null: an empty slot
  };

  // Four bytes at a time (the usual name is one or two words), every byte
  // counted, so that names alike but for a few bytes still spread.
  static std::size_t hash(std::string_view name) {
    std::uint32_t h = 2166136261u ^ static_cast<std::uint32_t>(name.size());
    std::size_t i = 0;
    for (; i + 4 <= name.size(); i += 4) {
      std::uint32_t word;
      std::memcpy(&word, name.data() + i, 4);
      h = (h ^ word) * 0x9E3779B1u;
      h ^= h >> 15;
    }
    std::uint32_t tail = 0;
    for (; i < name.size(); ++i) tail = (tail << 8) | static_cast<unsigned char>(name[i]);
    h = (h ^ tail) * 0x85EBCA77u;
    return h ^ (h >> 13);
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
};

}  // namespace ssa
