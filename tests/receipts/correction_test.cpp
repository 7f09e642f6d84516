// Correction receipts: the package's validation and reading, the gross items from the VAT amounts
// with their one-kopeck adjustment, and ProcessCorrectionCheck against the virtual printer, whose
// fiscal drive signs the correction as a document of its own.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/com_text.h"
#include "ffd/ffd.h"
#include "receipts/correction_package.h"
#include "receipts/receipt_printer.h"
#include "support/operator_reads.h"

namespace {

struct Package {
  std::string parameters =
      "CashierName=\"Ivanova\" CorrectionType=\"0\" CorrectionBaseName=\"Act\" "
      "CorrectionBaseDate=\"2024-05-01\" CorrectionBaseNumber=\"17\" PaymentType=\"1\" "
      "TaxVariant=\"0\" Sum=\"7.20\" SumTAX20=\"1.20\"";
  std::string payments = "Cash=\"7.20\"";

  std::string Xml() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CheckCorrectionPackage><Parameters " + parameters +
           "/><Payments " + payments + "/></CheckCorrectionPackage>";
  }
  // Sets attribute `name` of Parameters, in place when the package has it already.
  Package& With(const std::string& name, const std::string& value) {
    const std::string key = " " + name + "=\"";
    std::string spaced = " " + parameters;
    const size_t at = spaced.find(key);
    if (at == std::string::npos) {
      spaced += key + value + "\"";
    } else {
      const size_t start = at + key.size();
      spaced.replace(start, spaced.find('"', start) - start, value);
    }
    parameters = spaced.substr(1);
    return *this;
  }
};

Package Paid(const std::string& parameters, const std::string& payments) {
  Package p;
  p.parameters =
      "CashierName=\"Ivanova\" CorrectionType=\"1\" CorrectionBaseDate=\"2024-05-01\" "
      "PaymentType=\"1\" TaxVariant=\"0\" " +
      parameters;
  p.payments = payments;
  return p;
}

// ---- The package on its own ----

struct Read {
  int32_t code = -1;
  std::string message;
  CorrectionData data;
};

Read ReadPackage(const Package& package, uint32_t taxSystems = 0x01) {
  FPContext ctx;
  ctx.nFdTaxSystems = taxSystems;
  TiXmlDocument document;
  document.Parse(package.Xml().c_str(), nullptr, TIXML_ENCODING_UTF8);
  Read r;
  r.code = CheckCorrectionPackage(&document, &r.message);
  if (r.code != 0) return r;
  const TiXmlElement* root = document.FirstChildElement("CheckCorrectionPackage");
  r.code = ReadCorrectionData(&ctx, root->FirstChildElement("Parameters"),
                              root->FirstChildElement("Payments"), &r.data, &r.message);
  return r;
}

TEST(CorrectionPackage, ReadsTheBaseAndTheAmounts) {
  const Read r = ReadPackage(Package());
  ASSERT_EQ(0, r.code) << r.message;
  EXPECT_STREQ("010524", r.data.szCorrectionBaseDate);
  EXPECT_STREQ("Act", r.data.szCorrectionBaseName);
  EXPECT_STREQ("17", r.data.szCorrectionBaseNumber);
  EXPECT_EQ(0, r.data.bCorrectionType);
  EXPECT_EQ(1, r.data.bIncome);
  EXPECT_EQ(720, r.data.nSum);
  EXPECT_EQ(120, r.data.nSumTax20);
  EXPECT_EQ(720, r.data.nCash);

  const Read bare = ReadPackage(Paid("Sum=\"1\" SumTAXNone=\"1\"", "Cash=\"1\"").With("PaymentType", "3"));
  ASSERT_EQ(0, bare.code) << bare.message;
  EXPECT_STREQ("-", bare.data.szCorrectionBaseName);
  EXPECT_STREQ("-", bare.data.szCorrectionBaseNumber);
  EXPECT_EQ(1, bare.data.bCorrectionType);
  EXPECT_EQ(0, bare.data.bIncome);
}

