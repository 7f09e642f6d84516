// The virtual printer on a pseudo-terminal as COM port `port`, and what the driver sent it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emu/virtual_printer.h"
#include "support/scoped_env.h"

class PrinterLine {
 public:
  // `clock` decides the printer's own sense of time (the age of its shift).
  explicit PrinterLine(int port, plat::Clock& clock = plat::SystemClock()) : printer(clock), m_port(port) {}
  ~PrinterLine() { printer.Stop(); }

  // Starts the printer and names its port as COM `port` for the driver.
  void Start() {
    ASSERT_TRUE(printer.Start());
    m_env = std::make_unique<ScopedEnv>(("MIREL_COM" + std::to_string(m_port)).c_str(), printer.PortPath().c_str());
  }
  int Port() const { return m_port; }

  // The texts of the command frames the printer received, in order (status requests left out).
  std::vector<std::string> Commands() const {
    std::vector<std::string> texts;
    for (const auto& e : printer.TraceEntries()) {
      const emu::Bytes& b = e.bytes;
      if (e.direction == emu::TraceEntry::Direction::kRx && b.size() >= 3 && b[0] == 0x02) {
        texts.emplace_back(b.begin() + 1, b.end() - 2);  // without STX, ETX and the check character
      }
    }
    return texts;
  }
  // The commands that begin with `prefix`.
  std::vector<std::string> Commands(const std::string& prefix) const {
    std::vector<std::string> texts;
    for (const std::string& t : Commands()) {
      if (t.compare(0, prefix.size(), prefix) == 0) texts.push_back(t);
    }
    return texts;
  }

  emu::VirtualPrinter printer;

 private:
  int m_port;
  std::unique_ptr<ScopedEnv> m_env;
};
