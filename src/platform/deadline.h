// A monotonic deadline: the one way the platform layer bounds a wait.
#pragma once

#include <chrono>
#include <cstdint>

namespace plat {

class Deadline {
 public:
  using clock = std::chrono::steady_clock;

  explicit Deadline(uint32_t ms) : end_(clock::now() + std::chrono::milliseconds(ms)) {}

  // Milliseconds left, 0 once the deadline has passed.
  uint32_t RemainingMs() const {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - clock::now()).count();
    return left > 0 ? static_cast<uint32_t>(left) : 0;
  }
  bool Expired() const { return clock::now() >= end_; }

 private:
  clock::time_point end_;
};

}  // namespace plat
