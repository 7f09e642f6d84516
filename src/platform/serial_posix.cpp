// Serial port on POSIX: a termios line in raw mode, non-blocking, with the Win32 time-out meaning
// built from poll() and monotonic deadlines. The port handle is a heap object holding the
// descriptor, the time-outs, the DCB members that termios has no place for, and the bytes taken
// from the line ahead of the reads that want them.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <thread>

#include "platform/deadline.h"
#include "platform/serial.h"
#include "platform/serial_input.h"

extern char** environ;

namespace plat {
namespace {

// Ports 1..kScannedPorts are probed by SerialPortNumbers; MIREL_COM<N> variables may name more.
constexpr int kScannedPorts = 256;
constexpr int kMaxPortNumber = 99999;
// How long a read sleeps between looks at a line that has hung up: poll() reports a hang-up at
// once every time, so waiting on it would spin.
constexpr int kHangupSliceMs = 20;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

bool Fail(int error) {
  SetSystemLastError(static_cast<uint32_t>(error));
  return false;
}

struct Port {
  int fd = -1;
  SerialTimeouts timeouts;
  // The members last set; SerialGetState takes from here only what termios cannot tell.
  SerialState state;
  SerialInput input;
};

Port* PortOf(PortHandle h) {
  Port* port = static_cast<Port*>(h);
  if (port == nullptr || port->fd < 0) {
    Fail(EBADF);
    return nullptr;
  }
  return port;
}

// --- Port names -----------------------------------------------------------------------------

// COM<port> is the path in MIREL_COM<port> when that is set and not empty, else /dev/ttyS<port-1>.
bool ResolvePath(int port, char* path, size_t size) {
  if (port < 1 || port > kMaxPortNumber) return Fail(ENOENT);
  char name[32];
  snprintf(name, sizeof name, "MIREL_COM%d", port);
  const char* configured = getenv(name);
  const int len = configured != nullptr && configured[0] != '\0'
                      ? snprintf(path, size, "%s", configured)
                      : snprintf(path, size, "/dev/ttyS%d", port - 1);
  if (len < 0 || static_cast<size_t>(len) >= size) return Fail(ENAMETOOLONG);
  return true;
}

bool PortExists(int port) {
  char path[PATH_MAX];
  struct stat st;
  return ResolvePath(port, path, sizeof path) && stat(path, &st) == 0;
}

// The N of an environment entry "MIREL_COM<N>=...", 0 for any other entry.
int PortOfEnvironmentEntry(const char* entry) {
  static const char kPrefix[] = "MIREL_COM";
  if (strncmp(entry, kPrefix, sizeof kPrefix - 1) != 0) return 0;
  int port = 0;
  const char* p = entry + sizeof kPrefix - 1;
  for (; *p >= '0' && *p <= '9'; ++p) {
    port = port * 10 + (*p - '0');
    if (port > kMaxPortNumber) return 0;
  }
  return *p == '=' ? port : 0;
}

// --- Line settings --------------------------------------------------------------------------

struct Speed {
  uint32_t rate;
  speed_t code;
};

// Linux has no constant for 76800 bit/s (baud code 5 of the printer), so that rate is refused
// with EINVAL rather than silently run at a neighbouring speed the printer would not understand.
constexpr Speed kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool SpeedCodeOf(uint32_t rate, speed_t* code) {
  for (const Speed& s : kSpeeds) {
    if (s.rate == rate) {
      *code = s.code;
      return true;
    }
  }
  return false;
}

uint32_t RateOf(speed_t code) {
  for (const Speed& s : kSpeeds) {
    if (s.code == code) return s.rate;
  }
  return 0;
}

bool CharSizeOf(uint8_t byteSize, tcflag_t* flag) {
  switch (byteSize) {
    case 5:
      *flag = CS5;
      return true;
    case 6:
      *flag = CS6;
      return true;
    case 7:
      *flag = CS7;
      return true;
    case 8:
      *flag = CS8;
      return true;
    default:
      return false;
  }
}

uint8_t ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

// Raw line: no echo, no line editing, no character translation; reads never block in the kernel
// (VMIN = VTIME = 0), the time-outs are ours. CLOCAL: the carrier line does not matter.
void MakeRaw(struct termios* t) {
  cfmakeraw(t);
  t->c_cflag |= CLOCAL | CREAD;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
}

// termios from the DCB members. Win32 separates generating parity (Parity) from checking it
// (fParity); termios does the same with PARENB and INPCK. 0 or EINVAL for a setting termios
// cannot express (mark/space parity, 1.5 stop bits, a rate without a constant).
int ApplyState(const SerialState& s, struct termios* t) {
  speed_t speed;
  tcflag_t size;
  if (!SpeedCodeOf(s.BaudRate, &speed) || !CharSizeOf(s.ByteSize, &size)) return EINVAL;
  if (s.Parity > kEvenParity || (s.StopBits != kOneStopBit && s.StopBits != kTwoStopBits)) return EINVAL;
  MakeRaw(t);
  t->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t->c_cflag |= size;
  if (s.Parity != kNoParity) t->c_cflag |= PARENB;
  if (s.Parity == kOddParity) t->c_cflag |= PARODD;
  if (s.fParity) t->c_iflag |= INPCK;
  if (s.StopBits == kTwoStopBits) t->c_cflag |= CSTOPB;
  if (s.fOutxCtsFlow || s.fRtsControl == kRtsControlHandshake) t->c_cflag |= CRTSCTS;
  if (s.fOutX) t->c_iflag |= IXON;
  if (s.fInX) t->c_iflag |= IXOFF;
  if (cfsetispeed(t, speed) != 0 || cfsetospeed(t, speed) != 0) return EINVAL;
  return 0;
}

// DTR and RTS as the DCB asks. Best effort: a pseudo-terminal has no modem lines and refuses the
// request, which must not make the whole configuration fail.
void SetModemLine(int fd, int line, bool on) {
  ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

void ApplyModemLines(int fd, const SerialState& s) {
  SetModemLine(fd, TIOCM_DTR, s.fDtrControl != kDtrControlDisable);
  if (s.fRtsControl != kRtsControlHandshake) SetModemLine(fd, TIOCM_RTS, s.fRtsControl == kRtsControlEnable);
}

// Checks that the descriptor is a terminal, makes it ours alone and puts it in raw mode.
// 0 or an errno value.
int TakeLine(int fd) {
  struct termios t;
  if (tcgetattr(fd, &t) != 0) return ENOTTY;  // /dev/null, a regular file: not a serial line
  // flock works for root too, who passes TIOCEXCL; TIOCEXCL also keeps out programs that do not
  // lock. A port another user holds reports EBUSY, as it does when TIOCEXCL refuses the open.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EBUSY : errno;
  ioctl(fd, TIOCEXCL);
  MakeRaw(&t);
  return tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : errno;
}

// The state a freshly opened line has: Linux raises DTR and RTS on open.
SerialState OpenedState() {
  SerialState s;
  s.fBinary = 1;
  s.fDtrControl = kDtrControlEnable;
  s.fRtsControl = kRtsControlEnable;
  return s;
}

// --- Waiting --------------------------------------------------------------------------------

// Milliseconds until the nearer of the deadlines present; -1 when none is, 0 once one passed.
int WaitMs(const std::optional<Deadline>& a, const std::optional<Deadline>& b) {
  uint32_t ms = kMaxDword;
  bool any = false;
  for (const auto* d : {&a, &b}) {
    if (d->has_value()) {
      ms = std::min(ms, (*d)->RemainingMs());
      any = true;
    }
  }
  if (!any) return -1;
  return static_cast<int>(std::min<uint32_t>(ms, INT_MAX));
}

std::optional<Deadline> DeadlineAfter(uint64_t ms) {
  if (ms == 0) return std::nullopt;  // 0 means "not used" in COMMTIMEOUTS
  return Deadline(static_cast<uint32_t>(std::min<uint64_t>(ms, kMaxDword)));
}

// Waits up to waitMs (-1: no limit) for the descriptor to become ready for `events`. Sets
// *hangup when the line reports a hang-up or an error. False with the error on a failed poll.
bool WaitReady(int fd, short events, int waitMs, bool* hangup) {
  struct pollfd p = {fd, events, 0};
  const int r = poll(&p, 1, waitMs);
  if (r < 0) return errno == EINTR ? true : Fail(errno);
  if (p.revents & POLLNVAL) return Fail(EBADF);
  if (p.revents & (POLLHUP | POLLERR)) *hangup = true;
  return true;
}

void SleepMs(int ms) {
  poll(nullptr, 0, ms);
}

// A read that found nothing: EAGAIN, or EIO from a pseudo-terminal whose other side is closed
// (the line is silent, not broken, as a serial cable without a device is).
bool IsNoData(ssize_t n) {
  return n == 0 || (n < 0 && (errno == EAGAIN || errno == EIO));
}

// Takes whatever the line holds into the port's empty input buffer, in one read: 1 when bytes
// came, 0 when none were waiting, -1 with errno set when the read failed.
int FillInput(Port* port) {
  for (;;) {
    const ssize_t n = read(port->fd, port->input.Space(), port->input.SpaceSize());
    if (n > 0) {
      port->input.Filled(static_cast<uint32_t>(n));
      return 1;
    }
    if (n < 0 && errno == EINTR) continue;
    return IsNoData(n) ? 0 : -1;
  }
}

// Microseconds the line needs to deliver `count` bytes at the port's speed and character frame
// (start bit, data bits, parity bit, stop bits); 0 while no speed is set.
uint64_t LineUs(const SerialState& s, uint32_t count) {
  if (s.BaudRate == 0) return 0;
  const uint64_t bits =
      1u + s.ByteSize + (s.Parity != kNoParity ? 1u : 0u) + (s.StopBits == kTwoStopBits ? 2u : 1u);
  return count * bits * 1000000u / s.BaudRate;
}

// The rest of an answer whose first bytes have come cannot arrive sooner than the line carries
// it: a read that is still short waits that long once after each wake-up on input, so that an
// answer is taken in one or two pieces rather than one wake-up for every few bytes the terminal
// hands on. What is still missing after that wait is already on its way and is waited for on the
// line itself, not for its whole line time again. The wait never passes the read's time-outs.
// waitMs is what the time-outs leave, -1 for no limit.
void AwaitLine(const Port* port, uint32_t missing, int waitMs) {
  uint64_t us = LineUs(port->state, missing);
  if (waitMs >= 0) us = std::min<uint64_t>(us, static_cast<uint64_t>(waitMs) * 1000u);
  if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

}  // namespace

PortHandle SerialOpen(int port) {
  char path[PATH_MAX];
  if (!ResolvePath(port, path, sizeof path)) return nullptr;
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno);
    return nullptr;
  }
  const int error = TakeLine(fd);
  Port* handle = error == 0 ? new (std::nothrow) Port : nullptr;
  if (handle == nullptr) {
    close(fd);
    Fail(error != 0 ? error : ENOMEM);
    return nullptr;
  }
  handle->fd = fd;
  handle->state = OpenedState();
  return handle;
}

bool SerialSetupQueues(PortHandle h, uint32_t, uint32_t) {
  // The kernel sizes a terminal's buffers itself; there is nothing to set.
  return PortOf(h) != nullptr;
}

bool SerialGetState(PortHandle h, SerialState* state) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  struct termios t;
  if (tcgetattr(port->fd, &t) != 0) return Fail(errno);
  SerialState s = port->state;
  s.fBinary = 1;
  s.BaudRate = RateOf(cfgetospeed(&t));
  s.ByteSize = ByteSizeOf(t.c_cflag);
  s.Parity = !(t.c_cflag & PARENB) ? kNoParity : (t.c_cflag & PARODD) ? kOddParity : kEvenParity;
  s.fParity = (t.c_iflag & INPCK) ? 1 : 0;
  s.StopBits = (t.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;
  const bool handshake = (t.c_cflag & CRTSCTS) != 0;
  s.fOutxCtsFlow = handshake ? 1 : 0;
  if (handshake) {
    s.fRtsControl = kRtsControlHandshake;
  } else if (s.fRtsControl == kRtsControlHandshake) {
    s.fRtsControl = kRtsControlEnable;
  }
  s.fOutX = (t.c_iflag & IXON) ? 1 : 0;
  s.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
  *state = s;
  return true;
}

// A pseudo-terminal takes the settings but keeps 8 bits without parity, and the C library reports
// that as EINVAL after the kernel has applied everything else. A line whose settings then differ
// from the wanted ones in the parity bits alone is therefore set up as far as it can be.
namespace {

bool OnlyParityRefused(int fd, const struct termios& wanted) {
  struct termios now;
  if (errno != EINVAL || tcgetattr(fd, &now) != 0) return false;
  const tcflag_t parity = PARENB | PARODD;
  return (now.c_cflag & ~parity) == (wanted.c_cflag & ~parity) && cfgetospeed(&now) == cfgetospeed(&wanted);
}

}  // namespace

bool SerialSetState(PortHandle h, const SerialState& state) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  struct termios t;
  if (tcgetattr(port->fd, &t) != 0) return Fail(errno);
  const int error = ApplyState(state, &t);
  if (error != 0) return Fail(error);
  if (tcsetattr(port->fd, TCSANOW, &t) != 0 && !OnlyParityRefused(port->fd, t)) return Fail(errno);
  ApplyModemLines(port->fd, state);
  port->state = state;
  return true;
}

