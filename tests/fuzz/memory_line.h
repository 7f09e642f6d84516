// The fuzz build's serial port and OFD connection: in-memory lines whose far side says what the
// fuzzer gives it, so that the driver reads the fuzzer's bytes as the printer's and the server's
// answers, at memory speed and without a pseudo-terminal or a socket. It replaces the serial and
// TCP facilities of the platform layer in the fuzz build only.
//
// Both far sides speak in pieces: a script is a run of parts, each a length byte and that many
// bytes (the last part keeps what is left when the script ends early); a part of 255 bytes goes on
// in the next part, so that a piece can be of any length. The printer puts its next
// piece on the line each time the driver writes to the port, as a device answers what it is sent;
// the server hands one piece to each receive and closes the connection after its last one. A read
// that finds nothing waiting ends at once, as a time-out would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace memline {

// The pieces of a script, in order.
std::vector<std::string> SplitPieces(const uint8_t* data, size_t size);
// The script of `pieces`, for seeds and canned answers.
std::string JoinPieces(const std::vector<std::string>& pieces);

// Starts a fresh exchange: the printer's answers, one a write, and the server's answer pieces.
// Everything written and anything unread from an earlier exchange is forgotten.
void SetPrinterAnswers(std::vector<std::string> pieces);
void SetServerAnswer(std::vector<std::string> pieces);

// Ends the exchange: both lines are forgotten and what they held is freed. An input that ends so
// leaves no allocation behind, which spares it the fuzzer's leak check (a search of the whole heap
// that it makes after any input whose allocations and frees do not pair up, and that costs far more
// than the input itself).
void Forget();

// What the driver wrote to the port and sent to the server in this exchange.
std::string PrinterInput();
std::string ServerInput();

}  // namespace memline
