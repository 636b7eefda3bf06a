#include "cli/batch.h"

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <utility>

#include "cli/output_file.h"
#include "script/text.h"

namespace cli {
namespace {

bool hasScriptExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = name.substr(dot);
  for (char& c : extension) c = ssa::asciiLower(c);
  return extension == ".ass" || extension == ".ssa";
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string withoutExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The scripts of a folder, in the order of their names: every file named as
// one but for folders (not searched below) and what is not a regular file
// (*others: a pipe would hold the batch up). One that cannot be looked at
// (a link to nothing, a folder closed to the user) is kept: its conversion
// says what is wrong.
bool listFolder(const std::string& folder, std::vector<std::string>* files,
                std::vector<std::string>* others, std::string* error) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    *error = "cannot read " + folder + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name[0] != '.' && hasScriptExtension(name)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = joinPath(folder, name);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
      files->push_back(path);
    } else if (!S_ISDIR(info.st_mode)) {
      others->push_back(path);
    }
  }
  return true;
}

// Makes the folder, and those above it, when it is missing.
bool prepareFolder(const std::string& folder, std::string* error) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    *error = "cannot write into " + folder + ": it is not a folder";
    return false;
  }
  const int missing = errno;
  if (missing == ENOENT && ::lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    *error = "cannot write into " + folder + ": it is a symbolic link to nothing";
    return false;
  }
  std::error_code made;
  if (missing == ENOENT && std::filesystem::create_directories(folder, made)) return true;
  *error = "cannot make the folder " + folder + ": " +
           (made ? made.message() : std::string(std::strerror(missing)));
  return false;
}

// The cores this process may run on (taskset, a container's share).
unsigned coresAvailable() {
  cpu_set_t cores;
  if (::sched_getaffinity(0, sizeof cores, &cores) == 0)
    return static_cast<unsigned>(CPU_COUNT(&cores));
  return std::thread::hardware_concurrency();
}

// Descriptors a worker holds at once at most: the script, the temporary
// output, its folder while it is synced, and one for what a library opens
// for a moment (iconv's modules).
constexpr unsigned kDescriptorsAWorker = 4;

// Descriptors open now; those of the standard streams when it cannot be
// told.
unsigned descriptorsOpen() {
  DIR* const folder = ::opendir("/proc/self/fd");
  if (folder == nullptr) return 3;
  unsigned open = 0;
  while (const dirent* entry = ::readdir(folder)) {
    if (entry->d_name[0] != '.') ++open;
  }
  ::closedir(folder);
  return open - 1;  // the folder's own
}

// How many workers the limit on open files leaves room for; at least one.
unsigned workersTheDescriptorsAllow() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT_MAX;
  const rlim_t open = descriptorsOpen();
  const rlim_t room = limit.rlim_cur > open ? limit.rlim_cur - open : 0;
  return static_cast<unsigned>(std::clamp<rlim_t>(room / kDescriptorsAWorker, 1, UINT_MAX));
}

std::string elapsedText(std::chrono::steady_clock::time_point started) {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", elapsed.count());
  return text;
}

}  // namespace

