// The production converter against the literal reference converter, byte for
// byte, tables included: random headers and lines, the shared corpus, and a
// generated script.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "script/dialogue.h"
#include "script/header.h"
#include "script/text.h"
#include "tests/oracle/oracle.h"
#include "tests/oracle/random_lines.h"

namespace {

namespace fs = std::filesystem;

// Both sides with their own tables, compared after every step.
class Pair {
 public:
  void header(const std::string& text) {
    const bool expected = oracle::parseScriptHeader(text, oracleColumns, oracleStyles);
    ssa::assignDefaultColumns(columns);
    const bool actual = ssa::readScriptHeader(text, columns, styles);
    ASSERT_EQ(actual, expected);
    ASSERT_EQ(columns, oracleColumns);
    ASSERT_EQ(styles, oracleStyles);
  }

  void line(const std::string& text) {
    std::string expected;
    const bool expectedProduced = oracle::convertLine(text, oracleColumns, oracleStyles, &expected);
    const std::optional<std::string_view> actual = converter.convert(text, columns, styles);
    ASSERT_EQ(actual.has_value(), expectedProduced) << "line: " << text;
    if (actual) {
      ASSERT_EQ(*actual, expected) << "line: " << text;
    }
    ASSERT_EQ(columns, oracleColumns);
    ++lines;
  }

  int lines = 0;

 private:
  ssa::EventColumns columns;
  ssa::StyleTable styles;
  oracle::EventColumns oracleColumns;
  oracle::StyleTable oracleStyles;
  ssa::LineConverter converter;
};

// A script cut as a host cuts it: the header up to the events "Format:"
// line, then each later line with the "Dialogue:" prefix removed.
void runScript(Pair& pair, const std::string& script) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : script) {
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  lines.push_back(current);
  std::string header;
  std::size_t i = 0;
  bool inEvents = false;
  for (; i < lines.size(); ++i) {
    header += lines[i] + "\n";
    const std::string_view trimmed = ssa::trim(lines[i]);
    if (trimmed == "[Events]") inEvents = true;
    if (inEvents && trimmed.substr(0, 7) == "Format:") {
      ++i;
      break;
    }
  }
  pair.header(header);
  for (; i < lines.size(); ++i) {
    if (lines[i].compare(0, 9, "Dialogue:") == 0) pair.line(lines[i].substr(9));
  }
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DifferentialTest, RandomHeadersAndLines) {
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    Pair pair;
    pair.header(oracle::randomHeader(seed));
    for (const std::string& line : oracle::randomLines(seed, 400)) {
      pair.line(line);
      if (HasFatalFailure()) return;
    }
    // A second header over the same tables.
    pair.header(oracle::randomHeader(seed + 1000));
    for (const std::string& line : oracle::randomLines(seed + 1000, 100)) pair.line(line);
  }
}

// Font names that nest blocks inside blocks: the carried text grows and
// shrinks with every translation.
TEST(DifferentialTest, NestedFontNames) {
  Pair pair;
  pair.header("");
  for (const char* open : {"{\\fn{", "{\\fn{\\fn", "{\\fnA{\\c&H{", "{x{\\fs1"}) {
    std::string line = "0,0,0,Default,,0,0,0,,";
    for (int i = 0; i < 300; ++i) line += open;
    line += "x";
    for (int i = 0; i < 300; ++i) line += "}y";
    pair.line(line);
  }
}

TEST(DifferentialTest, SharedCorpus) {
  const fs::path dir = fs::path(SUBRITE_SHARED_DIR) / "corpus" / "real";
  if (!fs::is_directory(dir)) GTEST_SKIP() << "no shared corpus at " << dir;
  int scripts = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name == "MANIFEST.md") continue;
    SCOPED_TRACE(name);
    Pair pair;
    runScript(pair, readFile(entry.path()));
    if (HasFatalFailure()) return;
    ++scripts;
  }
  EXPECT_GT(scripts, 40);
}

TEST(DifferentialTest, GeneratedScript) {
  const fs::path generator = fs::path(SUBRITE_SHARED_DIR) / "corpus" / "make-big.py";
  if (!fs::exists(generator)) GTEST_SKIP() << "no script generator at " << generator;
  const fs::path out =
      fs::temp_directory_path() / ("subrite-differential-" + std::to_string(getpid()) + ".ass");
  const std::string command = "python3 '" + generator.string() +
                              "' --lines 3000 --seed 7 --pathological 1 --out '" + out.string() +
                              "'";
  const int status = std::system(command.c_str());
  const std::string script = readFile(out);
  fs::remove(out);
  if (status != 0 || script.empty()) GTEST_SKIP() << "python3 did not generate a script";
  Pair pair;
  runScript(pair, script);
  EXPECT_GE(pair.lines, 3000);
}

}  // namespace
