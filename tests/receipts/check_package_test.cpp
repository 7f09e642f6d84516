// The check package: numbers and rounding, the item and receipt attributes with every failure's
// code and message, the values stored, the pre-check against the virtual printer (nothing but the
// rates query goes out), and the same records under a locale whose decimal separator is a comma.
#include "receipts/check_package.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "device/serial_port.h"
#include "platform/codepage.h"
#include "support/device_on_line.h"

namespace {

constexpr std::nullopt_t kAbsent = std::nullopt;

struct Attr {
  std::string name;
  std::optional<std::string> value;  // absent: the attribute is left out
};
using Attrs = std::vector<Attr>;

// `base` with `change` applied: a new value replaces the old one or is added, an absent one removes it.
Attrs With(Attrs base, const Attr& change) {
  for (auto it = base.begin(); it != base.end(); ++it) {
    if (it->name == change.name) {
      base.erase(it);
      break;
    }
  }
  if (change.value) base.push_back(change);
  return base;
}

std::string Escaped(const std::string& value) {
  std::string text;
  for (char c : value) {
    text += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '"' ? "&quot;" : std::string(1, c);
  }
  return text;
}

std::string Element(const std::string& name, const Attrs& attrs, const std::string& children = "") {
  std::string text = "<" + name;
  for (const Attr& a : attrs) text += " " + a.name + "=\"" + Escaped(*a.value) + "\"";
  return children.empty() ? text + "/>" : text + ">" + children + "</" + name + ">";
}

const Attrs kParameters = {{"CashierName", "Иванова"}, {"PaymentType", "1"}, {"TaxVariant", "0"}};
const Attrs kPayments = {{"Cash", "100"}};
const Attrs kItem = {
    {"Name", "Молоко"}, {"Quantity", "2"},   {"PriceWithDiscount", "10.50"}, {"SumWithDiscount", "21.00"},
    {"Tax", "20"},      {"Department", "1"}, {"SignMethodCalculation", "4"}, {"SignCalculationObject", "1"}};

std::string Package(const Attrs& parameters, const Attrs& payments, const std::string& positions) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" +
         Element("CheckPackage", {},
                 Element("Parameters", parameters) + Element("Positions", {}, positions) +
                     Element("Payments", payments));
}

// A package the host could send with every attribute the driver reads.
const std::string kFullPackage =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<CheckPackage>"
    "<Parameters CashierName=\"Петрова А.В.\" CashierVATIN=\"7701234567\" PaymentType=\"4\" TaxVariant=\"2\""
    " CustomerEmail=\"buyer@example.ru\" CustomerPhone=\"+79001234567\" CustomerINN=\"770123456789\""
    " CustomerInfo=\"ООО Ромашка\" AdditionalAttribute=\"доп\" AgentSign=\"5\">"
    "<AgentData PayingAgentOperation=\"Приём платежа\" PayingAgentPhone=\"+74950000001\""
    " ReceivePaymentsOperatorPhone=\"+74950000002\" MoneyTransferOperatorPhone=\"+74950000003\""
    " MoneyTransferOperatorName=\"Банк\" MoneyTransferOperatorAddress=\"Москва\""
    " MoneyTransferOperatorVATIN=\"7700000001\"/>"
    "<PurveyorData PurveyorPhone=\"+74950000004\" PurveyorName=\"Поставщик\" PurveyorVATIN=\"123\"/>"
    "</Parameters>"
    "<Positions>"
    "<TextString Text=\"not an item\"/>"
    "<FiscalString Name=\"Сыр &quot;Российский&quot;\" Quantity=\"1.250\" PriceWithDiscount=\"480.40\""
    " SumWithDiscount=\"600.50\" DiscountSum=\"12.25\" Department=\"7\" Tax=\"10/110\""
    " SignMethodCalculation=\"7\" SignCalculationObject=\"18\" SignSubjectCalculationAgent=\"6\""
    " MeasurementUnit=\"кг\">"
    "<AgentData PayingAgentOperation=\"оп\"/>"
    "<PurveyorData PurveyorName=\"Сыровар\" PurveyorVATIN=\"770000000002\"/>"
    "<GoodCodeData StampType=\"5408\" GTIN=\"04601234567890\" SerialNumber=\"ABCdef123\"/>"
    "</FiscalString>"
    "<Barcode BarcodeType=\"EAN13\" Barcode=\"4601234567890\"/>"
    "</Positions>"
    "<Payments Cash=\"100.5\" ElectronicPayment=\"200.25\" AdvancePayment=\"300\" Credit=\"0.75\""
    " CashProvision=\"0\"/>"
    "</CheckPackage>";

struct Parsed {
  TiXmlDocument doc;
  explicit Parsed(const std::string& text) { doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8); }
  const TiXmlElement* Item() const {
    return doc.FirstChildElement("CheckPackage")
        ->FirstChildElement("Positions")
        ->FirstChildElement("FiscalString");
  }
};

std::string Ansi(const char* utf8) {
  return plat::Utf8ToCp1251(utf8);
}

class CheckPackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.anTaxRates[0] = 2000;  // hundredths of a percent
    ctx.anTaxRates[1] = 1000;
    ctx.nFdTaxSystems = 0x3F;
  }

  int32_t ParseItem(const Attrs& item, CheckPosition* position, std::string* message) {
    Parsed p(Package(kParameters, kPayments, Element("FiscalString", item)));
    EXPECT_FALSE(p.doc.Error());
    return ParseFiscalString(&ctx, p.Item(), position, message);
  }
  int32_t ParseReceipt(const std::string& text, CheckParameters* params, std::string* message) {
    Parsed p(text);
    EXPECT_FALSE(p.doc.Error()) << text;
    return ParseCheckParameters(&ctx, &p.doc, params, message);
  }

  FPContext ctx;
};

TEST(CheckNumbers, ParseXmlNumberReadsOnlyPlainDecimalsWithAPoint) {
  const std::string manyDigits(400, '9');
  const std::string manyNegative = "-" + manyDigits;
  const std::string tiny = "0." + std::string(400, '0') + "1";
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"1.5", 1.5},
      {"+2", 2},
      {"-3.25", -3.25},
      {"00012.50", 12.5},
      {".5", 0.5},
      {"5.", 5},
      {"1-", 1},
      {"12+3", 12},
      {"1,5", 0},
      {"1e3", 0},
      {" 1", 0},
      {"1 ", 0},
      {"1..2", 0},
      {"1.2.3", 0},
      {"+-1", 0},
      {"--1", 0},
      {"-", 0},
      {".", 0},
      {"", 0},
      {"NaN", 0},
      {"inf", 0},
      {"0x10", 0},
      {"１", 0},
      {nullptr, 0},
      {tiny.c_str(), 0},
      {manyDigits.c_str(), HUGE_VAL},
      {manyNegative.c_str(), -HUGE_VAL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, ParseXmlNumber(c.text)) << (c.text ? c.text : "null");
  }
}

TEST(CheckNumbers, RoundingHalfAwayAndHalfUpWithBoundsForWhatNoIntegerHolds) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double x;
    int32_t toInt;
    int64_t toInt64;
  } cases[] = {
      {0, 0, 0},
      {1.5, 2, 2},
      {2.4999, 2, 2},
      {-1.5, -2, -1},  // RoundToInt64 rounds half up: it is used on amounts that are not negative
      {-0.4, 0, 0},
      {1050.0 * 100, 105000, 105000},
      {0.004 * 100, 0, 0},
      {0.005 * 100, 1, 1},
      {3e9, INT32_MAX, 3000000000},
      {-3e9, INT32_MIN, -2999999999},
      {1e19, INT32_MAX, INT64_MAX},
      {-1e19, INT32_MIN, INT64_MIN},
      {inf, INT32_MAX, INT64_MAX},
      {-inf, INT32_MIN, INT64_MIN},
      {nan, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.toInt, RoundToInt(c.x)) << c.x;
    EXPECT_EQ(c.toInt64, RoundToInt64(c.x)) << c.x;
  }
}

TEST(CheckNumbers, TaxTextsMapToGroupAndRate) {
  struct Case {
    const char* text;
    bool twenty;
    int32_t group;
    double rate;
  } cases[] = {
      {"none", false, 0, -1},  {"20", true, 1, 20},      {"20", false, 1, 18},
      {"18", true, 1, 20},     {"10", true, 2, 10},      {"0", false, 3, 0},
      {"20/120", true, 4, 20}, {"18/118", false, 4, 18}, {"10/110", false, 5, 10},
  };
  for (const Case& c : cases) {
    CheckPosition p;
    ASSERT_TRUE(MapTaxAttribute(c.text, c.twenty, &p)) << c.text;
    EXPECT_EQ(c.group, p.nTaxGroup) << c.text;
    EXPECT_EQ(c.rate, p.dTaxRate) << c.text;
  }
  for (const char* unknown : {"", "7", "20%", "NONE", "10/120", " 20"}) {
    CheckPosition p;
    p.nTaxGroup = 9;
    EXPECT_FALSE(MapTaxAttribute(unknown, true, &p)) << unknown;
    EXPECT_EQ(9, p.nTaxGroup) << unknown;
  }
}