namespace {

// A file by its device and inode, whatever the names it has.
using FileId = std::pair<dev_t, ino_t>;

// The scripts given and those directly in the folders given, each file
// once (*seen: the first name it was given); what yields nothing is named
// as a script that fails is.
std::vector<std::string> gatherScripts(const std::vector<std::string>& scripts,
                                       std::map<FileId, std::string>* seen, Messages& messages,
                                       std::uint64_t* failed) {
  std::vector<std::string> files;
  for (const std::string& script : scripts) {
    const auto fail = [&](const std::string& why, const std::string& path) {
      messages.say(why);
      messages.say({"not converted: ", path});
      ++*failed;
    };
    struct stat info {};
    if (::stat(script.c_str(), &info) != 0) {
      fail("cannot open " + script + ": " + std::strerror(errno), script);
      continue;
    }
    std::vector<std::string> found;
    std::vector<std::string> others;
    std::string error;
    if (!S_ISDIR(info.st_mode)) {
      found.push_back(script);
    } else if (!listFolder(script, &found, &others, &error)) {
      fail(error, script);
      continue;
    }
    for (const std::string& other : others) fail(other + " is not a regular file", other);
    if (S_ISDIR(info.st_mode) && found.empty() && others.empty()) {
      // Folders are not searched below: one per episode gives nothing.
      fail("no .ass or .ssa file in " + script, script);
      continue;
    }
    for (const std::string& file : found) {
      struct stat fileInfo {};
      if (::stat(file.c_str(), &fileInfo) != 0) {
        files.push_back(file);  // its conversion says what is wrong
        continue;
      }
      const auto [first, isNew] = seen->emplace(FileId{fileInfo.st_dev, fileInfo.st_ino}, file);
      if (isNew) {
        files.push_back(file);
      } else if (first->second != file) {
        messages.say(file + " is " + first->second + " under another name: converted once");
      }
    }
  }
  return files;
}

// Each file's output in `outputDir`, refused where it would replace one of
// the scripts, stands on what is not a regular file, or lands on another's.
std::vector<BatchItem> assignOutputs(const std::vector<std::string>& files,
                                     const std::map<FileId, std::string>& seen,
                                     const std::string& outputDir, OutputForm form,
                                     Messages& messages, std::uint64_t* failed) {
  // Scripts that share a name but for its extension keep it in their
  // output's; of those of one name in two folders, the first is converted.
  std::map<std::string, std::set<std::string>> namesOfStem;
  for (const std::string& file : files) {
    const std::string name = baseName(file);
    namesOfStem[withoutExtension(name)].insert(name);
  }
  std::set<std::string> keepExtension;
  for (const auto& [stem, names] : namesOfStem) {
    if (names.size() > 1) keepExtension.insert(names.begin(), names.end());
  }
  // A name without its extension can be one that keeps it (a.ass.ass beside
  // a.ass and a.ssa): then it keeps its own too, and so on down the chain.
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [stem, names] : namesOfStem) {
      if (keepExtension.count(stem) == 0) continue;
      for (const std::string& name : names) grew = keepExtension.insert(name).second || grew;
    }
  }
  std::vector<BatchItem> items;
  std::map<std::string, std::string> outputs;  // where an output lands -> its script
  for (const std::string& file : files) {
    const std::string name = baseName(file);
    const std::string stem = withoutExtension(name);
    const std::string output =
        joinPath(outputDir, (keepExtension.count(name) != 0 ? name : stem) + extensionOf(form));
    const auto refuse = [&](const std::string& why) {
      messages.say({"not converted: ", file, ": its output ", output, " is ", why});
      ++*failed;
    };
    struct stat existing {};
    if (::stat(output.c_str(), &existing) == 0) {
      if (seen.count({existing.st_dev, existing.st_ino}) != 0) {
        refuse("one of the scripts being read");
        continue;
      }
      // A pipe left there would hold the batch until something reads it.
      if (!S_ISREG(existing.st_mode)) {
        refuse("not a regular file");
        continue;
      }
    }
    // A link already in the folder may take two outputs to one file.
    const auto [taken, isNew] = outputs.emplace(landingPath(output), file);
    if (!isNew) {
      refuse(taken->second + "'s");
      continue;
    }
    items.push_back(BatchItem{file, output});
  }
  return items;
}

// The conversions of a batch, which every worker takes one script at a
// time until none is left.
class BatchWork {
 public:
  BatchWork(const std::vector<BatchItem>& items, const Options& options, hostkit::GetPlugin entry,
            const std::string& pluginPath, Messages& messages, bool showProgress,
            std::chrono::steady_clock::time_point started)
      : items_(items),
        options_(options),
        entry_(entry),
        pluginPath_(pluginPath),
        showProgress_(showProgress),
        started_(started),
        messages_(messages) {}

  // Converts the next script that no worker has taken, until none is left.
  // [any thread]
  void run() {
    for (std::size_t i = next_++; i < items_.size(); i = next_++) convertOne(items_[i]);
  }

  // Once every worker is done:
  std::uint64_t failures() const { return failures_; }
  bool broken() const { return broken_; }  // the plug-in broke a rule on some script
  const ConversionStats& counts() const { return counts_; }

