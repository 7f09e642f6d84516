#include "emu/frame_reader.h"

namespace emu {
namespace {

bool IsControlRequest(uint8_t b) {
  return b == ctl::kEnq || b == ctl::kEnq2 || b == ctl::kEnqt || b == ctl::kAck || b == ctl::kNak;
}

}  // namespace

void FrameReader::Feed(uint8_t byte, std::vector<RxUnit>* out) {
  switch (state_) {
    case State::kIdle:
      if (byte == ctl::kStx) {
        StartFrame(byte, out);
      } else if (IsControlRequest(byte)) {
        FlushNoise(out);
        RxUnit unit;
        unit.kind = RxUnit::Kind::kControl;
        unit.raw = {byte};
        out->push_back(std::move(unit));
      } else {
        noise_.push_back(byte);
      }
      return;
    case State::kText:
      // Command texts never hold STX, so a new one means the previous frame was cut short.
      if (byte == ctl::kStx) {
        noise_ = std::move(frame_);
        StartFrame(byte, out);
        return;
      }
      frame_.push_back(byte);
      if (byte == ctl::kEtx) {
        state_ = State::kCheck;
      } else if (frame_.size() > kMaxText + 1) {
        noise_ = std::move(frame_);
        frame_.clear();
        state_ = State::kIdle;
      }
      return;
    case State::kCheck: {
      RxUnit unit;
      unit.kind = RxUnit::Kind::kFrame;
      unit.text.assign(frame_.begin() + 1, frame_.end() - 1);
      unit.checkOk = Xor(frame_.data() + 1, frame_.size() - 1) == byte;
      frame_.push_back(byte);
      unit.raw = std::move(frame_);
      frame_.clear();
      state_ = State::kIdle;
      out->push_back(std::move(unit));
      return;
    }
  }
}

void FrameReader::Flush(bool dropPartialFrame, std::vector<RxUnit>* out) {
  if (dropPartialFrame && state_ != State::kIdle) {
    noise_.insert(noise_.end(), frame_.begin(), frame_.end());
    frame_.clear();
    state_ = State::kIdle;
  }
  FlushNoise(out);
}

void FrameReader::StartFrame(uint8_t stx, std::vector<RxUnit>* out) {
  FlushNoise(out);
  frame_.assign(1, stx);
  state_ = State::kText;
}

void FrameReader::FlushNoise(std::vector<RxUnit>* out) {
  if (noise_.empty()) return;
  RxUnit unit;
  unit.raw = std::move(noise_);
  noise_.clear();
  out->push_back(std::move(unit));
}

}  // namespace emu
