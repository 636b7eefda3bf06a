#include "cli/options.h"

#include "cli/encoding.h"

namespace cli {
namespace {

bool parseForm(const std::string& name, OutputForm* form) {
  if (name == "markup") {
    *form = OutputForm::Markup;
  } else if (name == "srt") {
    *form = OutputForm::Srt;
  } else if (name == "jsonl") {
    *form = OutputForm::Jsonl;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  *options = Options();
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      if (options->script) {
        *error = "only one script at a time (got '" + *options->script + "' and '" + arg + "')";
        return false;
      }
      options->script = arg;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--to=srt" is "--to srt".
    std::optional<std::string> attached;
    if (arg.compare(0, 2, "--") == 0) {
      const std::size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        attached = arg.substr(equals + 1);
        arg.resize(equals);
      }
    }
    const bool takesValue = arg == "--plugin" || arg == "--to" || arg == "-o" ||
                            arg == "--output" || arg == "--encoding";
    if (!takesValue && attached) {
      *error = "option " + arg + " takes no value";
      return false;
    }
    std::string value;
    if (takesValue) {
      if (attached) {
        value = *attached;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      }
      if (value.empty()) {
        *error = "option " + arg + " needs a value";
        return false;
      }
    }
    if (arg == "--plugin") {
      options->plugin = value;
    } else if (arg == "--to") {
      if (!parseForm(value, &options->form)) {
        *error = "unknown output form '" + value + "' (markup, srt or jsonl)";
        return false;
      }
    } else if (arg == "-o" || arg == "--output") {
      options->output = value;
    } else if (arg == "--encoding") {
      if (value != "auto" && !canConvertFrom(value)) {
        *error = "unknown encoding '" + value + "' (auto, or a name iconv knows: cp1252, gbk, ...)";
        return false;
      }
      options->encoding = value;
    } else if (arg == "--info") {
      options->info = true;
    } else if (arg == "--stats") {
      options->stats = true;
    } else if (arg == "-h" || arg == "--help") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

std::string usage(const std::string& program) {
  return "Usage: " + program +
         " [options] [SCRIPT]\n"
         "\n"
         "Converts an SSA/ASS subtitle script with the subrite plug-in and writes\n"
         "one cue for every dialogue line that gives output.\n"
         "\n"
         "SCRIPT is a file, or - for standard input. Without it the sample script\n"
         "bundled with the program is converted. CRLF, LF and CR line ends are all\n"
         "accepted, and event lines may be indented.\n"
         "\n"
         "Options:\n"
         "  --to FORM       output form: markup (default), srt or jsonl\n"
         "                    markup  one block a cue: number, script line, start and\n"
         "                            end as the script writes them, style, then the\n"
         "                            markup exactly as the plug-in made it\n"
         "                    srt     a SubRip file: tags balanced and well nested,\n"
         "                            empty attributes dropped, cues without text left\n"
         "                            out, blank lines inside a cue dropped; unreadable\n"
         "                            times become 00:00:00,000, an end before its\n"
         "                            start becomes the start\n"
         "                    jsonl   one JSON object a line: index, line, start, end,\n"
         "                            style, markup; malformed UTF-8 becomes U+FFFD\n"
         "  -o, --output FILE\n"
         "                  write to FILE instead of standard output (- is standard\n"
         "                  output). FILE is written under a temporary name beside it\n"
         "                  and takes its place only when the run succeeds; it may not\n"
         "                  be SCRIPT itself, under any name\n"
         "  --encoding NAME\n"
         "                  the character set of SCRIPT: auto (default) or any name\n"
         "                  iconv knows (cp1252, gbk, shift_jis, utf-16, ...). auto\n"
         "                  goes by a byte-order mark, then UTF-16's zero bytes, then\n"
         "                  UTF-8 if the bytes are valid, else a detector; the output\n"
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
         "Exit status: 0 done; 1 the plug-in broke the buffer or sample rules;\n"
         "2 bad usage, an unreadable file, an output that cannot be written or is\n"
         "the script, a plug-in that cannot be loaded, or an input that is not a\n"
         "script. Unless it is 0, FILE is left as it was.\n"
         "\n"
         "Example:\n"
         "  " +
         program + " --to srt movie.ass -o movie.srt\n";
}

}  // namespace cli
