// What the printer's programming commands leave in it (emu/programming.h), and the printed tape.
#pragma once

#include <map>
#include <string>

namespace emu {

// The printer's own settings as programmed. Texts are kept as they came on the line, in the
// printer's character set, bold marks (0x7F) included: the printer prints them as it stored them.
struct Programmed {
  std::string headerLines[8];  // "PH": receipt header lines 1..8
  std::string footerLines[8];  // "eP": receipt footer lines 1..8
  int footerAttributes[8] = {};  // 0 normal, 2 double height
  std::string paymentMeans[8];   // "PE": names of payment means 1..8, 14 characters
  int paymentMeanTypes[8] = {};
  std::map<int, std::string> descriptors;  // "PK": descriptor texts by number
  int day = 1, month = 1, year = 26;        // "PG": the calendar date (two-digit year)
  int hour = 0, minute = 0, second = 0;     // "PF": the clock
  int baudCode = 1;                         // "PR": speed code of the line, 0..6
  int clockSwitch = 1;                      // "PRcR": the clock running (1) or stopped (0)
  int flagRR = 0;                           // "PJRR": the service marker
};

// One printed line: its text in UTF-8 (blanks of centring included) and how it was printed.
struct TapeLine {
  std::string text;
  bool bold = false;
  bool doubleHeight = false;

  bool operator==(const TapeLine& other) const {
    return text == other.text && bold == other.bold && doubleHeight == other.doubleHeight;
  }
};

}  // namespace emu
