#include "host/writers.h"

#include <cinttypes>
#include <cstring>

namespace hostcli {
namespace {

void put(std::FILE* out, std::string_view bytes) {
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), out);
}

// One block a cue: a heading line, the markup byte for byte, a blank line.
class MarkupWriter final : public CueWriter {
 public:
  explicit MarkupWriter(std::FILE* out) : out_(out) {}
  void write(const Cue& cue) override {
    std::fprintf(out_, "#%" PRIu64 " line %" PRIu64 " ", cue.number, cue.line);
    put(out_, cue.start);
    put(out_, " --> ");
    put(out_, cue.end);
    put(out_, " ");
    put(out_, cue.style);
    put(out_, "\n");
    put(out_, cue.markup);
    put(out_, "\n\n");
  }

 private:
  std::FILE* out_;
};

class SrtWriter final : public CueWriter {
 public:
  explicit SrtWriter(std::FILE* out) : out_(out) {}
  void write(const Cue& cue) override {
    // A time that cannot be read stands at 0 rather than dropping the cue.
    const std::string start = srtTime(parseScriptTime(cue.start).value_or(0));
    const std::string end = srtTime(parseScriptTime(cue.end).value_or(0));
    std::fprintf(out_, "%" PRIu64 "\n%s --> %s\n", cue.number, start.c_str(), end.c_str());
    const std::string text = srtText(cue.markup);
    put(out_, text);
    put(out_, text.empty() ? "\n" : "\n\n");
  }

 private:
  std::FILE* out_;
};

class JsonlWriter final : public CueWriter {
 public:
  explicit JsonlWriter(std::FILE* out) : out_(out) {}
  void write(const Cue& cue) override {
    line_.clear();
    line_ += "{\"index\":" + std::to_string(cue.number);
    line_ += ",\"line\":" + std::to_string(cue.line);
    line_ += ",\"start\":";
    appendJsonString(&line_, cue.start);
    line_ += ",\"end\":";
    appendJsonString(&line_, cue.end);
    line_ += ",\"style\":";
    appendJsonString(&line_, cue.style);
    line_ += ",\"markup\":";
    appendJsonString(&line_, cue.markup);
    line_ += "}\n";
    put(out_, line_);
  }

 private:
  std::FILE* out_;
  std::string line_;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1 to 9 digits (more could overflow and mean nothing as a time).
bool readNumber(std::string_view* text, std::uint64_t* value) {
  std::size_t n = 0;
  *value = 0;
  while (n < text->size() && isDigit((*text)[n])) {
    if (++n > 9) return false;
    *value = *value * 10 + static_cast<std::uint64_t>((*text)[n - 1] - '0');
  }
  text->remove_prefix(n);
  return n > 0;
}

bool take(std::string_view* text, char c) {
  if (text->empty() || text->front() != c) return false;
  text->remove_prefix(1);
  return true;
}

// Length of the valid UTF-8 sequence at the start of `s`, or of its longest
// valid prefix negated (-1 for a byte that starts nothing), so that each
// malformed sequence is replaced once.
int utf8Sequence(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  int length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<std::size_t>(i) >= s.size()) return -i;
    const unsigned char c = byte(static_cast<std::size_t>(i));
    if (c < low || c > high) return -i;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

}  // namespace

std::unique_ptr<CueWriter> makeWriter(OutputForm form, std::FILE* out) {
  switch (form) {
    case OutputForm::Markup:
      return std::make_unique<MarkupWriter>(out);
    case OutputForm::Srt:
      return std::make_unique<SrtWriter>(out);
    case OutputForm::Jsonl:
      return std::make_unique<JsonlWriter>(out);
  }
  return nullptr;
}

std::optional<std::uint64_t> parseScriptTime(std::string_view text) {
  std::uint64_t hours, minutes, seconds;
  if (!readNumber(&text, &hours) || !take(&text, ':') || !readNumber(&text, &minutes) ||
      !take(&text, ':') || !readNumber(&text, &seconds)) {
    return std::nullopt;
  }
  std::uint64_t milliseconds = 0;
  if (take(&text, '.')) {
    std::uint64_t scale = 100;
    while (!text.empty() && isDigit(text.front())) {
      milliseconds += scale * static_cast<std::uint64_t>(text.front() - '0');
      scale /= 10;
      text.remove_prefix(1);
    }
  }
  if (!text.empty()) return std::nullopt;
  return ((hours * 60 + minutes) * 60 + seconds) * 1000 + milliseconds;
}

std::string srtTime(std::uint64_t milliseconds) {
  char text[40];
  std::snprintf(text, sizeof text, "%02" PRIu64 ":%02u:%02u,%03u", milliseconds / 3600000,
                static_cast<unsigned>(milliseconds / 60000 % 60),
                static_cast<unsigned>(milliseconds / 1000 % 60),
                static_cast<unsigned>(milliseconds % 1000));
  return text;
}

std::string srtText(std::string_view markup) {
  std::string text;
  for (;;) {
    const std::size_t stop = markup.find('\n');
    const std::string_view line = markup.substr(0, stop);
    if (line.find_first_not_of(" \t") != std::string_view::npos) {
      if (!text.empty()) text += '\n';
      text += line;
    }
    if (stop == std::string_view::npos) break;
    markup.remove_prefix(stop + 1);
  }
  return text;
}

void appendJsonString(std::string* out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  while (!bytes.empty()) {
    const unsigned char c = static_cast<unsigned char>(bytes.front());
    const int length = utf8Sequence(bytes);
    if (length < 0) {
      out->append("\\ufffd");
      bytes.remove_prefix(static_cast<std::size_t>(-length));
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
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out->append("\\n");
    } else if (c == '\r') {
      out->append("\\r");
    } else if (c == '\t') {
      out->append("\\t");
    } else if (c < 0x20 || c == 0x7F) {
      out->append("\\u00");
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 0xF]);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
  out->push_back('"');
}

}  // namespace hostcli
