// A receipt in the fiscal data format with every tag its kind must carry, built directly with the
// format's writer: what a fiscal drive hands the operator, for tests of the OFD side.
#pragma once

#include <cstdint>

#include "ffd/ffd.h"

namespace testing_support {

constexpr char kReceiptDrive[] = "9999078900012345";

// A sale of two items of 150.00 paid 200.00 in cash and 100.00 by card, on 2026-12-09 12:00.
inline ffd::Container ReceiptContainer(uint32_t number) {
  ffd::DocumentHeader h;
  h.type = ffd::kReceipt;
  h.number = number;
  h.dateTime = 1796817600;
  h.registrationNumber = "0000000001012345";
  h.driveNumber = kReceiptDrive;
  h.fiscalSign = 3141592653u;
  h.userName = "OOO Test";
  h.userInn = "7701234567";
  h.address = "Moscow";
  h.place = "Shop";
  ffd::TlvWriter item;
  item.U8(ffd::tag::kItemMethod, 4)
      .U8(ffd::tag::kItemSubject, 1)
      .String(ffd::tag::kItemName, "Milk")
      .Vln(ffd::tag::kItemPrice, 15000)
      .Fvln(ffd::tag::kItemQuantity, 3, 1000)
      .U8(ffd::tag::kVatRate, 1)
      .Vln(ffd::tag::kItemSum, 15000);
  ffd::TlvWriter body;
  body.U32(ffd::tag::kReceiptNumber, 1)
      .U32(ffd::tag::kShiftNumber, 1)
      .U8(ffd::tag::kOperationType, 1)
      .U8(ffd::tag::kTaxSystem, 1)
      .Stlv(ffd::tag::kItem, item)
      .Stlv(ffd::tag::kItem, item)
      .Vln(ffd::tag::kTotal, 30000)
      .Vln(ffd::tag::kCash, 20000)
      .Vln(ffd::tag::kCashless, 10000)
      .Vln(ffd::tag::kAdvance, 0)
      .Vln(ffd::tag::kCredit, 0)
      .Vln(ffd::tag::kProvision, 0)
      .String(ffd::tag::kCashier, "Ivanova");
  return ffd::DocumentContainer(h, body.bytes());
}

// The session header and the container, as the relay sends them.
inline ffd::Bytes ReceiptMessage(uint32_t number) {
  return ffd::BuildMessage(ReceiptContainer(number));
}

}  // namespace testing_support
