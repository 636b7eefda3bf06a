// The command line of subrite-host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/writers.h"

namespace cli {

struct Options {
  std::string plugin;             // empty: the default (defaultPluginPath)
  std::string output;             // empty or "-": standard output
  std::string encoding = "auto";  // the scripts' character set; auto: detected
  // "-" is standard input. None: the bundled sample. More than one, or a
  // folder, only with outputDir.
  std::vector<std::string> scripts;
  std::string outputDir;              // -d: one output file a script, in this folder
  unsigned jobs = 0;                  // -j: scripts converted at once; 0: one a core
  std::optional<std::int64_t> shift;  // --shift, in milliseconds
  OutputForm form = OutputForm::Markup;
  bool vttStyle = true;  // --no-style: false
  bool info = false;
  bool stats = false;
  bool help = false;
  bool version = false;
};

// False with *error set for an unknown option, a missing or bad value (an
// encoding iconv does not know among them), or options that do not go
// together (more than one script without -d, -d with -o, --shift with the
// markup form, ...). Options::output is read all the same, so that a pipe
// given to -o can be ended.
bool parseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// A --shift value in milliseconds: seconds ("2.5", "-1.25") or "[-]H:MM:SS.cc"
// (up to three decimals in either), at most kMostShiftSeconds either way;
// nothing for anything else.
inline constexpr std::int64_t kMostShiftSeconds = 999'999'999;
std::optional<std::int64_t> parseShift(std::string_view text);

// The --help text.
std::string usage(const std::string& program);

}  // namespace cli
