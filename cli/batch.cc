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
#include <mutex>
#include <new>
#include <thread>

#include "cli/output_file.h"

namespace cli {
namespace {

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
    int status = kExitFailed;
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
    return kExitFailed;
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
  return totals->failed != 0 ? kExitFailed : kExitDone;
}

}  // namespace cli
