// The driver's end of the virtual printer's line for tests: the pseudo-terminal's slave opened
// raw, with reads bounded in time.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "emu/wire.h"

namespace emu_test {

using emu::Bytes;

class LineClient {
 public:
  explicit LineClient(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    struct termios t {};
    if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~LineClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool IsOpen() const { return fd_ >= 0; }

  void Send(const Bytes& bytes) { (void)!write(fd_, bytes.data(), bytes.size()); }
  void SendFrame(const std::string& text) { Send(emu::Frame(text)); }

  // Reads until `count` bytes have arrived or `timeoutMs` passed; returns what arrived.
  Bytes Read(size_t count, int timeoutMs = 1000) {
    Bytes got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      struct pollfd p {fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      uint8_t buf[256];
      ssize_t n = read(fd_, buf, count - got.size() < sizeof buf ? count - got.size() : sizeof buf);
      if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  // True when nothing arrives within `ms`: the printer kept silent.
  bool QuietFor(int ms) { return Read(1, ms).empty(); }

 private:
  int fd_;
};

}  // namespace emu_test
