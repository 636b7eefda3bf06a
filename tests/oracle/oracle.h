// Reference converter for SSA/ASS scripts: a deliberately slow, literal
// rendering of the header parse, the helpers and the line conversion. Tests
// run it beside the production converter and compare the results byte for
// byte, so every step here is the obvious loop, never a clever one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace oracle {

// The same types as the production tables, so a table filled by one side can
// be handed to the other.
using EventColumns = std::map<std::string, std::uint32_t, std::less<>>;
using StyleTable = std::map<std::string, std::pair<std::string, std::string>, std::less<>>;

// What findFieldComma answers when it finds nothing: the "not found" position
// of a 32-bit host, whatever the width of std::size_t here.
constexpr std::uint32_t kNoPosition = 0xFFFFFFFFu;

// Strips space, CR, LF and NUL (never tab) from both ends; a one-byte text is
// kept as is, and a text of trimmable bytes only comes out as its last byte.
std::string trim(const std::string& text);

// Pieces between runs of delimiter bytes, each trimmed; never an empty piece.
std::vector<std::string> tokenize(const std::string& delimiters, const std::string& text);

// Next comma from `start` that is outside a brace block; the last byte of the
// text is never examined.
std::uint32_t findFieldComma(const std::string& text, std::uint32_t start);

// Replaces the first occurrence, searching from the beginning each time, until
// none is left. Does nothing for a null target, an empty pattern or an empty
// replacement.
void replaceAll(const std::string& pattern, std::string* target, const std::string& replacement);

// Leading decimal digits, wrapping modulo 2^32; no sign, no white space.
std::uint32_t parseLeadingDigits(const std::string& text);

// Point size to a relative size around 22 points ("-1", "+4", "-0", or "").
std::string relativeFontSize(const std::string& text);

// SSA colour ("&HBBGGRR&" or decimal) to RRGGBB, or "" when not recognised.
std::string convertColour(const std::string& text);
std::string reorderHexColour(const std::string& digits);
std::string decimalColour(const std::string& text);

// Colour of a whole "{\c...}" or "{\1c...}" block, or "".
std::string overrideColour(const std::string& block);

// Fills both tables from a script header; true when "Text" is an event column
// afterwards. The event columns get their ten defaults assigned first.
bool parseScriptHeader(const std::string& header, EventColumns& eventColumns,
                       StyleTable& styleTable);

// Cuts a line into at most `limit` trimmed fields; the last keeps its commas.
std::vector<std::string> splitEventFields(const std::string& line, std::uint32_t limit);

// Converts the text of a "Dialogue:" line (the bytes after the prefix).
// False when the line has no Text field; otherwise *markup is the result.
// Adds "Text" -> 0 to the event columns when they have no "Text".
bool convertLine(const std::string& lineText, EventColumns& eventColumns,
                 const StyleTable& styleTable, std::string* markup);

}  // namespace oracle