TEST_F(CheckPackageTest, ItemAttributesRefusedWithTheirCodeAndMessage) {
  const std::string huge(400, '9');
  const std::string tag = "Tag \"FiscalString\"->";
  struct Case {
    Attr change;
    int32_t code;
    std::string message;
  } cases[] = {
      {{"Name", kAbsent}, 142, tag + "\"Name\" missing or empty"},
      {{"Name", ""}, 142, tag + "\"Name\" missing or empty"},
      {{"Quantity", kAbsent}, 145, tag + "\"Quantity\" missing or empty"},
      {{"Quantity", ""}, 145, tag + "\"Quantity\" missing or empty"},
      {{"Quantity", "1,5"}, 145, tag + "\"Quantity\" error: 1,5"},
      {{"Quantity", "0"}, 145, tag + "\"Quantity\" error: 0"},
      {{"Quantity", "-1"}, 145, tag + "\"Quantity\" error: -1"},
      {{"Quantity", "NaN"}, 145, tag + "\"Quantity\" error: NaN"},
      {{"Quantity", "1e3"}, 145, tag + "\"Quantity\" error: 1e3"},
      {{"Quantity", "100000"}, 132, tag + "\"Quantity\" error: 100000"},
      {{"Quantity", "99999.001"}, 132, tag + "\"Quantity\" error: 99999.001"},
      {{"Quantity", huge}, 132, tag + "\"Quantity\" error: " + huge.substr(0, 200)},  // echo cut at 200
      {{"PriceWithDiscount", kAbsent}, 143, tag + "\"PriceWithDiscount\" missing or empty"},
      {{"PriceWithDiscount", "-0.01"}, 143, tag + "\"PriceWithDiscount\" error: -0.01"},
      {{"SumWithDiscount", kAbsent}, 144, tag + "\"SumWithDiscount\" missing or empty"},
      {{"SumWithDiscount", "-5"}, 144, tag + "\"SumWithDiscount\" error: -5"},
      // What is not a number is refused, not read as 0.
      {{"PriceWithDiscount", "abc"}, 143, tag + "\"PriceWithDiscount\" error: abc"},
      {{"SumWithDiscount", "5.00.1"}, 144, tag + "\"SumWithDiscount\" error: 5.00.1"},
      {{"DiscountSum", "abc"}, 121, tag + "\"DiscountSum\" error: abc"},
      {{"DiscountSum", "1e3"}, 121, tag + "\"DiscountSum\" error: 1e3"},
      {{"Department", "0"}, 121, tag + "\"Department\" error: 0"},
      {{"Department", "100"}, 121, tag + "\"Department\" error: 100"},
      {{"Department", "-1"}, 121, tag + "\"Department\" error: -1"},
      {{"Department", ""}, 121, tag + "\"Department\" error: "},
      {{"Department", "3a"}, 121, tag + "\"Department\" error: 3a"},
      {{"Department", "4294967297"}, 121, tag + "\"Department\" error: 4294967297"},  // 1 after a 32-bit wrap
      {{"Department", huge}, 121, tag + "\"Department\" error: " + huge.substr(0, 200)},
      {{"Tax", kAbsent}, 12, tag + "\"Tax\" missing or empty"},
      {{"Tax", "7"}, 12, tag + "\"Tax\" error: 7"},
      {{"Tax", "НДС 20"}, 12, tag + "\"Tax\" error: " + Ansi("НДС 20")},
      {{"SignMethodCalculation", "0"}, 146, tag + "\"SignMethodCalculation\" error: 0"},
      {{"SignMethodCalculation", "8"}, 146, tag + "\"SignMethodCalculation\" error: 8"},
      {{"SignMethodCalculation", "x"}, 146, tag + "\"SignMethodCalculation\" error: x"},
      {{"SignCalculationObject", "19"}, 147, tag + "\"SignCalculationObject\" error: 19"},
      {{"SignCalculationObject", ""}, 147, tag + "\"SignCalculationObject\" error: "},
      {{"SignSubjectCalculationAgent", "7"}, 148, tag + "\"SignSubjectCalculationAgent\" error: 7"},
      {{"SignSubjectCalculationAgent", "10"}, 148, tag + "\"SignSubjectCalculationAgent\" error: 10"},
      {{"SignSubjectCalculationAgent", ""}, 148, tag + "\"SignSubjectCalculationAgent\" error: "},
  };
  for (const Case& c : cases) {
    CheckPosition p;
    std::string message;
    EXPECT_EQ(c.code, ParseItem(With(kItem, c.change), &p, &message))
        << c.change.name << "=" << c.change.value.value_or("(absent)");
    EXPECT_EQ(c.message, message);
  }
  CheckPosition p;
  std::string message;
  EXPECT_EQ(121, ParseFiscalString(&ctx, nullptr, &p, &message));
  EXPECT_EQ("Fiscal data can not be processed", message);
}

TEST_F(CheckPackageTest, ItemAttributesAtTheirLimitsAreStored) {
  struct Case {
    Attr change;
    std::function<void(const CheckPosition&)> check;
  } cases[] = {
      {{"Quantity", "99999"}, [](const CheckPosition& p) { EXPECT_EQ(99999, p.dQuantity); }},
      {{"Quantity", "0.001"}, [](const CheckPosition& p) { EXPECT_EQ(0.001, p.dQuantity); }},
      {{"PriceWithDiscount", "0"}, [](const CheckPosition& p) { EXPECT_EQ(0, p.dPriceWithDiscount); }},
      {{"SumWithDiscount", "+0.00"}, [](const CheckPosition& p) { EXPECT_EQ(0, p.dSumWithDiscount); }},
      // An amount no integer holds is stored as read; the item's rounding then gives the bound that
      // the price and cost limits refuse.
      {{"PriceWithDiscount", std::string(400, '9')},
       [](const CheckPosition& p) { EXPECT_EQ(INT64_MAX, RoundToInt64(p.dPriceWithDiscount * 100)); }},
      {{"Department", kAbsent}, [](const CheckPosition& p) { EXPECT_EQ(2, p.nDepartment); }},
      {{"Department", "99"}, [](const CheckPosition& p) { EXPECT_EQ(99, p.nDepartment); }},
      {{"Department", "+05"}, [](const CheckPosition& p) { EXPECT_EQ(5, p.nDepartment); }},
      {{"Tax", "none"}, [](const CheckPosition& p) { EXPECT_EQ(-1, p.dTaxRate); }},
      {{"SignMethodCalculation", kAbsent},
       [](const CheckPosition& p) { EXPECT_EQ(0, p.nSignMethodCalculation); }},
      {{"SignMethodCalculation", "1"},
       [](const CheckPosition& p) { EXPECT_EQ(1, p.nSignMethodCalculation); }},
      {{"SignCalculationObject", "18"},
       [](const CheckPosition& p) { EXPECT_EQ(18, p.nSignCalculationObject); }},
      {{"SignSubjectCalculationAgent", "0"},
       [](const CheckPosition& p) { EXPECT_EQ(0x01, p.nAgentSignMask); }},
      {{"SignSubjectCalculationAgent", "6"},
       [](const CheckPosition& p) { EXPECT_EQ(0x40, p.nAgentSignMask); }},
      {{"Name", std::string(64, 'N')},
       [](const CheckPosition& p) { EXPECT_EQ(std::string(64, 'N'), p.szName); }},
      {{"Name", std::string(65, 'N')},
       [](const CheckPosition& p) { EXPECT_EQ(std::string(64, 'N'), p.szName); }},
      {{"MeasurementUnit", std::string(17, 'U')},
       [](const CheckPosition& p) { EXPECT_EQ(std::string(16, 'U'), p.szMeasurementUnit); }},
  };
  for (const Case& c : cases) {
    CheckPosition p;
    std::string message;
    ASSERT_EQ(0, ParseItem(With(kItem, c.change), &p, &message)) << c.change.name << ": " << message;
    c.check(p);
  }
}

