// The relay cycle of CFDClient: ask the fiscal drive for waiting messages, read the first one block
// by block, hand it to the OFD server and write the server's receipt back. Every device command and
// every log line holds the device lock; the network exchange and the pauses never do.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "device/fiscal_drive.h"
#include "device/serial_port.h"
#include "device/status.h"
#include "ofd/fd_client.h"
#include "platform/codepage.h"

namespace {

// The firmware whose drive hands out the session header with its message; with the other one the
// relay writes the header itself.
constexpr int32_t kContextKindHeaderInMessage = 2;
// A drive that answers this many block requests in a row with no data is given up on for the cycle.
constexpr int kMaxEmptyBlocks = 3;
// The drive number inside a message without a session header: 8 bytes of two digits each.
constexpr int kDriveNumberAt = 9;
constexpr int kDriveNumberBytes = 8;
constexpr int kHeaderNumberAt = 8;
constexpr int kHeaderLengthAt = 24;
constexpr int kSu5TextSize = 601;
// The longest the relay waits for an answer to start: a printer that stays silent (a stalled read)
// then keeps the device, and a Done that waits for the relay, for no longer than this. The drive
// answers its commands well within it; the pause between the bytes of an answer is not changed.
constexpr uint32_t kRelayReadTimeoutMs = 2000;

// The relay's turn on the device: the device lock, and the port's read time-out shortened for the
// turn and put back after it.
class DeviceTurn {
 public:
  explicit DeviceTurn(FPContext* ctx)
      : m_lock(ctx->csDevice), m_ctx(ctx), m_readMs(ctx->commTimeouts.ReadTotalTimeoutConstant) {
    if (Shortened()) SetReadTimeout(kRelayReadTimeoutMs);
  }
  ~DeviceTurn() {
    if (Shortened()) SetReadTimeout(m_readMs);
  }
  DeviceTurn(const DeviceTurn&) = delete;
  DeviceTurn& operator=(const DeviceTurn&) = delete;

 private:
  bool Shortened() const { return m_ctx->hComPort && m_readMs > kRelayReadTimeoutMs; }
  void SetReadTimeout(uint32_t ms) {
    SetCommTimeoutsFP(m_ctx, static_cast<int>(ms),
                      static_cast<int>(m_ctx->commTimeouts.WriteTotalTimeoutConstant));
  }

  std::lock_guard<std::recursive_mutex> m_lock;
  FPContext* m_ctx;
  uint32_t m_readMs;
};

// The titles of the header lines, in the driver's code page like every log text.
const char* SentHeaderTitle() {
  static const std::string title = plat::Utf8ToCp1251("Заголовок передача: ");
  return title.c_str();
}

const char* ReceivedHeaderTitle() {
  static const std::string title = plat::Utf8ToCp1251("Заголовок прием: ");
  return title.c_str();
}

// A session header for the log: the signature bytes and the length and flags in hex, the drive
// number as characters (a control byte shown as '.', so that a server's garbage cannot cut the
// line short).
std::string HeaderText(const char* title, const uint8_t* header) {
  std::string text(title);
  char hex[8];
  for (int i = 0; i < CFDClient::kHeaderSize; ++i) {
    if (i >= kHeaderNumberAt && i < kHeaderLengthAt) {
      text += header[i] < 0x20 ? '.' : static_cast<char>(header[i]);
    } else {
      std::snprintf(hex, sizeof hex, "[%2.2X]", header[i]);
      text += hex;
    }
  }
  return text;
}

// The character of one nibble of the drive number: a decimal digit, or a blank for anything else.
char NibbleDigit(uint8_t nibble) {
  return nibble <= 9 ? static_cast<char>('0' + nibble) : ' ';
}

}  // namespace

void CFDClient::LogLocked(const char* text) {
  std::lock_guard<std::recursive_mutex> lock(m_pContext->csDevice);
  Log(text);
}

// Under the device lock: the printer's status and the drive's own status text, for the log.
void CFDClient::LogState() {
  DeviceTurn turn(m_pContext);
  GetStatusT(m_pContext);
  char text[kSu5TextSize] = {};
  ExecSu5(m_pContext, text, kSu5TextSize - 1);
  if (m_pContext->pfnLogMessageH) m_pContext->pfnLogMessageH(m_pContext, "State Fiscal Drive", text);
}