bool SerialGetTimeouts(PortHandle h, SerialTimeouts* timeouts) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  *timeouts = port->timeouts;
  return true;
}

bool SerialSetTimeouts(PortHandle h, const SerialTimeouts& timeouts) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  port->timeouts = timeouts;
  return true;
}

bool SerialPurge(PortHandle h, uint32_t flags) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  const bool input = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
  const bool output = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
  if (!input && !output) return true;
  if (input) port->input.Clear();
  const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  return tcflush(port->fd, queue) == 0 ? true : Fail(errno);
}

// Line errors (framing, parity, overrun) are not collected on POSIX; *errors is always 0.
bool SerialClearError(PortHandle h, uint32_t* errors, SerialQueues* queues) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  int input = 0;
  if (ioctl(port->fd, FIONREAD, &input) != 0) return Fail(errno);
  int output = 0;
  if (ioctl(port->fd, TIOCOUTQ, &output) != 0) output = 0;  // not every driver counts its output
  if (errors != nullptr) *errors = 0;
  if (queues != nullptr) {
    queues->cbInQue = static_cast<uint32_t>(std::max(input, 0)) + port->input.Count();
    queues->cbOutQue = static_cast<uint32_t>(std::max(output, 0));
  }
  return true;
}

bool SerialModemStatus(PortHandle h, uint32_t* bits) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  int lines = 0;
  if (ioctl(port->fd, TIOCMGET, &lines) != 0) {
    return Fail(errno == ENOTTY || errno == EINVAL ? static_cast<int>(kErrModemLinesUnsupported) : errno);
  }
  *bits = (lines & TIOCM_DSR) ? kModemDsrOn : 0;
  return true;
}

