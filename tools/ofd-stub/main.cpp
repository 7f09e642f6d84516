// ofd-stub: the test OFD server on loopback, for people, scripts and the demo.
//
//   ofd-stub [--port N] [--ready-file FILE] [--fault FAULT [--fault-count N]]
//
// Prints "OFD_PORT=<port>" once it serves (and writes the port to --ready-file, so that a script
// waits for the file instead of guessing a delay), then one line per document received with its
// tags decoded on the line below, or "error: " and the reason for a message it refused, until
// SIGINT or SIGTERM. --port 0 (the default) takes a free port. --fault FAULT makes it misbehave
// (the faults are those of the fault table, see ParseFault): down (the port held, every
// connection refused), close without answering, stall, slow[:MS], answer in pieces[:MS], answer
// garbage, or answer short[:N] (N bytes of the session header alone); on every exchange, or on the
// next N with --fault-count.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "ofd-stub/ofd_stub.h"

namespace {

std::atomic<bool> g_quit{false};

void OnSignal(int) {
  g_quit = true;
}

struct Options {
  unsigned long port = 0;
  std::string readyFile;
  ofdstub::FaultSettings fault;
  long faultCount = -1;
};

void Usage() {
  std::cerr << "usage: ofd-stub [--port N] [--ready-file FILE] [--fault FAULT [--fault-count N]]\n"
               "  FAULT: down | close | stall | slow[:MS] | pieces[:MS] | garbage | short[:N]\n";
}

// Reads a number up to `max`; false when `text` is not one.
bool ParseNumber(const char* text, unsigned long max, unsigned long* value) {
  char* end = nullptr;
  *value = std::strtoul(text, &end, 10);
  return end != text && *end == '\0' && *value <= max;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long n = 0;
    if (!value) return false;
    ++i;
    std::string error;
    if (arg == "--port" && ParseNumber(value, 65535, &n)) {
      o->port = n;
    } else if (arg == "--ready-file") {
      o->readyFile = value;
    } else if (arg == "--fault") {
      if (!ofdstub::ParseFault(value, &o->fault, &error)) {
        std::cerr << "ofd-stub: " << error << "\n";
        return false;
      }
    } else if (arg == "--fault-count" && ParseNumber(value, 1000000, &n)) {
      o->faultCount = static_cast<long>(n);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  ofdstub::OfdStub stub;
  stub.ApplyFault(options.fault);
  stub.SetFault(options.fault.fault, static_cast<int>(options.faultCount));
  stub.SetLineListener([](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  if (!stub.Start(static_cast<uint16_t>(options.port), options.fault.refuse)) {
    std::cerr << "ofd-stub: cannot hold port " << options.port << " on 127.0.0.1\n";
    return 1;
  }
  std::printf("OFD_PORT=%u\n", static_cast<unsigned>(stub.Port()));
  std::fflush(stdout);
  if (!options.readyFile.empty()) std::ofstream(options.readyFile) << stub.Port() << "\n";

  // A signal handler may only set a flag; look at it often enough that stopping feels immediate.
  while (!g_quit) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stub.Stop();
  return 0;
}
