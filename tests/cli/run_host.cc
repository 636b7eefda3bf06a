#include "tests/cli/run_host.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cli_test {
namespace {

// The emulator comes as a CMake list: the program and its own arguments.
std::vector<std::string> emulator() {
  std::vector<std::string> words;
  std::stringstream list(SUBRITE_EMULATOR);
  for (std::string word; std::getline(list, word, ';');) {
    if (!word.empty()) words.push_back(word);
  }
  return words;
}

// The command line that runs `program` with `args`, through the emulator.
std::vector<std::string> commandFor(const std::filesystem::path& program,
                                    const std::vector<std::string>& args) {
  std::vector<std::string> command = emulator();
  command.push_back(program.string());
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

Outcome runWith(const std::filesystem::path& program, const std::vector<std::string>& args,
                const RunSetup& setup);

}  // namespace

std::vector<std::string> hostCommand(const std::vector<std::string>& args) {
  return commandFor(SUBRITE_HOST_PROGRAM, args);
}

Outcome runHost(const std::vector<std::string>& args, const std::filesystem::path& input) {
  return runProgram(SUBRITE_HOST_PROGRAM, args, input);
}

Outcome runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                   const std::filesystem::path& input) {
  RunSetup setup;
  setup.input = input;
  return runWith(program, args, setup);
}

Outcome runHostWith(const std::vector<std::string>& args, const RunSetup& setup) {
  return runWith(SUBRITE_HOST_PROGRAM, args, setup);
}

namespace {

Outcome runWith(const std::filesystem::path& program, const std::vector<std::string>& args,
                const RunSetup& setup) {
  const ScratchDir capture;
  const std::filesystem::path outPath = capture.path() / "out";
  const std::filesystem::path errPath = capture.path() / "err";

  std::vector<std::string> command = commandFor(program, args);
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int in = ::open(setup.input.c_str(), O_RDONLY);
    const int out = setup.appendOutputTo.empty()
                        ? ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)
                        : ::open(setup.appendOutputTo.c_str(), O_WRONLY | O_APPEND);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    if (setup.inputOffset != 0 &&
        ::lseek(in, static_cast<off_t>(setup.inputOffset), SEEK_SET) < 0) {
      ::_exit(126);
    }
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    for (const int fd : setup.closed) ::close(fd);
    const auto limit = [](int resource, long bytes) {
      const struct rlimit value { static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes) };
      if (bytes >= 0 && ::setrlimit(resource, &value) != 0) ::_exit(126);
    };
    limit(RLIMIT_FSIZE, setup.fileSizeLimit);
    limit(RLIMIT_AS, setup.addressSpaceLimit);
    limit(RLIMIT_NOFILE, setup.descriptorLimit);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  struct rusage usage {};
  while (::wait4(child, &wstatus, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  }
  Outcome run;
  if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) run.signal = WTERMSIG(wstatus);
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  run.peakKiB = usage.ru_maxrss;
  return run;
}

}  // namespace

std::map<std::string, std::string> statsOf(const std::string& text) {
  std::map<std::string, std::string> stats;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || line.rfind("subrite-host:", 0) == 0) continue;
    const std::size_t value = line.find_first_not_of(' ', colon + 1);
    stats[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
  }
  return stats;
}

bool measuredDirectly() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#else
  return emulator().empty();
#endif
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "subrite-cli-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDir::write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const std::filesystem::directory_entry& entry :
       std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace cli_test
