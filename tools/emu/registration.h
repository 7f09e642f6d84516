// The fiscal registration as the virtual printer keeps it: what the registration-data queries
// ("Su#", "Su>", "Su*", "Su-", "S{_") answer with. Texts are UTF-8 and go out in the printer's
// character set.
//
// The registration commands change it: "Sum" collects the registration's attributes, "PM"
// registers the fiscal drive with them (or changes the registration of a registered one) and
// "BFS" closes the drive, each with its document in the drive.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace emu {

class CommandTable;

struct Registration {
  int64_t dateTime = 1767261600;  // 2026-01-01 10:00 UTC, the registration report's time
  uint8_t workModes = 0x20;       // bit 5: settlements over the internet
  uint8_t extra = 0;
  uint32_t documentNumber = 1;
  uint32_t fiscalSign = 1234567890;
  std::string ofdTaxpayerNumber = "7704211201";              // selector "0"
  std::string text1 = "000000000000";                        // selector "1"
  std::string placeSettle = "Магазин №1";                    // selector "2"
  std::string senderEmail = "kassa@example.ru";              // selector "3"
  std::string ofdName = "ООО \"Оператор\"";                  // selector "4"
  std::string organizationName = "ООО \"Ромашка\"";          // selector "5"
  std::string addressSettle = "г. Москва, ул. Тверская, 1";  // selector "6"
  std::string fnsWebSite = "www.nalog.gov.ru";               // tag 1060
  std::string automatNumber;                                 // automatic device, up to 12
  uint8_t agentSigns = 0;
  uint8_t activityFlags = 0;
  bool printerInAutomat = false;
  // "Sum": the attributes the next registration takes, by tag (texts UTF-8, byte values as bytes).
  // "Sum" alone starts them afresh.
  std::map<int, std::string> pending;
};

// Device error codes with which the printer refuses these commands.
constexpr uint8_t kErrorDriveState = 2;  // the fiscal drive's phase does not allow the command

void AddRegistrationCommands(CommandTable* table);

struct PrinterState;
// A new fiscal drive, never registered: the register is not fiscal, the drive is ready for its
// registration and holds no document, and there is no registration data, user or taxpayer number.
void MakeUnregistered(PrinterState* s);

}  // namespace emu
