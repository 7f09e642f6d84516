#include "log/log.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "log/log_files.h"
#include "platform/files.h"

namespace {

constexpr int kMaxLogDepth = 31;
constexpr char kLevel[] = ": ";
constexpr size_t kLevelLength = sizeof kLevel - 1;

// The line formats. The date and time come first, then a blank, then the file's indentation; send
// and receive lines have a second blank so that the line traffic stands out from the calls. The H
// return line ends with an empty line, which separates the driver calls in the H file.
constexpr char kEnterFormat[] = "%04d-%02d-%02d %02d:%02d:%02d %s{%s enter\n";
constexpr char kReturnHFormat[] = "%04d-%02d-%02d %02d:%02d:%02d %s}%s ret %s\n\n";
constexpr char kReturnFormat[] = "%04d-%02d-%02d %02d:%02d:%02d %s}%s ret %s\n";
constexpr char kMessageFormat[] = "%04d-%02d-%02d %02d:%02d:%02d %s*%s: %s\n";
constexpr char kSendFormat[] = "%04d-%02d-%02d %02d:%02d:%02d  %s<send %s %s\n";
constexpr char kRecvFormat[] = "%04d-%02d-%02d %02d:%02d:%02d  %s>recv %s %s\n";

// How a line moves the nesting and when it is flushed.
enum class Step {
  kEnter,   // written with the current prefix, then one level added; flushed with auto-flush
  kReturn,  // one level removed first; always flushed, then the size limit is checked
  kLine,    // prefix as it stands; flushed with auto-flush or outside any call
};

// The one place a line is printed: local time, then the writer's format with the indentation and
// up to two texts (formats with one text ignore the second).
void PrintLine(FPContext* ctx, FILE* stream, const char* format, const char* indent, const char* first,
               const char* second) {
  const plat::CalendarTime t = ctx->pClock->LocalTime();
  std::fprintf(stream, format, t.year, t.month, t.day, t.hour, t.minute, t.second, indent, first, second);
}

void PushLevel(LogFileRef file) {
  if (file.depth >= kMaxLogDepth) return;
  std::snprintf(file.indent + file.depth * kLevelLength, sizeof file.indent - file.depth * kLevelLength, "%s",
                kLevel);
  ++file.depth;
}

void PopLevel(LogFileRef file) {
  if (file.depth <= 0) return;
  --file.depth;
  file.indent[file.depth * kLevelLength] = '\0';
}

// After a failed close or rename the file cannot be trimmed: it is opened again under its own name
// and grows on, with a line that says why.
void ReopenAfterTrimFailure(FPContext* ctx, LogFileRef file, const std::string& path, const char* text) {
  OpenLogFile(file, path);
  if (file.stream == nullptr) return;
  PrintLine(ctx, file.stream, kMessageFormat, ctx->szLogIndentH, "Log Error ", text);
  std::fflush(file.stream);
}

// Appends everything of the file at `from` from offset `start` to `to`. Block copies give the same
// bytes as copying line by line, and a cut first line is kept as it is.
void CopyTail(const std::string& from, long start, FILE* to) {
  FILE* in = plat::OpenFile(from, "r");
  if (in == nullptr) return;
  if (std::fseek(in, start, SEEK_SET) == 0) {
    char block[4096];
    size_t count;
    while ((count = std::fread(block, 1, sizeof block, in)) > 0) std::fwrite(block, 1, count, to);
  }
  std::fclose(in);
}

// Keeps the newest part of a file that has grown past nLogMaxSize: the file is renamed to a backup
// (last character of the name replaced by '_'), a new file is started under the old name, and the
// backup's tail from (size - nLogMaxSize + nLogTrimSize) is copied into it before the backup goes.
void TrimLog(FPContext* ctx, LogKind kind) {
  LogFileRef file = LogFileOf(ctx, kind);
  // The file the stream has open, whatever the settings have become since it was opened.
  const std::string path = file.openPath;
  if (path.empty()) return;
  FILE* old = file.stream;
  // After fclose the stream is gone whatever it returns, so the field is cleared first.
  file.stream = nullptr;
  if (std::fclose(old) != 0) {
    ReopenAfterTrimFailure(ctx, file, path, "Failed to close file");
    return;
  }
  std::string backup = path;
  backup.back() = '_';
  // A backup left by an earlier trim that could not finish is the only copy of its lines: the
  // rename fails rather than replace it.
  if (plat::PathExists(backup) || !plat::RenameFile(path, backup)) {
    ReopenAfterTrimFailure(ctx, file, path, "Failed to rename file");
    return;
  }
  OpenLogFile(file, path);
  // Without a new file the backup is the only copy of the log: it stays.
  if (file.stream == nullptr) return;
  // The start is taken from the backup itself, so a file shorter than the stream's position (one
  // replaced behind the driver's back) is copied whole rather than lost.
  uint64_t size = 0;
  if (!plat::FileSize(backup, &size)) return;
  const long long start = static_cast<long long>(size) - ctx->nLogMaxSize + ctx->nLogTrimSize;
  CopyTail(backup, static_cast<long>(start < 0 ? 0 : start), file.stream);
  std::fflush(file.stream);
  plat::RemoveFile(backup);
}

void TrimIfTooLarge(FPContext* ctx, LogKind kind) {
  const long size = std::ftell(LogFileOf(ctx, kind).stream);
  if (size > ctx->nLogMaxSize) TrimLog(ctx, kind);
}

void PrintAndFlush(FPContext* ctx, LogKind kind, Step step, const char* format, const char* first,
                   const char* second) {
  if (LogFileOf(ctx, kind).stream == nullptr) return;
  if (ctx->bDailyLog) FollowDayChange(ctx);
  LogFileRef file = LogFileOf(ctx, kind);
  if (file.stream == nullptr) return;
  PrintLine(ctx, file.stream, format, file.indent, first, second);
  switch (step) {
    case Step::kEnter:
      if (ctx->bLogAutoFlush) std::fflush(file.stream);
      break;
    case Step::kLine:
      if (ctx->bLogAutoFlush || file.indent[0] == '\0') std::fflush(file.stream);
      break;
    case Step::kReturn:
      std::fflush(file.stream);
      TrimIfTooLarge(ctx, kind);
      break;
  }
}

// The nesting follows the calls even while the file is closed, so that switching logging off and
// on inside a call leaves the indentation right. The whole line, with its day change and trim, is
// one step under the log's lock.
void WriteLine(FPContext* ctx, LogKind kind, Step step, const char* format, const char* first,
               const char* second) {
  std::lock_guard<std::mutex> lock(ctx->csLog);
  if (step == Step::kReturn) PopLevel(LogFileOf(ctx, kind));
  PrintAndFlush(ctx, kind, step, format, first ? first : "", second ? second : "");
  if (step == Step::kEnter) PushLevel(LogFileOf(ctx, kind));
}

}  // namespace

