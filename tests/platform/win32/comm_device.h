// The communications device behind the fake Win32 calls of windows.h: a line with bytes waiting and
// bytes on their way, time-outs that decide which of them a read gets, an adapter that can go away,
// and results scripted call by call. It also notes what a real device could not show a test: the
// longest any read would have waited, a read that would have waited for ever, and a handle closed
// twice.
#pragma once

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "platform/serial_cases.h"
#include "windows.h"

namespace comm_device {

// A read waits this long for the bytes on their way: a short look does not get them.
constexpr DWORD kLaterMs = 200;

struct Device {
  std::deque<uint8_t> queued;
  std::deque<uint8_t> later;
  std::string answer;  // sent once a frame is written
  bool late = false;
  serial_cases::Gone gone = serial_cases::Gone::kNever;
  uint32_t goneError = 0;
  bool goneNow = false;
  std::vector<serial_cases::Result> script;
  int calls[static_cast<int>(serial_cases::Call::kWriteFile) + 1] = {};

  COMMTIMEOUTS timeouts = {};
  DCB dcb = {};
  std::vector<uint8_t> written;
  std::set<HANDLE> open;
  uintptr_t nextHandle = 0x100;

  DWORD longestWaitMs = 0;
  int foreverWaits = 0;
  int closedTwice = 0;

  // The case's line; the script and the adapter's going start with the operation (Arm).
  void Load(const serial_cases::Line& line);
  void Arm(const std::vector<serial_cases::Result>& results);
};

// The device of the calls, fresh for each case.
Device& TheDevice();
void Reset();

}  // namespace comm_device
