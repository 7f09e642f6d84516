// The steps the receipt, printing and payment commands share: model tests, the return line with the
// result in nLastResult, and a command text built in a growing string so that no text length can
// overrun it. Only the command sources include this.
#pragma once

#include <cstdint>
#include <string>

#include "device/fp_context.h"

namespace devcmd {

constexpr int kReplyDelayMs = 110;
// Answers read without a pause. The printer's command list gives each command one of these three
// values; they are kept as it gives them.
constexpr int kNoPause1 = -1;
constexpr int kNoPause2 = -2;
constexpr int kNoPause3 = -3;
constexpr int32_t kCodeLinkRefused = 5;  // a text longer than the link takes, as MapLinkResult says it
constexpr int32_t kCodeNotSupported = 35;

inline bool IsSupportedModel(const FPContext* ctx) {
  return ctx->nVersionMajor == 11 && ctx->nVersionMinor == 1;
}

// Stores the code in nLastResult, writes the return line and returns the code.
int32_t Finish(FPContext* ctx, const char* name, int32_t code);
// ExecTransaction followed by MapLinkResult, then Finish.
int32_t Exec(FPContext* ctx, const char* name, const std::string& cmd, int pauseMs);
// StdTransaction, then Finish. A text longer than the link takes is refused with 5 before anything
// goes out.
int32_t Std(FPContext* ctx, const char* name, const std::string& cmd, int pauseMs);

// Appends the text (null counts as empty) and recodes the appended characters only.
void AppendRecoded(FPContext* ctx, std::string* cmd, const char* text);
// Appends each byte as two nibble characters.
void AppendNibbles(std::string* cmd, const uint8_t* bytes, size_t count);
// Up to `limit` characters of a text; null counts as empty.
std::string Cut(const char* text, size_t limit);

}  // namespace devcmd
