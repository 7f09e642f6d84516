// What a document of the virtual fiscal drive says was sold, read back from its FFD container as
// the operator reads it: for the fault table's checks and mirel-emu's state file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emu/fiscal_drive.h"

namespace emu {

// Kopecks: the total, and how it was paid: cash net of the change, electronically, by the advance,
// on credit and by provision.
struct Sold {
  int64_t total = -1;
  size_t items = 0;
  int64_t cash = -1;
  int64_t electronic = -1;
  int64_t advance = -1;
  int64_t credit = -1;
  int64_t provision = -1;
  bool operator==(const Sold& o) const {
    return total == o.total && items == o.items && cash == o.cash && electronic == o.electronic &&
           advance == o.advance && credit == o.credit && provision == o.provision;
  }
};

// False for a document that is no receipt or correction receipt, or whose container does not read.
bool ReadSold(const FdDocument& d, Sold* sold);

}  // namespace emu
