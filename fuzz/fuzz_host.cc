// subrite-host's whole conversion of one script file, as a user runs it,
// with the module linked in: whatever the bytes, the run ends with status 0
// or 2 (1 would be the module breaking the host's rules), the buffers come
// out even, a failed run leaves no output file, and a finished one passes
// the strict reader of its form.
//
// The input is a byte that picks the form and the encoding, then the
// script's bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "cli/conversion.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "fuzz/checks.h"
#include "tests/cli/json_check.h"
#include "tests/cli/srt_check.h"
#include "tests/cli/vtt_check.h"

extern "C" std::int32_t _getPlugin(FLM::PluginHost* host, FLM::Plugin** out);

namespace {

using fuzzing::expect;

constexpr cli::OutputForm kForms[] = {cli::OutputForm::Srt, cli::OutputForm::Vtt,
                                      cli::OutputForm::Jsonl, cli::OutputForm::Markup};
const char* const kEncodings[] = {"auto", "auto", "utf-8", "cp1252", "utf-16le", "gb18030"};

std::string gFolder;

void removeFolder() {
  for (const char* name : {"/script.ass", "/out"}) ::unlink((gFolder + name).c_str());
  ::rmdir(gFolder.c_str());
}

// One folder for the run's script and output, made once and removed at the
// end of the run.
const std::string& folder() {
  if (gFolder.empty()) {
    char name[] = "/tmp/subrite-fuzz-host.XXXXXX";
    expect(::mkdtemp(name) != nullptr, "mkdtemp failed");
    gFolder = name;
    std::atexit(removeFolder);
  }
  return gFolder;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the conversion says goes nowhere: standard error is put aside.
class QuietErrors {
 public:
  QuietErrors() : saved_(::dup(STDERR_FILENO)) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
  ~QuietErrors() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  cli::Options options;
  options.form = kForms[data[0] % 4];
  options.encoding = kEncodings[(data[0] / 4) % (sizeof kEncodings / sizeof kEncodings[0])];
  const std::string script = folder() + "/script.ass";
  const std::string output = folder() + "/out";
  {
    std::ofstream file(script, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data) + 1, static_cast<std::streamsize>(size - 1));
  }
  ::unlink(output.c_str());

  cli::Messages messages;
  cli::ConversionStats stats;
  int status;
  {
    QuietErrors quiet;
    status = cli::convert(cli::ConversionRequest{script, output}, options, _getPlugin, "linked",
                          messages, &stats);
  }
  expect(status == cli::kExitDone || status == cli::kExitFailed,
         "a run ended as if the module broke a rule", std::to_string(status));
  expect(stats.buffers.made == stats.buffers.released, "buffers made and released differ");
  if (status != cli::kExitDone) {
    expect(::access(output.c_str(), F_OK) != 0, "a failed run left an output file");
    return 0;
  }

  const std::string text = readFile(output);
  const std::uint64_t written = stats.writer.written;
  switch (options.form) {
    case cli::OutputForm::Srt: {
      const cli_test::SrtVerdict verdict = cli_test::checkSrt(text);
      expect(verdict.valid, "SubRip the strict reader refuses", verdict.error + "\n" + text);
      expect(verdict.cues == written, "SubRip cues miscounted");
      break;
    }
    case cli::OutputForm::Vtt: {
      const cli_test::VttVerdict verdict = cli_test::checkVtt(text);
      expect(verdict.valid, "WebVTT the strict reader refuses", verdict.error + "\n" + text);
      expect(verdict.cues == written, "WebVTT cues miscounted");
      break;
    }
    case cli::OutputForm::Jsonl: {
      std::string_view lines = text;
      std::uint64_t count = 0;
      for (std::size_t end = lines.find('\n'); end != std::string_view::npos;
           end = lines.find('\n')) {
        const cli_test::JsonObject object = cli_test::readJsonObject(lines.substr(0, end));
        expect(object.valid, "a JSON line the strict reader refuses", object.error);
        lines.remove_prefix(end + 1);
        ++count;
      }
      expect(lines.empty() && count == written, "JSON lines miscounted");
      break;
    }
    case cli::OutputForm::Markup:
      break;
  }
  return 0;
}
