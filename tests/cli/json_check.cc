#include "tests/cli/json_check.h"

#include "tests/cli/srt_check.h"

namespace cli_test {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUtf8(std::string* out, unsigned code) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code >> 6));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | code >> 12));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | code >> 18));
    out->push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  JsonObject read() {
    JsonObject object;
    skipSpace();
    if (!take('{')) return fail("expected {");
    skipSpace();
    if (!take('}')) {
      do {
        skipSpace();
        std::string name;
        if (!readString(&name)) return fail(error_);
        skipSpace();
        if (!take(':')) return fail("expected : after a name");
        skipSpace();
        if (object.strings.count(name) != 0 || object.numbers.count(name) != 0) {
          return fail("the name \"" + name + "\" comes twice");
        }
        if (at_ < text_.size() && text_[at_] == '"') {
          if (!readString(&object.strings[name])) return fail(error_);
        } else if (!readNumber(&object.numbers[name])) {
          return fail("expected a string or a number");
        }
        skipSpace();
      } while (take(','));
      if (!take('}')) return fail("expected , or }");
    }
    skipSpace();
    if (at_ != text_.size()) return fail("text after the object");
    object.valid = true;
    return object;
  }

 private:
  JsonObject fail(const std::string& what) {
    JsonObject object;
    object.error = "byte " + std::to_string(at_) + ": " + what;
    return object;
  }

  bool take(char c) {
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  void skipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool readHex4(unsigned* code) {
    if (at_ + 4 > text_.size()) return false;
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hexValue(text_[at_ + i]);
      if (digit < 0) return false;
      *code = *code << 4 | static_cast<unsigned>(digit);
    }
    at_ += 4;
    return true;
  }

  bool readString(std::string* out) {
    if (!take('"')) return setError("expected a string");
    const std::size_t start = at_;
    for (;;) {
      if (at_ >= text_.size()) return setError("a string without its closing quotation mark");
      const char c = text_[at_];
      if (c == '"') break;
      if (static_cast<unsigned char>(c) < 0x20) return setError("a control character in a string");
      if (c != '\\') {
        out->push_back(c);
        ++at_;
        continue;
      }
      ++at_;
      if (at_ >= text_.size()) return setError("a string ends in an escape");
      const char escape = text_[at_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out->push_back(escape);
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u': {
          unsigned code = 0;
          if (!readHex4(&code)) return setError("\\u without four hexadecimal digits");
          if (code >= 0xDC00 && code <= 0xDFFF) return setError("a lone low surrogate");
          if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (!take('\\') || !take('u') || !readHex4(&low) || low < 0xDC00 || low > 0xDFFF) {
              return setError("a high surrogate without its low one");
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          appendUtf8(out, code);
          break;
        }
        default:
          return setError(std::string("an unknown escape \\") + escape);
      }
    }
    if (!isValidUtf8(text_.substr(start, at_ - start))) return setError("a string not in UTF-8");
    ++at_;
    return true;
  }

  bool readNumber(std::string* out) {
    const std::size_t start = at_;
    take('-');
    // "0" alone, or digits that do not start with it.
    if (!take('0') && !digits()) return false;
    if (take('.') && !digits()) return false;
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      if (!digits()) return false;
    }
    *out = std::string(text_.substr(start, at_ - start));
    return true;
  }

  bool digits() {
    const std::size_t start = at_;
    while (at_ < text_.size() && isDigit(text_[at_])) ++at_;
    return at_ > start;
  }

  bool setError(const std::string& what) {
    error_ = what;
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace

JsonObject readJsonObject(std::string_view text) { return Reader(text).read(); }

}  // namespace cli_test
