// A device context, or a whole driver, on the in-memory line, fresh for one fuzz input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "device/link.h"
#include "device/serial_port.h"
#include "driver/mirel_driver.h"
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

// The pieces of a script recorded from the virtual printer, kept beside the targets; none, with a
// message, when it cannot be read.
inline std::vector<std::string> RecordedPieces(const char* name) {
  const std::string path = std::string(MIREL_FUZZ_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  const std::string script((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (script.empty()) std::fprintf(stderr, "%s missing\n", path.c_str());
  return memline::SplitPieces(reinterpret_cast<const uint8_t*>(script.data()), script.size());
}

// The supported printer (version 11.1, or another version the input asks for), its pauses on a fake
// clock, its low-level log written, and the port open with `answers` as the printer's pieces.
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

// The driver as the host holds it, on the supported printer with its pauses on a fake clock and
// lines of 42 characters; its port open (unless `open` is false) with `answers` as the printer's
// pieces. The driver is released, closing its port, before the line is forgotten.
struct DriverOnMemoryLine {
  explicit DriverOnMemoryLine(std::vector<std::string> answers, bool open = true)
      : driver(std::make_unique<CMirelDriver>()), ctx(driver->Device()) {
    memline::SetPrinterAnswers(std::move(answers));
    ctx->pClock = &clock;
    ctx->nVersionMajor = 11;
    ctx->nVersionMinor = 1;
    ctx->nLineWidth = 42;
    if (open) OpenSerial2(ctx, 1, 6);
  }
  ~DriverOnMemoryLine() {
    driver.reset();
    memline::Forget();
  }

  FakeClock clock;
  std::unique_ptr<CMirelDriver> driver;
  FPContext* ctx;
};
