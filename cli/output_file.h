// Where a run's output goes without putting the user's files at risk:
// standard output, or a file written under a temporary name beside its
// destination and renamed into place only once the run has succeeded, so
// that a failed or interrupted run leaves the destination as it was.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <string>

namespace cli {

// Outputs that may be written at once, each under its own temporary name.
inline constexpr int kMaxOutputsAtOnce = 64;

// True when `path` names the file open as `fd` (the same device and inode,
// whatever the path: hard and symbolic links included).
bool isSameFile(int fd, const std::string& path);
// True when `fd` and `other` are open on the same regular file (a terminal
// is both standard input and output, and that is no harm).
bool isSameRegularFile(int fd, int other);

// Where writing `path` lands: through symbolic links, as an absolute path.
std::string landingPath(const std::string& path);

// Why a new file cannot take the place of the existing `file` in `folder`
// by a rename, run as `runner`; "" when it can. Nothing may be renamed over
// a mount point (`mountRoot`: a single file bound into a container), nor
// over another user's file in a sticky folder (/tmp) but by the folder's
// owner or root.
std::string whyNotReplaceable(const struct stat& file, const struct stat& folder, bool mountRoot,
                              uid_t runner);

// Past a file size limit (ulimit -f) a write then fails with EFBIG and is
// reported as on a full disk, standard output included, instead of the
// process dying in the middle of it. A caller's handler or SIG_IGN stays.
// Called once, at start-up.
void ignoreFileSizeSignal();

// For a run that fails before it opens its output: when `path` names a pipe
// (not an open descriptor's name), opens and closes it as the shell's ">"
// would have, so that a reader waiting on it sees the end of the file and
// does not wait for ever. Nothing when no one reads it, or for anything else.
void endUnopenedPipe(const std::string& path);

struct TemporarySlot;  // output_file.cc

// One thread at a time an object; only the table of temporary files that a
// signal removes is shared, in the process.
class OutputFile {
 public:
  OutputFile() = default;
  // Discards what was not committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // "" or "-": standard output. A name of one of the process's open
  // descriptors (/dev/stdout, /dev/fd/N) is written through it, where it
  // stands; a path to a device or a pipe is written directly; any other path gets a
  // temporary file beside it (beside its target for a symbolic link). False with *error when it
  // cannot be created. Up to kMaxOutputsAtOnce temporary files at a time in the process, on any
  // threads: a signal that ends the process (SIGINT, SIGTERM, SIGQUIT, SIGABRT, ...) removes them
  // before it does.
  bool open(const std::string& path, std::string* error);
  // Valid from open() until commit() or discard().
  std::FILE* stream() const { return stream_; }
  // What messages call it.
  const std::string& name() const { return name_; }

  // Starts writing to disk what has been written so far, when the file is
  // to be synced (it replaces one): the sync at commit then finds most of
  // it written and waits for little. Does nothing otherwise.
  void startWriteback();

  // Hands everything over: standard output and devices are flushed; a
  // temporary file for a new destination was made as any new file in its
  // folder is (0666 less the umask, or what the folder's default access
  // control list gives); one that replaces an existing file gets its mode
  // and what can be kept of its owner, group and extended attributes (its
  // access control list among them), and is synced to disk then. It is
  // closed and renamed over the destination. `writeError` is the errno of a
  // write that failed before, 0 for none. False with *error when anything
  // failed; a destination written through a temporary file is then as it
  // was (standard output, a device or an open descriptor has what was
  // written).
  bool commit(int writeError, std::string* error);
  // Removes the temporary file: the destination is left as it was. Answers
  // whether there was one (a file destination that was not touched). When
  // it could not be removed, *stranded (if given) says so, naming it, as a
  // clause to add to a message ("; its temporary file ..."); else "".
  bool discard(std::string* stranded = nullptr);

 private:
  // The ways open() writes: through a copy of this process's descriptor
  // `named`; straight to name_ (a device, a pipe); to a temporary file
  // beside destination_, which open() has set.
  bool openDescriptor(int named, std::string* error);
  bool openDirectly(std::string* error);
  bool createTemporary(std::string* error);
  void releaseSlot();

  std::FILE* stream_ = nullptr;
  std::string name_ = "standard output";
  // The path commit() renames the temporary file to (links followed); ""
  // for standard output, a device or an open descriptor.
  std::string destination_;
  std::string temporary_;  // the hidden file being written; "" once committed or discarded
  bool replaces_ = false;  // the destination exists
  mode_t mode_ = 0;        // the replaced file's permissions
  uid_t owner_ = 0;
  gid_t group_ = 0;
  TemporarySlot* slot_ = nullptr;  // where a signal finds the temporary file's name
};

}  // namespace cli
