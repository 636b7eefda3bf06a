#include "cli/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "cli/paths.h"
#include "script/text.h"

namespace cli {

// The temporary files a signal removes, one slot for each output being
// written at once. A name is complete in its slot before the slot is armed,
// so the handler only calls what is safe in one.
struct TemporarySlot {
  char path[PATH_MAX];
  std::atomic<int> armed;  // lock-free: read in the handler, on any thread
  bool taken;              // under gSlotsMutex
};

namespace {

static_assert(std::atomic<int>::is_always_lock_free);
TemporarySlot gSlots[kMaxOutputsAtOnce];
std::mutex gSlotsMutex;

void removeTemporaryAndDie(int signal) {
  for (TemporarySlot& slot : gSlots) {
    if (slot.armed.load() != 0) ::unlink(slot.path);
  }
  // The disposition is the default again (SA_RESETHAND): the signal, raised
  // once this handler returns, ends the process as it would have.
  ::raise(signal);
}

// The signals whose default is to end the process, but for a crash's
// (SIGSEGV, SIGBUS, SIGTRAP, SIGSYS, ...); an abort, as from an uncaught
// exception, is one. The real-time signals, numbered at run time, are too.
constexpr int kEndingSignals[] = {SIGHUP,    SIGINT,  SIGQUIT, SIGABRT,   SIGPIPE,
                                  SIGALRM,   SIGTERM, SIGUSR1, SIGUSR2,   SIGXCPU,
                                  SIGVTALRM, SIGPROF, SIGIO,   SIGSTKFLT, SIGPWR};

bool isDefault(int signal) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
         current.sa_handler == SIG_DFL;
}

// Under gSlotsMutex.
void armSignals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  // A signal the caller ignores (nohup) stays ignored, and one that has a
  // handler keeps it.
  const auto arm = [](int signal) {
    if (!isDefault(signal)) return;
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndDie;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  };
  for (const int signal : kEndingSignals) arm(signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) arm(signal);
}

// Follows the symbolic link `path` names, if it is one: false when it is
// not.
bool followLink(std::string* path) {
  char target[PATH_MAX];
  const ssize_t n = ::readlink(path->c_str(), target, sizeof target);
  if (n <= 0 || n == static_cast<ssize_t>(sizeof target)) return false;
  const std::string to(target, static_cast<std::size_t>(n));
  // A relative target is read from the link's folder.
  *path = to[0] == '/' ? to : path->substr(0, path->size() - nameOf(*path).size()) + to;
  return true;
}

constexpr int kMostLinks = 40;   // as many as the system follows
constexpr int kNameTries = 100;  // temporary names drawn before giving up

// Where a chain of symbolic links from `path` ends; `path` itself when it
// is none.
std::string throughLinks(std::string path) {
  for (int hop = 0; hop < kMostLinks && followLink(&path); ++hop) {
  }
  return path;
}

// N when `path`, or a link on the way from it, names this process's open
// descriptor N (/dev/fd/N, /proc/self/fd/N; /dev/stdout and /dev/stderr
// are links to those); -1 otherwise. Such a name is the open stream, as
// "-" is: the file behind it is written where the stream stands, never
// replaced.
int descriptorNamed(std::string path) {
  const std::string prefixes[] = {"/dev/fd/", "/proc/self/fd/",
                                  "/proc/" + std::to_string(::getpid()) + "/fd/"};
  for (int hop = 0; hop <= kMostLinks; ++hop) {
    for (const std::string& prefix : prefixes) {
      if (path.size() <= prefix.size() || path.size() > prefix.size() + 9 ||
          !ssa::startsWith(path, prefix)) {
        continue;
      }
      int fd = 0;
      for (std::size_t i = prefix.size(); i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') return -1;
        fd = fd * 10 + (path[i] - '0');
      }
      return fd;
    }
    if (!followLink(&path)) break;
  }
  return -1;
}

std::string cannotWrite(const std::string& name, int error) {
  return "cannot write " + name + ": " + std::strerror(error);
}

// Six letters and digits drawn at random for the end of `name`, in place of
// its XXXXXX, as mkstemp draws them.
void drawSuffix(char* name, std::size_t length) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<unsigned long long> drawn{0};
  unsigned long long bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // No random bytes yet (early boot): the clock, the process and a count
    // still part names, and a taken one is drawn again.
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    bits = static_cast<unsigned long long>(now.tv_nsec) ^
           static_cast<unsigned long long>(now.tv_sec) << 30 ^
           static_cast<unsigned long long>(::getpid()) << 40 ^
           drawn.fetch_add(1) * 0x9E3779B97F4A7C15ull;
  }
  for (std::size_t i = length - 6; i < length; ++i) {
    name[i] = kLetters[bits % 62];
    bits /= 62;
  }
}

