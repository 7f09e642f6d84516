// Pseudo-terminal pair: the virtual printer owns the master side and serves its line there, while
// the driver (or a test) opens the slave path as if it were a serial port. POSIX only: it exists
// for the emulator, which is not built for Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

class Pty {
 public:
  Pty() = default;
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // Allocates a new pair with raw line settings (no echo, no line editing, 8 bits passed as they
  // are). False on failure, with the reason in SystemLastError().
  bool Open();
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  // The path the other side opens, e.g. /dev/pts/7; empty while closed.
  const std::string& SlavePath() const { return slavePath_; }

  // Waits up to timeoutMs for input on the master and reads what is there, at most `size` bytes.
  // Returns the count, 0 when nothing arrived in time, -1 on failure.
  int Read(uint8_t* buf, size_t size, int timeoutMs);
  // Writes every byte, waiting up to timeoutMs in all while the slave's input queue is full.
  // False on failure or when the time ran out with bytes left unwritten.
  bool Write(const uint8_t* data, size_t size, int timeoutMs);
  // How many of the bytes written so far the other side has not read yet; -1 on failure.
  int Unread() const;

 private:
  int master_ = -1;
  // Our own descriptor on the slave. Held open so that the master never reads a hang-up (EIO)
  // while no client has the slave open, e.g. between two driver sessions.
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace plat
