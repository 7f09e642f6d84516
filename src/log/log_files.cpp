#include "log/log_files.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "device/text_field.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

constexpr char kDailyFolder[] = "Log";
constexpr char kDailySuffix[] = ".log";
constexpr size_t kDailyNameLength = 22;  // "Mirel-H-yyyy-mm-dd.log"
// The longest path a file may have: what the path fields hold, and what Windows opens without the
// long-path prefix.
constexpr size_t kMaxPathLength = sizeof(FPContext::szLogPath) - 1;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The folder of the daily files: szLogPath with a separator at its end, then "Log" and a separator
// unless the path already names such a folder.
std::string DailyDirectory(const FPContext* ctx) {
  const char sep = plat::PathSeparator();
  std::string dir = ctx->szLogPath;
  if (dir.empty() || dir.back() != sep) dir += sep;
  const std::string folder = std::string(kDailyFolder) + sep;
  if (!EndsWith(dir, sep + folder)) dir += folder;
  return dir;
}

// The daily folder, created when missing (with any missing parent, since on POSIX the default
// log directory itself may not exist yet). False when it cannot be used, or when the paths of
// its files would be too long.
bool PrepareDailyDirectory(const FPContext* ctx, std::string* dir) {
  *dir = DailyDirectory(ctx);
  // A folder whose files' paths would be too long counts as unusable, like one that cannot be made.
  if (dir->size() + kDailyNameLength > kMaxPathLength) return false;
  return plat::MakeDirectories(*dir);
}

// "Mirel-H-" or "Mirel-L-", the date, ".log": 22 characters.
std::string DailyName(const char* prefix, const plat::CalendarTime& date) {
  char name[30];
  std::snprintf(name, sizeof name, "%s%04d-%02d-%02d%s", prefix, date.year, date.month, date.day,
                kDailySuffix);
  return name;
}

// Today's name, by the UTC date, so that a file covers the same hours wherever the shop is.
std::string TodaysName(FPContext* ctx, LogKind kind) {
  return DailyName(LogFileOf(ctx, kind).dailyPrefix, ctx->pClock->UtcTime());
}

// Whether a name has the form prefix + "????-??-??.log", '?' being any one character.
bool IsDailyName(const std::string& name, const char* prefix) {
  // Joined from pieces so that no "??-" trigraph sequence appears inside one literal.
  const std::string pattern = std::string(prefix) + "????" + "-??" + "-??" + kDailySuffix;
  if (name.size() != pattern.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (pattern[i] != '?' && pattern[i] != name[i]) return false;
  }
  return true;
}

// The lifetime in days. The settings keep it within 1..30 (else 7); the same rule here means that
// a field set directly to zero or below can never put the cut-off on today, which would delete
// the file being written.
int64_t LifetimeDays(const FPContext* ctx) {
  const int32_t days = ctx->nDailyLogLifeTime;
  return days >= 1 && days <= 30 ? days : 7;
}

// Deletes the daily files of one kind in dir whose names sort before the file of the day
// nDailyLogLifeTime days ago (by local date); that day's file and later ones stay. Folders with
// such names are left alone.
void DeleteExpiredLogs(FPContext* ctx, LogKind kind, const std::string& dir) {
  const char* prefix = LogFileOf(ctx, kind).dailyPrefix;
  const int64_t cutoffTime = ctx->pClock->UnixTime() - LifetimeDays(ctx) * 86400;
  const std::string cutoff = DailyName(prefix, plat::LocalTimeOf(cutoffTime));
  std::vector<plat::DirectoryEntry> entries;
  if (!plat::ListDirectory(dir, &entries)) return;
  for (const plat::DirectoryEntry& entry : entries) {
    if (entry.directory || !IsDailyName(entry.name, prefix)) continue;
    if (std::strcmp(entry.name.c_str(), cutoff.c_str()) < 0) plat::RemoveFile(dir + entry.name);
  }
}

void OpenDailyLog(LogFileRef file, const std::string& dir, const std::string& name) {
  CopyText(file.dailyName, name.c_str());
  OpenLogFile(file, dir + name);
}

void OpenDailyLogs(FPContext* ctx, const std::string& dir) {
  DeleteExpiredLogs(ctx, LogKind::kL, dir);
  DeleteExpiredLogs(ctx, LogKind::kH, dir);
  for (LogKind kind : {LogKind::kL, LogKind::kH}) {
    LogFileRef file = LogFileOf(ctx, kind);
    if (file.stream == nullptr) OpenDailyLog(file, dir, TodaysName(ctx, kind));
  }
}

// c:\ always exists on Windows; the per-user directory that stands for it elsewhere is made the
// first time a file is opened in it.
void CreateDefaultDirectoryFor(const std::string& path) {
  const std::string defaultDir = plat::DefaultLogDirectory();
  // A file directly in the default directory: its name holds no further separator.
  if (path.compare(0, defaultDir.size(), defaultDir) != 0 ||
      path.find(plat::PathSeparator(), defaultDir.size()) != std::string::npos) {
    return;
  }
  plat::MakeDirectories(defaultDir);
}

void OpenFixedLogs(FPContext* ctx) {
  for (LogKind kind : {LogKind::kL, LogKind::kH}) {
    LogFileRef file = LogFileOf(ctx, kind);
    if (file.stream != nullptr) continue;
    CreateDefaultDirectoryFor(file.fixedPath);
    OpenLogFile(file, file.fixedPath);
  }
}

void CloseStream(FILE*& stream) {
  if (stream == nullptr) return;
  std::fflush(stream);
  std::fclose(stream);
  stream = nullptr;
}

}  // namespace

LogFileRef LogFileOf(FPContext* ctx, LogKind kind) {
  if (kind == LogKind::kH) {
    return {ctx->fileLogH,     ctx->szLogIndentH, ctx->nLogDepthH, ctx->szLogFileH,
            ctx->szDailyNameH, ctx->szOpenLogH,   "Mirel-H-"};
  }
  return {ctx->fileLogL,     ctx->szLogIndentL, ctx->nLogDepthL, ctx->szLogFileL,
          ctx->szDailyNameL, ctx->szOpenLogL,   "Mirel-L-"};
}

void OpenLogFile(LogFileRef file, const std::string& path) {
  file.stream = nullptr;
  file.openPath[0] = '\0';
  if (path.empty() || path.size() >= sizeof file.openPath) return;
  file.stream = plat::OpenFile(path, "a");
  if (file.stream) CopyText(file.openPath, path.c_str());
}

void FollowDayChange(FPContext* ctx) {
  for (LogKind kind : {LogKind::kL, LogKind::kH}) {
    LogFileRef file = LogFileOf(ctx, kind);
    const std::string name = TodaysName(ctx, kind);
    if (name == file.dailyName) continue;
    std::string dir;
    if (!PrepareDailyDirectory(ctx, &dir)) {
      ctx->bDailyLog = 0;
      return;
    }
    CloseStream(file.stream);
    DeleteExpiredLogs(ctx, kind, dir);
    OpenDailyLog(file, dir, name);
  }
}

void OpenLogs(FPContext* ctx) {
  std::lock_guard<std::mutex> lock(ctx->csLog);
  if (ctx->bDailyLog) {
    std::string dir;
    if (PrepareDailyDirectory(ctx, &dir)) {
      OpenDailyLogs(ctx, dir);
      return;
    }
    ctx->bDailyLog = 0;
  }
  OpenFixedLogs(ctx);
}

void CloseLogs(FPContext* ctx) {
  std::lock_guard<std::mutex> lock(ctx->csLog);
  CloseStream(ctx->fileLogH);
  CloseStream(ctx->fileLogL);
}
