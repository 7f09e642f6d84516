// CFDClient: the OFD relay. One thread of its own polls the fiscal drive through the printer for
// messages waiting for the fiscal-data operator, reads each one block by block, hands it to the
// operator's server over TCP and writes the server's receipt back into the drive.
//
// The thread shares the serial line with the host's calls: it holds the device lock (csDevice) for
// each device command and each log line, never across a network exchange or a pause, so the host's
// methods run between its steps and never interleave frames with it. Stop ends every pause and
// every socket wait at once; the destructor stops the thread and joins it, so it is never ended
// while it holds the lock or writes the log.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "device/fp_context.h"
#include "platform/clock.h"
#include "platform/deadline.h"
#include "platform/tcp.h"

class CFDClient {
 public:
  static constexpr int kRecvBufSize = 3096;
  static constexpr int kBlockSize = 200;
  static constexpr int kHeaderSize = 30;
  // Pauses of the cycle, in milliseconds, and the server's time to answer.
  static constexpr uint32_t kErrorWaitMs = 60000;
  static constexpr uint32_t kIdleWaitMs = 30000;
  static constexpr uint32_t kDeliveredWaitMs = 100;
  static constexpr uint32_t kAnswerDeadlineMs = 60000;

  // Takes the OFD server's address and port from the context's settings, once. A context without
  // them leaves the client failed (HasFailed), and its owner destroys it.
  explicit CFDClient(FPContext* ctx);
  virtual ~CFDClient();
  CFDClient(const CFDClient&) = delete;
  CFDClient& operator=(const CFDClient&) = delete;

  bool HasFailed() const { return m_bFailed; }
  // Starts the relay thread; true when it runs (also when it already ran).
  bool Start();
  // Asks the thread to end: it leaves any pause or socket wait at once and sends nothing more.
  bool Stop();
  bool setAddr(const char* szAddress);
  bool setPort(int nPort);
  // The server's address, its dotted form in szBuffer when it fits in nSize characters; 0 for bad
  // arguments.
  uint32_t getIPAddr(char* szBuffer, int nSize);
  int GetPort();
  // One exchange with the server: connect, send the bytes, take the answer until the server closes
  // or the deadline passes. On success the answer is Received().
  bool TransmitToOfd(const uint8_t* pData, int nLength);

  const uint8_t* Received() const { return m_pRecvBuf.get(); }
  int ReceivedLength() const { return m_nRecvLen; }
  const char* LastError() const { return m_szError; }

 private:
  void RelayThread();
  uint32_t RunCycle();
  uint32_t Deliver(int length, int hdr);
  bool ReadMessage(uint8_t* body, int length);
  uint32_t Relay(const uint8_t* bytes, int count);
  bool Wait(uint32_t ms);
  bool Stopping() const { return m_stop.IsSet(); }
  void Log(const char* text);
  void Logf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void LogLocked(const char* text);
  void LogState();
  void SetSystemError();
  bool Connect(const plat::Deadline& deadline);
  bool SendAll(const uint8_t* pData, int nLength, const plat::Deadline& deadline);
  bool ReceiveAnswer(const plat::Deadline& deadline);

  FPContext* m_pContext = nullptr;
  plat::TcpHandle m_socket = nullptr;
  uint32_t m_ipAddr = 0;  // network byte order
  int32_t m_nPort = 0;
  std::unique_ptr<uint8_t[]> m_pRecvBuf;
  int32_t m_nRecvLen = 0;
  // Read by the host's thread while the relay thread runs.
  std::atomic<bool> m_bFailed{false};
  std::atomic<bool> m_bStopped{true};
  std::thread m_hThread;
  uint8_t m_abHeader[kHeaderSize + 1] = {};
  char m_szAddress[261] = {};
  char m_szError[300] = {};
  // Set by Stop: ends the thread's pauses and socket waits.
  plat::WakeEvent m_stop;
};