TEST_F(CheckPackageTest, CalculationSignsMayBeLeftOut) {
  CheckPosition p;
  std::string message;
  EXPECT_EQ(
      0, ParseItem(With(With(kItem, {"SignMethodCalculation", kAbsent}), {"SignCalculationObject", kAbsent}),
                   &p, &message));
  EXPECT_EQ(0, p.nSignMethodCalculation);
  EXPECT_EQ(0, p.nSignCalculationObject);
  // The note of the last absent sign stays behind; the caller logs a message only after a failure.
  EXPECT_EQ("Tag \"FiscalString\"->\"SignCalculationObject\" missing or empty", message);
}

TEST_F(CheckPackageTest, StandardRateFollowsTheDevicesRates) {
  CheckPosition p;
  std::string message;
  ASSERT_EQ(0, ParseItem(kItem, &p, &message));
  EXPECT_EQ(1, p.nTaxGroup);
  EXPECT_EQ(20, p.dTaxRate);
  // A device programmed 18, 10, 0, 0.
  ctx.anTaxRates[0] = 1800;
  ASSERT_EQ(0, ParseItem(kItem, &p, &message));
  EXPECT_EQ(18, p.dTaxRate);
  // Percent values where the device keeps hundredths are not its 20 %.
  ctx.anTaxRates[2] = 20;
  ASSERT_EQ(0, ParseItem(kItem, &p, &message));
  EXPECT_EQ(18, p.dTaxRate);
}

TEST_F(CheckPackageTest, ReceiptAttributesRefusedWithTheirCodeAndMessage) {
  const std::string echo(300, 'X');
  struct Case {
    Attrs parameters;
    Attrs payments;
    int32_t code;
    std::string message;
  } cases[] = {
      {With(kParameters, {"PaymentType", kAbsent}), kPayments, 121, "Error type operation: (null)"},
      {With(kParameters, {"PaymentType", ""}), kPayments, 121, "Error type operation: "},
      {With(kParameters, {"PaymentType", "5"}), kPayments, 121, "Error type operation: 5"},
      {With(kParameters, {"PaymentType", "12"}), kPayments, 121, "Error type operation: 12"},
      {With(kParameters, {"PaymentType", echo}), kPayments, 121,
       "Error type operation: " + echo.substr(0, 200)},
      {With(kParameters, {"TaxVariant", kAbsent}), kPayments, 121, "Error tax variant: is absent"},
      {With(kParameters, {"TaxVariant", "6"}), kPayments, 121, "Error tax variant: 6"},
      {With(kParameters, {"TaxVariant", "01"}), kPayments, 121, "Error tax variant: 01"},
      {With(kParameters, {"TaxVariant", "-1"}), kPayments, 121, "Error tax variant: -1"},
      {With(kParameters, {"AgentSign", "7"}), kPayments, 148, "Tag \"Parameters\"->\"AgentSign\" error: 7"},
      {With(kParameters, {"AgentSign", "a"}), kPayments, 148, "Tag \"Parameters\"->\"AgentSign\" error: a"},
      {kParameters, {{"Cash", "-1"}}, 121, "Cash is negative"},
      {kParameters, {{"Cash", "1"}, {"ElectronicPayment", "-0.01"}}, 121, "Electronic Payment is negative"},
      {kParameters, {{"AdvancePayment", "-2"}}, 121, "Advance Payment is negative"},
      {kParameters, {{"Credit", "-" + std::string(400, '9')}}, 121, "Credit is negative"},
      {kParameters, {{"CashProvision", "-3"}}, 121, "CashProvision is negative"},
      {kParameters, {}, 121, "Payments not set"},
      {kParameters, {{"Cash", "0"}, {"Credit", "0.00"}}, 121, "Payments not set"},
      {kParameters, {{"Cash", "0.004"}}, 121, "Payments not set"},
      {kParameters, {{"Cash", "1,5"}}, 121, "Tag \"Payments\"->\"Cash\" error: 1,5"},
      {kParameters, {{"PrePayment", "2"}}, 0, ""},
      {kParameters,
       {{"AdvancePayment", "1"}, {"PrePayment", "2"}},
       121,
       "Tag \"Payments\": both \"AdvancePayment\" and \"PrePayment\" given"},
  };
  for (const Case& c : cases) {
    CheckParameters params;
    std::string message;
    EXPECT_EQ(c.code, ParseReceipt(Package(c.parameters, c.payments, ""), &params, &message)) << c.message;
    EXPECT_EQ(c.message, message);
  }
}

