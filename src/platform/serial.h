// Serial port facility: the operations the device link needs, with the meaning of the Win32
// communications API on every system.
//
// Error rule (platform/system_error.h): every function returning bool returns false on failure and
// leaves the system's error code in SystemLastError() (GetLastError on Windows, errno on POSIX);
// SystemErrorText() turns that code into the system's own text. A read or write that runs out of
// time is NOT a failure: it returns true with a short count, as ReadFile/WriteFile do with
// COMMTIMEOUTS (and so is a time-out that a driver reports as ERROR_SEM_TIMEOUT). SerialRead,
// SerialWrite and SerialWaitInput set the last error to 0 when they start, so after a time-out it
// reads 0.
//
// Time-outs (SerialSetTimeouts) have the Win32 meaning: a read ends when the wanted count has
// arrived, when ReadIntervalTimeout ms pass between two bytes (counted only after the first byte),
// or when ReadTotalTimeoutConstant ms have passed since the call started, whichever comes first.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/system_error.h"

namespace plat {

// Opaque handle of an open port; nullptr means none (the driver stores it in FPContext::hComPort).
using PortHandle = void*;

// The members of the Win32 DCB that the driver sets; the Win32 backend keeps every other member
// as the system reported it.
struct SerialState {
  uint32_t BaudRate = 0;
  uint8_t fBinary = 0;
  uint8_t fParity = 0;
  uint8_t fOutxCtsFlow = 0;
  uint8_t fOutxDsrFlow = 0;
  uint8_t fDtrControl = 0;
  uint8_t fDsrSensitivity = 0;
  uint8_t fTXContinueOnXoff = 0;
  uint8_t fOutX = 0;
  uint8_t fInX = 0;
  uint8_t fErrorChar = 0;
  uint8_t fNull = 0;
  uint8_t fRtsControl = 0;
  uint8_t fAbortOnError = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
};

// Values with the Win32 numbering of the same names.
enum : uint8_t { kDtrControlDisable = 0, kDtrControlEnable = 1, kDtrControlHandshake = 2 };
enum : uint8_t { kRtsControlDisable = 0, kRtsControlEnable = 1, kRtsControlHandshake = 2 };
enum : uint8_t { kNoParity = 0, kOddParity = 1, kEvenParity = 2 };
enum : uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

struct SerialTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// Queue counts as ClearCommError reports them in COMSTAT.
struct SerialQueues {
  uint32_t cbInQue = 0;
  uint32_t cbOutQue = 0;
};

// PurgeComm flags (Win32 values).
enum : uint32_t { kPurgeTxAbort = 0x1, kPurgeRxAbort = 0x2, kPurgeTxClear = 0x4, kPurgeRxClear = 0x8 };
// GetCommModemStatus bit of the DSR line (MS_DSR_ON).
constexpr uint32_t kModemDsrOn = 0x20;
// Line errors SerialClearError reports (Win32 CE_ values); the POSIX backend reports none.
enum : uint32_t {
  kLineInputOverflow = 0x01,
  kLineOverrun = 0x02,
  kLineParity = 0x04,
  kLineFraming = 0x08,
  kLineBreak = 0x10,
};

// Opens COM<port> for exclusive synchronous use ("\\.\COM<port>" on Windows; on POSIX the path in
// the environment variable MIREL_COM<port> when set, else /dev/ttyS<port-1>). nullptr on failure.
PortHandle SerialOpen(int port);
bool SerialSetupQueues(PortHandle h, uint32_t inQueue, uint32_t outQueue);
bool SerialGetState(PortHandle h, SerialState* state);
bool SerialSetState(PortHandle h, const SerialState& state);
bool SerialGetTimeouts(PortHandle h, SerialTimeouts* timeouts);
bool SerialSetTimeouts(PortHandle h, const SerialTimeouts& timeouts);
bool SerialPurge(PortHandle h, uint32_t flags);
bool SerialClearError(PortHandle h, uint32_t* errors, SerialQueues* queues);
// Fails where the modem lines cannot be read (a pseudo-terminal): the error text then says so.
// kModemDsrOn is the bit the driver relies on; the POSIX backend reports no other.
bool SerialModemStatus(PortHandle h, uint32_t* bits);
// Bytes the port has taken from the line ahead of its reads are served first; they count in the
// input queue of SerialClearError and go with a purge of the input.
bool SerialRead(PortHandle h, void* buf, uint32_t wanted, uint32_t* got);
// Waits up to ms for input to be queued, and takes what has come ahead for the reads that follow.
// True as soon as there is some; false when ms passed first (the last error then 0) or the port
// failed (with its error).
bool SerialWaitInput(PortHandle h, uint32_t ms);
bool SerialWrite(PortHandle h, const void* buf, uint32_t count, uint32_t* written);
// A failed close has given up the system's handle all the same (it is never closed twice); the
// port handle stays valid for another SerialClose, which only releases it, and nothing else.
bool SerialClose(PortHandle h);

// Numbers N of the COM ports that exist on this system, ascending.
std::vector<int> SerialPortNumbers();

}  // namespace plat