// A real day from the fiscal drives' first year to today: the printer's two-digit year never stands
// for another century.
TEST(CorrectionPackage, TheBaseDateMustBeARealDayOfTheDrivesYears) {
  struct Case {
    const char* date;
    const char* digits;  // null: refused with 136
  } cases[] = {
      {"2024-05-01", "010524"},
      {"2024-5-1T10:30:00", "010524"},
      {"2024-02-29", "290224"},
      {"01.05.2024", nullptr},
      {"2023-02-29", nullptr},
      {"2024-13-01", nullptr},
      {"2024-04-31", nullptr},
      {"2024-05", nullptr},
      {"99999999999-05-01", nullptr},
      {"2024-05-0100", nullptr},
      {"", nullptr},
      {"2016-01-01", "010116"},
      {"2015-12-31", nullptr},
      {"1900-01-01", nullptr},
      {"2999-01-01", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.date);
    const Read r = ReadPackage(Package().With("CorrectionBaseDate", c.date));
    if (c.digits) {
      EXPECT_EQ(0, r.code) << r.message;
      EXPECT_STREQ(c.digits, r.data.szCorrectionBaseDate);
    } else {
      EXPECT_EQ(136, r.code);
    }
  }
  Package missing = Package();
  missing.parameters = "CorrectionType=\"0\" PaymentType=\"1\" TaxVariant=\"0\" Sum=\"1\"";
  const Read r = ReadPackage(missing);
  EXPECT_EQ(136, r.code);
  EXPECT_EQ("Corrected settlement date is absent", r.message);
}