TEST_F(CheckPackageTest, ReceiptWithoutItsElementsOrATaxSystemOfTheDrive) {
  CheckParameters params;
  std::string message;
  EXPECT_EQ(121, ParseReceipt("<CheckPackage><Payments Cash=\"1\"/></CheckPackage>", &params, &message));
  EXPECT_EQ("Tag \"Parameters\" is absent", message);
  EXPECT_EQ(121,
            ParseReceipt("<Check>" + Element("Parameters", kParameters) + "</Check>", &params, &message));
  EXPECT_EQ("Tag \"Parameters\" is absent", message);
  EXPECT_EQ(121, ParseReceipt("<CheckPackage>" + Element("Parameters", kParameters) + "</CheckPackage>",
                              &params, &message));
  EXPECT_EQ("Tag \"Payments\" is absent", message);
  EXPECT_EQ(121, ParseCheckParameters(&ctx, nullptr, &params, &message));
  EXPECT_EQ("Check data can not be processed", message);

  ctx.nFdTaxSystems = 0x01 | 0x04;  // general and simplified "income minus expense"
  EXPECT_EQ(0,
            ParseReceipt(Package(With(kParameters, {"TaxVariant", "2"}), kPayments, ""), &params, &message));
  EXPECT_EQ(2, params.nTaxVariant);
  EXPECT_EQ(123,
            ParseReceipt(Package(With(kParameters, {"TaxVariant", "3"}), kPayments, ""), &params, &message));
  EXPECT_EQ("Tax variant 3 not supported", message);
}

TEST_F(CheckPackageTest, CashierNameFromThePackageOrTheSettings) {
  CheckParameters params;
  std::string message;
  const std::string withoutName = Package(With(kParameters, {"CashierName", kAbsent}), kPayments, "");
  // The settings' name stays when the package has none.
  std::snprintf(ctx.szClerkName, sizeof ctx.szClerkName, "%s", "Settings");
  EXPECT_EQ(0, ParseReceipt(withoutName, &params, &message));
  EXPECT_STREQ("Settings", ctx.szClerkName);
  // Neither: 46 without a message of its own.
  ctx.szClerkName[0] = '\0';
  message = "stale";
  EXPECT_EQ(46, ParseReceipt(withoutName, &params, &message));
  EXPECT_EQ("", message);
  EXPECT_EQ(46,
            ParseReceipt(Package(With(kParameters, {"CashierName", ""}), kPayments, ""), &params, &message));
  // The package's name, cut to what the context kind prints.
  const std::string longName(80, 'K');
  ctx.nContextKind = 1;
  EXPECT_EQ(0, ParseReceipt(Package(With(kParameters, {"CashierName", longName}), kPayments, ""), &params,
                            &message));
  EXPECT_EQ(std::string(35, 'K'), ctx.szClerkName);
  ctx.nContextKind = 2;
  EXPECT_EQ(0, ParseReceipt(Package(With(kParameters, {"CashierName", longName}), kPayments, ""), &params,
                            &message));
  EXPECT_EQ(std::string(64, 'K'), ctx.szClerkName);
}

TEST_F(CheckPackageTest, PaymentTypeGivesDirection) {
  struct Case {
    const char* type;
    bool income;
    bool isReturn;
  } cases[] = {{"1", true, false}, {"2", true, true}, {"3", false, false}, {"4", false, true}};
  for (const Case& c : cases) {
    CheckParameters params;
    std::string message;
    ASSERT_EQ(0, ParseReceipt(Package(With(kParameters, {"PaymentType", c.type}), kPayments, ""), &params,
                              &message));
    EXPECT_EQ(c.income, params.bIncome) << c.type;
    EXPECT_EQ(c.isReturn, params.bReturn) << c.type;
  }
}

