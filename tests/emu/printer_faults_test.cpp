#include "emu/printer_faults.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The texts the fault table and mirel-emu --fault accept, and the mistakes they refuse with a
// message naming the part that is wrong.
TEST(PrinterFaults, AcceptsTheVocabularyAndRefusesMistakes) {
  const char* accepted[] = {
      "nak:30",
      "busy:1",
      "bad-check:2",
      "stray:7E4142",
      "silence:1",
      "silence-at:L8:0",
      "drop-after:L8:6",
      "drop-before-answer:L8:6",
      "restart-after:!:3",
      "paper-end-after:!",
      "print-failure-after:!",
      "refuse:L8:0x21",
      "fd-fail:L8:33",
      "fd-refuse:2",
      "fd-stall:1000",
      "nak-at:!:30",
      "bad-check-at:L8:1",
      "stray-at:L8:7E",
      "paper-end-after:!,nak-at:L8:2",
  };
  const struct {
    const char* text;
    const char* named;  // what the message must mention
  } refused[] = {
      {"", "\"\""},
      {"nak", "nak:COUNT"},
      {"nak:0", "nak:COUNT"},
      {"nak:-1", "nak:COUNT"},
      {"nak:3x", "nak:COUNT"},
      {"busy:1:2", "busy:COUNT"},
      {"stray:7", "stray:HEX"},
      {"stray:7G", "stray:HEX"},
      {"silence-at:L8", "silence-at:PREFIX:UNITS"},
      {"drop-after::2", "drop-after:PREFIX:UNITS"},
      {"refuse:L8:256", "refuse:PREFIX:CODE"},
      {"paper-end-after:!:1", "paper-end-after:PREFIX"},
      {"nak-at:!:0", "nak:COUNT"},
      {"nak:1,flood:2", "flood"},
  };
  emu::VirtualPrinter printer;
  for (const char* text : accepted) {
    std::string error;
    EXPECT_TRUE(emu::ApplyPrinterFault(printer, text, &error)) << text << ": " << error;
  }
  for (const auto& r : refused) {
    std::string error;
    EXPECT_FALSE(emu::ApplyPrinterFault(printer, r.text, &error)) << r.text;
    EXPECT_NE(error.find(r.named), std::string::npos) << r.text << ": " << error;
  }
}

}  // namespace
