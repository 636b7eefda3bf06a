// Waiting on a descriptor that another program sharing it (a pipe, a
// terminal) may have made non-blocking: a read or write that answers EAGAIN
// waits here, as the blocking call would have.
#pragma once

namespace hostkit {

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT). False when it
// cannot wait: poll fails, or `fd` is not a pipe, socket or device, whose
// EAGAIN poll would answer at once, again and again.
bool waitUntilReady(int fd, short events);

}  // namespace hostkit
