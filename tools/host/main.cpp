// mirel-host: a command-line host for the component. It creates the add-in object through its
// class factory, initialises it with a connection object of its own, and runs driver methods by
// name, one call a line, printing what the host platform would see.
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "component.h"
#include "host_services.h"
#include "host_session.h"
#include "native_front.h"

namespace {

constexpr const char kUsage[] =
    "usage: mirel-host [options] [METHOD [ARG...]]\n"
    "\n"
    "Runs one call given on the command line, or the calls of a script (one a line), or the\n"
    "calls read from standard input when neither is given.\n"
    "\n"
    "options:\n"
    "  --script FILE    run the calls in FILE\n"
    "  --profile FILE   the host's property profile (default: mirel-host.profile)\n"
    "  --expect-ok      stop and exit with 1 at the first call that fails\n"
    "  --info           print the add-in interface version (IInitDone::GetInfo) first\n"
    "  --native LIB     load the component behind the native add-in interface from the library\n"
    "                   LIB (libMirel240F_DRV.so, Mirel240F_DRV_Native.dll), as 1C on Linux does\n"
    "  --help           this text and the methods\n"
    "\n"
    "A call is a method name (English or Russian) and its in-arguments: words, \"quoted text\",\n"
    "numbers, true/false, @FILE for the contents of a file (an XML package; in a script, a relative\n"
    "path starts from the script's folder), $DeviceID for the identifier the last Open returned, and\n"
    "$NAME for the value of an environment variable. Out-parameters are printed after the result;\n"
    "after a failed call, the code and text of GetLastError.\n"
    "\n"
    "wait SECONDS TEXT METHOD [ARG...] repeats the call once a second until what it prints contains\n"
    "TEXT (the relay has sent the fiscal drive's documents, say), and fails when SECONDS pass first.\n"
    "Done ends the component as the host does when it unloads it; the calls after it are refused.\n"
    "\n"
    "methods:\n";

struct Options {
  std::string script;
  std::string profile = "mirel-host.profile";
  std::string nativeLibrary;  // empty: the COM component
  bool expectOk = false;
  bool info = false;
  bool help = false;
  HostCall call;  // from the command line; empty method when none
};

bool ParseOptions(int argc, char** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--expect-ok") {
      options->expectOk = true;
    } else if (arg == "--info") {
      options->info = true;
    } else if ((arg == "--script" || arg == "--profile" || arg == "--native") && i + 1 < argc) {
      std::string& value = arg == "--script"    ? options->script
                           : arg == "--profile" ? options->profile
                                                : options->nativeLibrary;
      value = argv[++i];
    } else if (arg.rfind("--", 0) == 0) {
      std::cerr << "mirel-host: unknown option " << arg << "\n";
      return false;
    } else {
      break;
    }
  }
  // The rest of the command line is one call; it goes through the script parser so that quoting
  // and @FILE mean the same in both places.
  std::string line;
  for (; i < argc; ++i) {
    std::string word = argv[i];
    std::string quoted = "\"";
    for (char c : word) {
      if (c == '"' || c == '\\') quoted.push_back('\\');
      quoted.push_back(c);
    }
    quoted.push_back('"');
    // The shell has split the words already: one holding blanks or quotes is re-quoted to stay
    // whole; the others (numbers, true/false, @FILE) keep their meaning unquoted.
    line += ' ' + (word.find_first_of(" \t\"\\") == std::string::npos ? word : quoted);
  }
  std::optional<HostCall> call;
  std::string error;
  if (!ParseCallLine(line, "", &call, &error)) {
    std::cerr << "mirel-host: " << error << "\n";
    return false;
  }
  if (call) options->call = *call;
  return true;
}

// The folder of a script, where the packages it names with a relative @path are.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

// Runs every call of the stream; 0, or 1 when a call failed and --expect-ok asked to stop there.
int RunScript(std::istream& in, const std::string& baseDir, HostSession& session, bool expectOk) {
  std::string line;
  int lineNumber = 0;
  int status = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    std::optional<HostCall> call;
    std::string error;
    if (!ParseCallLine(line, baseDir, &call, &error)) {
      std::cout << "line " << lineNumber << ": " << error << "\n";
      return 2;
    }
    if (!call) continue;
    std::cout << "> " << line << "\n";
    const CallOutcome outcome = session.Run(*call);
    // Each call's text is out before the next line is read, also through a pipe or a file, so
    // that whoever feeds the calls one by one sees when each has ended.
    std::cout.flush();
    if (outcome == CallOutcome::kRejected) return 2;
    if (outcome == CallOutcome::kFailed && expectOk) {
      std::cout << "line " << lineNumber << ": the call failed\n";
      status = 1;
      break;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;
  if (options.help) {
    std::cout << kUsage;
    PrintMethodList(std::cout);
    return 0;
  }

  ComponentRuntime runtime;
  std::string runtimeError;
  if (!runtime.Ready(&runtimeError)) {
    std::cerr << "mirel-host: " << runtimeError << "\n";
    return 2;
  }
  HostConnection connection(options.profile);
  HostMemory memory;
  NativeEntryPoints entry;
  std::shared_ptr<void> library;
  ComponentCreator create;
  if (!options.nativeLibrary.empty()) {
    std::string error;
    if (!LoadNativeLibrary(options.nativeLibrary, &entry, &library, &error)) {
      std::cerr << "mirel-host: " << error << "\n";
      return 2;
    }
    create = [&](HostConnection& c, IInitDone** pp, std::string* e) {
      return CreateNativeComponent(entry, library, c, memory, pp, e);
    };
  }
  int status = 0;
  {
    HostSession session(std::cout, create);
    std::string error;
    if (!session.Start(connection, &error)) {
      std::cerr << "mirel-host: " << error << "\n";
      return 2;
    }
    if (options.info) session.PrintInfo();
    if (!options.call.method.empty()) {
      const CallOutcome outcome = session.Run(options.call);
      status = outcome == CallOutcome::kRejected                       ? 2
               : (outcome == CallOutcome::kFailed && options.expectOk) ? 1
                                                                       : 0;
    } else if (!options.script.empty()) {
      std::ifstream script(options.script);
      if (!script) {
        std::cerr << "mirel-host: cannot read " << options.script << "\n";
        return 2;
      }
      status = RunScript(script, FolderOf(options.script), session, options.expectOk);
    } else {
      status = RunScript(std::cin, "", session, options.expectOk);
    }
  }
  // The component has been released with the session; the connection must be free again.
  if (connection.References() != 1) {
    std::cerr << "mirel-host: the component kept " << connection.References() - 1
              << " reference(s) to the host\n";
    return 2;
  }
  // Every string either side handed the other through the host's memory manager has been freed.
  if (memory.Outstanding() != 0) {
    std::cerr << "mirel-host: " << memory.Outstanding() << " block(s) of the host's memory were not freed\n";
    return 2;
  }
  return status;
}