// Every field of both records from kFullPackage.
void ExpectFullPackage(const CheckParameters& params, const CheckPosition& p) {
  EXPECT_STREQ("7701234567  ", params.szCashierVATIN);
  EXPECT_STREQ("buyer@example.ru", params.szCustomerEmail);
  EXPECT_STREQ("+79001234567", params.szCustomerPhone);
  EXPECT_STREQ("770123456789", params.szCustomerINN);
  EXPECT_EQ(Ansi("ООО Ромашка"), params.szCustomerInfo);
  EXPECT_EQ(Ansi("доп"), params.szAdditionalAttribute);
  EXPECT_EQ(1 << 5, params.nAgentSignMask);
  EXPECT_EQ(Ansi("Приём платежа"), params.agent.szPayingAgentOperation);
  EXPECT_STREQ("+74950000001", params.agent.szPayingAgentPhone);
  EXPECT_STREQ("+74950000002", params.agent.szReceivePaymentsOperatorPhone);
  EXPECT_STREQ("+74950000003", params.agent.szMoneyTransferOperatorPhone);
  EXPECT_EQ(Ansi("Банк"), params.agent.szMoneyTransferOperatorName);
  EXPECT_EQ(Ansi("Москва"), params.agent.szMoneyTransferOperatorAddress);
  EXPECT_STREQ("7700000001  ", params.agent.szMoneyTransferOperatorVATIN);
  EXPECT_STREQ("+74950000004", params.agent.szPurveyorPhone);
  EXPECT_EQ(Ansi("Поставщик"), params.agent.szPurveyorName);
  EXPECT_STREQ("", params.agent.szPurveyorVATIN);  // three characters: dropped
  EXPECT_EQ(2, params.nTaxVariant);
  EXPECT_FALSE(params.bIncome);
  EXPECT_TRUE(params.bReturn);
  EXPECT_EQ(100.5, params.dCash);
  EXPECT_EQ(200.25, params.dElectronicPayment);
  EXPECT_EQ(300, params.dAdvancePayment);
  EXPECT_EQ(0.75, params.dCredit);
  EXPECT_EQ(0, params.dCashProvision);

  EXPECT_EQ(Ansi("Сыр \"Российский\""), p.szName);
  EXPECT_EQ(1.25, p.dQuantity);
  EXPECT_EQ(480.4, p.dPriceWithDiscount);
  EXPECT_EQ(600.5, p.dSumWithDiscount);
  EXPECT_EQ(12.25, p.dDiscountSum);
  EXPECT_EQ(7, p.nDepartment);
  EXPECT_EQ(5, p.nTaxGroup);
  EXPECT_EQ(10, p.dTaxRate);
  EXPECT_EQ(7, p.nSignMethodCalculation);
  EXPECT_EQ(18, p.nSignCalculationObject);
  EXPECT_EQ(1 << 6, p.nAgentSignMask);
  EXPECT_EQ(Ansi("оп"), p.agent.szPayingAgentOperation);
  EXPECT_STREQ("", p.agent.szPayingAgentPhone);  // the receipt's agent data is not the item's
  EXPECT_EQ(Ansi("Сыровар"), p.agent.szPurveyorName);
  EXPECT_STREQ("770000000002", p.agent.szPurveyorVATIN);
  EXPECT_EQ(Ansi("кг"), p.szMeasurementUnit);
  // 4601234567890 = 0x042F 4EF3 B2D2
  const uint8_t code[kGoodCodeLength] = {0x54, 0x08, 0x04, 0x2F, 0x4E, 0xF3, 0xB2, 0xD2, 'A',
                                         'B',  'C',  'd',  'e',  'f',  '1',  '2',  '3'};
  EXPECT_EQ(0, std::memcmp(code, p.abGoodCode, kGoodCodeLength));
}

TEST_F(CheckPackageTest, EveryAttributeOfAFullPackageIsStored) {
  Parsed doc(kFullPackage);
  ASSERT_FALSE(doc.doc.Error()) << doc.doc.ErrorDesc();
  CheckParameters params;
  CheckPosition position;
  std::string message;
  ASSERT_EQ(0, ParseCheckParameters(&ctx, &doc.doc, &params, &message)) << message;
  EXPECT_EQ(Ansi("Петрова А.В."), ctx.szClerkName);
  ASSERT_EQ(0, ParseFiscalString(&ctx, doc.Item(), &position, &message)) << message;
  ExpectFullPackage(params, position);
}

// Sets the process locale for its life and puts the old one back, whatever the test's outcome.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : m_before(std::setlocale(LC_ALL, nullptr)) {
    m_set = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ScopedLocale() { std::setlocale(LC_ALL, m_before.c_str()); }
  bool Set() const { return m_set; }

 private:
  std::string m_before;
  bool m_set = false;
};

TEST_F(CheckPackageTest, SameRecordsUnderADecimalCommaLocale) {
  const ScopedLocale russian("ru_RU.UTF-8");
  ASSERT_TRUE(russian.Set()) << "the locale ru_RU.UTF-8 is missing: scripts/setup generates it";
  ASSERT_STREQ(",", std::localeconv()->decimal_point);
  Parsed doc(kFullPackage);
  CheckParameters params;
  CheckPosition position;
  std::string message;
  ASSERT_EQ(0, ParseCheckParameters(&ctx, &doc.doc, &params, &message)) << message;
  ASSERT_EQ(0, ParseFiscalString(&ctx, doc.Item(), &position, &message)) << message;
  ExpectFullPackage(params, position);
  EXPECT_EQ(0, ParseXmlNumber("1,5"));  // the locale's separator does not become the package's
}

