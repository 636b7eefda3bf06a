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

#include "hostkit/script_source.h"
#include "script/dialogue.h"
#include "script/header.h"
#include "script/scan.h"
#include "tests/oracle/oracle.h"
#include "tests/oracle/random_lines.h"

namespace {

namespace fs = std::filesystem;

// The reference and the production converter, each with its own tables,
// compared after every step. The production side runs once for each window
// scan this processor has, each with tables of its own.
class Pair {
 public:
  Pair() {
    for (const ssa::ScanKind kind : ssa::kScanKinds) {
      if (ssa::scanSupported(kind)) sides.push_back(Side{kind, {}, {}, {}});
    }
  }
  ~Pair() { ssa::useScan(sides.back().kind); }  // the widest, as at the start

  void header(const std::string& text) {
    const bool expected = oracle::parseScriptHeader(text, oracleColumns, oracleStyles);
    for (Side& side : sides) {
      ssa::assignDefaultColumns(side.columns);
      const bool actual = ssa::readScriptHeader(text, side.columns, side.styles);
      side.converter.tablesChanged();
      ASSERT_EQ(actual, expected);
      ASSERT_EQ(side.columns, oracleColumns);
      ASSERT_EQ(side.styles, oracleStyles);
    }
  }

  // Answers the markup's size, 0 without one.
  std::size_t line(const std::string& text) {
    std::string expected;
    const bool expectedProduced = oracle::convertLine(text, oracleColumns, oracleStyles, &expected);
    ++lines;
    for (Side& side : sides) {
      ssa::useScan(side.kind);
      const std::optional<std::string_view> actual =
          side.converter.convert(text, side.columns, side.styles);
      EXPECT_EQ(actual.has_value(), expectedProduced)
          << ssa::scanName(side.kind) << " scan, line: " << text;
      if (actual) {
        EXPECT_EQ(*actual, expected) << ssa::scanName(side.kind) << " scan, line: " << text;
      }
      EXPECT_EQ(side.columns, oracleColumns) << ssa::scanName(side.kind) << " scan";
    }
    return expectedProduced ? expected.size() : 0;
  }

  int lines = 0;

 private:
  struct Side {
    ssa::ScanKind kind;
    ssa::EventColumns columns;
    ssa::StyleTable styles;
    ssa::LineConverter converter;
  };
  std::vector<Side> sides;
  oracle::EventColumns oracleColumns;
  oracle::StyleTable oracleStyles;
};

// A script cut as the reference host cuts it: the header, then each
// "Dialogue:" line without its prefix. What is not a script gives its lines
// as a header.
void runScript(Pair& pair, const std::string& bytes) {
  hostkit::Script script;
  std::string error;
  hostkit::splitScript(bytes, &script, &error);
  pair.header(script.header.text);
  for (const std::string& event : script.events) {
    if (event.compare(0, 9, "Dialogue:") == 0) pair.line(event.substr(9));
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
      if (HasFailure()) return;
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

// Lines whose markup outgrows the converter's first reservation (twice the
// text): the buffer grows in the middle of a line and keeps what it had.
TEST(DifferentialTest, MarkupBeyondTheFirstReservation) {
  const struct {
    const char* unit;
    bool outgrows;  // its markup is more than twice its length
  } rows[] = {{"{\\fs1}", true},
              {"{\\fn}", true},
              {"{\\c&HFF&}", true},
              {"{\\fs4294967295}", false},
              {"{\\b1}{\\fn}", false}};
  for (const auto& row : rows) {
    Pair pair;  // fresh buffers for each row
    pair.header("");
    for (const std::size_t count : {1u, 7u, 100u, 5000u}) {
      std::string text;
      for (std::size_t i = 0; i < count; ++i) text += row.unit;
      const std::size_t markup = pair.line("0,0,0,Default,,0,0,0,," + text);
      if (row.outgrows && count >= 100) {
        EXPECT_GT(markup, 2 * text.size()) << row.unit;
      }
    }
  }
  // And the carry of nested font names, which the same checks cover.
  Pair pair;
  pair.header("");
  std::string nested;
  for (int i = 0; i < 2000; ++i) nested += "{\\fn";
  nested += std::string(2000, '}');
  EXPECT_GT(pair.line("0,0,0,Default,,0,0,0,," + nested), 2 * nested.size());
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
    if (HasFailure()) return;
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
