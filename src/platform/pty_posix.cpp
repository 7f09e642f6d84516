#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/deadline.h"
#include "platform/pty.h"

namespace plat {
namespace {

bool MakeRaw(int fd) {
  struct termios t {};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Waits for `events` on fd; 1 when ready, 0 on time-out, -1 on failure. EINTR is retried on
// the same deadline so that a signal does not cut a wait short.
int WaitFor(int fd, short events, int timeoutMs) {
  Deadline deadline(static_cast<uint32_t>(timeoutMs > 0 ? timeoutMs : 0));
  for (;;) {
    struct pollfd p {
      fd, events, 0
    };
    int rc = poll(&p, 1, static_cast<int>(deadline.RemainingMs()));
    if (rc >= 0) return rc > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

}  // namespace

Pty::~Pty() {
  Close();
}

bool Pty::Open() {
  Close();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_ < 0) return false;
  char name[128];
  bool ok = grantpt(master_) == 0 && unlockpt(master_) == 0 && ptsname_r(master_, name, sizeof name) == 0;
  if (ok) {
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    // Linux applies the master's settings to the pair's line, other systems keep them per side:
    // set both so that neither side echoes or translates the protocol's control bytes.
    ok = slave_ >= 0 && MakeRaw(slave_) && MakeRaw(master_);
  }
  if (!ok) {
    int saved = errno;
    Close();
    errno = saved;
    return false;
  }
  slavePath_ = name;
  return true;
}

void Pty::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
  slavePath_.clear();
}

// What is written to the master waits in the slave's input queue until it is read, whoever reads
// it; our own descriptor on the slave can count it.
int Pty::Unread() const {
  int queued = 0;
  return slave_ >= 0 && ioctl(slave_, FIONREAD, &queued) == 0 ? queued : -1;
}

int Pty::Read(uint8_t* buf, size_t size, int timeoutMs) {
  if (master_ < 0) return -1;
  int ready = WaitFor(master_, POLLIN, timeoutMs);
  if (ready <= 0) return ready;
  ssize_t n = read(master_, buf, size);
  if (n >= 0) return static_cast<int>(n);
  return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

bool Pty::Write(const uint8_t* data, size_t size, int timeoutMs) {
  if (master_ < 0) return false;
  Deadline deadline(static_cast<uint32_t>(timeoutMs > 0 ? timeoutMs : 0));
  while (size > 0) {
    ssize_t n = write(master_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (deadline.Expired() || WaitFor(master_, POLLOUT, static_cast<int>(deadline.RemainingMs())) < 0) {
      return false;
    }
  }
  return true;
}

}  // namespace plat
