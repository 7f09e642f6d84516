// What the operator makes of the virtual fiscal drive's documents: each one read as the test OFD
// server reads it, with every tag its kind requires.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emu/fiscal_drive.h"
#include "emu/printer_state.h"
#include "ffd/ffd.h"

namespace testing_support {

inline void ExpectTheOperatorReadsEveryDocument(const emu::PrinterState& s) {
  for (const emu::FdDocument& d : s.fd.documents) {
    if (d.raw) continue;  // loaded as it is by a test of the read path
    ffd::Container c;
    const ffd::ContainerError e = ffd::ParseContainer(d.container.data(), d.container.size(), &c);
    EXPECT_EQ(e, ffd::ContainerError::kNone) << "document " << d.number << ": " << ffd::ContainerErrorText(e);
    std::vector<ffd::Tlv> tags;
    std::string why;
    EXPECT_TRUE(e != ffd::ContainerError::kNone || ffd::ReadDocument(c, &tags, &why))
        << "document " << d.number << " of type " << int{d.type} << ": " << why;
  }
}

}  // namespace testing_support
