// Bytes taken from a serial line ahead of the reads that want them. The port takes whatever is
// waiting on the line in one system call and serves the reads that follow from here, so that the
// link's reads of one byte, then a header, then the rest of an answer cost no system call each.
// Used by the serial backends only; the queue counts they report include these bytes, and a purge
// of the input drops them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace plat {

class SerialInput {
 public:
  // As much as the driver asks the system to queue for it.
  static constexpr uint32_t kSize = 1024;

  uint32_t Count() const { return end_ - begin_; }
  // Moves up to `wanted` bytes to `out`; the count moved.
  uint32_t Take(uint8_t* out, uint32_t wanted) {
    const uint32_t n = std::min(wanted, Count());
    if (n > 0) memcpy(out, data_ + begin_, n);
    begin_ += n;
    if (begin_ == end_) Clear();
    return n;
  }
  // Where the bytes of a read from the line go, and how many fit; only while empty, so the whole
  // buffer is free.
  uint8_t* Space() { return data_; }
  uint32_t SpaceSize() const { return kSize; }
  void Filled(uint32_t count) {
    begin_ = 0;
    end_ = std::min(count, kSize);
  }
  void Clear() { begin_ = end_ = 0; }

 private:
  uint8_t data_[kSize];
  uint32_t begin_ = 0;
  uint32_t end_ = 0;
};

}  // namespace plat
