// The POSIX TCP client against small servers on 127.0.0.1 that the tests run in threads of their
// own. Every server step waits at most kServerWaitMs, so a failing test still ends.
#include "platform/tcp.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/system_error.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kServerWaitMs = 3000;
// Generous for anything that should be immediate on loopback, far below the time-outs it is
// compared against.
constexpr long kPromptMs = 1000;
constexpr uint32_t kLongTimeoutMs = 2000;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string LastErrorText() {
  return plat::SystemErrorText(plat::SystemLastError());
}

// Closes the connection under test when the test ends, before the server thread is joined.
using Connection = std::unique_ptr<plat::TcpConnection, bool (*)(plat::TcpHandle)>;

Connection Connect(const char* host, uint16_t port) {
  return Connection(plat::TcpConnect(host, port, kLongTimeoutMs), plat::TcpClose);
}

// --- The server side ---------------------------------------------------------------------------

bool WaitFor(int fd, short events) {
  pollfd p = {fd, events, 0};
  return poll(&p, 1, kServerWaitMs) > 0;
}

bool WriteFully(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

uint32_t Fnv1a(uint32_t hash, const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<uint8_t>(data[i])) * 16777619u;
  return hash;
}
constexpr uint32_t kFnvStart = 2166136261u;

void Echo(int fd) {
  char buf[4096];
  while (WaitFor(fd, POLLIN)) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0 || !WriteFully(fd, buf, static_cast<size_t>(n))) return;
  }
}

// Neither reads nor writes until the client has closed its side: POLLRDHUP alone, so that bytes
// the client sends do not end the wait.
void HoldUntilClientCloses(int fd) {
  WaitFor(fd, POLLRDHUP);
}

// Reads nothing until the test opens the gate (or kServerWaitMs pass), then everything until the
// client has closed: a client's close queues its end of stream behind the bytes the server has not
// taken yet.
class Gate {
 public:
  void Open() { opened_.set_value(); }
  std::function<void(int)> HoldThenDrain() {
    return [released = opened_.get_future().share()](int fd) {
      released.wait_for(std::chrono::milliseconds(kServerWaitMs));
      char buf[65536];
      while (WaitFor(fd, POLLIN) && recv(fd, buf, sizeof buf, 0) > 0) {
      }
    };
  }

 private:
  std::promise<void> opened_;
};

std::function<void(int)> SendAndClose(std::string text) {
  return [text](int fd) { WriteFully(fd, text.data(), text.size()); };
}

// Reads `expected` bytes and answers with their FNV-1a hash, 4 bytes in host order.
std::function<void(int)> DigestOf(size_t expected) {
  return [expected](int fd) {
    std::vector<char> buf(65536);
    uint32_t hash = kFnvStart;
    for (size_t total = 0; total < expected;) {
      if (!WaitFor(fd, POLLIN)) return;
      const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
      if (n <= 0) return;
      hash = Fnv1a(hash, buf.data(), static_cast<size_t>(n));
      total += static_cast<size_t>(n);
    }
    WriteFully(fd, reinterpret_cast<const char*>(&hash), sizeof hash);
  };
}

// Listens on 127.0.0.1 at a port the system picks, accepts one connection and runs `session` on it
// in a thread of its own; the connection is closed when the session returns.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::function<void(int)> session) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ok_ = listen_ >= 0 && bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
          listen(listen_, 1) == 0 && getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    port_ = ntohs(addr.sin_port);
    if (ok_) thread_ = std::thread([this, session] { Serve(session); });
  }
  ~LoopbackServer() {
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) close(listen_);
  }
  bool ok() const { return ok_; }
  uint16_t port() const { return port_; }

 private:
  void Serve(const std::function<void(int)>& session) {
    if (!WaitFor(listen_, POLLIN)) return;
    const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    session(fd);
    close(fd);
  }

  int listen_ = -1;
  bool ok_ = false;
  uint16_t port_ = 0;
  std::thread thread_;
};