TEST(CorrectionPackage, RefusalsWithTheirCodesAndMessages) {
  struct Case {
    const char* name;
    Package package;
    int32_t code;
    const char* message;  // null: not compared
  } cases[] = {
      {"paid only electronically", Paid("Sum=\"100\"", "ElectronicPayment=\"100.00\""), 121,
       "Count of means of payment is null"},
      {"two means", Paid("Sum=\"2\"", "Cash=\"1\" CashLessType1=\"1\""), 121,
       "Count of means of payment is not equal to one"},
      {"a decimal comma", Paid("Sum=\"1\"", "Cash=\"1,00\""), 121,
       "Error value attribute \"Payments\"->\"Cash\": 1,00"},
      {"no payment type", Paid("Sum=\"1\" PaymentType=\"\"", "Cash=\"1\""), 121, nullptr},
      {"no correction type", Package().With("CorrectionType", ""), 121, "Correction type is absent"},
      {"a correction type the interface has not", Package().With("CorrectionType", "5"), 133,
       "Correction type error: 5"},
      {"tax system not registered", Package().With("TaxVariant", "1"), 123, "Tax variant 1 not supported"},
      {"payments differ", Paid("Sum=\"7.21\" SumTAX20=\"1.20\"", "Cash=\"7.20\""), 138,
       "The total amount (7.21) is not equal to the amount of payment types (7.20)"},
      {"taxes above the sum", Paid("Sum=\"1.00\" SumTAX20=\"0.60\" SumTAX10=\"0.50\"", "Cash=\"1\""), 138,
       "The total amount (1.00) is less than the amount of payments for taxes (1.10)"},
      {"a negative payment", Paid("Sum=\"1\"", "Cash=\"1\" ElectronicPayment=\"-1\""), 121, nullptr},
      {"no sum", Paid("", "Cash=\"0\" CashLessType1=\"1\""), 121,
       "The amount of payment by check is not established"},
      {"a negative VAT amount", Paid("Sum=\"1\" SumTAX10=\"-0.10\"", "Cash=\"1\""), 121, nullptr},
      {"a sum past all payments", Paid("Sum=\"200000000\"", "Cash=\"1\""), 40, nullptr},
      {"a payment past its field", Paid("Sum=\"1\"", "Cash=\"100000000\""), 41, nullptr},
      {"a VAT amount past the price field", Paid("Sum=\"1\" SumTAX0=\"23000000\"", "Cash=\"1\""), 39,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Read r = ReadPackage(c.package);
    EXPECT_EQ(c.code, r.code) << r.message;
    if (c.message) {
      EXPECT_EQ(c.message, r.message);
    }
  }
}

struct Balance {
  const char* name;
  CorrectionData data;
  std::vector<int64_t> gross;  // of the eight entries; empty: cannot be balanced
};

CorrectionData Amounts(int64_t sum, int64_t cash, int64_t tax20, int64_t tax10, int64_t none) {
  CorrectionData d;
  d.nSum = sum;
  d.nCash = cash;
  d.nSumTax20 = tax20;
  d.nSumTax10 = tax10;
  d.nSumTaxNone = none;
  return d;
}

TEST(CorrectionPackage, GrossItemsFromTheVatAmounts) {
  const Balance cases[] = {
      {"20 % of 1.20 is an item of 7.20", Amounts(720, 720, 120, 0, 0), {0, 0, 0, 0, 0, 0, 720, 0}},
      {"7.21 raises the item by one kopeck", Amounts(721, 0, 120, 0, 0), {0, 0, 0, 0, 0, 0, 721, 0}},
      {"cash covers what the items lack", Amounts(730, 730, 120, 0, 0), {0, 0, 0, 0, 0, 0, 720, 0}},
      {"the sum below the items takes kopecks off", Amounts(719, 719, 120, 0, 0), {0, 0, 0, 0, 0, 0, 719, 0}},
      {"two rates share the kopecks", Amounts(1824, 0, 120, 100, 0), {0, 0, 1102, 0, 0, 0, 722, 0}},
      {"no VAT takes none", Amounts(150, 0, 0, 0, 100), {}},
      {"nothing to grow", Amounts(10000, 0, 120, 0, 0), {}},
      {"no amounts at all", Amounts(100, 100, 0, 0, 0), {}},
  };
  for (const Balance& c : cases) {
    SCOPED_TRACE(c.name);
    TaxEntry entries[kCorrectionTaxEntries];
    BuildTaxTable(c.data, entries);
    const bool balanced = BalanceCorrectionSums(entries, c.data.nSum, c.data.nCash);
    EXPECT_EQ(!c.gross.empty(), balanced);
    if (!balanced) continue;
    for (int i = 0; i < kCorrectionTaxEntries; ++i) EXPECT_EQ(c.gross[i], entries[i].nGross) << i;
  }
}

// ---- ProcessCorrectionCheck on the virtual printer ----

struct Outcome {
  bool result = false;
  LONG checkNumber = -1;
  LONG sessionNumber = -1;
  std::string fiscalSign;
  std::string site;
  int32_t code = -1;
};

class Correction : public ReceiptPrinter<54> {
 protected:
  void SetUp() override {
    ReceiptPrinter::SetUp();
    ctx->nContextKind = 2;
    snprintf(ctx->szAddressSiteInspections, sizeof ctx->szAddressSiteInspections, "nalog.ru");
  }
  Outcome Process(const Package& package) {
    Outcome o;
    BSTR sign = nullptr;
    BSTR site = nullptr;
    o.result = driver.ProcessCorrectionCheck("7", package.Xml().c_str(), &o.checkNumber, &o.sessionNumber,
                                             &sign, &site);
    o.fiscalSign = BstrToCp1251(sign);
    o.site = BstrToCp1251(site);
    o.code = ctx->nLastResult;
    SysFreeString(sign);
    SysFreeString(site);
    return o;
  }
  // The tags of the drive's last document, and its type.
  std::vector<ffd::Tlv> LastDocument(uint16_t* type) const {
    const emu::PrinterState s = line.printer.State();
    ffd::Container c;
    const emu::Bytes& bytes = s.fd.documents.back().container;
    EXPECT_EQ(ffd::ContainerError::kNone, ffd::ParseContainer(bytes.data(), bytes.size(), &c));
    std::vector<ffd::Tlv> outer, inner;
    EXPECT_TRUE(ffd::ParseTlv(c.tlv, &outer));
    *type = outer.at(0).tag;
    EXPECT_TRUE(ffd::ParseTlv(outer.at(0).value, &inner));
    return inner;
  }
  // The receipt's commands from the correction's opening on, without the queries.
  std::vector<std::string> CorrectionCommands() const {
    std::vector<std::string> sent;
    bool started = false;
    for (const std::string& c : line.Commands()) {
      started = started || c == "*@";
      const bool query = c[0] == 'S' && c.compare(0, 3, "Suc") != 0 && c.compare(0, 3, "Su)") != 0;
      if (started && !query) sent.push_back(c);
    }
    return sent;
  }
};

TEST_F(Correction, AnIncomeCorrectionBecomesItsCommandsAndADriveDocument) {
  const Outcome o =
      Process(Package().With("CashierVATIN", "7701234567").With("AdditionalAttribute", "extra"));
  ASSERT_TRUE(o.result) << o.code << "\n" << log.Text();
  const std::vector<std::string> sent = CorrectionCommands();
  ASSERT_EQ(9u, sent.size()) << ::testing::PrintToString(sent);
  EXPECT_EQ("*@", sent[0]);
  // Tax group 1, 720 kopecks, one piece, section 1, named by its VAT amount.
  EXPECT_EQ("!000007200000100001@0000000120", sent[1]);
  EXPECT_EQ("SucdAct", sent[2]);
  EXPECT_EQ("Suc#17", sent[3]);
  EXPECT_EQ("SucD0010524", sent[4]);
  EXPECT_EQ("P@197701234567  ", sent[5]);
  EXPECT_EQ(0u, sent[6].find("Su)0")) << sent[6];
  EXPECT_EQ("L80000000720", sent[7]);
  EXPECT_EQ("t", sent[8]);
  EXPECT_EQ(1u, line.Commands("m0").size());

  uint16_t type = 0;
  const std::vector<ffd::Tlv> tags = LastDocument(&type);
  EXPECT_EQ(ffd::kCorrectionReceipt, type);
  uint8_t operation = 0, correctionType = 9;
  ASSERT_TRUE(ffd::FindTag(tags, 1054) && ffd::ReadU8(*ffd::FindTag(tags, 1054), &operation));
  EXPECT_EQ(1, operation);
  ASSERT_TRUE(ffd::FindTag(tags, 1173) && ffd::ReadU8(*ffd::FindTag(tags, 1173), &correctionType));
  EXPECT_EQ(0, correctionType);
  const ffd::Tlv* base = ffd::FindTag(tags, 1174);
  ASSERT_NE(nullptr, base);
  std::vector<ffd::Tlv> baseTags;
  ASSERT_TRUE(ffd::ParseTlv(base->value, &baseTags));
  EXPECT_EQ("Act", ffd::ReadString(*ffd::FindTag(baseTags, 1177)));
  EXPECT_EQ("17", ffd::ReadString(*ffd::FindTag(baseTags, 1179)));
  uint32_t date = 0;
  ASSERT_TRUE(ffd::ReadU32(*ffd::FindTag(baseTags, 1178), &date));
  EXPECT_EQ(1714521600u, date);  // 2024-05-01
  ASSERT_NE(nullptr, ffd::FindTag(tags, ffd::tag::kCashierInn));
  EXPECT_EQ("7701234567  ", ffd::ReadString(*ffd::FindTag(tags, ffd::tag::kCashierInn)));
  testing_support::ExpectTheOperatorReadsEveryDocument(line.printer.State());

  const emu::PrinterState s = line.printer.State();
  EXPECT_EQ(static_cast<LONG>(s.fd.documents.back().number), o.checkNumber);
  EXPECT_EQ(std::to_string(s.fd.documents.back().fiscalSign), o.fiscalSign);
  EXPECT_EQ("nalog.ru", o.site);
  EXPECT_EQ(720, s.shiftTotals[7]);
  EXPECT_EQ(0, driver.m_nDocumentType);
  EXPECT_TRUE(log.Has("}OdinS_ProcessCorrectionCheck ret 1"));
}

// Sum 7.21 on VAT 1.20 paid by card: the item grows by the kopeck the VAT still allows.
TEST_F(Correction, TheItemTakesTheKopeckTheVatAllows) {
  const Outcome o =
      Process(Paid("Sum=\"7.21\" SumTAX20=\"1.20\"", "CashLessType1=\"7.21\" ElectronicPayment=\"7.21\""));
  ASSERT_TRUE(o.result) << o.code << "\n" << log.Text();
  EXPECT_EQ(1u, line.Commands("!000007210000100001@0000000120").size());
  EXPECT_EQ((std::vector<std::string>{"L10000000721"}), line.Commands("L"));
  EXPECT_EQ(1u, line.Commands("Sucd-").size());  // a base without a name
}

// An expense correction is a purchase-mode receipt; the drive records it as an expense.
TEST_F(Correction, AnExpenseCorrection) {
  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftTotals[7] = 10000; });
  const Outcome o = Process(Package().With("PaymentType", "4"));
  ASSERT_TRUE(o.result) << o.code << "\n" << log.Text();
  EXPECT_EQ(1u, line.Commands("m1").size());
  uint16_t type = 0;
  uint8_t operation = 0;
  const std::vector<ffd::Tlv> tags = LastDocument(&type);
  ASSERT_TRUE(ffd::ReadU8(*ffd::FindTag(tags, 1054), &operation));
  EXPECT_EQ(3, operation);
  EXPECT_EQ(10000 - 720, line.printer.State().shiftTotals[7]);
}

