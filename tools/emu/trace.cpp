#include "emu/trace.h"

#include <cstdio>

namespace emu {

std::string FormatTraceEntry(const TraceEntry& entry) {
  std::string line = entry.direction == TraceEntry::Direction::kRx ? "<-" : "->";
  std::string chars;
  for (uint8_t b : entry.bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", b);
    line += hex;
    chars += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
  }
  return line + "  " + chars;
}

void Trace::Record(TraceEntry::Direction direction, const Bytes& bytes, bool isFrame) {
  TraceEntry entry{direction, bytes, std::chrono::steady_clock::now()};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
    if (isFrame && direction == TraceEntry::Direction::kRx) ++framesReceived_;
  }
  changed_.notify_all();
  std::lock_guard<std::mutex> lock(listenerMutex_);
  if (listener_) listener_(entry);
}

std::vector<TraceEntry> Trace::Entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

void Trace::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  framesReceived_ = 0;
}

void Trace::SetListener(Listener listener) {
  std::lock_guard<std::mutex> lock(listenerMutex_);
  listener_ = std::move(listener);
}

bool Trace::WaitFramesReceived(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return framesReceived_ >= count; });
}

}  // namespace emu
