// Serial port on Windows: the communications API itself. The port handle is a heap object holding
// the file handle of "\\.\COMn", opened for synchronous (non-overlapped) I/O, and the bytes taken
// from the line ahead of the reads that want them.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/deadline.h"
#include "platform/serial.h"
#include "platform/serial_input.h"

namespace plat {
namespace {

struct Port {
  HANDLE handle = INVALID_HANDLE_VALUE;  // none once a close has given it up
  SerialInput input;
  COMMTIMEOUTS timeouts = {};  // as last set, for reads that go on from bytes taken ahead
  // False while the device may hold other read time-outs than `timeouts` (a wait could not put
  // them back): the next read from the device sets them first.
  bool timeoutsInForce = true;
};

// The port of an open handle; nullptr with ERROR_INVALID_HANDLE for none or one already closed.
Port* PortOf(PortHandle h) {
  Port* port = static_cast<Port*>(h);
  if (port == nullptr || port->handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return port;
}

HANDLE HandleOf(PortHandle h) {
  Port* port = PortOf(h);
  return port != nullptr ? port->handle : nullptr;
}

// Read time-outs under which ReadFile waits up to ms for the bytes it asks for, with no interval
// time-out; ms 0 returns at once with whatever is queued. The write time-outs stay as they are.
// Asked for one byte, such a read ends on the first byte to come. (The combination that would end
// a longer read on its first byte, interval and multiplier MAXDWORD, is not honoured by every
// implementation of the API: Wine waits out the whole constant for the rest.)
COMMTIMEOUTS ReadTimeouts(const COMMTIMEOUTS& port, uint32_t ms) {
  COMMTIMEOUTS t = port;
  t.ReadIntervalTimeout = ms == 0 ? MAXDWORD : 0;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = std::min<uint32_t>(ms, MAXDWORD - 1);
  return t;
}

// Some USB-serial drivers end a read or write that ran out of time with ERROR_SEM_TIMEOUT instead
// of success with a short count; it is the time-out it says, not a failure of the port.
bool Completed(BOOL ok) {
  if (ok) return true;
  if (GetLastError() != ERROR_SEM_TIMEOUT) return false;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool ReadPort(HANDLE handle, uint8_t* buf, uint32_t size, DWORD* count) {
  *count = 0;
  return Completed(ReadFile(handle, buf, size, count, nullptr));
}

// One ReadFile into `buf` under the read time-outs of `ms` over the port's own `port`.
bool ReadWithin(HANDLE handle, const COMMTIMEOUTS& port, uint32_t ms, uint8_t* buf, uint32_t size,
                DWORD* count) {
  COMMTIMEOUTS t = ReadTimeouts(port, ms);
  *count = 0;
  return SetCommTimeouts(handle, &t) && ReadPort(handle, buf, size, count);
}

// Puts the port's own read time-outs back into the device when a wait left others there.
bool TimeoutsInForce(Port* port) {
  if (port->timeoutsInForce) return true;
  if (!SetCommTimeouts(port->handle, &port->timeouts)) return false;
  port->timeoutsInForce = true;
  return true;
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
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  Port* opened = new (std::nothrow) Port;
  if (opened == nullptr) {
    CloseHandle(h);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  opened->handle = h;
  GetCommTimeouts(h, &opened->timeouts);
  return opened;
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
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  COMMTIMEOUTS ct;
  ct.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
  ct.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
  ct.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
  ct.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
  ct.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
  if (!SetCommTimeouts(port->handle, &ct)) return false;
  port->timeouts = ct;
  port->timeoutsInForce = true;
  return true;
}

bool SerialPurge(PortHandle h, uint32_t flags) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  if (flags & (kPurgeRxAbort | kPurgeRxClear)) port->input.Clear();
  return PurgeComm(port->handle, flags) != FALSE;
}

bool SerialClearError(PortHandle h, uint32_t* errors, SerialQueues* queues) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  DWORD flags = 0;
  COMSTAT stat;
  memset(&stat, 0, sizeof stat);
  if (!ClearCommError(port->handle, &flags, &stat)) return false;
  if (errors != nullptr) *errors = flags;
  if (queues != nullptr) {
    queues->cbInQue = stat.cbInQue + port->input.Count();
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

namespace {

// The rest of a read whose first bytes were taken ahead. A ReadFile of its own would wait for its
// first byte until the total time-out, since the bytes that came before it are none of its own; the
// interval between bytes runs from them instead: each further piece is waited for at most the
// interval, the whole at most the total time-out from here.
bool ReadOnAfterTakenBytes(PortHandle h, Port* port, uint8_t* out, uint32_t wanted, uint32_t* got) {
  const COMMTIMEOUTS& t = port->timeouts;
  const uint64_t totalMs =
      t.ReadTotalTimeoutConstant + static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * wanted;
  const Deadline total(
      static_cast<uint32_t>(std::min<uint64_t>(totalMs != 0 ? totalMs : MAXDWORD, MAXDWORD - 1)));
  while (*got < wanted) {
    const uint32_t ms = std::min<uint32_t>(t.ReadIntervalTimeout, total.RemainingMs());
    SetLastError(ERROR_SUCCESS);
    if (ms == 0 || !SerialWaitInput(h, ms)) return GetLastError() == ERROR_SUCCESS;
    *got += port->input.Take(out + *got, wanted - *got);
  }
  return true;
}

}  // namespace

// The bytes taken ahead come first; the rest is read with the port's own time-outs.
bool SerialRead(PortHandle h, void* buf, uint32_t wanted, uint32_t* got) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  SetLastError(ERROR_SUCCESS);
  uint8_t* out = static_cast<uint8_t*>(buf);
  *got = port->input.Take(out, wanted);
  if (*got == wanted) return true;
  // An interval of 0 is none, and MAXDWORD asks for no wait at all: one ReadFile does either.
  const DWORD interval = port->timeouts.ReadIntervalTimeout;
  if (*got > 0 && interval != 0 && interval != MAXDWORD)
    return ReadOnAfterTakenBytes(h, port, out, wanted, got);
  if (!TimeoutsInForce(port)) return false;
  DWORD count = 0;
  const bool ok = ReadPort(port->handle, out + *got, wanted - *got, &count);
  *got += count;
  return ok;
}

// Waits in a ReadFile of one byte, which ends on the first byte, then takes what else is queued
// without waiting; what it took is kept for the next reads. The port's time-outs are put back after
// it; when that fails the wait fails with the error, and the next read from the device tries again
// before it reads, so that no read runs under the wait's time-outs.
bool SerialWaitInput(PortHandle h, uint32_t ms) {
  Port* port = PortOf(h);
  if (port == nullptr) return false;
  if (port->input.Count() > 0) return true;
  SetLastError(ERROR_SUCCESS);
  COMMTIMEOUTS saved = port->timeouts;
  uint8_t* space = port->input.Space();
  DWORD first = 0;
  DWORD more = 0;
  bool ok = ReadWithin(port->handle, saved, ms, space, 1, &first);
  // A failure here leaves the rest queued for the next read, which reports it; the byte is kept.
  if (ok && first > 0 && !ReadWithin(port->handle, saved, 0, space + 1, port->input.SpaceSize() - 1, &more))
    more = 0;
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  port->input.Filled(first + more);
  if (!SetCommTimeouts(port->handle, &saved)) {
    port->timeoutsInForce = false;
    if (ok) error = GetLastError();
    ok = false;
  }
  SetLastError(error);
  return ok && first > 0;
}

bool SerialWrite(PortHandle h, const void* buf, uint32_t count, uint32_t* written) {
  HANDLE port = HandleOf(h);
  if (port == nullptr) return false;
  SetLastError(ERROR_SUCCESS);
  DWORD done = 0;
  const bool ok = Completed(WriteFile(port, buf, count, &done, nullptr));
  *written = done;
  return ok;
}

// CloseHandle gives the handle up even when it reports a failure, and the system may hand the same
// value to another object at once: it is never closed twice. A failed close leaves the object for
// another SerialClose, as the device layer keeps the handle, and that one only releases it.
bool SerialClose(PortHandle h) {
  Port* port = static_cast<Port*>(h);
  if (port == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const HANDLE handle = port->handle;
  port->handle = INVALID_HANDLE_VALUE;
  if (handle != INVALID_HANDLE_VALUE && !CloseHandle(handle)) return false;
  delete port;
  return true;
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
