// One item of a receipt as the check package gives it (filled by the package reader in src/receipts),
// and the agent and supplier data that items and receipts carry. The item commands of the device
// take their fiscal tags from it, which is why it lives at the device level. Texts are Windows-1251,
// zero-terminated; an empty text or a zero number means "not given".
#pragma once

#include <cstdint>

struct AgentBlock {
  char szPayingAgentOperation[25] = {};
  char szPayingAgentPhone[20] = {};
  char szReceivePaymentsOperatorPhone[20] = {};
  char szMoneyTransferOperatorPhone[20] = {};
  char szMoneyTransferOperatorName[65] = {};
  char szMoneyTransferOperatorAddress[257] = {};
  char szMoneyTransferOperatorVATIN[13] = {};  // 10 or 12 characters, blank-padded to 12, else empty
  char szPurveyorPhone[20] = {};
  char szPurveyorName[257] = {};
  char szPurveyorVATIN[13] = {};
};

constexpr int kGoodCodeLength = 32;

struct CheckPosition {
  char szName[65] = {};
  double dQuantity = 0;
  double dPriceWithDiscount = 0;  // roubles
  double dSumWithDiscount = 0;    // roubles
  double dDiscountSum = 0;        // roubles
  int32_t nDepartment = 0;
  double dTaxRate = 0;  // percent, -1 without VAT
  int32_t nTaxGroup = 0;
  int32_t nSignMethodCalculation = 0;  // 0: absent
  int32_t nSignCalculationObject = 0;  // 0: absent
  uint8_t nAgentSignMask = 0;
  AgentBlock agent;
  char szMeasurementUnit[17] = {};
  uint8_t abGoodCode[kGoodCodeLength] = {};  // fiscal tag 1162: stamp type, GTIN, serial number
};
