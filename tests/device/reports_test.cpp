// The report commands against the virtual printer: their texts and pauses, what the printer made
// of them (the shift closed with its drive document, the reports on the tape), the refusals that
// send nothing and the results a refused Z report is given.
#include "device/reports.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "device/bringup.h"
#include "emu/fiscal_drive.h"
#include "emu/reports.h"
#include "ffd/ffd.h"
#include "support/device_on_line.h"

namespace {

class Reports : public DeviceOnLine {
 protected:
  Reports() : DeviceOnLine(44, 1500) {}

  void SetUp() override {
    DeviceOnLine::SetUp();
    printer.ModifyState([](emu::PrinterState& s) { emu::BeginShift(&s); });
  }

  bool Printed(const std::string& text) const {
    for (const emu::TapeLine& l : printer.State().tape) {
      if (l.text == text) return true;
    }
    return false;
  }
};

TEST_F(Reports, CommandTextsAndTheirPauses) {
  struct Case {
    const char* name;
    std::function<int32_t(FPContext*)> call;
    std::vector<std::string> sent;
    uint32_t pause;  // the pause after the command, 0: none of its own
  } cases[] = {
      {"X1", X1Report, {"I\xE0X"}, 3000},
      {"X2", X2Report, {"I\xE1X"}, 3000},
      {"settlements", PrintReportCurrentStatusOfSettlements, {"SuW"}, 0},
      {"duplicate", PrintDuplicate, {"R"}, 0},
      {"self-test", KKMTest, {"E"}, 5000},
      {"accumulated", [](FPContext* c) { return AccumulatedZ1Report(c, 0); }, {"W  472913", "PALL0"}, 0},
      {"Z2", [](FPContext* c) { return Z2Report(c, "472913"); }, {"WFA472913", "I\xE1Z"}, 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    printer.ClearTrace();
    const int pauses = c.pause ? clock.CountSleeps(c.pause) : 0;
    EXPECT_EQ(c.call(&ctx), 0);
    EXPECT_EQ(ctx.nLastResult, 0);
    std::vector<std::string> sent;
    for (const std::string& t : line.Commands()) {
      if (t != "e") sent.push_back(t);  // the restart StdTransaction may send
    }
    EXPECT_EQ(sent, c.sent);
    if (c.pause) {
      EXPECT_EQ(clock.CountSleeps(c.pause) - pauses, 1);
    }
  }
  EXPECT_TRUE(Printed("X-ОТЧЕТ"));
  EXPECT_TRUE(Printed("ОТЧЕТ О СОСТОЯНИИ РАСЧЕТОВ"));
  EXPECT_TRUE(Printed("ДУБЛИКАТ"));
  EXPECT_TRUE(Printed("ТЕСТ ПРОЙДЕН"));
  EXPECT_TRUE(Printed("СВОДНЫЙ ОТЧЕТ 0"));
  EXPECT_TRUE(Printed("Z-ОТЧЕТ"));
  EXPECT_EQ(clock.CountSleeps(1100), 1);  // the password settles before the Z report
}

TEST_F(Reports, ZReportClosesTheShiftWithItsDriveDocument) {
  ASSERT_EQ(Z1Report(&ctx), 0);
  EXPECT_EQ(clock.CountSleeps(300), 1);
  const emu::PrinterState s = printer.State();
  EXPECT_FALSE(s.shiftOpen);
  ASSERT_EQ(s.fd.documents.size(), 2u);
  EXPECT_EQ(s.fd.documents[0].type, ffd::kShiftOpening);
  EXPECT_EQ(s.fd.documents[1].type, ffd::kShiftClosing);
  EXPECT_TRUE(Printed("ЗАКРЫТИЕ СМЕНЫ"));
  // No shift to close now: the printer refuses, and the driver says why.
  EXPECT_NE(Z1Report(&ctx), 0);
  EXPECT_EQ(printer.State().fd.documents.size(), 2u);
}

TEST_F(Reports, RefusedZReportIsGivenTheCashiersOrTheReportsCode) {
  struct Case {
    int deviceError;
    int32_t expected;
  } cases[] = {{111, 11}, {41, 23}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deviceError);
    // The printer blocked until a Z report, as the last status said, with its error code.
    ctx.status2[0] = 0x60;
    ctx.nDeviceError = c.deviceError;
    printer.RefuseNext(static_cast<uint8_t>(c.deviceError));
    EXPECT_EQ(Z1Report(&ctx), c.expected);
    EXPECT_EQ(ctx.nLastResult, c.expected);
  }
}

TEST_F(Reports, AFailedPasswordKeepsTheZReportBack) {
  EXPECT_NE(Z2Report(&ctx, "000000"), 0);
  EXPECT_TRUE(line.Commands("I").empty());
  EXPECT_EQ(clock.CountSleeps(10000), 0);
  EXPECT_TRUE(printer.State().shiftOpen);
}

TEST_F(Reports, AccumulatedReportOutsideItsRangeSendsNothing) {
  printer.ClearTrace();
  EXPECT_EQ(AccumulatedZ1Report(&ctx, 3), 13);
  EXPECT_EQ(AccumulatedZ1Report(&ctx, -1), 13);
  EXPECT_EQ(ctx.nLastResult, 13);
  EXPECT_TRUE(line.Commands().empty());
}

TEST_F(Reports, FiscalDocumentCountOfTheShift) {
  printer.ModifyState([](emu::PrinterState& s) { s.documentCount = 12; });
  EXPECT_EQ(GetFiscalDocShiftCount(&ctx), 12);
  EXPECT_TRUE(log.Has("*GetFiscalDocShiftCount: Total FD: 12"));
  EXPECT_EQ(log.lines.back(), "}GetFiscalDocShiftCount ret 12");

  // A count field without digits, and no answer at all: 0.
  printer.AnswerNextWithData("S1", std::string(114, ' '));
  EXPECT_EQ(GetFiscalDocShiftCount(&ctx), 0);
  printer.IgnoreNext(1);
  ASSERT_EQ(SetCommTimeoutsFP(&ctx, 100, 100), 0);
  EXPECT_EQ(GetFiscalDocShiftCount(&ctx), 0);
  EXPECT_EQ(log.lines.back(), "}GetFiscalDocShiftCount ret 0");
}

}  // namespace

TEST_F(Reports, CopyOfTheDrivesLastDocumentByItsNumber) {
  printer.ModifyState([](emu::PrinterState& s) {
    s.fd.lastDocumentNumber = 257;
    emu::PreloadDocuments(&s, 1);  // number 258: bytes 02 01 00 00, low byte first
  });
  printer.ClearTrace();
  EXPECT_EQ(PrintLastDoc(&ctx), 0);
  EXPECT_EQ(line.Commands("SuV"), std::vector<std::string>{"SuV02010000"});
  EXPECT_EQ(clock.CountSleeps(1000), 1);
  EXPECT_TRUE(Printed("КОПИЯ ДОКУМЕНТА"));

  // Without the drive's status the number is unknown: nothing is asked for.
  printer.ClearTrace();
  printer.IgnoreNext(1);
  ASSERT_EQ(SetCommTimeoutsFP(&ctx, 100, 100), 0);
  EXPECT_NE(PrintLastDoc(&ctx), 0);
  EXPECT_NE(ctx.nLastResult, 0);
  EXPECT_TRUE(line.Commands("SuV").empty());
}
