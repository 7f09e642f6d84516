// Splits the bytes the printer receives into the units it reacts to: single control bytes, command
// frames (STX text ETX BCC) and runs of noise that belong to neither and are ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emu/wire.h"

namespace emu {

struct RxUnit {
  enum class Kind { kControl, kFrame, kNoise };
  Kind kind = Kind::kNoise;
  Bytes raw;          // every byte of the unit as received
  std::string text;   // kFrame: the command text between STX and ETX
  bool checkOk = false;  // kFrame: the check character matched
};

class FrameReader {
 public:
  // Longest text accepted inside one frame; the driver never sends more than 296 bytes, so a
  // longer run means a lost ETX and is dropped as noise instead of growing without bound.
  static constexpr size_t kMaxText = 1024;

  // Consumes one byte; units it completes are appended to `out` (a control byte that ends a run
  // of noise completes two).
  void Feed(uint8_t byte, std::vector<RxUnit>* out);
  // The line went quiet: hands over pending noise and, when `dropPartialFrame`, an unfinished
  // frame as noise, so that a truncated command does not swallow the next one.
  void Flush(bool dropPartialFrame, std::vector<RxUnit>* out);
  bool InFrame() const { return state_ != State::kIdle; }

 private:
  enum class State { kIdle, kText, kCheck };

  void StartFrame(uint8_t stx, std::vector<RxUnit>* out);
  void FlushNoise(std::vector<RxUnit>* out);

  State state_ = State::kIdle;
  Bytes frame_;
  Bytes noise_;
};

}  // namespace emu
