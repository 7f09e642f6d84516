// The in-memory serial port and OFD connection of the fuzz build (memory_line.h). One printer and
// one server serve every port and connection the driver opens; a lock keeps them whole while the
// relay thread and the caller's thread both use them.
#include "fuzz/memory_line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/serial.h"
#include "platform/system_error.h"
#include "platform/tcp.h"

namespace {

// Nothing here allocates until it holds something, so that a line forgotten at the end of an input
// leaves no memory behind it.
struct Far {
  std::vector<std::string> pieces;
  size_t next = 0;      // the first piece not yet on the line
  std::string waiting;  // on the line, not yet read
  std::string written;  // what the driver sent
};

struct Lines {
  std::mutex lock;
  Far printer;
  Far server;
};

Lines& TheLines() {
  static Lines lines;
  return lines;
}

void Reset(Far* far, std::vector<std::string> pieces) {
  *far = Far();
  far->pieces = std::move(pieces);
}

bool HasPieces(const Far& far) {
  return far.next < far.pieces.size();
}

std::string TakePiece(Far* far) {
  return std::move(far->pieces[far->next++]);
}

size_t Take(std::string* from, void* buf, size_t wanted) {
  const size_t n = std::min(wanted, from->size());
  std::memcpy(buf, from->data(), n);
  from->erase(0, n);
  return n;
}

constexpr uint8_t kContinued = 255;

// The handles the driver holds: any non-null value will do, since there is one line of each kind.
int g_port;

}  // namespace

namespace plat {
struct TcpConnection {};
}  // namespace plat

namespace {
plat::TcpConnection g_connection;
}  // namespace

namespace memline {

std::vector<std::string> SplitPieces(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces;
  bool continued = false;
  size_t at = 0;
  while (at < size) {
    const size_t length = std::min<size_t>(data[at], size - at - 1);
    const char* bytes = reinterpret_cast<const char*>(data + at + 1);
    if (continued) {
      pieces.back().append(bytes, length);
    } else {
      pieces.emplace_back(bytes, length);
    }
    continued = data[at] == kContinued;
    at += 1 + length;
  }
  return pieces;
}

std::string JoinPieces(const std::vector<std::string>& pieces) {
  std::string script;
  for (const std::string& p : pieces) {
    size_t at = 0;
    // A piece of exactly a multiple of 255 bytes ends with an empty part.
    for (;;) {
      const size_t length = std::min<size_t>(p.size() - at, kContinued);
      script += static_cast<char>(length);
      script.append(p, at, length);
      at += length;
      if (length < kContinued) break;
    }
  }
  return script;
}

void SetPrinterAnswers(std::vector<std::string> pieces) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  Reset(&TheLines().printer, std::move(pieces));
}

void SetServerAnswer(std::vector<std::string> pieces) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  Reset(&TheLines().server, std::move(pieces));
}

void Forget() {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  TheLines().printer = Far();
  TheLines().server = Far();
}

std::string PrinterInput() {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  return TheLines().printer.written;
}

std::string ServerInput() {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  return TheLines().server.written;
}

}  // namespace memline

namespace plat {

PortHandle SerialOpen(int) {
  return &g_port;
}
bool SerialSetupQueues(PortHandle, uint32_t, uint32_t) {
  return true;
}
bool SerialGetState(PortHandle, SerialState*) {
  return true;
}
bool SerialSetState(PortHandle, const SerialState&) {
  return true;
}
bool SerialGetTimeouts(PortHandle, SerialTimeouts*) {
  return true;
}
bool SerialSetTimeouts(PortHandle, const SerialTimeouts&) {
  return true;
}

bool SerialPurge(PortHandle, uint32_t flags) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  if (flags & kPurgeRxClear) TheLines().printer.waiting.clear();
  return true;
}

bool SerialClearError(PortHandle, uint32_t* errors, SerialQueues* queues) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  *errors = 0;
  queues->cbInQue = static_cast<uint32_t>(TheLines().printer.waiting.size());
  queues->cbOutQue = 0;
  return true;
}

// Like a pseudo-terminal: no modem lines.
bool SerialModemStatus(PortHandle, uint32_t*) {
  SetSystemLastError(kErrModemLinesUnsupported);
  return false;
}

bool SerialRead(PortHandle, void* buf, uint32_t wanted, uint32_t* got) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  SetSystemLastError(0);
  *got = static_cast<uint32_t>(Take(&TheLines().printer.waiting, buf, wanted));
  return true;
}

// Whatever the printer's side has to say is already waiting; nothing more comes while one waits.
bool SerialWaitInput(PortHandle, uint32_t) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  return !TheLines().printer.waiting.empty();
}

bool SerialWrite(PortHandle, const void* buf, uint32_t count, uint32_t* written) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  SetSystemLastError(0);
  Far& printer = TheLines().printer;
  printer.written.append(static_cast<const char*>(buf), count);
  if (HasPieces(printer)) printer.waiting += TakePiece(&printer);
  *written = count;
  return true;
}

bool SerialClose(PortHandle) {
  return true;
}
std::vector<int> SerialPortNumbers() {
  return {1};
}

TcpHandle TcpConnect(const char*, uint16_t, uint32_t) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  Far& server = TheLines().server;
  server.waiting.clear();
  return &g_connection;
}

bool TcpSendSome(TcpHandle, const void* bytes, size_t count, uint32_t, size_t* sent) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  TheLines().server.written.append(static_cast<const char*>(bytes), count);
  *sent = count;
  return true;
}

bool TcpSendAll(TcpHandle h, const void* bytes, size_t count, uint32_t timeoutMs) {
  size_t sent = 0;
  return TcpSendSome(h, bytes, count, timeoutMs, &sent);
}

// A piece larger than the room is handed over in parts, as a socket would.
bool TcpReceive(TcpHandle, void* buf, size_t size, uint32_t, size_t* got, bool* peerClosed) {
  std::lock_guard<std::mutex> hold(TheLines().lock);
  Far& server = TheLines().server;
  if (server.waiting.empty() && HasPieces(server)) server.waiting = TakePiece(&server);
  *got = Take(&server.waiting, buf, size);
  *peerClosed = server.waiting.empty() && !HasPieces(server);
  return true;
}

bool TcpClose(TcpHandle) {
  return true;
}
bool TcpIsTimeout(uint32_t code) {
  return code == ETIMEDOUT;
}

bool TcpResolveIPv4(const char* host, uint32_t* address) {
  if (host == nullptr || host[0] == '\0') {
    SetSystemLastError(kErrResolverBase);
    return false;
  }
  const uint8_t loopback[4] = {127, 0, 0, 1};
  std::memcpy(address, loopback, sizeof loopback);
  return true;
}

}  // namespace plat
