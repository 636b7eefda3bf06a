// Waiting on a descriptor that another program sharing it (a pipe, a
// terminal) may have made non-blocking: a read or write that answers EAGAIN
// waits here, as the blocking call would have.
#pragma once

#include <sys/uio.h>

namespace hostkit {

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT). False when it
// cannot wait: poll fails, or `fd` is not a pipe, socket or device, whose
// EAGAIN poll would answer at once, again and again.
bool waitUntilReady(int fd, short events);

// Writes all of `parts` (changed as they are written), as many bytes a call
// as `fd` takes, so that a line is cut by no other writer's where the
// descriptor takes it whole; after EINTR, and EAGAIN waited on, it goes on.
// 0, or the errno of the failure (EIO for a write that takes nothing).
int writeWhole(int fd, iovec* parts, int count);

}  // namespace hostkit
