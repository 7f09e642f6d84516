// The link protocol: frames STX text ETX BCC, answered by ACK, NAK, ENQ or a frame; transactions
// with NAK and busy retries; reception and dispatch of answers.
#pragma once

#include <cstdint>

#include "device/fp_context.h"
#include "device/serial_port.h"

namespace ctl {
constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t ENQ = 0x05;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t LF = 0x0A;
constexpr uint8_t ENQ2 = 0x11;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t ENQT = 0x1A;
}  // namespace ctl

// Positive results of a transaction: the kind of answer received.
enum AnswerKind : int {
  kAnswerNak = 1,
  kAnswerStatus = 2,
  kAnswerStatus2 = 5,
  kAnswerEnqtStatus = 16,
};

// What AcceptData is waiting for.
enum ExpectedAnswer : int {
  kExpectCommandAnswer = 0,
  kExpectEnqStatus = 1,
  kExpectEnq2Status = 2,
  kExpectEnqtStatus = 3,
};

constexpr int kMaxCommandLength = 296;

uint8_t CalcBCC(const uint8_t* bytes, int count);
const char* LinkResultText(int code);

// Byte <-> two characters 0x30 + nibble, high nibble first.
void ToNibbleChars(uint8_t value, char* out);
uint8_t FromNibbleChars(const char* in);

int ExecTransaction(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand);
int ExecTransactionHZRR520(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand);
int StartLongTransaction(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand);
int AcceptData(FPContext* ctx, int expected, bool log, bool longCommand);
int WaitFPPresent(FPContext* ctx);
// The device asked for attention instead of answering (its ENQ, or a piece of text it sends in
// place of an answer): acknowledge, read its status and, on printers that keep an error code, the
// extended status. The command then counts as refused or busy, like a status answer.
int HandleDeviceEnq(FPContext* ctx);
// The send-log line of a command frame: "[02]", the text, "[03]" and the check character.
void LogSentFrame(FPContext* ctx, const char* cmd, int length, uint8_t bcc, int sendResult);