// A loopback port that refuses connections: bound, so nobody else takes it, but not listening.
class ClosedPort {
 public:
  ClosedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
      port_ = ntohs(addr.sin_port);
    }
  }
  ~ClosedPort() {
    if (fd_ >= 0) close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// --- The client under test ---------------------------------------------------------------------

TEST(Tcp, ConnectsByNameOrAddressAndEchoes) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    LoopbackServer server(Echo);
    ASSERT_TRUE(server.ok());
    Connection conn = Connect(host, server.port());
    ASSERT_NE(conn, nullptr) << LastErrorText();

    const std::string message = "fiscal drive message \x01\x00\xff";
    ASSERT_TRUE(plat::TcpSendAll(conn.get(), message.data(), message.size(), kLongTimeoutMs))
        << LastErrorText();
    std::string answer(message.size(), '\0');
    size_t got = 0;
    bool closed = true;
    const auto start = Clock::now();
    ASSERT_TRUE(plat::TcpReceive(conn.get(), &answer[0], answer.size(), kLongTimeoutMs, &got, &closed));
    EXPECT_LT(MsSince(start), kPromptMs);  // a full buffer ends the wait
    EXPECT_EQ(got, message.size());
    EXPECT_EQ(answer, message);
    EXPECT_FALSE(closed);
  }
}

TEST(Tcp, ConnectFailuresArePromptWithTheirReason) {
  ClosedPort closedPort;
  ASSERT_NE(closedPort.port(), 0);
  // A label longer than DNS allows (63), so the resolver refuses the name without asking a server.
  const std::string unresolvable = std::string(70, 'a') + ".invalid";
  struct Case {
    const char* what;
    std::string host;
    uint32_t error;
  };
  const Case cases[] = {
      {"nobody listens", "127.0.0.1", ECONNREFUSED},
      {"nobody listens, by name", "localhost", ECONNREFUSED},
      {"unresolvable name", unresolvable, plat::kErrResolverBase | static_cast<uint16_t>(EAI_NONAME)},
      {"empty name", "", EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = Clock::now();
    EXPECT_EQ(plat::TcpConnect(c.host.c_str(), closedPort.port(), kLongTimeoutMs), nullptr);
    EXPECT_LT(MsSince(start), kPromptMs);
    EXPECT_EQ(plat::SystemLastError(), c.error);
    EXPECT_FALSE(LastErrorText().empty());
  }
  // The resolver's code has the resolver's text, not that of an unrelated errno value.
  EXPECT_EQ(plat::SystemErrorText(plat::kErrResolverBase | static_cast<uint16_t>(EAI_NONAME)),
            gai_strerror(EAI_NONAME));
}

TEST(Tcp, ReceiveTimeOutIsSuccessWithWhatArrived) {
  struct Case {
    const char* what;
    std::function<void(int)> session;
    std::string sent;
  };
  const Case cases[] = {
      {"silent peer", HoldUntilClientCloses, ""},
      {"fewer bytes than asked for", Echo, "abc"},
  };
  constexpr uint32_t kTimeoutMs = 300;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoopbackServer server(c.session);
    ASSERT_TRUE(server.ok());
    Connection conn = Connect("127.0.0.1", server.port());
    ASSERT_NE(conn, nullptr) << LastErrorText();
    ASSERT_TRUE(plat::TcpSendAll(conn.get(), c.sent.data(), c.sent.size(), kLongTimeoutMs));

    char buf[64];
    size_t got = 99;
    bool closed = true;
    const auto start = Clock::now();
    EXPECT_TRUE(plat::TcpReceive(conn.get(), buf, sizeof buf, kTimeoutMs, &got, &closed)) << LastErrorText();
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, static_cast<long>(kTimeoutMs) - 10);
    EXPECT_LT(elapsed, static_cast<long>(kTimeoutMs) + kPromptMs);
    EXPECT_EQ(std::string(buf, got), c.sent);
    EXPECT_FALSE(closed);
    EXPECT_EQ(plat::SystemLastError(), 0u);
  }
}

