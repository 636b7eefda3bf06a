// The production script functions against the reference converter, byte for
// byte: the header parse with both tables, the conversion of every event line
// (and the tables it leaves), and the text and colour helpers on each line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/checks.h"
#include "script/dialogue.h"
#include "script/header.h"
#include "script/scan.h"
#include "script/text.h"
#include "tests/oracle/oracle.h"

namespace {

using fuzzing::expect;

std::string show(const ssa::EventColumns& columns) {
  std::string text;
  for (const auto& [name, column] : columns) text += name + "=" + std::to_string(column) + " ";
  return text;
}

std::string show(const ssa::StyleTable& styles) {
  std::string text;
  for (const auto& [name, markup] : styles) {
    text += name + " -> " + markup.first + " | " + markup.second + "\n";
  }
  return text;
}

void expectSameTables(const ssa::EventColumns& columns, const oracle::EventColumns& reference,
                      const ssa::StyleTable& styles, const oracle::StyleTable& referenceStyles,
                      std::string_view when) {
  expect(columns == reference, when,
         "event columns: " + show(columns) + "\nreference:     " + show(reference));
  expect(styles == referenceStyles, when,
         "style table:\n" + show(styles) + "reference:\n" + show(referenceStyles));
}

// The helpers are pure: each one on the line text, and on its pieces.
void compareHelpers(const std::string& text, std::uint32_t columnCount) {
  expect(ssa::trim(text) == oracle::trim(text), "trim differs");
  expect(ssa::tokenize(",", text) == oracle::tokenize(",", text), "tokenize(,) differs");
  expect(ssa::tokenize("\r\n", text) == oracle::tokenize("\r\n", text), "tokenize(CRLF) differs");
  std::vector<std::string_view> fields;
  for (const std::uint32_t limit : {0u, 1u, 2u, 4u, columnCount}) {
    ssa::splitEventFields(text, limit, fields);
    const std::vector<std::string> reference = oracle::splitEventFields(text, limit);
    expect(std::vector<std::string>(fields.begin(), fields.end()) == reference,
           "splitEventFields differs");
    // The leading-field cut is the same split, stopped early.
    std::string_view leading[4];
    const std::size_t cut = ssa::cutLeadingEventFields(text, limit, 4, leading);
    expect(cut == std::min<std::size_t>(4, fields.size()) &&
               std::equal(leading, leading + cut, fields.begin()),
           "cutLeadingEventFields differs from splitEventFields");
  }
  expect(ssa::parseLeadingDigits(text) == oracle::parseLeadingDigits(text),
         "parseLeadingDigits differs");
  expect(ssa::relativeFontSize(text) == oracle::relativeFontSize(text), "relativeFontSize differs");
  expect(ssa::convertColour(text) == oracle::convertColour(text), "convertColour differs");
  expect(ssa::reorderHexColour(text) == oracle::reorderHexColour(text), "reorderHexColour differs");
  expect(ssa::decimalColour(text) == oracle::decimalColour(text), "decimalColour differs");
  expect(ssa::overrideColour(text) == oracle::overrideColour(text), "overrideColour differs");
  // Every brace block of the line on its own, as the converter cuts them.
  for (std::size_t open = text.find('{'); open != std::string::npos;
       open = text.find('{', open + 1)) {
    const std::size_t close = text.find('}', open);
    if (close == std::string::npos) break;
    const std::string block = text.substr(open, close - open + 1);
    expect(ssa::overrideColour(block) == oracle::overrideColour(block),
           "overrideColour differs on a block", block);
  }
}

// The production converter, once for each window scan this processor runs,
// each with tables of its own.
struct Side {
  ssa::ScanKind kind;
  ssa::EventColumns columns;
  ssa::StyleTable styles;
  ssa::LineConverter converter;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const hostkit::Script script = fuzzing::readScript(input);
  const std::string& header = script.header.text;

  std::vector<Side> sides;
  for (const ssa::ScanKind kind : ssa::kScanKinds) {
    if (ssa::scanSupported(kind)) sides.push_back(Side{kind, {}, {}, {}});
  }
  oracle::EventColumns referenceColumns;
  oracle::StyleTable referenceStyles;
  // Without a header both sides start from empty tables, as a component does.
  if (!header.empty()) {
    const bool reference = oracle::parseScriptHeader(header, referenceColumns, referenceStyles);
    for (Side& side : sides) {
      ssa::assignDefaultColumns(side.columns);
      const bool result = ssa::readScriptHeader(header, side.columns, side.styles);
      expect(result == reference, "header parse result differs");
      expectSameTables(side.columns, referenceColumns, side.styles, referenceStyles,
                       "tables differ after the header");
    }
  }

  std::uint32_t index = 0;
  for (const std::string_view line : script.events) {
    // Lines without the prefix are converted whole: the converter does not
    // look at it. Every other line carries a terminating NUL, as some hosts
    // count one.
    std::string text(line.substr(0, ssa::kDialoguePrefix.size()) == ssa::kDialoguePrefix
                         ? line.substr(ssa::kDialoguePrefix.size())
                         : line);
    if (index++ % 2 == 1) text.push_back('\0');

    compareHelpers(text, static_cast<std::uint32_t>(sides.front().columns.size()));
    std::string reference;
    const bool referenceConverted =
        oracle::convertLine(text, referenceColumns, referenceStyles, &reference);
    for (Side& side : sides) {
      ssa::useScan(side.kind);
      const std::optional<std::string_view> converted =
          side.converter.convert(text, side.columns, side.styles);
      const std::string scan = std::string(ssa::scanName(side.kind)) + " scan";
      expect(converted.has_value() == referenceConverted, "convert result differs",
             scan + ": " + text);
      if (converted) {
        const std::string markup(*converted);
        expect(
            markup == reference, "markup differs",
            scan + "\nline:      " + text + "\nmarkup:    " + markup + "\nreference: " + reference);
      }
      expectSameTables(side.columns, referenceColumns, side.styles, referenceStyles,
                       "tables differ after a line");
    }
  }
  return 0;
}
