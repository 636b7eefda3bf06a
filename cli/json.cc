#include "cli/json.h"

#include "cli/utf8.h"

namespace cli {

void appendJsonString(ssa::TextBuffer* out, std::string_view bytes) {
  out->push('"');
  appendJsonEscaped(out, bytes);
  out->push('"');
}

void appendJsonEscaped(ssa::TextBuffer* out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  while (!bytes.empty()) {
    // Printable ASCII other than quote and backslash goes as it is, a run at a time.
    std::size_t plain = 0;
    while (plain < bytes.size() && bytes[plain] >= 0x20 && bytes[plain] < 0x7F &&
           bytes[plain] != '"' && bytes[plain] != '\\') {
      ++plain;
    }
    out->append(bytes.substr(0, plain));
    bytes.remove_prefix(plain);
    if (bytes.empty()) break;
    const unsigned char c = static_cast<unsigned char>(bytes.front());
    const int length = utf8Sequence(bytes);
    if (length <= 0) {
      out->append("\\ufffd");
      bytes.remove_prefix(length == 0 ? bytes.size() : static_cast<std::size_t>(-length));
      continue;
    }
    const std::string_view sequence = bytes.substr(0, static_cast<std::size_t>(length));
    bytes.remove_prefix(static_cast<std::size_t>(length));
    if (sequence == "\xE2\x80\xA8" || sequence == "\xE2\x80\xA9") {
      // Valid JSON, but not valid inside a JavaScript string literal.
      out->append(sequence == "\xE2\x80\xA8" ? "\\u2028" : "\\u2029");
    } else if (length > 1) {
      out->append(sequence);
    } else if (c == '"' || c == '\\') {
      out->push('\\');
      out->push(static_cast<char>(c));
    } else if (c == '\n') {
      out->append("\\n");
    } else if (c == '\r') {
      out->append("\\r");
    } else if (c == '\t') {
      out->append("\\t");
    } else if (c < 0x20 || c == 0x7F) {
      out->append("\\u00");
      out->push(kHex[c >> 4]);
      out->push(kHex[c & 0xF]);
    } else {
      out->push(static_cast<char>(c));
    }
  }
}

}  // namespace cli
