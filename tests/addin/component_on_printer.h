// The component as the host creates it, on a virtual printer and beside the test OFD server: the
// printer is COM `kPort`, the component's pauses run on a relay clock (the printer's at once, the
// relay's in real time so that it idles as on a till), and the calls go through the method table.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "addin_test_support.h"
#include "emu/fiscal_drive.h"
#include "ofd-stub/ofd_stub.h"
#include "support/fake_clock.h"
#include "support/printer_line.h"

template <int kPort>
class ComponentOnPrinter : public ComponentTest {
 protected:
  // How long a test waits for the relay, which idles between polls as on a till.
  static constexpr int kWaitMs = 20000;

  void SetUp() override {
    ComponentTest::SetUp();
    line.Start();
    Device()->pClock = &clock;
    ASSERT_TRUE(stub.Start());
  }
  void TearDown() override {
    ComponentTest::TearDown();
    stub.Stop();
  }

  bool Set(const char* name, const char* value) {
    Variant v;
    SetText(&v, value);
    LONG ok = 0;
    EXPECT_EQ(S_OK, object->OdinS_SetParameter(Bstr(name), v, &ok));
    return ok != 0;
  }
  bool Set(const char* name, LONG value) {
    Variant v;
    SetI4(&v, value);
    LONG ok = 0;
    EXPECT_EQ(S_OK, object->OdinS_SetParameter(Bstr(name), v, &ok));
    return ok != 0;
  }
  // The settings that reach the printer: its port and password. Without an OFD server no relay
  // starts, and the line carries only the host's calls.
  void ConfigurePrinter() {
    ASSERT_TRUE(Set("Port", kPort));
    ASSERT_TRUE(Set("Password", "472913"));
  }
  // The settings a till needs: the printer's and the OFD server's.
  void Configure() {
    ConfigurePrinter();
    ASSERT_TRUE(Set("AddressFDO", "127.0.0.1"));
    ASSERT_TRUE(Set("PortFDO", stub.Port()));
  }

  // Open through the method table; the identifier, empty when Open failed.
  std::string Open(bool* ok = nullptr) {
    ParamArray params(1);
    Variant result;
    EXPECT_EQ(S_OK, ext->CallAsFunc(Find("Open"), &result, params.Ptr()));
    Variant id;
    params.Get(0, &id);
    if (ok) *ok = result.boolVal == VARIANT_TRUE;
    return id.vt == VT_BSTR ? BstrToUtf8(id.bstrVal) : "";
  }
  // A method by its name whose in-parameters are texts (an identifier, an action's name, a package)
  // and, at `flagAt`, the flag False; the out-parameters are left as the method sets them.
  bool CallWithTexts(const char* method, const std::vector<std::string>& texts, int flagAt = -1) {
    ParamArray params(static_cast<ULONG>(MethodAt(Find(method)).nParams));
    Variant v;
    LONG at = 0;
    for (const std::string& text : texts) {
      if (at == flagAt) {
        SetBool(&v, false);
        params.Put(at++, v);
      }
      SetText(&v, text.c_str());
      params.Put(at++, v);
    }
    Variant result;
    EXPECT_EQ(S_OK, ext->CallAsFunc(Find(method), &result, params.Ptr()));
    return result.boolVal == VARIANT_TRUE;
  }
  bool CallWithText(const char* method, const std::string& text) { return CallWithTexts(method, {text}); }
  bool CallWithID(const char* method, const std::string& id) { return CallWithText(method, id); }
  // Waits until the virtual fiscal drive holds no message for the operator.
  bool BacklogEmpties() { return BacklogEmpties(printer); }
  bool BacklogEmpties(const emu::VirtualPrinter& p) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < end) {
      if (emu::Backlog(p.State()).empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // Frames that reach the printer within a short while after this call.
  size_t FramesArrivingLater() {
    const size_t before = line.Commands().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return line.Commands().size() - before;
  }
  // Done through IInitDone, and how long it took.
  std::chrono::steady_clock::duration TimedDone() {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(S_OK, InitDone()->Done());
    return std::chrono::steady_clock::now() - start;
  }

 public:
  RelayClock clock;
  PrinterLine line{kPort, clock};
  emu::VirtualPrinter& printer = line.printer;
  ofdstub::OfdStub stub;
};
