// The counts --stats prints, as one table of rows per struct of counts:
// printing and adding both go by the table, so that neither can miss a
// count.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cli {

template <typename Counts>
struct CountRow {
  const char* label;  // "drawings:", printed in 22 columns
  const char* note;   // after the number: "" or " (not written)"
  std::uint64_t Counts::*count;
  bool cueTextOnly;  // printed for SubRip and WebVTT only
};

template <typename Counts, std::size_t N>
void addRows(const CountRow<Counts> (&rows)[N], const Counts& from, Counts* to) {
  for (const CountRow<Counts>& row : rows) to->*row.count += from.*row.count;
}

}  // namespace cli
