// FPContext: the device context record, one per add-in object, the first argument of every device
// function. Each subsystem adds the fields it owns; defaults are set here.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/clock.h"
#include "platform/serial.h"

struct FPContext;

// Logging callbacks. A null pointer means the line is not written; callers test before calling.
using PfnLogEnter = void (*)(FPContext* ctx, const char* name);
using PfnLogReturn = void (*)(FPContext* ctx, const char* name, const char* resultText);
using PfnLogMessage = void (*)(FPContext* ctx, const char* name, const char* text);
using PfnLogSend = void (*)(FPContext* ctx, const char* frameText, const char* resultText);
using PfnLogRecv = void (*)(FPContext* ctx, const char* frameText, const char* kindText);

struct FPContext {
  FPContext() = default;
  FPContext(const FPContext&) = delete;
  FPContext& operator=(const FPContext&) = delete;

  // Port.
  int32_t nComPort = 0;                // open COM port number, 0 when closed
  plat::PortHandle hComPort = nullptr; // open port, null when none
  plat::SerialState dcb;               // port state as last written
  plat::SerialTimeouts commTimeouts;   // time-outs as last written
  uint32_t dwCommErrors = 0;
  plat::SerialQueues comStat;
  int32_t nReadTimeout = 10000;
  int32_t nWriteTimeout = 10000;
  uint8_t bMirel520Mode = 1;           // no hardware handshake; the device counts as always present

  // Transaction.
  int32_t nTransactionPhase = 0;
  int32_t nNakRetries = 30;
  int32_t nNakRetryDelay = 330;
  int32_t nBusyRetries = 30;
  int32_t nBusyRetryDelay = 330;
  int32_t nProtocolErrors = 0;
  int32_t nNakCount = 0;
  int32_t nBusyCount = 0;

  // Status.
  uint8_t status[2] = {0, 0};
  uint8_t status2[2] = {0, 0};
  int32_t nDeviceError = 0;
  int32_t nLastResult = 0;

  // Device identity (set by device recognition).
  int32_t nVersionMajor = 0;
  int32_t nVersionMinor = 0;
  int32_t nContextKind = 1;

  // Logging (the writers are installed by the log subsystem).
  PfnLogEnter pfnLogEnterH = nullptr;
  PfnLogReturn pfnLogReturnH = nullptr;
  PfnLogMessage pfnLogMessageH = nullptr;
  PfnLogEnter pfnLogEnter = nullptr;
  PfnLogReturn pfnLogReturn = nullptr;
  PfnLogMessage pfnLogMessage = nullptr;
  PfnLogSend pfnLogSend = nullptr;
  PfnLogRecv pfnLogRecv = nullptr;
  void* pLogUser = nullptr;            // owner data for callbacks installed by tests and tools

  // Time source of every pause the device functions make.
  plat::Clock* pClock = &plat::SystemClock();

  // Serialises the host's calls and the relay thread on the port (re-entrant, like a critical section).
  std::recursive_mutex csDevice;
};
