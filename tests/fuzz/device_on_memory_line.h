// A device context on the in-memory line, fresh for one fuzz input: the supported printer
// (version 11.1, or another version the input asks for), its pauses on a fake clock, its low-level
// log written, and the port open with `answers` as the printer's pieces.
#pragma once

#include <string>
#include <vector>

#include "device/link.h"
#include "device/serial_port.h"
#include "fuzz/memory_line.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"

// A data frame of the printer: STX, the text, ETX and the check character.
inline std::string Frame(const std::string& text) {
  std::string frame = "\x02" + text + "\x03";
  frame += static_cast<char>(
      CalcBCC(reinterpret_cast<const uint8_t*>(frame.data()) + 1, static_cast<int>(frame.size()) - 1));
  return frame;
}

struct DeviceOnMemoryLine {
  explicit DeviceOnMemoryLine(std::vector<std::string> answers, int versionMajor = 11, int versionMinor = 1) {
    memline::SetPrinterAnswers(std::move(answers));
    ctx.pClock = &clock;
    ctx.nVersionMajor = versionMajor;
    ctx.nVersionMinor = versionMinor;
    log.Install(&ctx);
    OpenSerial2(&ctx, 1, 6);
  }
  ~DeviceOnMemoryLine() {
    CloseSerial(&ctx);
    memline::Forget();
  }

  FakeClock clock;
  FPContext ctx;
  LogCapture log;
};
