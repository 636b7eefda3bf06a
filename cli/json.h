// Bytes written as JSON strings, for JSON lines.
#pragma once

#include <string_view>

#include "script/text_buffer.h"

namespace cli {

// Appends bytes as a JSON string, quotes included. Valid UTF-8 is kept;
// quote, backslash, control bytes, DEL, U+2028 and U+2029 are escaped; each
// malformed UTF-8 sequence becomes one U+FFFD.
void appendJsonString(ssa::TextBuffer* out, std::string_view bytes);
// The same without the quotes.
void appendJsonEscaped(ssa::TextBuffer* out, std::string_view bytes);

}  // namespace cli
