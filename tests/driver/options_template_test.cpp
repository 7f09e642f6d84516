// Driver and device options and the receipt template against the virtual printer.
#include <gtest/gtest.h>

#include <string>

#include "driver/mirel_driver.h"
#include "support/driver_on_printer.h"

namespace {

struct Driver : CMirelDriver {
  using CMirelDriver::m_bLogEnabled;
  using CMirelDriver::m_nSpeed;
  using CMirelDriver::m_szPassword;
};

const std::string kB = "\x7F";

// Each character of `text` behind a bold mark.
std::string Bold(const std::string& text) {
  std::string out;
  for (char c : text) out += kB + c;
  return out;
}

class DriverOnLine : public DriverOnPrinter<Driver, 44> {
 protected:
  // Centring as the printer holds it: bit 6 of flag 4.
  void SetCentring(bool on) {
    line.printer.ModifyState([on](emu::PrinterState& s) { s.flags[4] = on ? 0x40 : 0; });
    ctx->bDeviceFlagsValid = 0;
  }
};

TEST_F(DriverOnLine, DriverOptions) {
  EXPECT_EQ(13, driver.SetDriverOpt(1, 2));
  EXPECT_EQ(0, driver.m_bLogEnabled);
  EXPECT_EQ(35, driver.SetDriverOpt(23, 0));
  EXPECT_EQ(35, driver.SetDriverOpt(0, 0));
  // The size limits guard each other.
  EXPECT_EQ(13, driver.SetDriverOpt(2, ctx->nLogTrimSize - 1));
  EXPECT_EQ(0, driver.SetDriverOpt(2, 5000000));
  EXPECT_EQ(5000000, ctx->nLogMaxSize);
  EXPECT_EQ(13, driver.SetDriverOpt(3, 5000001));
  EXPECT_EQ(13, driver.SetDriverOpt(3, -1));
  EXPECT_EQ(0, driver.SetDriverOpt(3, 200000));
  EXPECT_EQ(200000, ctx->nLogTrimSize);
}

TEST_F(DriverOnLine, DeviceOptions) {
  struct Case {
    int opt, val;
    LONG result;
  } cases[] = {{46, 1, 13}, {1001, 1, 13}, {0, 1, 13}, {80, 1, 13}, {1000, 5, 0}, {101, 7, 13}, {101, -1, 13}};
  for (const Case& c : cases) EXPECT_EQ(c.result, driver.SetDeviceOpt(c.opt, c.val)) << c.opt << " " << c.val;
  EXPECT_TRUE(line.Commands().empty());  // a speed the port cannot take never reaches the printer
  EXPECT_EQ(1, driver.m_nSpeed);

  EXPECT_EQ(0, driver.SetDeviceOpt(1, 7));
  EXPECT_EQ(line.Port(), ctx->nComPort);  // the open port is not touched
}

TEST_F(DriverOnLine, SpeedWithThePortClosedIsOnlyStored) {
  CloseSerial(ctx);
  EXPECT_EQ(0, driver.SetDeviceOpt(101, 3));
  EXPECT_EQ(3, driver.m_nSpeed);
  EXPECT_TRUE(line.Commands().empty());
}

TEST_F(DriverOnLine, SpeedChangeSwitchesThePrinterThenReopensThePort) {
  driver.SetDeviceOpt(1, line.Port());
  EXPECT_EQ(0, driver.SetDeviceOpt(101, 3));
  EXPECT_EQ((std::vector<std::string>{"PR3"}), line.Commands());
  EXPECT_EQ(3, driver.m_nSpeed);
  EXPECT_EQ(line.Port(), ctx->nComPort);
  EXPECT_EQ(38400u, ctx->dcb.BaudRate);
  EXPECT_EQ(3, line.printer.State().programmed.baudCode);
}

TEST_F(DriverOnLine, RefusedSpeedKeepsPortAndSetting) {
  line.printer.RefuseNext(1);
  EXPECT_NE(0, driver.SetDeviceOpt(101, 4));
  EXPECT_EQ(1, driver.m_nSpeed);
  EXPECT_EQ(115200u, ctx->dcb.BaudRate);
}

TEST_F(DriverOnLine, AccessKeyIsPaddedToSixCharacters) {
  EXPECT_EQ(0, driver.SetAccessKey("12"));
  EXPECT_STREQ("12    ", driver.m_szPassword);
  EXPECT_STREQ("12    ", ctx->szOperatorPassword);
  EXPECT_EQ(0, driver.SetAccessKey("12345678"));
  EXPECT_STREQ("123456", ctx->szOperatorPassword);
}

TEST_F(DriverOnLine, FlagBitsNeedAnOpenPort) {
  bool set = false;
  line.printer.ModifyState([](emu::PrinterState& s) { s.flags[15] = 0x08; });
  EXPECT_EQ(0, driver.GetDeviceFlagBit(3, 15, &set));
  EXPECT_TRUE(set);
  CloseSerial(ctx);
  EXPECT_EQ(2, driver.SetDeviceFlagBit(0, 15));
  EXPECT_EQ(2, driver.ClearDeviceFlagBit(0, 15));
  EXPECT_EQ(2, ctx->nLastResult);
}

TEST_F(DriverOnLine, ClockMethods) {
  EXPECT_EQ(0, driver.SetDate(3, 3, 26));
  EXPECT_EQ(0, driver.SetTime(14, 5, 9));
  EXPECT_EQ((std::vector<std::string>{"PG030326", "PF140509"}), line.Commands());
  line.printer.RefuseNext(7);
  EXPECT_NE(0, driver.SetDate(32, 1, 26));
}

TEST_F(DriverOnLine, HeaderLines) {
  ctx->abHeaderBold[2] = 1;
  char bold[60] = "ABCDE";
  EXPECT_EQ(0, driver.SetOrderHeaderTemplate(3, bold));
  // A bold line too long for half the width is cut to one less than that half, and still sent.
  ctx->abHeaderBold[3] = 1;
  char tooLong[60];
  std::snprintf(tooLong, sizeof tooLong, "%s", std::string(30, 'X').c_str());
  EXPECT_EQ(0, driver.SetOrderHeaderTemplate(4, tooLong));
  EXPECT_EQ(std::string(20, 'X'), tooLong);
  EXPECT_EQ((std::vector<std::string>{"PH3" + Bold("ABCDE"), "PH4" + Bold(std::string(20, 'X'))}),
            line.Commands("PH"));

  // The older method refuses instead of cutting, and sends nothing for a bad line number.
  line.printer.ClearTrace();
  EXPECT_EQ(13, driver.SetOrderHeader(3, std::string(22, 'X').c_str(), true));
  EXPECT_EQ(13, driver.SetOrderHeader(0, "A", false));
  EXPECT_EQ(13, driver.SetOrderHeader(9, "A", false));
  char text[60] = "A";
  EXPECT_EQ(13, driver.SetOrderHeaderTemplate(9, text));
  EXPECT_TRUE(line.Commands().empty());
}

TEST_F(DriverOnLine, HeaderHeightIsFlag15) {
  ctx->abHeaderHeight[4] = 1;
  char text[60] = "TALL";
  EXPECT_EQ(0, driver.SetOrderHeaderTemplate(5, text));
  EXPECT_EQ(0x10, line.printer.State().flags[15]);
  ctx->abHeaderHeight[4] = 0;
  EXPECT_EQ(0, driver.SetOrderHeaderTemplate(5, text));
  EXPECT_EQ(0x00, line.printer.State().flags[15]);
}

TEST_F(DriverOnLine, FooterCentringAndBold) {
  struct Case {
    bool centre;
    bool bold;
    bool height;
    std::string text;
    std::string sent;
  } cases[] = {
      {true, false, false, "0123456789", "eP10" + std::string(16, ' ') + "0123456789"},
      {true, true, false, "0123456789", "eP10" + Bold(std::string(5, ' ') + "0123456789")},
      {true, false, false, std::string(41, 'A'), "eP10" + std::string(41, 'A')},
      {true, false, false, std::string(42, 'A'), "eP10" + std::string(42, 'A')},
      {false, false, true, "0123456789", "eP120123456789"},
      {true, false, false, "", "eP10"},
  };
  for (const Case& c : cases) {
    SetCentring(c.centre);
    ctx->abFooterBold[0] = c.bold;
    ctx->abFooterHeight[0] = c.height;
    line.printer.ClearTrace();
    char text[60];
    std::snprintf(text, sizeof text, "%s", c.text.c_str());
    EXPECT_EQ(0, driver.SetOrderFooter(1, text)) << c.text;
    EXPECT_EQ((std::vector<std::string>{c.sent}), line.Commands("eP")) << c.text;
  }
}

TEST_F(DriverOnLine, TemplateProgramsEveryLineInItsOrderWhateverTheResults) {
  for (int n = 1; n <= 8; ++n) {
    std::snprintf(ctx->aszHeaderText[n - 1], sizeof ctx->aszHeaderText[0], "H%d", n);
    std::snprintf(ctx->aszFooterText[n - 1], sizeof ctx->aszFooterText[0], "F%d", n);
  }
  line.printer.RefuseNext(1);  // the first header line fails; the rest still go
  EXPECT_EQ(0, driver.SetTemplateCheck());
  EXPECT_EQ((std::vector<std::string>{"PH3H3", "PH4H4", "PH5H5", "PH6H6", "PH7H7", "PH8H8"}), line.Commands("PH"));
  EXPECT_EQ((std::vector<std::string>{"eP80F8", "eP70F7", "eP60F6", "eP50F5", "eP40F4", "eP30F3", "eP20F2",
                                      "eP10F1"}),
            line.Commands("eP"));
  const emu::PrinterState s = line.printer.State();
  EXPECT_EQ("", s.programmed.headerLines[0]);
  EXPECT_EQ("", s.programmed.headerLines[2]);
  EXPECT_EQ("H4", s.programmed.headerLines[3]);
  EXPECT_EQ("F1", s.programmed.footerLines[0]);
}

}  // namespace
