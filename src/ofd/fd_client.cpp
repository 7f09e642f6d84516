// CFDClient: construction, the server's address and port, Start and Stop, and the TCP exchange with
// the OFD server. The relay cycle itself is in fd_relay.cpp.
#include "ofd/fd_client.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "device/text_field.h"
#include "platform/system_error.h"

namespace {

constexpr uint32_t kAddressNone = 0xFFFFFFFF;  // INADDR_NONE
// The constant bytes of the session header: signature, session kind, protocol version, and after
// the drive number and the length, the flags.
constexpr uint8_t kHeaderStart[] = {0x2A, 0x08, 0x41, 0x0A, 0x81, 0xA2, 0x00, 0x01};
constexpr uint8_t kHeaderEnd[] = {0x14, 0x00, 0x00, 0x00};
constexpr int kHeaderLengthAt = 24;
// Each socket wait is cut into slices this long, so that Stop is seen at once.
constexpr uint32_t kSliceMs = 100;
// A connection attempt that does not complete in this time is made again while the deadline
// allows; a refused one is not.
constexpr uint32_t kConnectAttemptMs = 1000;

// "a.b.c.d" of an address in network byte order.
void DottedAddress(uint32_t address, char (&text)[16]) {
  uint8_t b[4];
  std::memcpy(b, &address, sizeof b);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

}  // namespace

CFDClient::CFDClient(FPContext* ctx) : m_pContext(ctx) {
  if (ctx == nullptr) {
    m_bFailed = true;
    return;
  }
  m_pRecvBuf.reset(new (std::nothrow) uint8_t[kRecvBufSize]());
  if (!m_pRecvBuf) {
    m_bFailed = true;
    std::snprintf(m_szError, sizeof m_szError, "CFDClient: Unable to allocate memory for receive buffer");
    if (ctx->pfnLogMessageH) ctx->pfnLogMessageH(ctx, "CFDClient", m_szError);
    return;
  }
  if (!setAddr(ctx->szFdoAddress) || !setPort(ctx->nFdoPort)) {
    m_bFailed = true;
    return;
  }
  std::memcpy(m_abHeader, kHeaderStart, sizeof kHeaderStart);
  std::memcpy(m_abHeader + 26, kHeaderEnd, sizeof kHeaderEnd);
}

CFDClient::~CFDClient() {
  Stop();
  if (m_hThread.joinable()) m_hThread.join();
  plat::TcpClose(m_socket);
}

void CFDClient::Log(const char* text) {
  if (m_pContext->pfnLogMessageH) m_pContext->pfnLogMessageH(m_pContext, "ChangeFD", text);
}

void CFDClient::Logf(const char* format, ...) {
  if (!m_pContext->pfnLogMessageH) return;
  char text[700];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Log(text);
}

void CFDClient::SetSystemError() {
  CopyText(m_szError, plat::SystemErrorText(plat::SystemLastError()).c_str());
}

bool CFDClient::setAddr(const char* szAddress) {
  if (szAddress == nullptr || szAddress[0] == '\0') {
    std::snprintf(m_szError, sizeof m_szError, "setAddr: Address is not specified");
    Log("FDO-Address is not specified");
    return false;
  }
  uint32_t address = 0;
  if (!plat::TcpResolveIPv4(szAddress, &address)) {
    SetSystemError();
    Log(m_szError);
    return false;
  }
  m_ipAddr = address;
  m_szError[0] = '\0';
  CopyText(m_szAddress, szAddress);
  return true;
}

bool CFDClient::setPort(int nPort) {
  if (nPort < 1 || nPort > 65535) {
    std::snprintf(m_szError, sizeof m_szError, "The port number is outside the permitted range: %d", nPort);
    Log(m_szError);
    return false;
  }
  m_nPort = nPort;
  return true;
}

uint32_t CFDClient::getIPAddr(char* szBuffer, int nSize) {
  m_szError[0] = '\0';
  if (szBuffer == nullptr || nSize < 1) {
    std::snprintf(m_szError, sizeof m_szError, "getIPAddr: Arguments error");
    return 0;
  }
  std::memset(szBuffer, 0, static_cast<size_t>(nSize));
  char dotted[16];
  DottedAddress(m_ipAddr, dotted);
  if (std::strlen(dotted) < static_cast<size_t>(nSize)) std::memcpy(szBuffer, dotted, std::strlen(dotted));
  return m_ipAddr;
}

int CFDClient::GetPort() {
  m_szError[0] = '\0';
  return m_nPort;
}

bool CFDClient::Start() {
  if (m_bFailed) return false;
  if (!m_bStopped) return true;
  // A thread asked to stop before is let finish first, so that only one ever runs.
  if (m_hThread.joinable()) m_hThread.join();
  m_stop.Reset();
  m_bStopped = false;
  Log("Client of fiscal drive starting");
  Logf("Address FDO: %s", m_szAddress);
  char dotted[20];
  if (getIPAddr(dotted, sizeof dotted) != 0 && dotted[0] != '\0') {
    Logf("IP-address FDO: %s", dotted);
  } else {
    m_bFailed = true;
    Log("IP-address FDO error");
  }
  Logf("Port FDO: %d", m_nPort);
  m_szError[0] = '\0';
  if (m_bFailed) {
    m_bStopped = true;
    return true;
  }
  try {
    m_hThread = std::thread([this] { RelayThread(); });
  } catch (...) {
    m_bFailed = true;
    m_bStopped = true;
  }
  return true;
}

bool CFDClient::Stop() {
  if (m_bFailed) return false;
  if (m_bStopped) return true;
  m_bStopped = true;
  m_stop.Set();
  if (m_pContext->pfnLogMessageH) {
    m_pContext->pfnLogMessageH(m_pContext, "ChangeFD::Stop", "Client of fiscal drive stopping");
  }
  return true;
}

// ---- The exchange with the server ---------------------------------------------------------------

bool CFDClient::Connect(const plat::Deadline& deadline) {
  char dotted[16];
  DottedAddress(m_ipAddr, dotted);
  while (!Stopping()) {
    const uint32_t left = deadline.RemainingMs();
    m_socket = plat::TcpConnect(dotted, static_cast<uint16_t>(m_nPort),
                                left < kConnectAttemptMs ? left : kConnectAttemptMs);
    if (m_socket != nullptr) return true;
    const uint32_t error = plat::SystemLastError();
    SetSystemError();
    if (deadline.Expired() || !plat::TcpIsTimeout(error)) return false;
  }
  std::snprintf(m_szError, sizeof m_szError, "Stopped");
  return false;
}

bool CFDClient::SendAll(const uint8_t* pData, int nLength, const plat::Deadline& deadline) {
  size_t sent = 0;
  const size_t count = static_cast<size_t>(nLength);
  while (sent < count && !Stopping() && !deadline.Expired()) {
    const uint32_t left = deadline.RemainingMs();
    size_t n = 0;
    if (!plat::TcpSendSome(m_socket, pData + sent, count - sent, left < kSliceMs ? left : kSliceMs, &n)) {
      SetSystemError();
      return false;
    }
    sent += n;
  }
  if (sent == count) return true;
  std::snprintf(m_szError, sizeof m_szError, "%s",
                Stopping() ? "Stopped" : "Timeout on server FDO response elapsed");
  return false;
}

// Takes the answer until the server closes the connection or the answer is complete by the length
// its session header gives, whichever comes first.
bool CFDClient::ReceiveAnswer(const plat::Deadline& deadline) {
  size_t got = 0;
  size_t expected = kRecvBufSize;
  while (!Stopping()) {
    if (deadline.Expired()) {
      std::snprintf(m_szError, sizeof m_szError, "Timeout on server FDO response elapsed");
      return false;
    }
    const uint32_t left = deadline.RemainingMs();
    size_t n = 0;
    bool closed = false;
    if (!plat::TcpReceive(m_socket, m_pRecvBuf.get() + got, expected - got, left < kSliceMs ? left : kSliceMs,
                          &n, &closed)) {
      SetSystemError();
      return false;
    }
    got += n;
    if (got >= kHeaderSize && expected == kRecvBufSize) {
      const size_t length = m_pRecvBuf[kHeaderLengthAt] | (m_pRecvBuf[kHeaderLengthAt + 1] << 8);
      if (kHeaderSize + length > kRecvBufSize) {
        std::snprintf(m_szError, sizeof m_szError, "FDO server answer longer than %d bytes", kRecvBufSize);
        return false;
      }
      expected = kHeaderSize + length;
    }
    if (closed || got >= expected) {
      m_nRecvLen = static_cast<int32_t>(got);
      return true;
    }
  }
  std::snprintf(m_szError, sizeof m_szError, "Stopped");
  return false;
}

bool CFDClient::TransmitToOfd(const uint8_t* pData, int nLength) {
  char dotted[16];
  DottedAddress(m_ipAddr, dotted);
  if (m_bFailed) {
    std::snprintf(m_szError, sizeof m_szError, "Operation impossible");
    return false;
  }
  if (m_nPort < 1 || m_nPort > 65535) {
    std::snprintf(m_szError, sizeof m_szError, "The port number is outside the permitted range: %d", m_nPort);
    return false;
  }
  if (m_ipAddr == 0 || m_ipAddr == kAddressNone) {
    std::snprintf(m_szError, sizeof m_szError, "IP-address is not specified: %s", dotted);
    return false;
  }
  if (pData == nullptr || nLength <= 0) {
    std::snprintf(m_szError, sizeof m_szError, "No data to transmit");
    return false;
  }
  m_nRecvLen = 0;
  std::memset(m_pRecvBuf.get(), 0, kRecvBufSize);
  m_szError[0] = '\0';
  const plat::Deadline deadline(kAnswerDeadlineMs);
  const bool ok = Connect(deadline) && SendAll(pData, nLength, deadline) && ReceiveAnswer(deadline);
  if (m_socket != nullptr && !plat::TcpClose(m_socket) && ok) SetSystemError();
  m_socket = nullptr;
  return ok;
}
