// One table of cases for the serial port as the device link uses it, run against the Windows port
// on a scripted communications device (win32/) and, where a case means something on POSIX,
// against the POSIX port on a pseudo-terminal (serial_cases_test.cpp). A case is the line's
// content, the results scripted for the comm calls, one operation of the device link and what it
// must report.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "device/fp_context.h"
#include "device/link.h"
#include "device/serial_port.h"

namespace serial_cases {

// Win32 error values the cases script (USB-serial drivers give these when the adapter is pulled out).
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kBadCommand = 22;
constexpr uint32_t kGenFailure = 31;
// Some USB-serial drivers end a read or write that ran out of time with this error.
constexpr uint32_t kSemTimeout = 121;
// ClearCommError's line error bits.
constexpr uint32_t kOverrun = 0x2;
constexpr uint32_t kParity = 0x4;
constexpr uint32_t kFraming = 0x8;

enum class Call {
  kCreateFile,
  kCloseHandle,
  kSetupComm,
  kGetCommState,
  kSetCommState,
  kGetCommTimeouts,
  kSetCommTimeouts,
  kPurgeComm,
  kClearCommError,
  kGetCommModemStatus,
  kReadFile,
  kWriteFile,
};

// The nth call of its kind since the operation began (1: the first) fails with `error` (0: it
// succeeds). `value` is what it reports besides: ReadFile's or WriteFile's count (-1: what the device
// moved), ClearCommError's error bits.
struct Result {
  Call call;
  int nth;
  uint32_t error;
  int64_t value;
};

// When the adapter goes: every call on the port fails with the case's error from then on.
enum class Gone { kNever, kAtStart, kAfterRead };

struct Line {
  std::string queued;  // waiting when the operation begins
  std::string answer;  // what the device sends once a frame was written to it
  bool late;           // the answer comes only to a read that waits the port's time-outs, not to
                       // the pause's short wait
  Gone gone;           // kAfterRead: once the port has read all the device sent
  uint32_t goneError;
};

enum class Op {
  kOpen,         // OpenSerial2 (the port is closed before it)
  kSend,         // SendBuf of the frame of "S3"
  kAccept,       // AcceptBuf of 5 bytes
  kTransaction,  // ExecTransaction of "S3" with the usual pause before the answer
  kClose,        // CloseSerial
};

struct Expect {
  int result;          // the link result
  int count;           // AcceptBuf: the bytes it got
  const char* logged;  // the beginning of a low-level log line that must be written, or nullptr
};

struct Case {
  const char* name;
  Op op;
  Line line;
  std::vector<Result> script;
  Expect expect;
  int readMs;  // the port's read time-out
  bool posix;  // runs against the POSIX port too
};

// Named after the case in a test's output.
inline void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

// An answer the link takes as a record, whose read fails part of the way in: a fixed-length record
// ("SR") and one that ends where the device's bytes end ("Sh").
inline const char kPartOfFixedRecord[] = "\x02SR12";
inline const char kPartOfOpenRecord[] = "\x02Sh12345";

inline std::vector<Case> Cases() {
  const Line quiet{"", "", false, Gone::kNever, 0};
  const Line ackLater{"", "\x06", true, Gone::kNever, 0};
  auto waiting = [](const char* bytes) { return Line{bytes, "", false, Gone::kNever, 0}; };
  auto goneAtStart = [](uint32_t error) { return Line{"", "", false, Gone::kAtStart, error}; };
  auto goneAfter = [](const char* answer) { return Line{"", answer, false, Gone::kAfterRead, kGenFailure}; };
  return {
      {"AnswerReadWhole", Op::kAccept, waiting("ABCDE"), {}, {0, 5, nullptr}, 500, true},
      {"TimeOutIsAShortCount", Op::kAccept, waiting("ABC"), {}, {0, 3, nullptr}, 500, true},
      {"TimeOutReportedAsSemTimeoutIsAShortCount",
       Op::kAccept,
       waiting("ABC"),
       {{Call::kReadFile, 1, kSemTimeout, -1}},
       {0, 3, nullptr},
       500,
       false},
      {"ReadTimeOutOfZeroStillEnds", Op::kAccept, quiet, {}, {0, 0, nullptr}, 0, true},
      {"NegativeReadTimeOutStillEnds", Op::kAccept, quiet, {}, {0, 0, nullptr}, -1, true},
      {"PartialWrite", Op::kSend, quiet, {{Call::kWriteFile, 1, 0, 3}}, {-3, 0, nullptr}, 500, false},
      {"FailedWriteNamesTheSystemError",
       Op::kSend,
       quiet,
       {{Call::kWriteFile, 1, kGenFailure, 0}},
       {-3, 0, "*SendBuf: "},
       500,
       false},
      {"AnsweredCommand", Op::kTransaction, ackLater, {}, {0, 0, nullptr}, 500, false},
      // The device keeps the wait's own time-outs when they cannot be put back; the port must not
      // believe its own are in force, or the next read ends at once and a coming answer is lost.
      {"FailedRestoreOfTimeOutsAfterAWait",
       Op::kTransaction,
       ackLater,
       {{Call::kSetCommTimeouts, 2, kGenFailure, -1}},
       {0, 0, "*WaitForInput: Wait for input failed: 31"},
       500,
       false},
      {"LineErrorsAreNamed",
       Op::kTransaction,
       ackLater,
       {{Call::kClearCommError, 1, 0, kFraming | kParity | kOverrun}},
       {0, 0, "*ClearInputBuffer: Line errors: overrun, parity, framing"},
       500,
       false},
      {"UnpluggedBeforeACommandBadCommand",
       Op::kTransaction,
       goneAtStart(kBadCommand),
       {},
       {-3, 0, "*SendBuf: "},
       500,
       true},
      // On POSIX the line gone is one case whatever Windows would call it.
      {"UnpluggedBeforeACommandGenFailure",
       Op::kTransaction,
       goneAtStart(kGenFailure),
       {},
       {-3, 0, "*SendBuf: "},
       500,
       false},
      {"UnpluggedBeforeACommandAccessDenied",
       Op::kTransaction,
       goneAtStart(kAccessDenied),
       {},
       {-3, 0, "*SendBuf: "},
       500,
       false},
      {"UnpluggedWhileTheAnswerIsRead",
       Op::kTransaction,
       goneAfter("\x02"),
       {},
       {-4, 0, "*AcceptBuf: ReadFile error: 31"},
       500,
       false},
      {"UnpluggedInTheMiddleOfAFixedRecord",
       Op::kTransaction,
       goneAfter(kPartOfFixedRecord),
       {},
       {-4, 0, "*AcceptBuf: ReadFile error: 31"},
       500,
       false},
      {"UnpluggedInTheMiddleOfAnOpenRecord",
       Op::kTransaction,
       goneAfter(kPartOfOpenRecord),
       {},
       {-4, 0, "*AcceptBuf: ReadFile error: 31"},
       500,
       false},
      {"UnpluggedAtOpen",
       Op::kOpen,
       goneAtStart(kBadCommand),
       {},
       {-1, 0, "*CreateFile: COM1 open fail, error 22"},
       500,
       false},
      // A handle is given up by CloseHandle even when it fails: closing the same value again could
      // close whatever handle the system has given that value to since.
      {"FailedCloseHandleIsNotClosedAgain",
       Op::kClose,
       quiet,
       {{Call::kCloseHandle, 1, kGenFailure, -1}},
       {-1, 0, "*CloseHandle: COM1 close fail, error 31"},
       500,
       false},
  };
}

// The case's operation on an open port (kOpen: on a closed one, as COM `port`); *count receives
// what AcceptBuf got.
inline int RunOp(FPContext* ctx, Op op, int port, uint32_t* count) {
  static const uint8_t kFrame[] = {0x02, 'S', '3', 0x03, 0x63};
  uint8_t buf[5];
  *count = 0;
  switch (op) {
    case Op::kOpen:
      return OpenSerial2(ctx, port, 6);
    case Op::kSend:
      return SendBuf(ctx, kFrame, sizeof kFrame);
    case Op::kAccept:
      return AcceptBuf(ctx, buf, sizeof buf, count);
    case Op::kTransaction:
      return ExecTransaction(ctx, "S3", 110, true, false);
    case Op::kClose:
      return CloseSerial(ctx);
  }
  return 0;
}

}  // namespace serial_cases
