// TCP client on Windows: Winsock 2.2 sockets in non-blocking mode, every wait a select() bounded
// by a monotonic deadline, so no call blocks longer than the caller allowed. Errors are Winsock's
// (WSAGetLastError), stored where SystemLastError() reads them.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <new>

#include "platform/deadline.h"
#include "platform/system_error.h"
#include "platform/tcp.h"

namespace plat {

struct TcpConnection {
  SOCKET s = INVALID_SOCKET;
};

struct TcpListenerSocket {
  SOCKET s = INVALID_SOCKET;
};

namespace {

// send() and recv() take an int count; larger buffers go in pieces of this size.
constexpr size_t kMaxChunk = 0x40000000;

bool Fail(int error) {
  SetSystemLastError(static_cast<uint32_t>(error));
  return false;
}

bool FailWithSocketError() {
  return Fail(WSAGetLastError());
}

// Winsock needs WSAStartup before any other call. The function-local static runs it exactly once
// even when several threads get here together. WSACleanup is never called: a relay thread may
// still hold a socket at any point the driver could choose, and the process end releases Winsock.
int StartupError() {
  static const int error = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return error;
}

// Outcome of a wait for a socket to become ready.
enum class Wait { kReady, kTimedOut, kFailed };

// Waits until the socket is readable (or writable) or the deadline passes. A socket in the
// exception set (a failed connect) counts as ready: the next call on it reports what happened.
Wait WaitReady(SOCKET s, bool forWrite, const Deadline& deadline) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  const uint32_t ms = deadline.RemainingMs();
  timeval tv = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000 * 1000)};
  const int n = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &tv);
  if (n == SOCKET_ERROR) {
    FailWithSocketError();
    return Wait::kFailed;
  }
  return n > 0 ? Wait::kReady : Wait::kTimedOut;
}

// The error of a connect that select() has finished with, 0 when it succeeded.
int ConnectResult(SOCKET s) {
  int error = 0;
  int len = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
    return WSAGetLastError();
  }
  return error;
}

// Connects a new non-blocking socket to one resolved address within the deadline: the socket, or
// INVALID_SOCKET with the error recorded.
SOCKET ConnectOne(const addrinfo& ai, const Deadline& deadline) {
  const SOCKET s = socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol);
  if (s == INVALID_SOCKET) {
    FailWithSocketError();
    return INVALID_SOCKET;
  }
  // A process the host starts must not inherit, and so hold open, the connection.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  int error = ioctlsocket(s, FIONBIO, &nonBlocking) == 0 ? 0 : WSAGetLastError();
  if (error == 0 && connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      const Wait wait = WaitReady(s, true, deadline);
      error = wait == Wait::kFailed     ? static_cast<int>(SystemLastError())
              : wait == Wait::kTimedOut ? WSAETIMEDOUT
                                        : ConnectResult(s);
    }
  }
  if (error == 0) return s;
  closesocket(s);
  Fail(error);
  return INVALID_SOCKET;
}