TEST_F(Correction, RefusedBeforeTheReceiptOpens) {
  struct Case {
    const char* name;
    Package package;
    int32_t code;
    const char* message;
  } cases[] = {
      {"paid only electronically", Paid("Sum=\"100\"", "ElectronicPayment=\"100.00\""), 121,
       "*CheckCorrectionPackage: Count of means of payment is null"},
      {"a date written day.month.year", Package().With("CorrectionBaseDate", "01.05.2024"), 136,
       "*OdinS_ProcessCorrectionCheck: Corrected settlement date is incorrect"},
      {"a VAT rate the printer does not have", Paid("Sum=\"1.18\" SumTAX18=\"0.18\"", "Cash=\"1.18\""), 12,
       "*OdinS_ProcessCorrectionCheck: Error tax value: 18"},
      {"VAT amounts that cannot be balanced",
       Paid("Sum=\"100\" SumTAX20=\"1.20\"",
            "CashLessType1=\"100\" "
            "ElectronicPayment=\"100\""),
       135, "*OdinS_ProcessCorrectionCheck: Error calculating tax rates of check correction"},
      {"not XML", Package().With("Sum", "<"), 121, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line.printer.ClearTrace();
    const Outcome o = Process(c.package);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(c.code, o.code);
    if (c.message) {
      EXPECT_TRUE(log.Has(c.message)) << log.Text();
    }
    EXPECT_TRUE(line.Commands("*@").empty());
    EXPECT_EQ(0, driver.m_nDocumentType);
  }
  EXPECT_EQ(0u, DriveDocuments());
}

TEST_F(Correction, RefusedByTheRegistersState) {
  struct Case {
    const char* name;
    std::function<void()> state;
    int32_t code;
  } cases[] = {
      {"the older firmware", [this] { ctx->nContextKind = 1; }, 134},
      {"shift closed",
       [this] { line.printer.ModifyState([](emu::PrinterState& s) { s.shiftOpen = false; }); }, 115},
      {"paper end", [this] { line.printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = true; }); },
       15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.state();
    EXPECT_EQ(c.code, Process(Package()).code);
    ctx->nContextKind = 2;
    line.printer.ModifyState([](emu::PrinterState& s) {
      s.shiftOpen = true;
      s.paperEnd = false;
    });
  }
  EXPECT_EQ(0u, DriveDocuments());
}

// A payment the printer refuses cancels the correction and the host learns the payment's code; when
// the answer to the closing is lost but the drive made the document, the host is told it exists.
TEST_F(Correction, TheFiscalDriveDecidesAfterAFailedStep) {
  line.printer.RefuseNextOf("L8", 0x21);
  const Outcome refused = Process(Package());
  EXPECT_FALSE(refused.result);
  EXPECT_NE(0, refused.code);
  EXPECT_TRUE(log.Has("*OdinS_ProcessCorrectionCheck: Open correction check error")) << log.Text();
  EXPECT_EQ(0u, DriveDocuments());
  EXPECT_EQ(0, driver.m_nDocumentType);

  ASSERT_EQ(0, SetCommTimeoutsFP(ctx, 150, 150));
  line.printer.AfterNextCommand(
      "t", [](emu::PrinterState&) {}, 6);
  const Outcome lost = Process(Package());
  EXPECT_TRUE(lost.result) << lost.code << "\n" << log.Text();
  ASSERT_EQ(1u, DriveDocuments());
  EXPECT_EQ(static_cast<LONG>(line.printer.State().fd.documents.back().number), lost.checkNumber);
  EXPECT_FALSE(lost.fiscalSign.empty());
}

}  // namespace
