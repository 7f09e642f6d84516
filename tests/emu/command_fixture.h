// A printer state and its command table, with the command texts sent straight to the table: the
// effect of a command without the line around it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "emu/command_table.h"
#include "emu/printer_state.h"

class EmuCommands : public ::testing::Test {
 protected:
  emu::Reply Send(const std::string& text) { return table.Dispatch(state, text); }
  bool Accepted(const std::string& text) { return Send(text).kind == emu::Reply::Kind::kAccept; }
  // The device error of a refusal, 0 when the command was not refused.
  uint8_t Refusal(const std::string& text) {
    const emu::Reply r = Send(text);
    return r.kind == emu::Reply::Kind::kRefuse ? r.deviceError : 0;
  }

  emu::CommandTable table;
  emu::PrinterState state;
};