TEST(GoodCode, StampTypeGtinAndSerialNumber) {
  std::vector<uint8_t> serial(8, 0);
  serial.insert(serial.end(), 24, 'S');  // the first 24 characters, no terminator
  struct Case {
    Attrs attrs;
    std::vector<uint8_t> bytes;  // the first ones; the rest zero
  } cases[] = {
      {{{"StampType", "5408"}}, {0x54, 0x08}},
      {{{"StampType", "1"}}, {0x00, 0x01}},
      {{{"StampType", "a1F"}}, {0x0A, 0x1F}},
      {{{"StampType", "12345"}}, {}},  // too long
      {{{"StampType", "zz"}}, {}},     // not hexadecimal
      {{{"StampType", "-1"}}, {}},
      {{{"GTIN", "281474976710655"}}, {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},      // 2^48 - 1
      {{{"GTIN", "281474976710656"}}, {}},                                              // 2^48
      {{{"GTIN", "1234567890123456789"}}, {0, 0, 0x70, 0x48, 0x86, 0x0D, 0xDF, 0x79}},  // the first 15 digits
      {{{"GTIN", "-5"}}, {}},
      {{{"GTIN", "12AB"}}, {}},
      {{{"SerialNumber", std::string(30, 'S')}}, serial},
  };
  for (const Case& c : cases) {
    TiXmlDocument doc;
    doc.Parse(Element("GoodCodeData", c.attrs).c_str(), nullptr, TIXML_ENCODING_UTF8);
    uint8_t code[kGoodCodeLength];
    std::memset(code, 0xEE, sizeof code);
    ParseGoodCodeData(doc.FirstChildElement(), code);
    std::vector<uint8_t> expected = c.bytes;
    expected.resize(kGoodCodeLength, 0);
    EXPECT_EQ(expected, std::vector<uint8_t>(code, code + kGoodCodeLength))
        << c.attrs[0].name << "=" << *c.attrs[0].value;
  }
  uint8_t code[kGoodCodeLength] = {1, 2, 3};
  ParseGoodCodeData(nullptr, code);
  EXPECT_EQ(std::vector<uint8_t>(kGoodCodeLength, 0), std::vector<uint8_t>(code, code + kGoodCodeLength));
}

TEST(AgentData, VatinsAndLimits) {
  TiXmlDocument doc;
  doc.Parse(Element("AgentData", {{"PayingAgentOperation", std::string(30, 'O')},
                                  {"PayingAgentPhone", std::string(25, '1')},
                                  {"MoneyTransferOperatorAddress", std::string(300, 'A')},
                                  {"MoneyTransferOperatorVATIN", "12345678901"}})
                .c_str(),
            nullptr, TIXML_ENCODING_UTF8);
  AgentBlock block;
  std::snprintf(block.szPurveyorName, sizeof block.szPurveyorName, "%s", "kept");
  ParseAgentData(doc.FirstChildElement(), &block);
  EXPECT_EQ(std::string(24, 'O'), block.szPayingAgentOperation);
  EXPECT_EQ(std::string(19, '1'), block.szPayingAgentPhone);
  EXPECT_EQ(std::string(256, 'A'), block.szMoneyTransferOperatorAddress);
  EXPECT_STREQ("", block.szMoneyTransferOperatorVATIN);  // eleven characters
  EXPECT_STREQ("kept", block.szPurveyorName);            // the supplier part is not the agent's
  ParsePurveyorData(nullptr, &block);
  EXPECT_STREQ("", block.szPurveyorName);
}

TEST(Barcodes, KnownTypesAndTheMessagesOfABadElement) {
  const std::string tag = "Tag \"Barcode\"->";
  struct Case {
    Attrs attrs;
    int32_t code;
    BarcodeKind kind;
    std::string message;
  } cases[] = {
      {{{"BarcodeType", "EAN13"}, {"Barcode", "4601234567890"}}, 0, kBarcodeEan13, ""},
      {{{"BarcodeType", "EAN8"}, {"Barcode", "46012345"}}, 0, kBarcodeEan8, ""},
      {{{"BarcodeType", "CODE39"}, {"Barcode", "ABC-1"}}, 0, kBarcodeCode39, ""},
      {{{"BarcodeType", "QR"}, {"Barcode", "t=20260101T1200&s=1.00"}}, 0, kBarcodeQr, ""},
      {{{"Barcode", "1"}}, 121, kBarcodeNone, tag + "\"BarcodeType\" error"},
      {{{"BarcodeType", ""}, {"Barcode", "1"}}, 121, kBarcodeNone, tag + "\"BarcodeType\" error"},
      {{{"BarcodeType", "PDF417"}, {"Barcode", "1"}},
       121,
       kBarcodeNone,
       tag + "\"BarcodeType\" error: PDF417"},
      {{{"BarcodeType", "ean13"}, {"Barcode", "1"}}, 121, kBarcodeNone, tag + "\"BarcodeType\" error: ean13"},
      {{{"BarcodeType", std::string(250, 'T')}},
       121,
       kBarcodeNone,
       tag + "\"BarcodeType\" error: " + std::string(200, 'T')},
      {{{"BarcodeType", "QR"}}, 121, kBarcodeQr, tag + "\"Barcode\" error"},
      {{{"BarcodeType", "EAN8"}, {"Barcode", ""}}, 121, kBarcodeEan8, tag + "\"Barcode\" error"},
  };
  for (const Case& c : cases) {
    TiXmlDocument doc;
    doc.Parse(Element("Barcode", c.attrs).c_str(), nullptr, TIXML_ENCODING_UTF8);
    CheckBarcode barcode;
    std::string message;
    EXPECT_EQ(c.code, ParseBarcode(doc.FirstChildElement(), &barcode, &message)) << c.message;
    EXPECT_EQ(c.kind, barcode.kind) << c.message;
    EXPECT_EQ(c.message, message);
    if (c.code == 0) {
      EXPECT_EQ(*c.attrs[1].value, barcode.data);
    }
  }
}

// The pre-check against the virtual printer: it reads the rates and sends nothing else.
class PreCheckTest : public DeviceOnLine {
 protected:
  PreCheckTest() : DeviceOnLine(51, 1500) {}

  void SetUp() override {
    DeviceOnLine::SetUp();
    messages().clear();
    ctx.pfnLogMessageH = [](FPContext*, const char* name, const char* text) {
      messages().push_back(std::string(name) + ": " + text);
    };
    line.printer.ClearTrace();
  }

  static std::vector<std::string>& messages() {
    static std::vector<std::string> lines;
    return lines;
  }

  bool Test(const std::string& text) {
    Parsed p(text);
    EXPECT_FALSE(p.doc.Error()) << text;
    return TestCheckXML(&ctx, &p.doc);
  }
};

TEST_F(PreCheckTest, AcceptsAPackageAfterReadingTheRates) {
  printer.ModifyState([](emu::PrinterState& s) { s.taxRates[2] = 1800; });
  const std::string items = Element("TextString", {{"Text", "x"}}) + Element("FiscalString", kItem) +
                            Element("FiscalString", With(kItem, {"Quantity", "100000"}));
  EXPECT_TRUE(Test(Package(kParameters, kPayments, items)));
  EXPECT_EQ(0, ctx.nLastResult);
  EXPECT_EQ(1800, ctx.anTaxRates[2]);
  EXPECT_EQ(std::vector<std::string>{"S3"}, line.Commands());
  EXPECT_TRUE(messages().empty());
}

TEST_F(PreCheckTest, RefusesABadPackageBeforeAnyCommand) {
  const std::string tag = "Tag \"FiscalString\"->";
  const std::string good = Element("FiscalString", kItem);
  struct Case {
    std::string positions;
    int32_t code;
    std::string message;
  } cases[] = {
      {"", 121, "Check is empty. Tags \"FiscalString\" is absent"},
      {Element("TextString", {{"Text", "x"}}) + Element("Barcode", {{"BarcodeType", "EAN13"}}), 121,
       "Check is empty. Tags \"FiscalString\" is absent"},
      {good + Element("FiscalString", With(kItem, {"Name", kAbsent})), 142,
       tag + "\"Name\" missing or empty"},
      {good + Element("FiscalString", With(kItem, {"Quantity", "1,5"})), 145,
       tag + "\"Quantity\" error: 1,5"},
      {good + Element("FiscalString", With(kItem, {"Quantity", kAbsent})), 145,
       tag + "\"Quantity\" missing or empty"},
      {Element("FiscalString", With(kItem, {"PriceWithDiscount", "-1"})), 143,
       tag + "\"PriceWithDiscount\" error: -1"},
      {Element("FiscalString", With(kItem, {"SumWithDiscount", ""})), 144,
       tag + "\"SumWithDiscount\" missing or empty"},
      {Element("FiscalString", With(kItem, {"Tax", kAbsent})), 12, tag + "\"Tax\" missing or empty"},
  };
  for (const Case& c : cases) {
    messages().clear();
    EXPECT_FALSE(Test(Package(kParameters, kPayments, c.positions))) << c.message;
    EXPECT_EQ(c.code, ctx.nLastResult) << c.message;
    EXPECT_EQ(std::vector<std::string>{"TestCheckXML: " + c.message}, messages());
  }
  messages().clear();
  EXPECT_FALSE(Test("<CheckPackage>" + Element("Parameters", kParameters) + "</CheckPackage>"));
  EXPECT_EQ(std::vector<std::string>{"TestCheckXML: Tag \"Positions\" is absent"}, messages());
  messages().clear();
  EXPECT_FALSE(Test("<Check/>"));
  EXPECT_EQ(std::vector<std::string>{"TestCheckXML: Tag \"CheckPackage\" is absent"}, messages());
  // Nothing but the rates query reached the printer.
  for (const std::string& command : line.Commands()) EXPECT_EQ("S3", command);
}

TEST_F(PreCheckTest, NoDocumentOrNoRates) {
  EXPECT_FALSE(TestCheckXML(&ctx, nullptr));
  EXPECT_EQ(121, ctx.nLastResult);
  EXPECT_EQ(std::vector<std::string>{"TestCheckXML: Check is absent"}, messages());
  EXPECT_TRUE(line.Commands().empty());

  messages().clear();
  CloseSerial(&ctx);
  EXPECT_FALSE(Test(Package(kParameters, kPayments, Element("FiscalString", kItem))));
  EXPECT_NE(0, ctx.nLastResult);
  EXPECT_EQ(std::vector<std::string>{"TestCheckXML: Get data S3 error"}, messages());
}

}  // namespace

// A package whose last UTF-8 character is cut short is refused, and never read past its buffer: the
// text sits in a buffer of exactly its size, so the sanitizer build sees any read past it.
TEST(HostXml, TextEndingInACutUtf8CharacterIsRefusedWithinItsBuffer) {
  const std::vector<std::string> texts = {
      "<InputParameters><Parameters CashierName=\"\xD0",
      "<InputParameters><Parameters CashierName=\"&\xF0",
      "<CheckPackage><Parameters CashierName=\"a\"/>\xE0",
      "<Document>text\xF4",
      "\xD0",
  };
  for (const std::string& text : texts) {
    std::vector<char> exact(text.begin(), text.end());
    exact.push_back('\0');
    TiXmlDocument document;
    XmlFault fault;
    EXPECT_FALSE(ParseHostXml(&document, exact.data(), &fault)) << text;
  }
}

TEST(HostXml, NoTextIsAnEmptyDocument) {
  TiXmlDocument document;
  XmlFault fault;
  ParseHostXml(&document, nullptr, &fault);
  EXPECT_EQ(document.RootElement(), nullptr);
}