bool SerialRead(PortHandle h, void* buf, uint32_t wanted, uint32_t* got) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  if (got == nullptr || (buf == nullptr && wanted > 0)) return Fail(EINVAL);
  *got = 0;
  SetSystemLastError(0);
  const SerialTimeouts& to = port->timeouts;
  // MAXDWORD interval with no total time-out: return at once with whatever is queued.
  const bool immediate = to.ReadIntervalTimeout == kMaxDword && to.ReadTotalTimeoutMultiplier == 0 &&
                         to.ReadTotalTimeoutConstant == 0;
  const std::optional<Deadline> total = DeadlineAfter(
      static_cast<uint64_t>(to.ReadTotalTimeoutMultiplier) * wanted + to.ReadTotalTimeoutConstant);
  std::optional<Deadline> interval;  // starts with the first byte, restarts with every byte
  uint8_t* out = static_cast<uint8_t*>(buf);
  bool hangup = false;
  bool lineAwaited = false;  // since the read last woke up on input
  // Whether to read the line before waiting on it. A read that may wait asks poll() first, since
  // right after a command the line is nearly always still empty (poll returns at once when it is
  // not); a wait that ended, the line's time for the rest of an answer, a look that filled the
  // whole buffer, and a read that must not wait each end with a look.
  bool look = immediate;
  while (*got < wanted) {
    if (port->input.Count() == 0) {
      if (*got > 0 && !lineAwaited && !immediate && !hangup) {
        AwaitLine(port, wanted - *got, WaitMs(total, interval));
        lineAwaited = true;
        look = true;
      }
      const int filled = look ? FillInput(port) : 0;
      if (filled < 0) return Fail(errno);
      if (filled == 0) {
        const int waitMs = immediate ? 0 : WaitMs(total, interval);
        if (waitMs == 0) {
          if (look) break;
          look = true;  // out of time, the line is still read once
          continue;
        }
        if (hangup) {
          SleepMs(waitMs < 0 ? kHangupSliceMs : std::min(waitMs, kHangupSliceMs));
        } else if (!WaitReady(port->fd, POLLIN, waitMs, &hangup)) {
          return false;
        }
        lineAwaited = false;
        look = true;
        continue;
      }
      look = port->input.Count() == SerialInput::kSize;
    }
    *got += port->input.Take(out + *got, wanted - *got);
    interval = immediate ? std::nullopt : DeadlineAfter(to.ReadIntervalTimeout);
  }
  return true;
}

