// Collects the low-level log lines a device context writes, in a compact form:
// "{name", "}name ret r", "*name: text", "<send frame result", ">recv frame kind".
#pragma once

#include <string>
#include <vector>

#include "device/fp_context.h"

struct LogCapture {
  std::vector<std::string> lines;

  void Install(FPContext* ctx) {
    ctx->pLogUser = this;
    ctx->pfnLogEnter = [](FPContext* c, const char* name) { Of(c).Add(std::string("{") + name); };
    ctx->pfnLogReturn = [](FPContext* c, const char* name, const char* r) {
      Of(c).Add(std::string("}") + name + " ret " + r);
    };
    ctx->pfnLogMessage = [](FPContext* c, const char* name, const char* text) {
      Of(c).Add(std::string("*") + name + ": " + text);
    };
    ctx->pfnLogSend = [](FPContext* c, const char* frame, const char* r) {
      Of(c).Add(std::string("<send ") + frame + " " + r);
    };
    ctx->pfnLogRecv = [](FPContext* c, const char* frame, const char* kind) {
      Of(c).Add(std::string(">recv ") + frame + " " + kind);
    };
  }

  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : lines) n += l.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
  bool Has(const std::string& line) const {
    for (const auto& l : lines) {
      if (l == line) return true;
    }
    return false;
  }
  std::string Text() const {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
  }

 private:
  static LogCapture& Of(FPContext* c) { return *static_cast<LogCapture*>(c->pLogUser); }
  void Add(std::string line) { lines.push_back(std::move(line)); }
};
