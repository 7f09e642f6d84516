// TCP client on POSIX: BSD sockets in non-blocking mode, every wait a poll() bounded by a
// monotonic deadline, so no call blocks longer than the caller allowed.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>

#include "platform/deadline.h"
#include "platform/system_error.h"
#include "platform/tcp.h"

namespace plat {

struct TcpConnection {
  int fd = -1;
};

namespace {

bool Fail(int error) {
  SetSystemLastError(static_cast<uint32_t>(error));
  return false;
}

// Outcome of a wait for a socket to become ready.
enum class Wait { kReady, kTimedOut, kFailed };

// Waits until the socket is ready for `events` or the deadline passes. An error or hang-up state
// counts as ready: the next call on the socket reports what happened.
Wait WaitReady(int fd, short events, const Deadline& deadline) {
  for (;;) {
    const uint32_t ms = deadline.RemainingMs();
    pollfd p = {fd, events, 0};
    const int n = poll(&p, 1, ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
    if (n > 0) return Wait::kReady;
    if (n == 0) return Wait::kTimedOut;
    if (errno != EINTR) {
      Fail(errno);
      return Wait::kFailed;
    }
  }
}

// Connects a new socket to one resolved address within the deadline: the descriptor, or -1 with
// the error recorded.
int ConnectOne(const addrinfo& ai, const Deadline& deadline) {
  // Close-on-exec: a process the host starts must not inherit, and so hold open, the connection.
  const int fd = socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
  if (fd < 0) {
    Fail(errno);
    return -1;
  }
  int error = connect(fd, ai.ai_addr, ai.ai_addrlen) == 0 ? 0 : errno;
  // A non-blocking connect goes on in the background, also after a signal interrupted the call.
  if (error == EINPROGRESS || error == EINTR) {
    const Wait wait = WaitReady(fd, POLLOUT, deadline);
    socklen_t len = sizeof error;
    if (wait == Wait::kFailed) {
      error = static_cast<int>(SystemLastError());
    } else if (wait == Wait::kTimedOut) {
      error = ETIMEDOUT;
    } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
      error = errno;
    }
  }
  if (error == 0) return fd;
  close(fd);
  Fail(error);
  return -1;
}

// The addresses of host:port, or nullptr with the resolver's error recorded.
addrinfo* Resolve(const char* host, uint16_t port) {
  char service[8];
  snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(host, service, &hints, &list);
  if (rc == 0) return list;
  if (rc == EAI_SYSTEM) {
    Fail(errno);
  } else {
    SetSystemLastError(kErrResolverBase | static_cast<uint16_t>(rc));
  }
  return nullptr;
}

}  // namespace

TcpHandle TcpConnect(const char* host, uint16_t port, uint32_t timeoutMs) {
  if (host == nullptr || host[0] == '\0') {
    Fail(EINVAL);
    return nullptr;
  }
  const Deadline deadline(timeoutMs);
  addrinfo* list = Resolve(host, port);
  if (list == nullptr) return nullptr;
  int fd = -1;
  for (const addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
    fd = ConnectOne(*ai, deadline);
    if (fd < 0 && deadline.Expired()) break;
  }
  freeaddrinfo(list);
  if (fd < 0) return nullptr;
  TcpHandle h = new (std::nothrow) TcpConnection;
  if (h == nullptr) {
    close(fd);
    Fail(ENOMEM);
    return nullptr;
  }
  h->fd = fd;
  return h;
}

bool TcpSendAll(TcpHandle h, const void* bytes, size_t count, uint32_t timeoutMs) {
  if (h == nullptr || h->fd < 0) return Fail(EBADF);
  if (bytes == nullptr && count > 0) return Fail(EINVAL);
  SetSystemLastError(0);
  const Deadline deadline(timeoutMs);
  const char* data = static_cast<const char*>(bytes);
  size_t sent = 0;
  while (sent < count) {
    // MSG_NOSIGNAL: a peer that has gone away is an EPIPE here, not a SIGPIPE ending the host.
    const ssize_t n = send(h->fd, data + sent, count - sent, MSG_NOSIGNAL);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
    const Wait wait = WaitReady(h->fd, POLLOUT, deadline);
    if (wait == Wait::kFailed) return false;
    if (wait == Wait::kTimedOut) return Fail(ETIMEDOUT);
  }
  return true;
}

bool TcpReceive(TcpHandle h, void* buf, size_t size, uint32_t timeoutMs, size_t* got, bool* peerClosed) {
  if (h == nullptr || h->fd < 0) return Fail(EBADF);
  if (got == nullptr || peerClosed == nullptr || (buf == nullptr && size > 0)) return Fail(EINVAL);
  *got = 0;
  *peerClosed = false;
  SetSystemLastError(0);
  const Deadline deadline(timeoutMs);
  char* out = static_cast<char*>(buf);
  while (*got < size) {
    const ssize_t n = recv(h->fd, out + *got, size - *got, 0);
    if (n > 0) {
      *got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) {
      *peerClosed = true;
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
    const Wait wait = WaitReady(h->fd, POLLIN, deadline);
    if (wait == Wait::kFailed) return false;
    if (wait == Wait::kTimedOut) break;
  }
  return true;
}

bool TcpClose(TcpHandle h) {
  if (h == nullptr) return true;
  const int fd = h->fd;
  delete h;
  // The descriptor is released even when close() reports an error, so it is never retried.
  return close(fd) == 0 || Fail(errno);
}

}  // namespace plat
