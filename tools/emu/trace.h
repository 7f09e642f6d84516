// The record of everything the virtual printer received and sent, for tests and for the live view
// of mirel-emu.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "emu/wire.h"

namespace emu {

struct TraceEntry {
  enum class Direction { kRx, kTx };
  Direction direction;
  Bytes bytes;
  std::chrono::steady_clock::time_point time;
};

// "<- 02 53 33 03 63  .S3.c": the arrow (<- received, -> sent), the bytes in hex, then the same
// bytes as characters with '.' for the ones that are not printable ASCII.
std::string FormatTraceEntry(const TraceEntry& entry);

class Trace {
 public:
  using Listener = std::function<void(const TraceEntry&)>;

  // `isFrame` marks a received command frame, which WaitFramesReceived counts.
  void Record(TraceEntry::Direction direction, const Bytes& bytes, bool isFrame = false);
  std::vector<TraceEntry> Entries() const;
  void Clear();
  // Called for every new entry on the thread that records it. Once SetListener returns, the
  // previous listener is not running and will not be called again, so whatever it captured may go.
  // A listener must not call SetListener itself.
  void SetListener(Listener listener);
  // True once `count` frames have been received since the start (or the last Clear), false when
  // `timeoutMs` pass first.
  bool WaitFramesReceived(size_t count, int timeoutMs) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<TraceEntry> entries_;
  size_t framesReceived_ = 0;
  // Held while the listener runs, apart from mutex_ so that a listener may read the trace.
  std::mutex listenerMutex_;
  Listener listener_;
};

}  // namespace emu
