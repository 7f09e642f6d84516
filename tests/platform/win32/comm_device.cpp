#include "comm_device.h"

#include <algorithm>
#include <cstring>

#include "platform/system_error.h"

using serial_cases::Call;
using serial_cases::Gone;

namespace comm_device {
namespace {

Device* g_device = nullptr;

// What decides a call before it touches the device: a handle that is not open, a result scripted
// for it, or an adapter that is gone. `proceed` false: the call fails with the error set.
struct Outcome {
  bool proceed = true;
  const serial_cases::Result* scripted = nullptr;
};

Outcome Enter(Call call, HANDLE h, bool needsHandle = true) {
  Device& d = TheDevice();
  const int nth = ++d.calls[static_cast<int>(call)];
  Outcome o;
  if (needsHandle && d.open.count(h) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    o.proceed = false;
    return o;
  }
  for (const auto& r : d.script) {
    if (r.call == call && r.nth == nth) o.scripted = &r;
  }
  if (o.scripted != nullptr && o.scripted->error != 0 && o.scripted->error != ERROR_SEM_TIMEOUT) {
    SetLastError(o.scripted->error);
    o.proceed = false;
  } else if (d.goneNow && call != Call::kCloseHandle) {
    SetLastError(d.goneError);
    o.proceed = false;
  }
  return o;
}

size_t Take(std::deque<uint8_t>* from, uint8_t* out, size_t wanted) {
  const size_t n = std::min(wanted, from->size());
  std::copy_n(from->begin(), n, out);
  from->erase(from->begin(), from->begin() + static_cast<long>(n));
  return n;
}

}  // namespace

Device& TheDevice() {
  return *g_device;
}

void Reset() {
  delete g_device;
  g_device = new Device;
}

void Device::Load(const serial_cases::Line& line) {
  queued.assign(line.queued.begin(), line.queued.end());
  later.clear();
  answer = line.answer;
  late = line.late;
  gone = line.gone;
  goneError = line.goneError;
}

void Device::Arm(const std::vector<serial_cases::Result>& results) {
  script = results;
  std::fill(std::begin(calls), std::end(calls), 0);
  goneNow = gone == Gone::kAtStart;
}

}  // namespace comm_device

using comm_device::TheDevice;

DWORD GetLastError() {
  return plat::SystemLastError();
}
void SetLastError(DWORD code) {
  plat::SetSystemLastError(code);
}

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE) {
  if (!comm_device::Enter(Call::kCreateFile, nullptr, false).proceed) return INVALID_HANDLE_VALUE;
  if (strcmp(name, "\\\\.\\COM1") != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto& d = TheDevice();
  HANDLE h = reinterpret_cast<HANDLE>(d.nextHandle++);
  d.open.insert(h);
  return h;
}

// The handle is gone once CloseHandle was called, whatever it reports.
BOOL CloseHandle(HANDLE h) {
  auto& d = TheDevice();
  if (d.open.count(h) == 0) ++d.closedTwice;
  const auto o = comm_device::Enter(Call::kCloseHandle, h);
  d.open.erase(h);
  return o.proceed ? TRUE : FALSE;
}

BOOL SetupComm(HANDLE h, DWORD, DWORD) {
  return comm_device::Enter(Call::kSetupComm, h).proceed;
}

BOOL GetCommState(HANDLE h, DCB* dcb) {
  if (!comm_device::Enter(Call::kGetCommState, h).proceed) return FALSE;
  *dcb = TheDevice().dcb;
  return TRUE;
}

BOOL SetCommState(HANDLE h, DCB* dcb) {
  if (!comm_device::Enter(Call::kSetCommState, h).proceed) return FALSE;
  TheDevice().dcb = *dcb;
  return TRUE;
}

BOOL GetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) {
  if (!comm_device::Enter(Call::kGetCommTimeouts, h).proceed) return FALSE;
  *t = TheDevice().timeouts;
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) {
  if (!comm_device::Enter(Call::kSetCommTimeouts, h).proceed) return FALSE;
  TheDevice().timeouts = *t;
  return TRUE;
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
  if (!comm_device::Enter(Call::kPurgeComm, h).proceed) return FALSE;
  if (flags & 0xA) TheDevice().queued.clear();  // PURGE_RXABORT | PURGE_RXCLEAR
  return TRUE;
}

BOOL ClearCommError(HANDLE h, LPDWORD errors, COMSTAT* stat) {
  const auto o = comm_device::Enter(Call::kClearCommError, h);
  if (!o.proceed) return FALSE;
  if (errors != nullptr) *errors = o.scripted != nullptr ? static_cast<DWORD>(o.scripted->value) : 0;
  if (stat != nullptr) {
    *stat = COMSTAT{};
    stat->cbInQue = static_cast<DWORD>(TheDevice().queued.size());
  }
  return TRUE;
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD status) {
  if (!comm_device::Enter(Call::kGetCommModemStatus, h).proceed) return FALSE;
  *status = 0x20;  // MS_DSR_ON
  return TRUE;
}

// What is queued comes at once; what is on its way only to a read whose time-outs let it wait for
// it. A read still short waits out its time-outs, which the device notes.
BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD wanted, LPDWORD got, OVERLAPPED*) {
  *got = 0;
  const auto o = comm_device::Enter(Call::kReadFile, h);
  if (!o.proceed) return FALSE;
  auto& d = TheDevice();
  const COMMTIMEOUTS& t = d.timeouts;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0;
  const uint64_t total =
      t.ReadTotalTimeoutConstant + static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * wanted;
  const bool forever = total == 0 && !immediate;
  size_t n = comm_device::Take(&d.queued, out, wanted);
  if (n < wanted && !immediate && (forever || total >= comm_device::kLaterMs)) {
    n += comm_device::Take(&d.later, out + n, wanted - n);
  }
  if (n < wanted && !immediate) {
    if (forever && (n == 0 || t.ReadIntervalTimeout == 0)) ++d.foreverWaits;
    d.longestWaitMs =
        std::max<DWORD>(d.longestWaitMs, static_cast<DWORD>(std::min<uint64_t>(total, MAXDWORD)));
  }
  *got = static_cast<DWORD>(n);
  if (d.gone == Gone::kAfterRead && d.answer.empty() && d.queued.empty() && d.later.empty()) d.goneNow = true;
  if (o.scripted != nullptr && o.scripted->error == ERROR_SEM_TIMEOUT) {
    SetLastError(ERROR_SEM_TIMEOUT);
    return FALSE;
  }
  return TRUE;
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD written, OVERLAPPED*) {
  *written = 0;
  const auto o = comm_device::Enter(Call::kWriteFile, h);
  if (!o.proceed) {
    if (o.scripted != nullptr && o.scripted->value > 0) *written = static_cast<DWORD>(o.scripted->value);
    return FALSE;
  }
  const DWORD n =
      o.scripted != nullptr && o.scripted->value >= 0 ? static_cast<DWORD>(o.scripted->value) : count;
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  auto& d = TheDevice();
  d.written.insert(d.written.end(), in, in + n);
  std::deque<uint8_t>& to = d.late ? d.later : d.queued;
  to.insert(to.end(), d.answer.begin(), d.answer.end());
  d.answer.clear();
  *written = n;
  return TRUE;
}

DWORD QueryDosDeviceA(LPCSTR, LPSTR names, DWORD size) {
  static const char kNames[] = "COM1\0";
  if (size < sizeof kNames) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(names, kNames, sizeof kNames);
  return sizeof kNames;
}
