// How the virtual printer reacts to each command text: handlers keyed by the text's prefix (the
// longest registered prefix wins), with a default for every command no handler claims. Each
// command's effect on the printer's state lives in its handler, in one place.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "emu/printer_state.h"

namespace emu {

// The printer's answer to one command.
struct Reply {
  enum class Kind { kAccept, kRefuse, kData, kSilent, kRaw };
  Kind kind = Kind::kAccept;
  uint8_t deviceError = 0;  // kRefuse
  uint8_t errorBits = 0;    // kRefuse: status byte 1 bits of the reason
  std::string data;         // kData: the frame's header and body; kRaw: the bytes as they go out

  static Reply Accept() { return {}; }
  static Reply Refuse(uint8_t deviceError, uint8_t errorBits = kCommandError) {
    return {Kind::kRefuse, deviceError, errorBits, {}};
  }
  static Reply Data(std::string headerAndBody) { return {Kind::kData, 0, 0, std::move(headerAndBody)}; }
  // No answer at all, as from a device that stalls.
  static Reply Silent() { return {Kind::kSilent, 0, 0, {}}; }
  // Bytes that are not one frame (the echo of a printed document).
  static Reply Raw(const Bytes& bytes) { return {Kind::kRaw, 0, 0, std::string(bytes.begin(), bytes.end())}; }
};

using CommandHandler = std::function<Reply(PrinterState& state, const std::string& text)>;

class CommandTable {
 public:
  CommandTable();  // with the commands this printer knows
  // Registers (or replaces) the handler of the texts beginning with `prefix`.
  void Add(const std::string& prefix, CommandHandler handler);
  Reply Dispatch(PrinterState& state, const std::string& text) const;

 private:
  struct Entry {
    std::string prefix;
    CommandHandler handler;
  };
  std::vector<Entry> entries_;
};

}  // namespace emu