bool CFDClient::Wait(uint32_t ms) {
  return m_pContext->pClock->SleepUnless(ms, m_stop);
}

void CFDClient::RelayThread() {
  char dotted[20];
  if (getIPAddr(dotted, sizeof dotted) == 0 || GetPort() == 0) {
    LogLocked("OFD address settings error");
    return;
  }
  while (!Stopping()) {
    const uint32_t pause = RunCycle();
    if (pause > 0 && Wait(pause)) break;
  }
}

// One cycle; the pause to take before the next one (0: at once, or the client is stopping).
uint32_t CFDClient::RunCycle() {
  FPContext* ctx = m_pContext;
  int r = 0;
  uint32_t code = 0;
  // A step is one device command under the lock; a stop request is honoured before it is sent.
  auto locked = [&](auto command) {
    DeviceTurn turn(ctx);
    if (Stopping()) return false;
    command();
    return true;
  };
  auto exchangeStarted = [&] {
    if (!locked([&] { r = ExecSuG(ctx, true, &code); })) return false;
    if (r != 0) return false;
    if (code != 0) LogState();
    return code == 0;
  };

  if (!exchangeStarted()) return Stopping() ? 0 : kErrorWaitMs;
  if (!locked([&] {
        r = ReadInfoSuF(ctx);
        if (r != 0) Log("Error of the commang SuF");
      })) {
    return 0;
  }
  if (r != 0) return kErrorWaitMs;
  int backlog = 0;
  locked([&] {
    backlog = ctx->FdExchange.nFdBacklogCount;
    if (backlog > 0) Logf("The count of documents ready for sending: %d", backlog);
  });
  if (backlog == 0) return kIdleWaitMs;

  if (!locked([&] { r = ExecSuJ(ctx, &code); })) return 0;
  if (r != 0) return kErrorWaitMs;
  if (code != 0 && code != 0x80) {
    LogState();
    return kErrorWaitMs;
  }
  if (!exchangeStarted()) return Stopping() ? 0 : kErrorWaitMs;
  if (!locked([&] { r = ExecSuG(ctx, false, &code); })) return 0;
  if (r != 0) return kErrorWaitMs;

  uint32_t length = 0;
  int hdr = 0;
  if (!locked([&] {
        r = ExecSuH(ctx, &length, &code);
        hdr = ctx->nContextKind == kContextKindHeaderInMessage ? kHeaderSize : 0;
      })) {
    return 0;
  }
  if (r != 0) return kErrorWaitMs;
  if (length < 1) return 0;
  if (code != 0) {
    LogState();
    return kErrorWaitMs;
  }
  return Deliver(static_cast<int>(length), hdr);
}

// Reads the message of `length` bytes, sends it and writes the receipt back; the pause to take.
uint32_t CFDClient::Deliver(int length, int hdr) {
  FPContext* ctx = m_pContext;
  std::vector<uint8_t> message;
  try {
    message.assign(static_cast<size_t>(length) + kHeaderSize + 1 - hdr, 0);
  } catch (...) {
    LogLocked("Error allocating memory for Fiscal Drive message");
    return kErrorWaitMs;
  }
  uint8_t* body = message.data() + (kHeaderSize - hdr);
  if (!ReadMessage(body, length)) return Stopping() ? 0 : kErrorWaitMs;
  if (hdr == 0) {
    for (int i = 0; i < kDriveNumberBytes; ++i) {
      const uint8_t b = body[kDriveNumberAt + i];
      m_abHeader[kHeaderNumberAt + 2 * i] = static_cast<uint8_t>(NibbleDigit(b >> 4));
      m_abHeader[kHeaderNumberAt + 2 * i + 1] = static_cast<uint8_t>(NibbleDigit(b & 0x0F));
    }
    m_abHeader[kHeaderLengthAt] = static_cast<uint8_t>(length);
    m_abHeader[kHeaderLengthAt + 1] = static_cast<uint8_t>(length >> 8);
  }

  int r = 0;
  uint32_t code = 0;
  bool stopped = true;
  {
    DeviceTurn turn(ctx);
    if (!Stopping()) {
      stopped = false;
      r = ExecSuK(ctx, &code);
      if (r != 0) Log("Error of read message completion (SuK)");
      if (r == 0 && code != 0) Logf("Error state (SuK) of Fiscal Drive: %2.2X", code);
    }
  }
  if (stopped) return 0;
  if (r != 0) return kErrorWaitMs;
  if (code != 0) {
    LogState();
    return kErrorWaitMs;
  }
  if (hdr == 0) std::copy(m_abHeader, m_abHeader + kHeaderSize, message.begin());
  return Relay(message.data(), length + kHeaderSize - hdr);
}

