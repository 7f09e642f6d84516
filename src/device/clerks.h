// Access to the printer: the operator password, the POS number and the clerks (numbers 1..16, each
// with a secret of up to five digits that the printer checks when the clerk logs on). Each function
// logs under its own name, stores its driver result code in nLastResult and returns it.
#pragma once

#include <cstdint>

#include "device/fp_context.h"

constexpr int kClerkCount = 16;
constexpr int kSecretAttempts = 20;

// The secret the driver gives clerk 1..16 at the POS number on attempt 0..kSecretAttempts-1:
// 1..99999, different for every clerk of one POS number and attempt. The same for every run.
int32_t GeneratedClerkSecret(int clerk, int posNumber, int attempt);

// Sends the operator password (exactly six characters, else 18 before anything is sent).
int32_t SendCPswd(FPContext* ctx, const char* password);
// SendCPswd; once accepted the password is kept in szOperatorPassword.
int32_t SetCPswd(FPContext* ctx, const char* password);
// 0..99 (0..9999 from major 6 on), else 19; kept in anClerkSecrets[0] once accepted.
int32_t ProgramPOS_Id(FPContext* ctx, int posNumber);

int32_t LogOnBySecret(FPContext* ctx, long secret);
int32_t LogOffClerk(FPContext* ctx);
// Programs clerk n with `secret` and `name` after sending the operator password. Once the printer
// accepts, the secret is remembered in anClerkSecrets[n]: later logons depend on it.
int32_t ProgramClerk(FPContext* ctx, int n, long secret, const char* name);
// The taxpayer number of clerk 1..7 (only the supported model is programmed).
int32_t ProgramClerkINN(FPContext* ctx, int n, const char* taxpayerNumber);
// Programs clerk n with its known secret, else with generated secrets until one is accepted.
int32_t SafeProgramClerk(FPContext* ctx, int n, const char* name);
// Logs clerk n on with its known secret; 26 when it has none.
int32_t SafeLogOn(FPContext* ctx, int n);
// Programs clerk n and logs it on.
int32_t SetClerk(FPContext* ctx, int n, const char* name);
// Logs every clerk on with its secret and off again; *needsProgramming tells whether any was refused.
// 20 when the printer turns out to be blocked by the shift's time.
int32_t ClerkSecretsTest(FPContext* ctx, int32_t* needsProgramming);
// Programs clerks 1..16 named "001".."016" (models 9.1..9.3 and 11.1; nothing to do on others).
int32_t ProgramClerkSecrets(FPContext* ctx);
