// A test OFD server on loopback: it takes one fiscal-drive message per connection (the 30-byte
// session header and the container), reads it strictly, writes one readable line about the
// document and its tags decoded, and answers with a session header and the operator's
// acknowledgement of that document, which the virtual fiscal drive accepts. A message that is not
// in the published format is refused with the reason in its log. Faults make it misbehave the way
// a real server or network can.
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
  kSlow,      // answers whole, but only after a pause
  kSegments,  // answers in several pieces with pauses between them
  kShort,     // answers with the start of the session header alone (30 bytes or fewer)
  kGarbage,   // answers with bytes that are no acknowledgement
};

// What one fault of the server sets: a server that is down (its port held, every connection
// refused), or the fault of every exchange with the pause or length it takes.
struct FaultSettings {
  bool refuse = false;
  Fault fault = Fault::kNone;
  int slowAnswerMs = 1000;
  int segmentPauseMs = 50;
  size_t shortBytes = 30;
};

// Reads one fault as "kind[:arg]", the form the command line and the fault table use:
//   -, none         a server that answers every message
//   down            the port refuses every connection
//   close           closes each connection without answering
//   stall           holds each connection open and never answers
//   slow[:MS]       answers whole after MS milliseconds (1000)
//   pieces[:MS]     answers in three pieces, MS milliseconds apart (50)
//   garbage         answers with a session header and bytes that are no acknowledgement
//   short[:N]       answers with the first N bytes of the session header alone (30; 0 to 30)
// The pauses are at most 600000 ms. False, with the reason in `error`, for anything else.
bool ParseFault(const std::string& text, FaultSettings* settings, std::string* error);

// The readable line about one document: its number and type, date, fiscal sign and drive, and for
// receipts the operation, items and totals. `container` is the container as it arrived, `tags` its
// document's tags.
std::string DescribeDocument(const ffd::Container& container, const std::vector<ffd::Tlv>& tags);

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
  // The fault, pauses and length of `settings` for every exchange; `settings.refuse` is Start's.
  void ApplyFault(const FaultSettings& settings);
  // The pause between the pieces of a segmented answer.
  void SetSegmentPauseMs(int ms) { segmentPauseMs_ = ms; }
  // The pause before a slow answer.
  void SetSlowAnswerMs(int ms) { slowAnswerMs_ = ms; }

  // The lines written so far: one per document received ("document N ..."), and one per message
  // that could not be read ("error: ..."). The listener also gets, after each document's line,
  // every tag of the document decoded ("  1040=N 1012=..."), which Lines() leaves out.
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
  void PauseUnlessStopped(int ms);
  Fault TakeFault();
  void AddLine(const std::string& line, const std::string& detail = std::string());

  plat::TcpListener listener_ = nullptr;
  uint16_t port_ = 0;
  bool refuse_ = false;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> segmentPauseMs_{50};
  std::atomic<int> slowAnswerMs_{1000};
  std::atomic<size_t> shortBytes_{30};

  mutable std::mutex mutex_;  // guards everything below
  mutable std::condition_variable linesChanged_;
  std::condition_variable stopWake_;  // wakes the pauses of a segmented answer on Stop
  Fault fault_ = Fault::kNone;
  int faultCount_ = 0;
  std::vector<std::string> lines_;
  std::function<void(const std::string&)> lineListener_;
};

}  // namespace ofdstub
