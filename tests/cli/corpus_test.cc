// Every real-world script of the shared corpus through subrite-host: no crash,
// clean accounting, valid UTF-8 SubRip with balanced tags and one cue for
// each dialogue line that has a Text field (less those left without text),
// and JSON lines that a strict JSON reader accepts. The cues are counted here
// from the script, by this test's own reading of the format, after
// converting the scripts that are not UTF-8 with iconv from the encoding
// they are known to be in.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/json_check.h"
#include "tests/cli/run_host.h"
#include "tests/cli/srt_check.h"
#include "tests/cli/vtt_check.h"

namespace {

namespace fs = std::filesystem;
using cli_test::statsOf;

const fs::path kCorpus = fs::path(SUBRITE_SHARED_DIR) / "corpus" / "real";

// The scripts that are not UTF-8, and what they are (the corpus manifest).
// Shift-JIS as Windows writes it: there 0x5C is the backslash of every code.
const std::map<std::string, std::string> kKnownEncodings = {
    {"Cyberbeing__xy-VSFilter__test_3.ass", "UTF-16"},
    {"AlexPoint__SubtitlesParser__Test_Content_SubtitlesFiles_HP2.ssa", "WINDOWS-1252"},
    {"AlexPoint__SubtitlesParser__Test_Content_SubtitlesFiles_Lost_and_Delirious_fr.ssa",
     "WINDOWS-1252"},
    {"Cyberbeing__xy-VSFilter__test_34.ass", "GBK"},
    {"Cyberbeing__xy-VSFilter__src_subtitles_libssf_demo_demo.ssa", "CP932"},
};

// `bytes` in `encoding` as UTF-8, by iconv; fails the test on any byte it
// cannot convert.
std::string toUtf8(const std::string& bytes, const std::string& encoding) {
  const iconv_t converter = ::iconv_open("UTF-8", encoding.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv does not know " << encoding;
    return bytes;
  }
  std::string out(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* to = out.data();
  std::size_t outLeft = out.size();
  if (::iconv(converter, &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1)) {
    ADD_FAILURE() << "iconv stopped converting from " << encoding << ": " << std::strerror(errno);
  }
  ::iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}

// The script as UTF-8: converted when it is known to be in another encoding.
std::string scriptText(const fs::path& script) {
  const std::string bytes = cli_test::readFile(script);
  const auto known = kKnownEncodings.find(script.filename().string());
  return known == kKnownEncodings.end() ? bytes : toUtf8(bytes, known->second);
}

std::vector<fs::path> corpusScripts() {
  std::vector<fs::path> scripts;
  for (const fs::directory_entry& entry : fs::directory_iterator(kCorpus)) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".ass" || extension == ".ssa") scripts.push_back(entry.path());
  }
  std::sort(scripts.begin(), scripts.end());
  return scripts;
}

// Blanks as the format trims them: space, CR, LF and NUL, never tab.
std::string strip(const std::string& text) {
  static const std::string kBlanks(" \r\n\0", 4);
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::vector<std::string> scriptLines(std::string bytes) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      lines.push_back(line);
      line.clear();
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      line += bytes[i];
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

struct Expected {
  bool isScript = false;
  std::size_t cues = 0;
};

// A dialogue line has its Text field when it has more field commas (outside
// braces, not its last byte) than the Text column's index, counting at most
// as many fields as the events format has distinct names.
Expected expectedCues(const std::string& bytes) {
  Expected expected;
  std::size_t columns = 10;
  std::size_t textIndex = 9;
  bool textNamed = true;
  bool inHeader = true;
  for (const std::string& line : scriptLines(bytes)) {
    const std::string trimmed = strip(line);
    if (inHeader) {
      if (!expected.isScript) {
        expected.isScript = trimmed == "[Events]";
        continue;
      }
      if (trimmed.rfind("Format:", 0) == 0) {
        // Columns are counted among the non-empty pieces; a repeated name
        // keeps its first column and counts once.
        std::vector<std::string> pieces;
        std::stringstream list(trimmed.size() > 8 ? trimmed.substr(8) : "");
        for (std::string name; std::getline(list, name, ',');) {
          if (!name.empty()) pieces.push_back(strip(name).empty() ? " " : strip(name));
        }
        columns = std::set<std::string>(pieces.begin(), pieces.end()).size();
        const auto text = std::find(pieces.begin(), pieces.end(), "Text");
        textNamed = text != pieces.end();
        textIndex = textNamed ? static_cast<std::size_t>(text - pieces.begin()) : 0;
        inHeader = false;
        continue;
      }
      // An event before any Format line: the events keep the default columns.
      if (trimmed.rfind("Dialogue:", 0) != 0 && trimmed.rfind("Comment:", 0) != 0) continue;
      inHeader = false;
    }
    // Event lines may be indented.
    const std::string event = line.substr(std::min(line.find_first_not_of(" \t"), line.size()));
    if (event.rfind("Dialogue:", 0) != 0) continue;
    const std::string text = event.substr(9);
    std::size_t commas = 0;
    bool inBlock = false;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (inBlock) {
        inBlock = text[i] != '}';
      } else if (text[i] == '{') {
        inBlock = true;
      } else if (text[i] == ',') {
        ++commas;
      }
    }
    const std::size_t fields = std::min(commas + 1, std::max<std::size_t>(columns, 1));
    if (textIndex < fields) ++expected.cues;
    if (!textNamed) {
      // The module names Text at column 0 after the first line: one more column.
      textNamed = true;
      ++columns;
    }
  }
  return expected;
}

class CliCorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::is_directory(kCorpus)) {
      GTEST_SKIP() << "no corpus at " << kCorpus.string() << "; the real-world scripts are not "
                   << "beside this checkout";
    }
  }
};

TEST_F(CliCorpusTest, EveryScriptGivesValidSubRipWithACueForEachDialogueWithText) {
  const std::vector<fs::path> scripts = corpusScripts();
  ASSERT_FALSE(scripts.empty());
  std::size_t converted = 0;
  for (const fs::path& script : scripts) {
    SCOPED_TRACE(script.filename().string());
    const Expected expected = expectedCues(scriptText(script));
    const cli_test::Outcome run = cli_test::runHost({"--to", "srt", "--stats", script.string()});
    ASSERT_EQ(run.signal, 0);
    if (!expected.isScript) {
      EXPECT_EQ(run.status, 2);
      EXPECT_NE(run.err.find("not an SSA/ASS script"), std::string::npos) << run.err;
      continue;
    }
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("fault"), std::string::npos) << run.err;
    const std::map<std::string, std::string> stats = statsOf(run.err);
    EXPECT_EQ(stats.at("buffers allocated"), stats.at("buffers released"));
    // Valid UTF-8 with balanced tags: checkSrt holds it to both.
    const cli_test::SrtVerdict verdict = cli_test::checkSrt(run.out);
    EXPECT_TRUE(verdict.valid) << verdict.error;
    EXPECT_EQ(stats.at("cues written"), std::to_string(verdict.cues));
    EXPECT_EQ(
        verdict.cues + std::stoul(stats.at("cues without text")) + std::stoul(stats.at("drawings")),
        expected.cues);
    // Every "\p1" line of this script is a drawing and nothing else.
    if (script.filename() == "Cyberbeing__xy-VSFilter__test_3.ass") {
      EXPECT_EQ(stats.at("drawings"), "1192 (not written)");
    }
    ++converted;
  }
  EXPECT_GT(converted, scripts.size() / 2);
}

