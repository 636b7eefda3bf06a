#include "hostkit/descriptor_wait.h"

#include <poll.h>
#include <sys/stat.h>

#include <cerrno>

namespace hostkit {

bool waitUntilReady(int fd, short events) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 ||
      !(S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || S_ISCHR(info.st_mode))) {
    return false;
  }
  pollfd ready{fd, events, 0};
  while (::poll(&ready, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace hostkit
