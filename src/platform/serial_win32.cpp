// Serial port on Windows: the communications API itself. The port handle is the file handle of
// "\\.\COMn", opened for synchronous (non-overlapped) I/O.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/deadline.h"
#include "platform/serial.h"

namespace plat {
namespace {

HANDLE HandleOf(PortHandle h) {
  if (h == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return static_cast<HANDLE>(h);
}

// The DCB members the driver sets, written over what GetCommState reported; every other member
// (XonLim, EvtChar, ...) keeps the system's value.
void Overlay(const SerialState& s, DCB* dcb) {
  dcb->BaudRate = s.BaudRate;
  dcb->fBinary = s.fBinary;
  dcb->fParity = s.fParity;
  dcb->fOutxCtsFlow = s.fOutxCtsFlow;
  dcb->fOutxDsrFlow = s.fOutxDsrFlow;
  dcb->fDtrControl = s.fDtrControl;
  dcb->fDsrSensitivity = s.fDsrSensitivity;
  dcb->fTXContinueOnXoff = s.fTXContinueOnXoff;
  dcb->fOutX = s.fOutX;
  dcb->fInX = s.fInX;
  dcb->fErrorChar = s.fErrorChar;
  dcb->fNull = s.fNull;
  dcb->fRtsControl = s.fRtsControl;
  dcb->fAbortOnError = s.fAbortOnError;
  dcb->ByteSize = s.ByteSize;
  dcb->Parity = s.Parity;
  dcb->StopBits = s.StopBits;
}

SerialState StateOf(const DCB& dcb) {
  SerialState s;
  s.BaudRate = dcb.BaudRate;
  s.fBinary = static_cast<uint8_t>(dcb.fBinary);
  s.fParity = static_cast<uint8_t>(dcb.fParity);
  s.fOutxCtsFlow = static_cast<uint8_t>(dcb.fOutxCtsFlow);
  s.fOutxDsrFlow = static_cast<uint8_t>(dcb.fOutxDsrFlow);
  s.fDtrControl = static_cast<uint8_t>(dcb.fDtrControl);
  s.fDsrSensitivity = static_cast<uint8_t>(dcb.fDsrSensitivity);
  s.fTXContinueOnXoff = static_cast<uint8_t>(dcb.fTXContinueOnXoff);
  s.fOutX = static_cast<uint8_t>(dcb.fOutX);
  s.fInX = static_cast<uint8_t>(dcb.fInX);
  s.fErrorChar = static_cast<uint8_t>(dcb.fErrorChar);
  s.fNull = static_cast<uint8_t>(dcb.fNull);
  s.fRtsControl = static_cast<uint8_t>(dcb.fRtsControl);
  s.fAbortOnError = static_cast<uint8_t>(dcb.fAbortOnError);
  s.ByteSize = dcb.ByteSize;
  s.Parity = dcb.Parity;
  s.StopBits = dcb.StopBits;
  return s;
}

// The N of a DOS device name "COM<N>", 0 for any other name.
int PortOfDeviceName(const char* name) {
  if (strncmp(name, "COM", 3) != 0 || name[3] == '\0') return 0;
  int port = 0;
  for (const char* p = name + 3; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || port > 99999) return 0;
    port = port * 10 + (*p - '0');
  }
  return port;
}

// The list of all DOS device names, NUL-separated and ending with an empty name. The list of a
// machine with many devices may be long, so the buffer grows until it fits.
bool DosDeviceNames(std::vector<char>* names) {
  constexpr size_t kLargest = 16u << 20;
  for (size_t size = 64u << 10; size <= kLargest; size *= 2) {
    names->assign(size, '\0');
    if (QueryDosDeviceA(nullptr, names->data(), static_cast<DWORD>(size)) != 0) return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  }
  return false;
}

}  // namespace

PortHandle SerialOpen(int port) {
  if (port < 1) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  char name[20];  // "\\.\COM" and any int fit
  snprintf(name, sizeof name, "\\\\.\\COM%d", port);
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

bool SerialSetupQueues(PortHandle h, uint32_t inQueue, uint32_t outQueue) {
  HANDLE port = HandleOf(h);
  return port != nullptr && SetupComm(port, inQueue, outQueue) != FALSE;
}

bool SerialGetState(PortHandle h, SerialState* state) {
  HANDLE port = HandleOf(h);
  if (port == nullptr) return false;
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return false;
  *state = StateOf(dcb);
  return true;
}

bool SerialSetState(PortHandle h, const SerialState& state) {
  HANDLE port = HandleOf(h);
  if (port == nullptr) return false;
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return false;
  Overlay(state, &dcb);
  return SetCommState(port, &dcb) != FALSE;
}

bool SerialGetTimeouts(PortHandle h, SerialTimeouts* timeouts) {
  HANDLE port = HandleOf(h);
  COMMTIMEOUTS ct;
  if (port == nullptr || !GetCommTimeouts(port, &ct)) return false;
  timeouts->ReadIntervalTimeout = ct.ReadIntervalTimeout;
  timeouts->ReadTotalTimeoutMultiplier = ct.ReadTotalTimeoutMultiplier;
  timeouts->ReadTotalTimeoutConstant = ct.ReadTotalTimeoutConstant;
  timeouts->WriteTotalTimeoutMultiplier = ct.WriteTotalTimeoutMultiplier;
  timeouts->WriteTotalTimeoutConstant = ct.WriteTotalTimeoutConstant;
  return true;
}

bool SerialSetTimeouts(PortHandle h, const SerialTimeouts& timeouts) {
  HANDLE port = HandleOf(h);
  if (port == nullptr) return false;
  COMMTIMEOUTS ct;
  ct.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
  ct.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
  ct.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
  ct.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
  ct.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
  return SetCommTimeouts(port, &ct) != FALSE;
}

bool SerialPurge(PortHandle h, uint32_t flags) {
  HANDLE port = HandleOf(h);
  return port != nullptr && PurgeComm(port, flags) != FALSE;
}

bool SerialClearError(PortHandle h, uint32_t* errors, SerialQueues* queues) {
  HANDLE port = HandleOf(h);
  if (port == nullptr) return false;
  DWORD flags = 0;
  COMSTAT stat;
  memset(&stat, 0, sizeof stat);
  if (!ClearCommError(port, &flags, &stat)) return false;
  if (errors != nullptr) *errors = flags;
  if (queues != nullptr) {
    queues->cbInQue = stat.cbInQue;
    queues->cbOutQue = stat.cbOutQue;
  }
  return true;
}

bool SerialModemStatus(PortHandle h, uint32_t* bits) {
  HANDLE port = HandleOf(h);
  DWORD status = 0;
  if (port == nullptr || !GetCommModemStatus(port, &status)) return false;
  *bits = status;
  return true;
}

bool SerialRead(PortHandle h, void* buf, uint32_t wanted, uint32_t* got) {
  HANDLE port = HandleOf(h);
  if (port == nullptr) return false;
  SetLastError(ERROR_SUCCESS);
  DWORD count = 0;
  const BOOL ok = ReadFile(port, buf, wanted, &count, nullptr);
  *got = count;
  return ok != FALSE;
}

// A synchronous port offers no wait that ends on input within a time limit, so the input queue
// is looked at every millisecond (Sleep's granularity may make that coarser).
bool SerialWaitInput(PortHandle h, uint32_t ms) {
  HANDLE port = HandleOf(h);
  if (port == nullptr) return false;
  const Deadline deadline(ms);
  for (;;) {
    DWORD flags = 0;
    COMSTAT stat;
    memset(&stat, 0, sizeof stat);
    if (!ClearCommError(port, &flags, &stat)) return false;
    if (stat.cbInQue > 0) return true;
    if (deadline.Expired()) return false;
    Sleep(1);
  }
}

bool SerialWrite(PortHandle h, const void* buf, uint32_t count, uint32_t* written) {
  HANDLE port = HandleOf(h);
  if (port == nullptr) return false;
  SetLastError(ERROR_SUCCESS);
  DWORD done = 0;
  const BOOL ok = WriteFile(port, buf, count, &done, nullptr);
  *written = done;
  return ok != FALSE;
}

bool SerialClose(PortHandle h) {
  HANDLE port = HandleOf(h);
  return port != nullptr && CloseHandle(port) != FALSE;
}

std::vector<int> SerialPortNumbers() {
  try {
    std::vector<char> names;
    std::vector<int> ports;
    if (!DosDeviceNames(&names)) return ports;
    for (const char* name = names.data(); *name != '\0'; name += strlen(name) + 1) {
      const int port = PortOfDeviceName(name);
      if (port > 0) ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
  } catch (...) {  // out of memory: no list rather than an exception through the platform API
    return {};
  }
}

}  // namespace plat
