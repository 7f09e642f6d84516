// The serial port as the device functions use it. Results are link result codes:
// 0 ok, -1 port not available, -2 no device, -3 transmit time-out, -4 receive time-out.
#pragma once

#include <cstdint>

#include "device/fp_context.h"

enum LinkResult : int {
  kLinkOk = 0,
  kLinkNoPort = -1,
  kLinkNoDevice = -2,
  kLinkSendTimeout = -3,
  kLinkReceiveTimeout = -4,
  kLinkProtocolError = -5,
};

// Baud rate of a speed code 0..6 (4800..115200), 0 for any other code.
uint32_t BaudRateOfCode(int code);

int OpenSerial2(FPContext* ctx, int port, int baudRateCode);
int CloseSerial(FPContext* ctx);
// Closes the port for a fresh open: a close that fails has given up the system's handle all the same
// (it is never closed twice), and a second close then releases the rest. 0 or -1.
int ReleaseSerial(FPContext* ctx);
int ResetSerial(FPContext* ctx);
// Discards unread input: the count discarded, -1 without a port, -2 or -3 on failure.
int ClearInputBuffer(FPContext* ctx);
int FP_Present(FPContext* ctx);
int SetCommTimeoutsFP(FPContext* ctx, int readMs, int writeMs);
int GetCommTimeoutsFP(FPContext* ctx, int* readMs, int* writeMs);
int PurgeSerial(FPContext* ctx, uint32_t* inPending, uint32_t* outPending);
int SendBuf(FPContext* ctx, const uint8_t* bytes, int count);
int SendChar(FPContext* ctx, uint8_t byte);
int AcceptChar(FPContext* ctx, uint8_t* byte);
int AcceptBuf(FPContext* ctx, uint8_t* buf, uint32_t wanted, uint32_t* got);
// Waits up to ms for input to arrive; false when none came in time or the port failed (the failure
// is logged with the system's text).
bool WaitForInput(FPContext* ctx, uint32_t ms);
// Says whether the first `count` bytes read make a whole answer.
class AnswerEnd {
 public:
  virtual ~AnswerEnd() = default;
  virtual bool Complete(uint32_t count) const = 0;
};
// AcceptBuf for an answer whose length shows only at its end: the read also ends as soon as the
// bytes that came make it whole, rather than when the line falls quiet.
int AcceptBufUntil(FPContext* ctx, uint8_t* buf, uint32_t wanted, uint32_t* got, const AnswerEnd& end);