void SetLogMode(FPContext* ctx, int mask, int autoFlush) {
  const bool enterReturn = mask & kLogEnterReturn;
  const bool message = mask & kLogMessage;
  const bool sendRecv = mask & kLogSendRecv;
  const bool enterReturnH = mask & kLogEnterReturnH;
  const bool messageH = mask & kLogMessageH;
  ctx->pfnLogEnter = enterReturn ? WriteLogEnter : nullptr;
  ctx->pfnLogReturn = enterReturn ? WriteLogReturn : nullptr;
  ctx->pfnLogMessage = message ? WriteLogMessage : nullptr;
  ctx->pfnLogSend = sendRecv ? WriteLogSend : nullptr;
  ctx->pfnLogRecv = sendRecv ? WriteLogRecv : nullptr;
  ctx->pfnLogEnterH = enterReturnH ? WriteLogEnterH : nullptr;
  ctx->pfnLogReturnH = enterReturnH ? WriteLogReturnH : nullptr;
  ctx->pfnLogMessageH = messageH ? WriteLogMessageH : nullptr;
  ctx->bLogAutoFlush = autoFlush;
}

void WriteLogEnterH(FPContext* ctx, const char* name) {
  WriteLine(ctx, LogKind::kH, Step::kEnter, kEnterFormat, name, nullptr);
}

void WriteLogReturnH(FPContext* ctx, const char* name, const char* resultText) {
  WriteLine(ctx, LogKind::kH, Step::kReturn, kReturnHFormat, name, resultText);
}

void WriteLogMessageH(FPContext* ctx, const char* name, const char* text) {
  WriteLine(ctx, LogKind::kH, Step::kLine, kMessageFormat, name, text);
}

void WriteLogEnter(FPContext* ctx, const char* name) {
  WriteLine(ctx, LogKind::kL, Step::kEnter, kEnterFormat, name, nullptr);
}

void WriteLogReturn(FPContext* ctx, const char* name, const char* resultText) {
  WriteLine(ctx, LogKind::kL, Step::kReturn, kReturnFormat, name, resultText);
}

void WriteLogMessage(FPContext* ctx, const char* name, const char* text) {
  WriteLine(ctx, LogKind::kL, Step::kLine, kMessageFormat, name, text);
}

void WriteLogSend(FPContext* ctx, const char* frameText, const char* resultText) {
  WriteLine(ctx, LogKind::kL, Step::kLine, kSendFormat, frameText, resultText);
}

void WriteLogRecv(FPContext* ctx, const char* frameText, const char* kindText) {
  WriteLine(ctx, LogKind::kL, Step::kLine, kRecvFormat, frameText, kindText);
}
