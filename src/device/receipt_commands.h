// Receipt commands of the printer. Each sends one command as one transaction after waiting for an
// idle printer, stores its driver result code in nLastResult and returns it.
#pragma once

#include <cstdint>

#include "device/fp_context.h"

// Card payment details printed on the receipt: two texts of at most 25 characters each (null
// counts as empty), padded with blanks.
int32_t CardAuthData(FPContext* ctx, const char* text1, const char* text2);