// The handle of a connected socket; nullptr, with the socket closed, when memory runs out.
TcpHandle WrapSocket(SOCKET s) {
  TcpHandle h = new (std::nothrow) TcpConnection;
  if (h == nullptr) {
    closesocket(s);
    Fail(WSA_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  h->s = s;
  return h;
}

// The addresses of host:port, or nullptr with the resolver's error recorded.
addrinfo* Resolve(const char* host, uint16_t port) {
  char service[8];
  snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  // getaddrinfo returns its Winsock error code rather than setting the last error.
  const int rc = getaddrinfo(host, service, &hints, &list);
  if (rc == 0) return list;
  Fail(rc);
  return nullptr;
}

}  // namespace

TcpHandle TcpConnect(const char* host, uint16_t port, uint32_t timeoutMs) {
  if (host == nullptr || host[0] == '\0') {
    Fail(WSAEINVAL);
    return nullptr;
  }
  const Deadline deadline(timeoutMs);
  if (const int error = StartupError(); error != 0) {
    Fail(error);
    return nullptr;
  }
  addrinfo* list = Resolve(host, port);
  if (list == nullptr) return nullptr;
  SOCKET s = INVALID_SOCKET;
  for (const addrinfo* ai = list; ai != nullptr && s == INVALID_SOCKET; ai = ai->ai_next) {
    s = ConnectOne(*ai, deadline);
    if (s == INVALID_SOCKET && deadline.Expired()) break;
  }
  freeaddrinfo(list);
  return s == INVALID_SOCKET ? nullptr : WrapSocket(s);
}

bool TcpSendAll(TcpHandle h, const void* bytes, size_t count, uint32_t timeoutMs) {
  size_t sent = 0;
  if (!TcpSendSome(h, bytes, count, timeoutMs, &sent)) return false;
  return sent == count || Fail(WSAETIMEDOUT);
}

bool TcpSendSome(TcpHandle h, const void* bytes, size_t count, uint32_t timeoutMs, size_t* sent) {
  if (h == nullptr || h->s == INVALID_SOCKET) return Fail(WSAENOTSOCK);
  if ((bytes == nullptr && count > 0) || sent == nullptr) return Fail(WSAEINVAL);
  *sent = 0;
  SetSystemLastError(0);
  const Deadline deadline(timeoutMs);
  const char* data = static_cast<const char*>(bytes);
  while (*sent < count) {
    const size_t chunk = count - *sent < kMaxChunk ? count - *sent : kMaxChunk;
    const int n = send(h->s, data + *sent, static_cast<int>(chunk), 0);
    if (n != SOCKET_ERROR) {
      *sent += static_cast<size_t>(n);
      continue;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) return FailWithSocketError();
    const Wait wait = WaitReady(h->s, true, deadline);
    if (wait == Wait::kFailed) return false;
    if (wait == Wait::kTimedOut) break;
  }
  return true;
}

bool TcpReceive(TcpHandle h, void* buf, size_t size, uint32_t timeoutMs, size_t* got, bool* peerClosed) {
  if (h == nullptr || h->s == INVALID_SOCKET) return Fail(WSAENOTSOCK);
  if (got == nullptr || peerClosed == nullptr || (buf == nullptr && size > 0)) return Fail(WSAEINVAL);
  *got = 0;
  *peerClosed = false;
  SetSystemLastError(0);
  const Deadline deadline(timeoutMs);
  char* out = static_cast<char*>(buf);
  while (*got < size) {
    const size_t chunk = size - *got < kMaxChunk ? size - *got : kMaxChunk;
    const int n = recv(h->s, out + *got, static_cast<int>(chunk), 0);
    if (n > 0) {
      *got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) {
      *peerClosed = true;
      break;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) return FailWithSocketError();
    const Wait wait = WaitReady(h->s, false, deadline);
    if (wait == Wait::kFailed) return false;
    if (wait == Wait::kTimedOut) break;
  }
  return true;
}

bool TcpClose(TcpHandle h) {
  if (h == nullptr) return true;
  const SOCKET s = h->s;
  delete h;
  // The socket is released even when closesocket() reports an error, so it is never retried.
  return closesocket(s) == 0 || FailWithSocketError();
}

bool TcpIsTimeout(uint32_t code) {
  return code == WSAETIMEDOUT;
}

bool TcpResolveIPv4(const char* host, uint32_t* address) {
  if (host == nullptr || host[0] == '\0' || address == nullptr) return Fail(WSAEINVAL);
  if (const int error = StartupError(); error != 0) return Fail(error);
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (const int rc = getaddrinfo(host, nullptr, &hints, &list); rc != 0) return Fail(rc);
  *address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(list);
  return true;
}

TcpListener TcpListenLoopback(uint16_t port, bool listen) {
  if (const int error = StartupError(); error != 0) {
    Fail(error);
    return nullptr;
  }
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    FailWithSocketError();
    return nullptr;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  u_long nonBlocking = 1;
  TcpListener l = nullptr;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
      bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      (listen && ::listen(s, SOMAXCONN) != 0)) {
    FailWithSocketError();
  } else if ((l = new (std::nothrow) TcpListenerSocket) == nullptr) {
    Fail(WSA_NOT_ENOUGH_MEMORY);
  }
  if (l == nullptr) {
    closesocket(s);
    return nullptr;
  }
  l->s = s;
  return l;
}

uint16_t TcpListenerPort(TcpListener l) {
  sockaddr_in addr = {};
  int len = sizeof addr;
  if (l == nullptr || getsockname(l->s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

TcpHandle TcpAccept(TcpListener l, uint32_t timeoutMs) {
  if (l == nullptr) {
    Fail(WSAENOTSOCK);
    return nullptr;
  }
  const Deadline deadline(timeoutMs);
  for (;;) {
    const SOCKET s = accept(l->s, nullptr, nullptr);
    if (s != INVALID_SOCKET) {
      SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
      u_long nonBlocking = 1;
      if (ioctlsocket(s, FIONBIO, &nonBlocking) == 0) return WrapSocket(s);
      FailWithSocketError();
      closesocket(s);
      return nullptr;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      FailWithSocketError();
      return nullptr;
    }
    const Wait wait = WaitReady(l->s, false, deadline);
    if (wait == Wait::kFailed) return nullptr;
    if (wait == Wait::kTimedOut) {
      Fail(WSAETIMEDOUT);
      return nullptr;
    }
  }
}

void TcpCloseListener(TcpListener l) {
  if (l == nullptr) return;
  closesocket(l->s);
  delete l;
}

}  // namespace plat
