// TCP client on POSIX: BSD sockets in non-blocking mode, every wait a poll() bounded by a
// monotonic deadline, so no call blocks longer than the caller allowed.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
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

struct TcpListenerSocket {
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

// The handle of a connected socket; nullptr, with the socket closed, when memory runs out.
TcpHandle WrapSocket(int fd) {
  TcpHandle h = new (std::nothrow) TcpConnection;
  if (h == nullptr) {
    close(fd);
    Fail(ENOMEM);
    return nullptr;
  }
  h->fd = fd;
  return h;
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
  return fd < 0 ? nullptr : WrapSocket(fd);
}

bool TcpSendAll(TcpHandle h, const void* bytes, size_t count, uint32_t timeoutMs) {
  size_t sent = 0;
  if (!TcpSendSome(h, bytes, count, timeoutMs, &sent)) return false;
  return sent == count || Fail(ETIMEDOUT);
}

bool TcpSendSome(TcpHandle h, const void* bytes, size_t count, uint32_t timeoutMs, size_t* sent) {
  if (h == nullptr || h->fd < 0) return Fail(EBADF);
  if ((bytes == nullptr && count > 0) || sent == nullptr) return Fail(EINVAL);
  *sent = 0;
  SetSystemLastError(0);
  const Deadline deadline(timeoutMs);
  const char* data = static_cast<const char*>(bytes);
  while (*sent < count) {
    // MSG_NOSIGNAL: a peer that has gone away is an EPIPE here, not a SIGPIPE ending the host.
    const ssize_t n = send(h->fd, data + *sent, count - *sent, MSG_NOSIGNAL);
    if (n >= 0) {
      *sent += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
    const Wait wait = WaitReady(h->fd, POLLOUT, deadline);
    if (wait == Wait::kFailed) return false;
    if (wait == Wait::kTimedOut) break;
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

bool TcpIsTimeout(uint32_t code) {
  return code == ETIMEDOUT;
}

bool TcpResolveIPv4(const char* host, uint32_t* address) {
  if (host == nullptr || host[0] == '\0' || address == nullptr) return Fail(EINVAL);
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(host, nullptr, &hints, &list);
  if (rc != 0) {
    if (rc == EAI_SYSTEM) return Fail(errno);
    SetSystemLastError(kErrResolverBase | static_cast<uint16_t>(rc));
    return false;
  }
  *address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(list);
  return true;
}

TcpListener TcpListenLoopback(uint16_t port, bool listen) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail(errno);
    return nullptr;
  }
  const int reuse = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  TcpListener l = nullptr;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      (listen && ::listen(fd, SOMAXCONN) != 0)) {
    Fail(errno);
  } else if ((l = new (std::nothrow) TcpListenerSocket) == nullptr) {
    Fail(ENOMEM);
  }
  if (l == nullptr) {
    close(fd);
    return nullptr;
  }
  l->fd = fd;
  return l;
}

uint16_t TcpListenerPort(TcpListener l) {
  sockaddr_in addr = {};
  socklen_t len = sizeof addr;
  if (l == nullptr || getsockname(l->fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

TcpHandle TcpAccept(TcpListener l, uint32_t timeoutMs) {
  if (l == nullptr) {
    Fail(EBADF);
    return nullptr;
  }
  const Deadline deadline(timeoutMs);
  for (;;) {
    const int fd = accept4(l->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) return WrapSocket(fd);
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      Fail(errno);
      return nullptr;
    }
    const Wait wait = WaitReady(l->fd, POLLIN, deadline);
    if (wait == Wait::kFailed) return nullptr;
    if (wait == Wait::kTimedOut) {
      Fail(ETIMEDOUT);
      return nullptr;
    }
  }
}

void TcpCloseListener(TcpListener l) {
  if (l == nullptr) return;
  close(l->fd);
  delete l;
}

}  // namespace plat