TEST_F(CliCorpusTest, EveryScriptGivesOneValidJsonLineACue) {
  for (const fs::path& script : corpusScripts()) {
    SCOPED_TRACE(script.filename().string());
    const Expected expected = expectedCues(scriptText(script));
    if (!expected.isScript) continue;
    const cli_test::Outcome run = cli_test::runHost({"--to", "jsonl", script.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      const cli_test::JsonObject object = cli_test::readJsonObject(line);
      ASSERT_TRUE(object.valid) << object.error << "\n" << line;
      EXPECT_EQ(object.numbers.at("index"), std::to_string(count + 1));
    }
    EXPECT_EQ(count, expected.cues);
  }
}

// WebVTT that a strict reader accepts, every class its cues use defined in
// its STYLE block, and the cues of the SubRip form.
TEST_F(CliCorpusTest, EveryScriptGivesValidWebVtt) {
  for (const fs::path& script : corpusScripts()) {
    SCOPED_TRACE(script.filename().string());
    if (!expectedCues(scriptText(script)).isScript) continue;
    const cli_test::Outcome run = cli_test::runHost({"--to", "vtt", "--stats", script.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const cli_test::VttVerdict verdict = cli_test::checkVtt(run.out);
    EXPECT_TRUE(verdict.valid) << verdict.error;
    for (const std::string& name : verdict.classes) {
      EXPECT_NE(verdict.styles.find("::cue(." + name + ") {"), std::string::npos) << name;
    }
    EXPECT_EQ(statsOf(run.err).at("cues written"), std::to_string(verdict.cues));
    const cli_test::Outcome srt = cli_test::runHost({"--to", "srt", script.string()});
    EXPECT_EQ(cli_test::checkSrt(srt.out).cues, verdict.cues);
  }
}

// The whole corpus in one command, two at a time: every output is the one a
// run on that script alone writes, whatever the order the files finish in.
TEST_F(CliCorpusTest, ABatchOfTwoAtATimeWritesWhatSingleRunsWrite) {
  for (const char* form : {"srt", "vtt"}) {
    SCOPED_TRACE(form);
    const cli_test::ScratchDir dir;
    const fs::path out = dir.path() / "out";
    const cli_test::Outcome batch =
        cli_test::runHost({"--to", form, "-j", "2", "-d", out.string(), kCorpus.string()});
    // The two files that are no script are named, and the rest converted.
    EXPECT_EQ(batch.status, 2) << batch.err;
    // Scripts that differ only in their extension keep it in their output's name.
    std::map<std::string, int> stems;
    for (const fs::path& script : corpusScripts()) ++stems[script.stem().string()];
    for (const fs::path& script : corpusScripts()) {
      SCOPED_TRACE(script.filename().string());
      const std::string name =
          stems[script.stem().string()] > 1 ? script.filename().string() : script.stem().string();
      const fs::path output = out / (name + "." + form);
      const cli_test::Outcome single = cli_test::runHost({"--to", form, script.string()});
      if (single.status != 0) {
        EXPECT_FALSE(fs::exists(output));
        EXPECT_NE(batch.err.find("not converted: " + script.string()), std::string::npos);
        continue;
      }
      ASSERT_TRUE(fs::exists(output));
      EXPECT_EQ(cli_test::readFile(output), single.out);
    }
    // Whole lines only, each the program's own.
    std::istringstream lines(batch.err);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_EQ(line.rfind("subrite-host: ", 0), 0u) << line;
    }
  }
}

struct EncodedRow {
  const char* file;
  std::size_t cues;
  const char* detected;  // what the encoding line of --stats says
};

// By its character set: the file names carry other projects' names.
void PrintTo(const EncodedRow& row, std::ostream* out) {
  *out << "a script read as " << row.detected;
}

class CliCorpusEncodingTest : public ::testing::TestWithParam<EncodedRow> {
 protected:
  void SetUp() override {
    if (!fs::is_directory(kCorpus)) {
      GTEST_SKIP() << "no corpus at " << kCorpus.string() << "; the real-world scripts are not "
                   << "beside this checkout";
    }
  }
};

// Read by whatever the program finds out, the script gives the cues that a
// UTF-8 copy of it does, and says what it was read as.
TEST_P(CliCorpusEncodingTest, GivesTheCuesOfAUtf8Copy) {
  const EncodedRow& row = GetParam();
  const fs::path script = kCorpus / row.file;
  const cli_test::ScratchDir dir;
  const fs::path copy = dir.write("copy.ass", scriptText(script));
  const cli_test::Outcome original = cli_test::runHost({"--to", "srt", "--stats", script.string()});
  const cli_test::Outcome converted = cli_test::runHost({"--to", "srt", copy.string()});
  ASSERT_EQ(original.status, 0) << original.err;
  ASSERT_EQ(converted.status, 0) << converted.err;
  EXPECT_EQ(original.out, converted.out);
  const cli_test::SrtVerdict verdict = cli_test::checkSrt(original.out);
  EXPECT_TRUE(verdict.valid) << verdict.error;
  EXPECT_EQ(verdict.cues, row.cues);
  EXPECT_EQ(statsOf(original.err).at("encoding"), row.detected);
  EXPECT_EQ(statsOf(original.err).at("replaced by U+FFFD"), "0");
  // One line tells the user, with the way to choose otherwise, which a
  // byte-order mark leaves none.
  EXPECT_NE(original.err.find(std::string("read as ") + row.detected), std::string::npos)
      << original.err;
  const bool byMark = std::string(row.detected).find("byte-order mark") != std::string::npos;
  EXPECT_EQ(original.err.find("give --encoding NAME") != std::string::npos, !byMark)
      << original.err;
  EXPECT_EQ(converted.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliCorpusEncodingTest,
    ::testing::Values(
        // 2658 events, of which 1192 are drawings.
        EncodedRow{"Cyberbeing__xy-VSFilter__test_3.ass", 1466, "UTF-16LE (byte-order mark)"},
        EncodedRow{"AlexPoint__SubtitlesParser__Test_Content_SubtitlesFiles_HP2.ssa", 622,
                   "WINDOWS-1252 (detected)"},
        EncodedRow{
            "AlexPoint__SubtitlesParser__Test_Content_SubtitlesFiles_Lost_and_Delirious_fr.ssa",
            933, "WINDOWS-1252 (detected)"},
        EncodedRow{"Cyberbeing__xy-VSFilter__test_34.ass", 1, "GB18030 (detected)"},
        EncodedRow{"Cyberbeing__xy-VSFilter__src_subtitles_libssf_demo_demo.ssa", 59,
                   "CP932 (detected as SHIFT_JIS)"}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

// Every line of these is indented by a space; each has one dialogue line.
TEST_F(CliCorpusTest, IndentedScriptsGiveTheirCue) {
  for (const char* file : {"papnkukn__subsrt__test_fixtures_sample.ass",
                           "papnkukn__subsrt__test_fixtures_sample.ssa"}) {
    SCOPED_TRACE(file);
    const cli_test::Outcome run = cli_test::runHost({"--to", "srt", (kCorpus / file).string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const cli_test::SrtVerdict verdict = cli_test::checkSrt(run.out);
    EXPECT_TRUE(verdict.valid) << verdict.error;
    EXPECT_EQ(verdict.cues, 1u) << run.out;
  }
}

}  // namespace