// Whether `path` is the root of a mount; false when the system cannot say.
bool isMountRoot(const std::string& path) {
  struct statx info {};
  return ::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &info) == 0 &&
         (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
         (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// The extended attributes of the file at `from` (an access control list is
// one) onto `to`. Best effort, as for the owner: some take privileges.
void copyAttributes(const std::string& from, int to) {
  static constexpr char kAccessList[] = "system.posix_acl_access";
  // One the folder's default list gave the temporary file would grant what
  // the old file, with its mode alone, did not: it goes whatever the
  // listing below does.
  if (::getxattr(from.c_str(), kAccessList, nullptr, 0) < 0) ::fremovexattr(to, kAccessList);
  const ssize_t room = ::listxattr(from.c_str(), nullptr, 0);
  if (room <= 0) return;
  std::vector<char> names(static_cast<std::size_t>(room));
  const ssize_t size = ::listxattr(from.c_str(), names.data(), names.size());
  if (size <= 0) return;  // grown since: left as it is
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    const ssize_t length = ::getxattr(from.c_str(), name, nullptr, 0);
    if (length < 0) continue;
    value.resize(static_cast<std::size_t>(length));
    const ssize_t got = ::getxattr(from.c_str(), name, value.data(), value.size());
    if (got >= 0) ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0);
  }
}

}  // namespace

void ignoreFileSizeSignal() {
  if (isDefault(SIGXFSZ)) ::signal(SIGXFSZ, SIG_IGN);
}

void endUnopenedPipe(const std::string& path) {
  struct stat info {};
  if (path.empty() || path == "-" || descriptorNamed(path) >= 0 ||
      ::stat(path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
    return;
  }
  // ENXIO when no one reads: no one waits, then.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
}

bool isSameFile(int fd, const std::string& path) {
  struct stat open {};
  struct stat named {};
  return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

std::string landingPath(const std::string& path) {
  std::error_code failed;
  const std::filesystem::path landing =
      std::filesystem::weakly_canonical(throughLinks(path), failed);
  return failed ? path : landing.string();
}

std::string whyNotReplaceable(const struct stat& file, const struct stat& folder, bool mountRoot,
                              uid_t runner) {
  const char* why = nullptr;
  if (mountRoot) {
    why = "it is a mount point";
  } else if ((folder.st_mode & S_ISVTX) != 0 && runner != 0 && file.st_uid != runner &&
             folder.st_uid != runner) {
    why = "it is another user's file in a sticky folder";
  }
  if (why == nullptr) return std::string();
  return std::string(why) +
         ", which a new file cannot replace (the output is written beside it and renamed over "
         "it); give -o - and redirect standard output to it instead";
}

bool isSameRegularFile(int fd, int other) {
  struct stat one {};
  struct stat two {};
  return ::fstat(fd, &one) == 0 && ::fstat(other, &two) == 0 && S_ISREG(one.st_mode) &&
         one.st_dev == two.st_dev && one.st_ino == two.st_ino;
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const std::string& path, std::string* error) {
  if (path.empty() || path == "-") {
    stream_ = stdout;
    return true;
  }
  name_ = path;
  if (const int named = descriptorNamed(path); named >= 0) return openDescriptor(named, error);
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      *error = cannotWrite(name_, EISDIR);
      return false;
    }
    // A device or a pipe has no place for a temporary file beside it.
    if (!S_ISREG(info.st_mode)) return openDirectly(error);
    // The file is replaced, not written to; still, one the user may not
    // write stays as it is.
    if (::access(path.c_str(), W_OK) != 0) {
      *error = cannotWrite(name_, errno);
      return false;
    }
    replaces_ = true;
    mode_ = info.st_mode & 07777;
    owner_ = info.st_uid;
    group_ = info.st_gid;
    // A symbolic link keeps pointing at the file it names.
    destination_ = path;
    if (char* target = ::realpath(path.c_str(), nullptr)) {
      destination_ = target;
      std::free(target);
    }
    // Said now, before the work, not when the rename fails after it.
    struct stat folder {};
    if (::stat(folderOf(destination_).c_str(), &folder) == 0) {
      const std::string why =
          whyNotReplaceable(info, folder, isMountRoot(destination_), ::geteuid());
      if (!why.empty()) {
        *error = "cannot write " + name_ + ": " + why;
        return false;
      }
    }
  } else if (errno == ENOENT) {
    // A link to a file not made yet is written through, as the shell's ">"
    // writes through it.
    destination_ = throughLinks(path);
  } else {
    *error = cannotWrite(name_, errno);
    return false;
  }
  return createTemporary(error);
}

bool OutputFile::openDescriptor(int named, std::string* error) {
  // What it was opened with (appending, its offset) holds, and closing the
  // copy leaves the stream open.
  const int fd = ::fcntl(named, F_DUPFD_CLOEXEC, 0);
  stream_ = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  if (stream_ == nullptr) {
    *error = cannotWrite(name_, errno);
    if (fd >= 0) ::close(fd);
  }
  return stream_ != nullptr;
}

bool OutputFile::openDirectly(std::string* error) {
  stream_ = std::fopen(name_.c_str(), "wb");
  if (stream_ == nullptr) *error = cannotWrite(name_, errno);
  return stream_ != nullptr;
}

