#include "cli/options.h"

#include <algorithm>
#include <utility>

#include "cli/encoding.h"
#include "script/text.h"

namespace cli {
namespace {

bool parseForm(const std::string& name, OutputForm* form) {
  if (name == "markup") {
    *form = OutputForm::Markup;
  } else if (name == "srt") {
    *form = OutputForm::Srt;
  } else if (name == "vtt") {
    *form = OutputForm::Vtt;
  } else if (name == "jsonl") {
    *form = OutputForm::Jsonl;
  } else {
    return false;
  }
  return true;
}

// Up to three decimals after a full stop at *at, as milliseconds.
bool readFraction(std::string_view text, std::size_t* at, std::int64_t* milliseconds) {
  *milliseconds = 0;
  if (*at == text.size()) return true;
  if (text[*at] != '.') return false;
  std::int64_t scale = 100;
  std::size_t digits = 0;
  for (++*at; *at < text.size() && ssa::isDigit(text[*at]); ++*at, scale /= 10) {
    if (++digits > 3) return false;
    *milliseconds += scale * (text[*at] - '0');
  }
  return digits > 0 && *at == text.size();
}

// Digits at *at, at least one, at most `most`.
bool readDigits(std::string_view text, std::size_t* at, std::size_t most, std::int64_t* value) {
  const std::size_t first = *at;
  *value = 0;
  while (*at < text.size() && ssa::isDigit(text[*at]) && *at - first < most) {
    *value = *value * 10 + (text[*at] - '0');
    ++*at;
  }
  return *at > first;
}

bool parseJobs(const std::string& text, unsigned* jobs) {
  std::size_t at = 0;
  std::int64_t value = 0;
  if (!readDigits(text, &at, 4, &value) || at != text.size() || value == 0) return false;
  *jobs = static_cast<unsigned>(value);
  return true;
}

// Options that only make sense together, or not at all.
bool checkTogether(Options* options, std::string* error) {
  if (options->help || options->version) return true;
  if (options->outputDir.empty()) {
    if (options->scripts.size() > 1) {
      *error = "only one script at a time without -d DIR (got '" + options->scripts[0] + "' and '" +
               options->scripts[1] + "')";
      return false;
    }
    if (options->jobs != 0) {
      *error = "option -j goes with -d DIR";
      return false;
    }
  } else {
    if (!options->output.empty()) {
      *error = "options -o and -d do not go together";
      return false;
    }
    if (options->info) {
      *error = "options --info and -d do not go together";
      return false;
    }
    if (options->scripts.empty()) {
      *error = "-d DIR needs the scripts, or folders of them, to convert";
      return false;
    }
    for (const std::string& script : options->scripts) {
      if (script == "-") {
        *error = "-d DIR converts files; standard input has no name to give its output";
        return false;
      }
    }
  }
  if (options->info && !options->output.empty() && options->output != "-") {
    *error = "--info prints to standard output; option -o does not go with it";
    return false;
  }
  // --info converts nothing: the form and the shift do not matter to it.
  if (options->shift && options->form == OutputForm::Markup && !options->info) {
    *error =
        "--shift moves the times of srt, vtt and jsonl; the markup form shows them as "
        "the script writes them";
    return false;
  }
  if (!options->vttStyle && options->form != OutputForm::Vtt && !options->info) {
    *error = "--no-style leaves the STYLE block out of vtt; the other forms have none";
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::int64_t> parseShift(std::string_view text) {
  std::size_t at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
  std::int64_t whole = 0;
  if (!readDigits(text, &at, 9, &whole)) return std::nullopt;
  std::int64_t seconds = whole;
  if (at < text.size() && text[at] == ':') {
    // H:MM:SS: minutes and seconds of two digits, below 60.
    std::int64_t minutes = 0;
    std::int64_t secs = 0;
    const std::size_t minutesAt = ++at;
    if (!readDigits(text, &at, 2, &minutes) || at - minutesAt != 2 || minutes > 59) {
      return std::nullopt;
    }
    const std::size_t secondsAt = at + 1;
    if (at >= text.size() || text[at] != ':') return std::nullopt;
    ++at;
    if (!readDigits(text, &at, 2, &secs) || at - secondsAt != 2 || secs > 59) return std::nullopt;
    seconds = (whole * 60 + minutes) * 60 + secs;
  }
  std::int64_t milliseconds = 0;
  if (!readFraction(text, &at, &milliseconds) || seconds > kMostShiftSeconds) return std::nullopt;
  const std::int64_t total = seconds * 1000 + milliseconds;
  return negative ? -total : total;
}

namespace {

// One option: its names, whether it takes a value, and what it does with
// it; false with *error for a value it cannot take. `name` is as given.
struct OptionRow {
  std::string_view longName;
  char shortName;  // 0: none
  bool takesValue;
  bool (*apply)(std::string_view name, const std::string& value, Options* options,
                std::string* error);
};

const OptionRow kOptionRows[] = {
    {"--to", 0, true,
     [](std::string_view, const std::string& value, Options* options, std::string* error) {
       if (parseForm(value, &options->form)) return true;
       *error = "unknown output form '" + value + "' (markup, srt, vtt or jsonl)";
       return false;
     }},
    {"--output", 'o', true,
     [](std::string_view, const std::string& value, Options* options, std::string*) {
       options->output = value;
       return true;
     }},
    {"--output-dir", 'd', true,
     [](std::string_view, const std::string& value, Options* options, std::string*) {
       options->outputDir = value;
       return true;
     }},
    {"--jobs", 'j', true,
     [](std::string_view name, const std::string& value, Options* options, std::string* error) {
       if (parseJobs(value, &options->jobs)) return true;
       *error = "option " + std::string(name) + " needs a number of scripts from 1 to 9999 (got '" +
                value + "')";
       return false;
     }},
    {"--shift", 0, true,
     [](std::string_view, const std::string& value, Options* options, std::string* error) {
       options->shift = parseShift(value);
       if (options->shift) return true;
       *error = "option --shift needs seconds (2.5, -1.25) or [-]H:MM:SS.cc, at most " +
                std::to_string(kMostShiftSeconds) + " seconds (got '" + value + "')";
       return false;
     }},
    {"--encoding", 0, true,
     [](std::string_view, const std::string& value, Options* options, std::string* error) {
       // iconv reads what follows "//" as options of the output, and an
       // empty name as the locale's set: neither names the script's.
       if (value.find("//") != std::string::npos) {
         *error = "encoding '" + value + "': give the set's name alone, without // options";
         return false;
       }
       const bool named = std::none_of(value.begin(), value.end(),
                                       [](unsigned char c) { return c < 0x20 || c == 0x7F; });
       std::string trouble;
       if (value != "auto" && (!named || !canConvertFrom(value, &trouble))) {
         *error = trouble.empty() ? "unknown encoding '" + value +
                                        "' (auto, or a name iconv knows: cp1252, gbk, ...)"
                                  : "encoding '" + value + "': " + noConverter(value, trouble);
         return false;
       }
       options->encoding = value;
       return true;
     }},
    {"--plugin", 0, true,
     [](std::string_view, const std::string& value, Options* options, std::string*) {
       options->plugin = value;
       return true;
     }},
    {"--info", 0, false,
     [](std::string_view, const std::string&, Options* options, std::string*) {
       return options->info = true;
     }},
    {"--no-style", 0, false,
     [](std::string_view, const std::string&, Options* options, std::string*) {
       options->vttStyle = false;
       return true;
     }},
    {"--stats", 0, false,
     [](std::string_view, const std::string&, Options* options, std::string*) {
       return options->stats = true;
     }},
    {"--help", 'h', false,
     [](std::string_view, const std::string&, Options* options, std::string*) {
       return options->help = true;
     }},
    {"--version", 0, false,
     [](std::string_view, const std::string&, Options* options, std::string*) {
       return options->version = true;
     }},
};

// The row of `arg` ("--to", "-o"), or null; *attached gets a value written
// with it ("--to=srt", "-j4").
const OptionRow* findOption(std::string* arg, std::optional<std::string>* attached) {
  if (ssa::startsWith(*arg, "--")) {
    const std::size_t equals = arg->find('=');
    if (equals != std::string::npos) {
      *attached = arg->substr(equals + 1);
      arg->resize(equals);
    }
    for (const OptionRow& row : kOptionRows) {
      if (row.longName == *arg) return &row;
    }
    return nullptr;
  }
  for (const OptionRow& row : kOptionRows) {
    if (row.shortName == 0 || (*arg)[1] != row.shortName) continue;
    if (arg->size() == 2) return &row;
    if (!row.takesValue) return nullptr;  // "-hx"
    *attached = arg->substr(2);
    arg->resize(2);
    return &row;
  }
  return nullptr;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  *options = Options();
  bool optionsEnded = false;
  // The first error is the one told. After it only -o is still read: a run
  // refused for its usage ends a pipe given to -o all the same.
  bool failed = false;
  const auto fail = [&](std::string text) {
    if (!failed) *error = std::move(text);
    failed = true;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      options->scripts.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::optional<std::string> attached;
    const OptionRow* const row = findOption(&arg, &attached);
    if (row == nullptr) {
      fail("unknown option " + arg);
      continue;
    }
    if (!row->takesValue && attached) {
      fail("option " + arg + " takes no value");
      continue;
    }
    std::string value;
    if (row->takesValue) {
      if (attached) {
        value = *attached;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        fail("option " + arg + " needs a value");
        continue;
      }
      if (value.empty()) {
        fail("option " + arg + " has an empty value");
        continue;
      }
    }
    if (failed && row->shortName != 'o') continue;
    if (std::string refusal; !row->apply(arg, value, options, &refusal)) fail(std::move(refusal));
  }
  return !failed && checkTogether(options, error);
}

std::string usage(const std::string& program) {
  return "Usage: " + program +
         " [options] [SCRIPT]\n"
         "       " +
         program +
         " [options] -d DIR SCRIPT|FOLDER...\n"
         "\n"
         "Converts SSA/ASS subtitle scripts with the subrite plug-in and writes\n"
         "one cue for every dialogue line that gives output.\n"
         "\n"
         "SCRIPT is a file, or - for standard input. Without it the sample script\n"
         "bundled with the program is converted (not when standard input is a file,\n"
         "a pipe or a socket: give -). CRLF, LF and CR line ends are all accepted,\n"
         "and event lines may be indented. With -d DIR, every SCRIPT, and every .ass\n"
         "and .ssa file in each FOLDER, is converted into DIR.\n"
         "\n"
         "Options:\n"
         "  --to FORM       output form: markup (default), srt, vtt or jsonl\n"
         "                    markup  one block a cue: number, script line, start and\n"
         "                            end as the script writes them, style, then the\n"
         "                            markup exactly as the plug-in made it\n"
         "                    srt     a SubRip file: tags balanced and well nested,\n"
         "                            empty attributes dropped, cues without text left\n"
         "                            out, blank lines inside a cue dropped; unreadable\n"
         "                            times are taken as 0 (and moved by --shift), an\n"
         "                            end before its start becomes the start; cues in\n"
         "                            the script's order; vector drawings ({\\p1}m 0 0\n"
         "                            l ...) left out\n"
         "                    vtt     a WebVTT file: the same cue text with b, i and u\n"
         "                            tags, colours, faces, sizes and strike-out as\n"
         "                            classes a STYLE block defines, & < > escaped;\n"
         "                            cues in order of their start, an end not after\n"
         "                            its start one millisecond after it; drawings\n"
         "                            left out\n"
         "                    jsonl   one JSON object a line: index, line, start, end,\n"
         "                            style, markup; times without the spaces and\n"
         "                            tabs around them; malformed UTF-8 becomes U+FFFD\n"
         "  --no-style      vtt without its STYLE block: the classes stay, undefined.\n"
         "                  For readers that stop at a STYLE block and read no cue\n"
         "                  at all (ffmpeg 5.1 among them)\n"
         "  -o, --output FILE\n"
         "                  write to FILE instead of standard output (- is standard\n"
         "                  output). FILE is written under a temporary name beside it\n"
         "                  and takes its place only when the run succeeds; it may not\n"
         "                  be SCRIPT itself, under any name\n"
         "  -d, --output-dir DIR\n"
         "                  write each script's output to DIR (made if missing) under\n"
         "                  the script's name with the extension of the form (.srt,\n"
         "                  .vtt, .jsonl, .markup); scripts whose names differ only in\n"
         "                  their extension keep it (a.ass.srt, a.ssa.srt). Each file\n"
         "                  is written safely, as with -o; a file that fails is named\n"
         "                  on standard error and the others go on\n"
         "  -j, --jobs N    with -d, convert N scripts at once, 1 to 9999 (default:\n"
         "                  one a core; at most 64, and no more than the scripts)\n"
         "  --shift TIME    move every cue by TIME: seconds (2.5, -1.25) or\n"
         "                  [-]H:MM:SS.cc; a time that would fall before 0 is 0.\n"
         "                  For srt, vtt and jsonl\n"
         "  --encoding NAME\n"
         "                  the character set of SCRIPT: auto (default) or any name\n"
         "                  iconv knows (cp1252, gbk, shift_jis, utf-16, ...). auto\n"
         "                  goes by a byte-order mark, then the zero bytes of UTF-16\n"
         "                  or UTF-32, then UTF-8 if the bytes are valid (escape\n"
         "                  sequences of ISO-2022 aside), else a detector; the output\n"
         "                  is UTF-8, with U+FFFD for what cannot be read\n"
         "  --plugin PATH   the plug-in to load (default: libsubrite.so beside the\n"
         "                  program, or in ../lib from it)\n"
         "  --info          print the plug-in's properties once its ports are open\n"
         "                  for SCRIPT, and convert nothing\n"
         "  --stats         print counts, the encoding, what balancing changed, buffer\n"
         "                  accounting and speed to standard error\n"
         "  --version       print the version\n"
         "  -h, --help      print this help\n"
         "\n"
         "Exit status: 0 done; 1 the plug-in broke the buffer or sample rules (on\n"
         "some file, with -d); 2 bad usage, an unreadable file, an output that\n"
         "cannot be written or is the script, a plug-in that cannot be loaded, or\n"
         "an input that is not a script (some file, with -d). An output that is\n"
         "not done is left as it was.\n"
         "\n"
         "Examples:\n"
         "  " +
         program + " --to srt movie.ass -o movie.srt\n" + "  " + program +
         " --to vtt -d subs/ -j 4 season1/\n" + "  " + program +
         " --to srt --shift -1.5 movie.ass -o movie.srt\n";
}

}  // namespace cli
