// Inside the log subsystem: which fields belong to which file, and the file handling that the
// writers share with OpenLogs (daily names, day change).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "device/fp_context.h"

enum class LogKind { kH, kL };

// The context's fields of one file.
struct LogFileRef {
  FILE*& stream;
  char (&indent)[64];
  int32_t& depth;
  char (&fixedPath)[260];
  char (&dailyName)[30];
  char (&openPath)[260];    // the path the stream has open
  const char* dailyPrefix;  // "Mirel-H-" or "Mirel-L-"
};

LogFileRef LogFileOf(FPContext* ctx, LogKind kind);

// Opens the file's stream on `path` in append mode and remembers the path; the stream stays null
// for an empty or over-long path or a file that cannot be opened.
void OpenLogFile(LogFileRef file, const std::string& path);

// In daily mode, before every line: moves each file whose daily name is no longer today's to the
// new day's file (L first, then H). When the folder cannot be used, daily mode is switched off and
// the open files stay in use.
void FollowDayChange(FPContext* ctx);
