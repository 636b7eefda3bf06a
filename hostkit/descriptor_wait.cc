#include "hostkit/descriptor_wait.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>

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

int writeWhole(int fd, iovec* parts, int count) {
  while (count > 0) {
    const ssize_t n = ::writev(fd, parts, count);
    if (n == 0) return EIO;  // taking nothing, it would be tried for ever
    if (n < 0) {
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitUntilReady(fd, POLLOUT)) continue;
      return errno;
    }
    auto written = static_cast<std::size_t>(n);
    while (count > 0 && written >= parts->iov_len) {
      written -= parts->iov_len;
      ++parts;
      --count;
    }
    if (count > 0) {
      parts->iov_base = static_cast<char*>(parts->iov_base) + written;
      parts->iov_len -= written;
    }
  }
  return 0;
}

}  // namespace hostkit
