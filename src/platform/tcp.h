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

}  // namespace plat