bool OutputFile::createTemporary(std::string* error) {
  const std::string name = nameOf(destination_);
  // As the destination writes it, slash and all; "" for the current one.
  const std::string folder = destination_.substr(0, destination_.size() - name.size());
  // "." + name + ".XXXXXX" is 8 bytes longer than the name, which may
  // already be as long as the folder allows: its end is then left out.
  const long longest = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  const std::size_t nameRoom = (longest > 8 ? static_cast<std::size_t>(longest) : 255) - 8;
  temporary_ = folder + "." + name.substr(0, nameRoom) + ".XXXXXX";
  if (temporary_.size() >= PATH_MAX) {
    *error = cannotWrite(name_, ENAMETOOLONG);
    temporary_.clear();
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(gSlotsMutex);
    armSignals();
    for (TemporarySlot& slot : gSlots) {
      if (slot.taken) continue;
      slot.taken = true;
      slot_ = &slot;
      break;
    }
  }
  if (slot_ == nullptr) {
    *error = cannotWrite(name_, EMFILE);
    temporary_.clear();
    return false;
  }
  TemporarySlot& slot = *slot_;
  slot.armed.store(0);
  std::memcpy(slot.path, temporary_.c_str(), temporary_.size() + 1);
  // A new file is made as the shell's ">" makes one, so that the system
  // gives it what the folder's default access control list says, or 0666
  // less the umask. The text that replaces a file stays private until it
  // takes the old file's permissions at commit. The name is complete in the
  // slot before the file exists.
  int fd = -1;
  for (int tries = 0; fd < 0 && tries < kNameTries; ++tries) {
    drawSuffix(slot.path, temporary_.size());
    fd = ::open(slot.path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replaces_ ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    // The file may be writable where its folder is not.
    *error = cannotWrite(name_, errno) + " (it is written as a temporary file in " +
             (folder.empty() ? std::string(".") : folder) + " first)";
    temporary_.clear();
    releaseSlot();
    return false;
  }
  slot.armed.store(1);
  temporary_ = slot.path;
  stream_ = ::fdopen(fd, "wb");
  if (stream_ == nullptr) {
    *error = cannotWrite(name_, errno);
    ::close(fd);
    discard();
    return false;
  }
  return true;
}

void OutputFile::startWriteback() {
  // Only asks the system to begin; nothing waits, and a failure shows at the
  // sync.
  if (stream_ != nullptr && replaces_) {
    ::sync_file_range(::fileno(stream_), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
}

bool OutputFile::commit(int writeError, std::string* error) {
  if (stream_ == nullptr) return false;
  int failure = writeError;
  if (std::fflush(stream_) != 0 && failure == 0) failure = errno;
  if (std::ferror(stream_) && failure == 0) failure = EIO;
  if (stream_ == stdout) {
    stream_ = nullptr;
    if (failure != 0) *error = cannotWrite(name_, failure);
    return failure == 0;
  }
  // A new file has what the system gave it when it was made. The old
  // contents are at stake only when a file is replaced.
  if (failure == 0 && !temporary_.empty() && replaces_) {
    const int fd = ::fileno(stream_);
    // Best effort: only a privileged run can give the file to another
    // owner; it stays the runner's otherwise, in the old group if the runner
    // is of it. Before fchmod, which a change of owner would undo in part,
    // and which sets what an access control list allows the group to match
    // the mode.
    if ((owner_ != ::geteuid() || group_ != ::getegid()) && ::fchown(fd, owner_, group_) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), group_) != 0) {
      errno = 0;
    }
    copyAttributes(destination_, fd);
    if (::fchmod(fd, mode_) != 0) failure = errno;
    // The new contents must be on disk before the name moves to them.
    if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  }
  if (std::fclose(stream_) != 0 && failure == 0) failure = errno;
  stream_ = nullptr;
  if (failure == 0 && !temporary_.empty() &&
      ::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    failure = errno;
  }
  if (failure != 0) {
    std::string stranded;
    discard(&stranded);
    *error = cannotWrite(name_, failure) + stranded;
    return false;
  }
  releaseSlot();
  temporary_.clear();
  return true;
}

bool OutputFile::discard(std::string* stranded) {
  if (stream_ != nullptr && stream_ != stdout) std::fclose(stream_);
  stream_ = nullptr;
  if (temporary_.empty()) return false;
  const int failed = ::unlink(temporary_.c_str()) == 0 || errno == ENOENT ? 0 : errno;
  releaseSlot();
  std::string path;
  path.swap(temporary_);
  // In an append-only folder the file can be made but neither renamed nor
  // removed: only the user can remove it then. Said once nothing is left to
  // undo, as this may run out of memory.
  if (failed != 0 && stranded != nullptr) {
    *stranded = "; its temporary file " + path + " could not be removed (" + std::strerror(failed) +
                "): remove it yourself";
  }
  return true;
}

void OutputFile::releaseSlot() {
  if (slot_ == nullptr) return;
  TemporarySlot& slot = *slot_;
  slot.armed.store(0);
  std::lock_guard<std::mutex> guard(gSlotsMutex);
  slot.taken = false;
  slot_ = nullptr;
}

}  // namespace cli
