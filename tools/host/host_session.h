// mirel-host's side of the component: creating it through the class factory, initialising it with
// the host's connection object, and running calls by name through ILanguageExtender, as the host
// platform does. Calls come as lines: a method name (English or Russian), then the in-arguments.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "addin/host_interfaces.h"
#include "host_services.h"

// One argument as written: its text, and whether it was quoted (a quoted argument is always text).
struct HostArg {
  std::string text;
  bool quoted = false;
};

struct HostCall {
  std::string method;
  std::vector<HostArg> args;
};

// Splits one line into a call. Blank lines and lines starting with '#' give no call. Arguments are
// separated by blanks; "..." quotes (with \" and \\ inside); @path stands for the UTF-8 contents of a
// file (an XML package), a relative path taken from `baseDir` (empty: the current directory).
// False with a message for an unreadable file or an open quote.
bool ParseCallLine(const std::string& line, const std::string& baseDir, std::optional<HostCall>* call,
                   std::string* error);

// Prints the method list with parameters (the --help text).
void PrintMethodList(std::ostream& out);

enum class CallOutcome { kSucceeded, kFailed, kRejected };

// Creates the component a session drives: the COM one of this system (CreateComponent) unless
// another front is given.
using ComponentCreator =
    std::function<bool(HostConnection& connection, IInitDone** ppInitDone, std::string* error)>;

class HostSession {
 public:
  explicit HostSession(std::ostream& out, ComponentCreator create = nullptr)
      : m_out(&out), m_create(std::move(create)) {}
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Creates the component and calls Init with the connection. False with a message on failure.
  bool Start(HostConnection& connection, std::string* error);
  // Prints what IInitDone::GetInfo puts in element 0: the add-in interface version.
  void PrintInfo();
  // Runs one call and prints its result, its out-parameters and, after False, GetLastError.
  // kRejected: the method is unknown or the arguments do not fit it. The call "wait SECONDS TEXT
  // METHOD ARG..." runs METHOD once a second until what it prints contains TEXT, and prints its
  // last run; kFailed when SECONDS pass first. The call "Done" ends the component as the host does
  // when it unloads it (IInitDone::Done) and prints "Done: True"; every call after it is rejected.
  CallOutcome Run(const HostCall& call);
  // The interface the calls go through, for a test that also looks at the object behind it.
  ILanguageExtender* Extender() const { return m_pExtender; }
  // The component, once started (a benchmark measures the object itself behind the calls).
  IInitDone* Component() const { return m_pInitDone; }

 private:
  CallOutcome RunMethod(const HostCall& call);
  CallOutcome RunUntilPrinted(const HostCall& call);
  CallOutcome RunDone(const HostCall& call);
  bool BuildArguments(LONG method, const HostCall& call, SAFEARRAY* params);
  bool ResolveVariable(HostArg* arg);
  void PrintLastError();

  std::ostream* m_out;  // where calls print; a wait points it at each run's own text
  ComponentCreator m_create;
  IInitDone* m_pInitDone = nullptr;
  ILanguageExtender* m_pExtender = nullptr;
  bool m_bInitialised = false;
  std::string m_lastDeviceID;  // what "$DeviceID" stands for: the identifier of the last Open
};