// Reads the whole waiting message into `body` block by block. False when the cycle failed (logged)
// or the client is stopping.
bool CFDClient::ReadMessage(uint8_t* body, int length) {
  FPContext* ctx = m_pContext;
  uint8_t block[kBlockSize];
  int got = 0;
  int empty = 0;
  for (int i = 0; got < length;) {
    int r = 0;
    int count = 0;
    uint32_t code = 0;
    DeviceTurn turn(ctx);
    if (Stopping()) return false;
    r = ExecSuI(ctx, block, kBlockSize, got, &count, &code, nullptr, nullptr);
    if (r != 0) {
      Logf("Error reading block of Fiscal Drive message (SuI) number %d", i + 1);
      return false;
    }
    if (code != 0) {
      Logf("Error state (SuI) of Fiscal Drive: %2.2X", code);
      LogState();
      return false;
    }
    // The drive is asked again for a block that came without data, but not for ever.
    if (count <= 0) {
      if (++empty < kMaxEmptyBlocks) continue;
      Logf("Fiscal Drive returned no data for block %d %d times", i + 1, empty);
      return false;
    }
    // More than the message has left would run past the end of the buffer.
    if (count > length - got) {
      Logf("Block %d of Fiscal Drive message is %d bytes, %d expected at most", i + 1, count, length - got);
      return false;
    }
    std::copy(block, block + count, body + got);
    got += count;
    empty = 0;
    ++i;
  }
  return true;
}

// Hands `count` bytes (session header and message) to the server and writes its receipt into the
// drive; the pause to take.
uint32_t CFDClient::Relay(const uint8_t* bytes, int count) {
  FPContext* ctx = m_pContext;
  char dotted[20];
  getIPAddr(dotted, sizeof dotted);
  {
    std::lock_guard<std::recursive_mutex> lock(ctx->csDevice);
    Logf("Sended the ticket to FDO server %s, length data: %d bytes", dotted, count);
    Log(HeaderText(SentHeaderTitle(), bytes).c_str());
  }
  const bool sent = TransmitToOfd(bytes, count);
  DeviceTurn turn(ctx);
  if (Stopping()) return 0;
  if (!sent) {
    Logf("Error of send data to OFD: %s", m_szError);
    return kErrorWaitMs;
  }
  Logf("Received the ticket from FDO server %s, length data: %d bytes", dotted, m_nRecvLen);
  if (m_nRecvLen == 0) {
    Log("FDO server returned a zero bytes");
    return kErrorWaitMs;
  }
  Log(HeaderText(ReceivedHeaderTitle(), m_pRecvBuf.get()).c_str());
  // A session header alone carries no receipt: nothing is written to the drive.
  if (m_nRecvLen <= kHeaderSize) {
    Logf("FDO server answer of %d bytes carries no ticket", m_nRecvLen);
    return kErrorWaitMs;
  }
  uint32_t reason = 0;
  const int r = ExecSuL(ctx, m_pRecvBuf.get() + kHeaderSize, m_nRecvLen - kHeaderSize, &reason);
  if (r != 0) {
    Logf("Error of write ticket (SuL): %d", r);
    return kErrorWaitMs;
  }
  if (reason != 0) {
    Logf("Error state (SuL) of Fiscal Drive: %2.2X", reason);
    LogState();
    return kErrorWaitMs;
  }
  Log("Loaded ticket to Fiscal Drive");
  return kDeliveredWaitMs;
}