 private:
  void convertOne(const BatchItem& item) {
    ConversionStats stats;
    int status = kExitUsage;
    {
      Messages aboutScript(&messages_);
      try {
        status = convert(ConversionRequest{item.script, item.output}, options_, entry_, pluginPath_,
                         aboutScript, &stats);
      } catch (const std::bad_alloc&) {
        // convert() says so itself, but for what it took before it began.
        aboutScript.say({"cannot convert ", item.script, ": out of memory"});
      }
      if (status != kExitDone) aboutScript.say({"not converted: ", item.script});
    }
    if (status != kExitDone) {
      ++failures_;
      if (status == kExitBroken) broken_ = true;
    }
    const std::lock_guard<std::mutex> guard(countsMutex_);
    addCounts(stats, &counts_);
    ++done_;
    if (!showProgress_) return;
    // Drawn under the lock, so that the lines follow the counts, never
    // going back.
    try {
      messages_.progress(std::to_string(done_) + " of " + std::to_string(items_.size()) +
                         " files, " + std::to_string(counts_.writer.written) + " cues, " +
                         elapsedText(started_));
    } catch (const std::bad_alloc&) {
      // The line shown stays; the next script draws it again.
    }
  }

  // Read only.
  const std::vector<BatchItem>& items_;
  const Options& options_;
  const hostkit::GetPlugin entry_;
  const std::string& pluginPath_;
  const bool showProgress_;
  const std::chrono::steady_clock::time_point started_;
  Messages& messages_;  // thread-safe
  std::atomic<std::size_t> next_{0};
  std::atomic<std::uint64_t> failures_{0};
  std::atomic<bool> broken_{false};
  std::mutex countsMutex_;
  ConversionStats counts_;  // under countsMutex_
  std::uint64_t done_ = 0;  // scripts finished; under countsMutex_
};

}  // namespace

std::vector<BatchItem> listBatch(const std::vector<std::string>& scripts,
                                 const std::string& outputDir, OutputForm form, Messages& messages,
                                 std::uint64_t* failed) {
  std::map<FileId, std::string> seen;
  const std::vector<std::string> files = gatherScripts(scripts, &seen, messages, failed);
  return assignOutputs(files, seen, outputDir, form, messages, failed);
}

int convertBatch(const Options& options, hostkit::GetPlugin entry, const std::string& pluginPath,
                 Messages& messages, BatchTotals* totals) {
  const auto started = std::chrono::steady_clock::now();
  std::uint64_t notListed = 0;  // failed before any conversion
  const std::vector<BatchItem> items =
      listBatch(options.scripts, options.outputDir, options.form, messages, &notListed);
  // Made only for something to put in it.
  std::string error;
  if (!items.empty() && !prepareFolder(options.outputDir, &error)) {
    messages.say(error);
    return kExitUsage;
  }
  unsigned workers = options.jobs != 0 ? options.jobs : coresAvailable();
  workers = std::max(1u, std::min({workers, static_cast<unsigned>(kMaxOutputsAtOnce),
                                   static_cast<unsigned>(std::max<std::size_t>(items.size(), 1))}));
  // Workers past the limit on open files would fail scripts at random.
  if (const unsigned allowed = workersTheDescriptorsAllow(); allowed < workers) {
    messages.say("the limit on open files leaves room for " + std::to_string(allowed) + " of " +
                 std::to_string(workers) + " workers; going on with " + std::to_string(allowed));
    workers = allowed;
  }
  const bool showProgress = ::isatty(STDERR_FILENO) == 1 && items.size() > workers;

  BatchWork work(items, options, entry, pluginPath, messages, showProgress, started);
  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (unsigned i = 1; i < workers; ++i) {
    try {
      threads.emplace_back([&work] { work.run(); });
    } catch (const std::exception& failure) {
      // Out of processes, or of memory for a stack: fewer workers do it all.
      messages.say("could start " + std::to_string(i) + " of " + std::to_string(workers) +
                   " workers (" + failure.what() + "); going on with " + std::to_string(i));
      break;
    }
  }
  work.run();
  for (std::thread& thread : threads) thread.join();
  if (showProgress) messages.progress("");

  totals->files = items.size() + notListed;
  totals->failed = notListed + work.failures();
  totals->counts = work.counts();
  if (work.broken()) return kExitBroken;
  return totals->failed != 0 ? kExitUsage : kExitDone;
}

}  // namespace cli
