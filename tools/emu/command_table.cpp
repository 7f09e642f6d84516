#include "emu/command_table.h"

#include "emu/access.h"
#include "emu/fiscal_drive.h"
#include "emu/programming.h"
#include "emu/receipt.h"
#include "emu/records.h"
#include "emu/registration.h"
#include "emu/reports.h"

namespace emu {
namespace {

// Information queries ("S" and a record letter) are accepted; their records come with the
// information commands.
Reply InfoQuery(PrinterState&, const std::string&) {
  return Reply::Accept();
}

// "e" brings the printer out of an error state. Accepting it already clears the last command's
// error code and bits; a print failure goes too, a stuck fault does not.
Reply ClearErrorState(PrinterState& state, const std::string&) {
  state.printFailure = false;
  return Reply::Accept();
}

}  // namespace

CommandTable::CommandTable() {
  Add("S", InfoQuery);
  Add("e", ClearErrorState);
  AddRecordQueries(this);
  AddProgrammingCommands(this);
  AddAccessCommands(this);
  AddFiscalDriveCommands(this);
  AddReceiptCommands(this);
  AddReportCommands(this);
  AddRegistrationCommands(this);
}

void CommandTable::Add(const std::string& prefix, CommandHandler handler) {
  for (Entry& e : entries_) {
    if (e.prefix == prefix) {
      e.handler = std::move(handler);
      return;
    }
  }
  entries_.push_back({prefix, std::move(handler)});
}

Reply CommandTable::Dispatch(PrinterState& state, const std::string& text) const {
  const Entry* best = nullptr;
  for (const Entry& e : entries_) {
    bool matches = text.compare(0, e.prefix.size(), e.prefix) == 0;
    if (matches && (!best || e.prefix.size() > best->prefix.size())) best = &e;
  }
  // A command no handler claims is accepted without effect.
  return best ? best->handler(state, text) : Reply::Accept();
}

}  // namespace emu
