// Faults of the virtual printer written as text, so that a table of cases and mirel-emu's command
// line name them the same way. A fault text is one fault or several joined by ",", each
// "kind[:arg[:arg]]":
//
//   nak:N                    the next N commands are answered with NAK
//   busy:N                   the next N commands are answered with the busy status
//   bad-check:N              the next N records go out with a wrong check character
//   stray:HEX                these bytes (hex digits, two a byte) go out before the next answer
//   silence:N                the next N frames get no answer at all
//   silence-at:PREFIX:UNITS  the next command beginning with PREFIX is not carried out and gets no
//                            answer, nor do the UNITS frames and status requests after it
//   drop-after:PREFIX:UNITS  the next command beginning with PREFIX is carried out and answered,
//                            then the line is dead for UNITS frames and status requests
//   drop-before-answer:PREFIX:UNITS  likewise, but the command's answer is lost too
//   paper-end-after:PREFIX   the paper runs out once the next command beginning with PREFIX is done
//   print-failure-after:PREFIX  the print head fails likewise
//   restart-after:PREFIX:UNITS  the printer restarts after that command (its open document is
//                            lost) and does not answer UNITS frames and status requests meanwhile
//   refuse:PREFIX:CODE       the next command beginning with PREFIX is refused with error CODE
//   fd-fail:PREFIX:CODE      the fiscal drive refuses the document of that command, error CODE
//   fd-refuse:N              the drive refuses the next N acknowledgements of the OFD
//   fd-stall:N               the drive leaves the next N message block reads without an answer
//   paid-stays-open          a paid sale or purchase stays open for its texts until "t" (printers
//                            of the family do either), so that faults can strike those texts
//   KIND-at:PREFIX:ARG       fault KIND:ARG (nak, busy, bad-check, stray, ...) armed when the next
//                            command beginning with PREFIX arrives: "nak-at:L8:30" refuses that
//                            command 30 times, "bad-check-at:L8:1" spoils the first record after it
//
// Counts are positive decimal numbers, UNITS may be 0; CODE is a byte, decimal or "0x" hexadecimal.
// A command prefix holds no ":" or ",".
#pragma once

#include <string>

#include "emu/virtual_printer.h"

namespace emu {

// Arms every fault of `text` on `printer`. False with a message in `error` (when given) for a fault text
// that does not parse; then nothing of it is armed.
bool ApplyPrinterFault(VirtualPrinter& printer, const std::string& text, std::string* error);

}  // namespace emu
