// Runs the built subrite-host as a user would, through the build's emulator
// when there is one, and captures what it did.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace cli_test {

struct Outcome {
  int status = -1;   // exit status; -1 when it did not exit normally
  int signal = 0;    // the signal that ended it, if one did
  std::string out;   // standard output
  std::string err;   // standard error
  long peakKiB = 0;  // its peak resident set (the emulator's, under one)
};

// The command line that runs the subrite-host of this build with `args`:
// through the build's emulator when there is one.
std::vector<std::string> hostCommand(const std::vector<std::string>& args);

// Runs `program` with `args`; standard input comes from `input`.
Outcome runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                   const std::filesystem::path& input = "/dev/null");
// The same for the subrite-host of this build.
Outcome runHost(const std::vector<std::string>& args,
                const std::filesystem::path& input = "/dev/null");

// Where a run's standard streams go, and the limits it runs under.
struct RunSetup {
  std::filesystem::path input = "/dev/null";
  long inputOffset = 0;  // where standard input stands in `input` at the start
  // Standard output is appended to this file when it is set (Outcome::out
  // is then empty).
  std::filesystem::path appendOutputTo;
  long fileSizeLimit = -1;      // bytes; -1 for none
  long addressSpaceLimit = -1;  // bytes; -1 for none
  long descriptorLimit = -1;    // open files; -1 for none
  std::vector<int> closed;      // standard descriptors closed before it starts
};
Outcome runHostWith(const std::vector<std::string>& args, const RunSetup& setup);

// The "name:   value" lines of --stats (or of --info) in `text`; the
// program's messages are left out.
std::map<std::string, std::string> statsOf(const std::string& text);

// True when the program runs under an emulator or a sanitizer, whose memory
// and speed say nothing about the program's own.
bool measuredDirectly();

// A fresh directory for one test's files, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to a file in the directory and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);

// The names in a folder, sorted.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

}  // namespace cli_test
