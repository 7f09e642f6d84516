// The shift in the virtual printer and its reports: the shift opens with a document in the fiscal
// drive and closes with the Z report and another; the X reports, the accumulated reports, the
// report on the state of settlements (a drive document too), the copies of documents, the
// self-test page, and the registration data the printer answers from its state. Everything printed
// goes on the tape.
#pragma once

#include <cstdint>
#include <string>

#include "emu/command_table.h"
#include "emu/fiscal_drive.h"
#include "emu/printer_state.h"

namespace emu {

// Device error codes with which the printer refuses these commands.
constexpr uint8_t kErrorReportBadParameter = 1;
constexpr uint8_t kErrorReportNoPassword = 41;
constexpr uint8_t kErrorReportOpenDocument = 47;
constexpr uint8_t kErrorReportPaperEnd = 62;
constexpr uint8_t kErrorShiftClosed = 111;

// Opens the shift (when it is closed): the next number, the opening time, the count of its
// documents from 0, and the opening document in the drive.
void BeginShift(PrinterState* s);
// Closes the open shift: the Z report on the tape and the closing document in the drive.
void EndShift(PrinterState* s);
// A shift opened `hours` before the printer's clock, with its opening document dated then: the
// state of a printer switched on in the middle of a long shift.
void OpenShiftHoursAgo(PrinterState* s, int hours);

void AddReportCommands(CommandTable* table);

// The tape: an amount as printed ("-12.05"), a line, and the document number and fiscal sign line
// that ends a signed document.
std::string Money(int64_t kopecks);
void Print(PrinterState* s, const std::string& line);
void PrintSigned(PrinterState* s, const FdSigned& d);

}  // namespace emu
