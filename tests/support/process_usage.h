// What this process holds right now: its threads and its open descriptors (and of them the
// sockets and the terminal ports), as /proc tells them, and its resident memory, as the platform
// layer measures it for the driver's own figures. A test that creates and
// releases objects many times compares two readings to find what was left behind.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/process.h"

struct ProcessUsage {
  int threads = 0;
  int descriptors = 0;
  int sockets = 0;
  int ports = 0;  // pseudo-terminals and serial lines
  long residentKb = 0;

  static ProcessUsage Now() {
    ProcessUsage u;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Threads:", 0) == 0) u.threads = std::stoi(line.substr(8));
    }
    u.residentKb = static_cast<long>(plat::ResidentBytes() / 1024);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
      // The iterator's own descriptor is among them, in every reading alike.
      ++u.descriptors;
      const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
      if (target.rfind("socket:", 0) == 0) ++u.sockets;
      if (target.rfind("/dev/pts/", 0) == 0 || target.rfind("/dev/tty", 0) == 0) ++u.ports;
    }
    return u;
  }

  std::string Text() const {
    return std::to_string(threads) + " threads, " + std::to_string(descriptors) + " descriptors (" +
           std::to_string(sockets) + " sockets, " + std::to_string(ports) + " ports), " +
           std::to_string(residentKb) + " kB resident";
  }
};
