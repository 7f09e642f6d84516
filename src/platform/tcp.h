// TCP client facility: what the OFD relay needs to hand a message to a server and read its answer
// from a thread of its own. Every call is bounded by the caller's time-out (name resolution
// excepted: the system resolver has no time-out of its own), so the relay can always check
// whether it has been asked to stop.
//
// Error rule (platform/system_error.h): functions returning bool return false on failure with the
// reason in SystemLastError(); SystemErrorText() gives its text. On Windows the code is Winsock's
// (WSAGetLastError), on POSIX an errno value or, for a name that cannot be resolved,
// kErrResolverBase plus the resolver's code. A call that runs out of time in TcpConnect or
// TcpSendAll fails with the system's "timed out" code (ETIMEDOUT / WSAETIMEDOUT); TcpReceive's
// time-out is not a failure (see there).
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

struct TcpConnection;  // defined by each OS backend
// Opaque handle of an open connection; nullptr means none.
using TcpHandle = TcpConnection*;

// Resolves `host` (a name such as "localhost" or a dotted address) and connects to `port`,
// trying each address the name has in turn until one accepts. The whole call takes at most
// timeoutMs, unless the system resolver alone takes longer. nullptr on failure; the last error is
// the resolver's, or that of the last address tried (ECONNREFUSED / WSAECONNREFUSED for a port
// nobody listens on).
TcpHandle TcpConnect(const char* host, uint16_t port, uint32_t timeoutMs);

// Sends all `count` bytes within timeoutMs. False when the connection fails or the time runs out
// first; then an unknown part has been sent and the connection is of no further use but to close.
// A peer that has gone away is an error (EPIPE / WSAECONNRESET), never a signal that ends the
// process.
bool TcpSendAll(TcpHandle h, const void* bytes, size_t count, uint32_t timeoutMs);

// Sends what it can of the `count` bytes within timeoutMs; *sent is the count that went out. Like
// TcpReceive, running out of time is not a failure: true with a short count, so that a caller can
// send in slices and look between them whether it should stop.
bool TcpSendSome(TcpHandle h, const void* bytes, size_t count, uint32_t timeoutMs, size_t* sent);

// Reads into buf until `size` bytes have arrived, the peer has closed its side, or timeoutMs have
// passed, whichever comes first; *got is the count read. Like the serial port's read, running out
// of time is not a failure: true with a short count (0 when nothing came). *peerClosed is set true
// when the peer has closed its side of the connection (an orderly shutdown): the bytes it sent
// before closing are in buf, and no more will come. A reset connection is a failure.
// timeoutMs 0 takes only what has already arrived.
bool TcpReceive(TcpHandle h, void* buf, size_t size, uint32_t timeoutMs, size_t* got, bool* peerClosed);

// Closes the connection and frees the handle, which is invalid afterwards whatever the result.
// nullptr is accepted and does nothing.
bool TcpClose(TcpHandle h);

// Whether a last-error code is the "timed out" code of TcpConnect and TcpSendAll.
bool TcpIsTimeout(uint32_t code);

// The first IPv4 address of `host` (a name or a dotted address) in network byte order, as the
// relay keeps its server's address. False with the resolver's error when the name has none.
bool TcpResolveIPv4(const char* host, uint32_t* address);

// ---- Listening on loopback (the test servers that stand in for the OFD) ----

struct TcpListenerSocket;  // defined by each OS backend
// Opaque handle of a listening socket; nullptr means none.
using TcpListener = TcpListenerSocket*;

// Binds 127.0.0.1:port (0: a free port of the system's choice) and, when `listen` is true,
// listens. A port bound without listening refuses every connection, like a server that is down,
// while no other program can take it. nullptr on failure.
TcpListener TcpListenLoopback(uint16_t port, bool listen);
// The port the listener is bound to.
uint16_t TcpListenerPort(TcpListener l);
// Waits up to timeoutMs for a client and returns its connection, which the calls above serve.
// nullptr when none came in time (the last error is then ETIMEDOUT / WSAETIMEDOUT) or on failure.
TcpHandle TcpAccept(TcpListener l, uint32_t timeoutMs);
// Stops listening and frees the handle. nullptr is accepted and does nothing.
void TcpCloseListener(TcpListener l);

}  // namespace plat
