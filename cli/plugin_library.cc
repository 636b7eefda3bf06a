#include "cli/plugin_library.h"

#include <dlfcn.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/paths.h"

namespace cli {
namespace {

constexpr char kModuleName[] = "libsubrite.so";

bool isFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The folder of the running program; "" when it cannot be told. Without
// /proc (a chroot, a sandbox) the path it was started by is resolved from
// the folder it was started in, which is still the current one. Never the
// current folder by default: a library someone left there would be run.
std::string programDirectory() {
  std::string path;
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n > 0) {
    path.assign(buffer.data(), static_cast<std::size_t>(n));
  } else if (const auto* started = reinterpret_cast<const char*>(::getauxval(AT_EXECFN))) {
    if (char* resolved = ::realpath(started, nullptr)) {
      path = resolved;
      std::free(resolved);
    }
  }
  // Both are absolute paths.
  return path.empty() ? std::string() : folderOf(path);
}

}  // namespace

PluginLibrary::~PluginLibrary() { unload(); }

bool PluginLibrary::load(const std::string& given, std::string* error) {
  // A bare name means a file here, not a search of the library path.
  const std::string path = given.find('/') == std::string::npos ? "./" + given : given;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    *error = "plug-in not found: " + given + " (" + std::strerror(errno) + ")";
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "plug-in is not a file: " + given;
    return false;
  }
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = ::dlerror();
    *error = "cannot load plug-in " + given + ": " + (why != nullptr ? why : "unknown error");
    return false;
  }
  ::dlerror();
  void* symbol = ::dlsym(handle_, "_getPlugin");
  if (symbol == nullptr) {
    *error = "not a subrite plug-in: " + given + " has no _getPlugin entry point";
    unload();
    return false;
  }
  // POSIX guarantees that a function's address survives the trip through void*.
  entry_ = reinterpret_cast<hostkit::GetPlugin>(reinterpret_cast<std::uintptr_t>(symbol));
  return true;
}

void PluginLibrary::unload() {
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
  entry_ = nullptr;
}

std::string defaultPluginPath(std::string* searched) {
  const std::string directory = programDirectory();
  if (directory.empty()) {
    *searched = "the program's own folder cannot be told";
    return std::string();
  }
  const std::string candidates[] = {directory + "/" + kModuleName,
                                    directory + "/../lib/" + kModuleName};
  *searched = "looked for ";
  for (const std::string& candidate : candidates) {
    if (isFile(candidate)) return candidate;
    if (candidate != candidates[0]) *searched += " and ";
    *searched += candidate;
  }
  return std::string();
}

}  // namespace cli
