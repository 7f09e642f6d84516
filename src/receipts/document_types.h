// The document layer's numbers shared by its callers: the document types StartDocument opens, and
// the kinds of information GetDocInfo and GetDoubleDeviceInfo answer.
#pragma once

namespace doc {

enum Type : int {
  kNoDocument = 0,
  kSale = 1,
  kSaleReturn = 2,
  kNonFiscal = 3,
  kCashIn = 4,
  kCashOut = 5,
  kRefund = 6,
  kOtherModels = 7,
  kPurchase = 8,
  kPurchaseReturn = 9,
};

// GetDocInfo: the open document's total in kopecks, and nonzero while a document is open.
constexpr int kInfoDocumentTotal = 10;
constexpr int kInfoDocumentOpen = 14;
// GetDoubleDeviceInfo: the cash in the drawer.
constexpr int kInfoDrawerCash = 308;

}  // namespace doc