TEST(Tcp, PeerClosingEndsTheReceiveAndLaterSendsFailWithoutASignal) {
  LoopbackServer server(SendAndClose("bye"));
  ASSERT_TRUE(server.ok());
  Connection conn = Connect("127.0.0.1", server.port());
  ASSERT_NE(conn, nullptr) << LastErrorText();

  char buf[64];
  size_t got = 0;
  bool closed = false;
  auto start = Clock::now();
  ASSERT_TRUE(plat::TcpReceive(conn.get(), buf, sizeof buf, kLongTimeoutMs, &got, &closed));
  EXPECT_LT(MsSince(start), kPromptMs);
  EXPECT_EQ(std::string(buf, got), "bye");
  EXPECT_TRUE(closed);
  // Asked again, the closed side answers at once with nothing.
  start = Clock::now();
  ASSERT_TRUE(plat::TcpReceive(conn.get(), buf, sizeof buf, kLongTimeoutMs, &got, &closed));
  EXPECT_LT(MsSince(start), kPromptMs);
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(closed);

  // The first send after the peer left may still be taken by the system; the peer's reset then
  // fails a later one, which would end this process with SIGPIPE were the signal not suppressed.
  start = Clock::now();
  while (plat::TcpSendAll(conn.get(), "x", 1, kLongTimeoutMs)) {
    ASSERT_LT(MsSince(start), kPromptMs) << "sends to a gone peer kept succeeding";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const uint32_t error = plat::SystemLastError();
  EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << LastErrorText();
}

TEST(Tcp, LargeSendArrivesWhole) {
  std::vector<char> data(4 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  LoopbackServer server(DigestOf(data.size()));
  ASSERT_TRUE(server.ok());
  Connection conn = Connect("127.0.0.1", server.port());
  ASSERT_NE(conn, nullptr) << LastErrorText();

  ASSERT_TRUE(plat::TcpSendAll(conn.get(), data.data(), data.size(), kLongTimeoutMs)) << LastErrorText();
  uint32_t digest = 0;
  size_t got = 0;
  bool closed = false;
  ASSERT_TRUE(plat::TcpReceive(conn.get(), &digest, sizeof digest, kLongTimeoutMs, &got, &closed));
  ASSERT_EQ(got, sizeof digest);
  EXPECT_EQ(digest, Fnv1a(kFnvStart, data.data(), data.size()));
}

TEST(Tcp, SendToAPeerThatDoesNotReadTimesOut) {
  Gate gate;
  LoopbackServer server(gate.HoldThenDrain());
  ASSERT_TRUE(server.ok());
  Connection conn = Connect("127.0.0.1", server.port());
  ASSERT_NE(conn, nullptr) << LastErrorText();

  // Far more than the two sockets' buffers on loopback hold together.
  const std::vector<char> data(64 << 20, 'x');
  constexpr uint32_t kTimeoutMs = 300;
  const auto start = Clock::now();
  EXPECT_FALSE(plat::TcpSendAll(conn.get(), data.data(), data.size(), kTimeoutMs));
  const long elapsed = MsSince(start);
  EXPECT_EQ(plat::SystemLastError(), static_cast<uint32_t>(ETIMEDOUT));
  EXPECT_GE(elapsed, static_cast<long>(kTimeoutMs) - 10);
  EXPECT_LT(elapsed, static_cast<long>(kTimeoutMs) + kPromptMs);
  gate.Open();
}

TEST(Tcp, CallsWithoutAConnectionFail) {
  char buf[4] = "";
  size_t got = 0;
  bool closed = false;
  EXPECT_FALSE(plat::TcpSendAll(nullptr, buf, sizeof buf, 0));
  EXPECT_EQ(plat::SystemLastError(), static_cast<uint32_t>(EBADF));
  EXPECT_FALSE(plat::TcpReceive(nullptr, buf, sizeof buf, 0, &got, &closed));
  EXPECT_EQ(plat::SystemLastError(), static_cast<uint32_t>(EBADF));
  EXPECT_TRUE(plat::TcpClose(nullptr));
}

}  // namespace
