// The command line of subrite-host.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/writers.h"

namespace cli {

struct Options {
  std::string plugin;                 // empty: libsubrite.so beside the program
  std::string output;                 // empty or "-": standard output
  std::string encoding = "auto";      // the script's character set; auto: detected
  std::optional<std::string> script;  // "-" is standard input; none: the bundled sample
  OutputForm form = OutputForm::Markup;
  bool info = false;
  bool stats = false;
  bool help = false;
  bool version = false;
};

// False with *error set for an unknown option, a missing or bad value (an
// encoding iconv does not know among them), or more than one script.
bool parseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// The --help text.
std::string usage(const std::string& program);

}  // namespace cli
