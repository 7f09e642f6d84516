// Check packages as the host writes them, and the receipt's own commands among those a printer
// received: what the ProcessCheck tests at the driver and at the host level share.
#pragma once

#include <string>
#include <vector>

// A check package of one sale or return: `positions` and `payments` are the inner XML.
inline std::string Package(const std::string& paymentType, const std::string& positions,
                           const std::string& payments) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CheckPackage>"
         "<Parameters CashierName=\"Ivanova\" PaymentType=\"" +
         paymentType + "\" TaxVariant=\"0\"/><Positions>" + positions + "</Positions><Payments " + payments +
         "/></CheckPackage>";
}

inline std::string Item(const std::string& quantity, const std::string& price, const std::string& sum,
                        const std::string& tax = "20") {
  return "<FiscalString Name=\"Tea\" Quantity=\"" + quantity + "\" PriceWithDiscount=\"" + price +
         "\" SumWithDiscount=\"" + sum + "\" Tax=\"" + tax +
         "\" Department=\"1\" SignMethodCalculation=\"4\" SignCalculationObject=\"1\"/>";
}

// `package` as an electronic receipt's: with the buyer's e-mail it is sent to.
inline std::string Electronic(std::string package) {
  const std::string parameters = "<Parameters ";
  const size_t at = package.find(parameters);
  if (at != std::string::npos) package.insert(at + parameters.size(), "CustomerEmail=\"buyer@example.ru\" ");
  return package;
}

// The receipt commands of a call: from the tax system on, without the status and information
// queries (and the fiscal-sign query) in between.
inline std::vector<std::string> ReceiptCommands(const std::vector<std::string>& all) {
  std::vector<std::string> receipt;
  bool started = false;
  for (const std::string& c : all) {
    started = started || c == "mA";
    if (started && c[0] != 'S') receipt.push_back(c);
  }
  return receipt;
}
