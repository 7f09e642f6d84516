// A test OFD server on loopback: it takes one fiscal-drive message per connection (the 30-byte
// session header and the container), writes one readable line about the document, and answers
// with a session header and the operator's acknowledgement of that document, which the virtual
// fiscal drive accepts. Faults make it misbehave the way a real server or network can.
//
// Start and Stop belong to the owner; every other member is thread-safe and may be used while the
// server runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ffd/ffd.h"
#include "platform/tcp.h"

namespace ofdstub {

enum class Fault {
  kNone,
  kClose,     // closes the connection without answering
  kStall,     // keeps the connection open and never answers
  kSegments,  // answers in several pieces with pauses between them
  kShort,     // answers with the 30-byte session header alone
  kGarbage,   // answers with bytes that are no acknowledgement
};

// Parses "close", "stall", "segments", "short", "garbage" (and "none"); false for anything else.
bool ParseFault(const std::string& name, Fault* fault);

// The readable line about one document: its number and type, date, fiscal sign and drive, and for
// receipts the operation, items and totals. `container` is the container as it arrived.
std::string DescribeDocument(const ffd::Container& container);

// The answer to one fiscal-drive message: the session header and the acknowledgement container.
ffd::Bytes AcknowledgementAnswer(const ffd::Container& document);

class OfdStub {
 public:
  OfdStub() = default;
  ~OfdStub();
  OfdStub(const OfdStub&) = delete;
  OfdStub& operator=(const OfdStub&) = delete;

  // Starts serving 127.0.0.1:port (0: a free port) on a thread of its own. With `refuse` the port
  // is held without listening, so every connection is refused. False when already running or the
  // port cannot be had.
  bool Start(uint16_t port = 0, bool refuse = false);
  // Stops within about one poll interval, also in the middle of a stalled exchange. Idempotent.
  void Stop();
  uint16_t Port() const { return port_; }

  // The fault of the next `count` exchanges (-1: of every exchange until changed).
  void SetFault(Fault fault, int count = -1);
  // The pause between the pieces of a segmented answer.
  void SetSegmentPauseMs(int ms) { segmentPauseMs_ = ms; }

  // The lines written so far: one per document received ("document N ..."), and one per message
  // that could not be read ("error: ...").
  std::vector<std::string> Lines() const;
  // True once `count` lines have been written, false when timeoutMs pass first.
  bool WaitLines(size_t count, int timeoutMs) const;
  // Called with every new line on the server's thread.
  void SetLineListener(std::function<void(const std::string&)> listener);
  // Connections accepted so far.
  int Connections() const { return connections_; }

 private:
  void Serve();
  void Exchange(plat::TcpHandle h);
  bool ReadExactly(plat::TcpHandle h, size_t count, ffd::Bytes* out);
  void Answer(plat::TcpHandle h, const ffd::Bytes& answer, Fault fault);
  void HoldUntilClosed(plat::TcpHandle h);
  Fault TakeFault();
  void AddLine(const std::string& line);

  plat::TcpListener listener_ = nullptr;
  uint16_t port_ = 0;
  bool refuse_ = false;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> segmentPauseMs_{50};

  mutable std::mutex mutex_;  // guards everything below
  mutable std::condition_variable linesChanged_;
  std::condition_variable stopWake_;  // wakes the pauses of a segmented answer on Stop
  Fault fault_ = Fault::kNone;
  int faultCount_ = 0;
  std::vector<std::string> lines_;
  std::function<void(const std::string&)> lineListener_;
};

}  // namespace ofdstub
