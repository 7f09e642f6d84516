// The component as the host platform drives it, on the virtual printer: created through its class
// factory (or, through the native front, its library's GetClassObject) and initialised with
// mirel-host's connection object (its property profile in a folder of the test's own), then called
// by name through mirel-host's session, one call a line exactly as in a mirel-host script. What the
// host saw of each call is read back from what the session printed.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "addin/mirel240f.h"
#include "addin/native/native_component.h"
#include "host/host_services.h"
#include "host/host_session.h"
#include "host/native_front.h"
#include "support/fake_clock.h"
#include "support/printer_line.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

// One call as the host saw it: the result, the out-parameters by name, and after False the code
// and text of GetLastError.
struct HostResult {
  bool ok = false;
  std::string result;  // as printed: "True", "False", or a number
  std::map<std::string, std::string> out;
  long code = 0;
  std::string error;
  std::string printed;
  std::chrono::steady_clock::duration took{};

  long Number(const std::string& name) const {
    const auto it = out.find(name);
    return it == out.end() ? -1 : std::stol(it->second);
  }
};

// `text` as one quoted argument of a call line.
inline std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted + '"';
}

// Reads what HostSession::Run printed: "Method: True", then "  Name: value" for each out-parameter
// ("  Name:" and the value's lines indented below it when it has several, as an XML document), then
// "  GetLastError: code text" after False.
inline HostResult ReadPrinted(const std::string& printed) {
  HostResult r;
  r.printed = printed;
  std::istringstream in(printed);
  std::string line;
  std::getline(in, line);
  const size_t head = line.find(": ");
  r.result = head == std::string::npos ? "" : line.substr(head + 2);
  r.ok = r.result == "True";
  std::string* value = nullptr;
  while (std::getline(in, line)) {
    if (line.compare(0, 4, "    ") == 0) {
      if (value) *value += (value->empty() ? "" : "\n") + line.substr(4);
      continue;
    }
    const size_t colon = line.find(':');
    if (line.compare(0, 2, "  ") != 0 || colon == std::string::npos) continue;
    const std::string name = line.substr(2, colon - 2);
    const std::string text = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
    if (name == "GetLastError") {
      const size_t blank = text.find(' ');
      r.code = std::stol(text.substr(0, blank));
      r.error = blank == std::string::npos ? "" : text.substr(blank + 1);
      value = nullptr;
    } else {
      value = &r.out[name];
      *value = text;
    }
  }
  return r;
}

// The front the host reaches the component through: COM, or the native add-in interface (the
// library's exported functions, linked into the test).
enum class Front { kCom, kNative };

inline std::string FrontName(const ::testing::TestParamInfo<Front>& info) {
  return info.param == Front::kCom ? "Com" : "Native";
}

inline const auto kBothFronts = ::testing::Values(Front::kCom, Front::kNative);

inline NativeEntryPoints LinkedNativeEntryPoints() {
  return {&GetClassNames, &GetClassObject, &DestroyObject, &SetPlatformCapabilities, &GetAttachType};
}

template <typename ClockT = FakeClock>
class HostOnPrinter : public ::testing::Test {
 protected:
  explicit HostOnPrinter(int port, Front front = Front::kCom) : line(port, clock), m_front(front) {}

  void SetUp() override {
    m_config = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", (m_dir.path() / "config").c_str());
    m_state = std::make_unique<ScopedEnv>("XDG_STATE_HOME", (m_dir.path() / "state").c_str());
    line.Start();
    StartSession();
  }
  // Done and the release, as the host ends its session.
  void TearDown() override { EndSession(); }

 public:
  // A new component, created and initialised as the host does it.
  void StartSession() {
    m_connection = std::make_unique<HostConnection>((m_dir.path() / "profile").string());
    ComponentCreator create;
    if (m_front == Front::kNative) {
      create = [this](HostConnection& connection, IInitDone** pp, std::string* error) {
        return CreateNativeComponent(LinkedNativeEntryPoints(), nullptr, connection, m_memory, pp, error);
      };
    }
    m_session = std::make_unique<HostSession>(m_printed, create);
    std::string error;
    ASSERT_TRUE(m_session->Start(*m_connection, &error)) << error;
    // The printer's pauses run on the test's clock; everything else is as the host left it.
    object = m_front == Front::kCom
                 ? static_cast<CMirel240F*>(m_session->Extender())
                 : static_cast<native::CMirel240FNative*>(NativeObjectOf(m_session->Component()))->Object();
    object->Device()->pClock = &clock;
  }
  void EndSession() {
    if (!m_session) return;
    m_session.reset();
    object = nullptr;
    // Every string the host and the component handed each other has been freed by its receiver.
    EXPECT_EQ(m_memory.Outstanding(), 0);
  }

  // Runs one call line ("ProcessCheck $DeviceID false ...") and returns what the host saw; @FILE
  // arguments are taken from `baseDir`.
  HostResult Call(const std::string& callLine, const std::string& baseDir = "") {
    std::optional<HostCall> call;
    std::string error;
    EXPECT_TRUE(ParseCallLine(callLine, baseDir, &call, &error)) << error;
    if (!call) return {};
    m_printed.str("");
    const auto start = std::chrono::steady_clock::now();
    const CallOutcome outcome = m_session->Run(*call);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_NE(outcome, CallOutcome::kRejected) << m_printed.str();
    HostResult r = ReadPrinted(m_printed.str());
    // A wait that never saw its text printed the last run of its method, which may say True.
    if (outcome == CallOutcome::kFailed) r.ok = false;
    r.took = took;
    return r;
  }

  // The settings a new installation needs (the printer's port and password), then Open.
  HostResult Open() {
    EXPECT_TRUE(Call("SetParameter Port " + std::to_string(line.Port())).ok);
    EXPECT_TRUE(Call("SetParameter Password \"472913\"").ok);
    return Call("Open");
  }

  ClockT clock;
  PrinterLine line;
  emu::VirtualPrinter& printer = line.printer;
  CMirel240F* object = nullptr;

 private:
  Front m_front;
  HostMemory m_memory;
  TempDir m_dir;
  std::unique_ptr<ScopedEnv> m_config, m_state;
  std::unique_ptr<HostConnection> m_connection;
  std::ostringstream m_printed;
  std::unique_ptr<HostSession> m_session;
};