bool SerialWaitInput(PortHandle h, uint32_t ms) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  if (port->input.Count() > 0) return true;
  SetSystemLastError(0);
  const Deadline deadline(ms);
  bool hangup = false;
  for (;;) {
    const int filled = FillInput(port);
    if (filled != 0) return filled > 0 || Fail(errno);
    const int waitMs = static_cast<int>(std::min<uint32_t>(deadline.RemainingMs(), INT_MAX));
    if (waitMs == 0) return false;
    if (hangup) {
      SleepMs(std::min(waitMs, kHangupSliceMs));
    } else if (!WaitReady(port->fd, POLLIN, waitMs, &hangup)) {
      return false;
    }
  }
}

bool SerialWrite(PortHandle h, const void* buf, uint32_t count, uint32_t* written) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  if (written == nullptr || (buf == nullptr && count > 0)) return Fail(EINVAL);
  *written = 0;
  SetSystemLastError(0);
  const SerialTimeouts& to = port->timeouts;
  const std::optional<Deadline> total = DeadlineAfter(
      static_cast<uint64_t>(to.WriteTotalTimeoutMultiplier) * count + to.WriteTotalTimeoutConstant);
  const uint8_t* in = static_cast<const uint8_t*>(buf);
  bool hangup = false;  // a hung-up line fails the next write with EIO, so it needs no handling
  while (*written < count) {
    const ssize_t n = write(port->fd, in + *written, count - *written);
    if (n > 0) {
      *written += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Fail(errno);
    const int waitMs = WaitMs(total, std::nullopt);
    if (waitMs == 0) break;
    if (!WaitReady(port->fd, POLLOUT, waitMs, &hangup)) return false;
  }
  return true;
}

// Linux releases the descriptor even when close() reports an error. The handle then stays
// allocated but closed, so that a caller which keeps it after the failure (as the device layer
// does) never touches freed memory; closing it again releases it.
bool SerialClose(PortHandle h) {
  Port* port = static_cast<Port*>(h);
  if (port == nullptr) return Fail(EBADF);
  if (port->fd < 0) {
    delete port;
    return true;
  }
  ioctl(port->fd, TIOCNXCL);
  if (close(port->fd) != 0) {
    port->fd = -1;
    return Fail(errno);
  }
  delete port;
  return true;
}

std::vector<int> SerialPortNumbers() {
  try {
    std::vector<int> ports;
    for (int port = 1; port <= kScannedPorts; ++port) {
      if (PortExists(port)) ports.push_back(port);
    }
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      const int port = PortOfEnvironmentEntry(*entry);
      if (port > kScannedPorts && PortExists(port)) ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
  } catch (...) {  // out of memory: no list rather than an exception through the platform API
    return {};
  }
}

}  // namespace plat
