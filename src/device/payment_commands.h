// Payment and cash commands of the printer: payments of a receipt by payment type, the return
// payments, cash in and out of the drawer and their total, card details and the drawer. Each waits
// for an idle printer, sends one command as one transaction, stores its driver result code in
// nLastResult and returns it. Amounts are kopecks in a field of ten digits; a payment type (one
// digit) or an amount that does not fit its field gives 13 and nothing is sent.
//
// A payment whose transaction ended in doubt (printer failure, paper end, for some no answer) may
// still have been taken: the printer is asked again, and the payment counts as made when its
// receipt shows closed, or when the command frame was taken and no status can be read.
#pragma once

#include <cstdint>

#include "device/fp_context.h"

// Payments of a sale or purchase receipt; PayAuto pays the rest of the receipt by the type.
int32_t Pay(FPContext* ctx, int type, int64_t amount);
int32_t Pay2(FPContext* ctx, int type, double amount);
int32_t PayAuto(FPContext* ctx, int type);
// Payments of a return receipt.
int32_t ReturnPay(FPContext* ctx, int type, int64_t amount);
int32_t ReturnPay2(FPContext* ctx, int type, double amount);
// Cash put into (MoneyIn) or taken out of (MoneyOut) the drawer, then MoneyInOutTotal, whose "t"
// also closes a receipt after its payments.
int32_t MoneyIn(FPContext* ctx, int type, int64_t amount);
int32_t MoneyOut(FPContext* ctx, int type, int64_t amount);
int32_t MoneyIn2(FPContext* ctx, int type, double amount);
int32_t MoneyOut2(FPContext* ctx, int type, double amount);
int32_t MoneyInOutTotal(FPContext* ctx);
// Card payment details printed on the receipt: two texts of at most 25 characters each (null
// counts as empty), padded with blanks.
int32_t CardAuthData(FPContext* ctx, const char* text1, const char* text2);
// Opens the cash drawer.
int32_t DrawerOpen(FPContext* ctx);
