#include "driver/settings_mirror.h"

#include "platform/settings_store.h"

namespace {

constexpr const char kSettingsKey[] = "Software\\Velbor\\FP Mirel Driver\\Settings";
// Longest text read back: the log directory's field.
constexpr size_t kMaxText = 259;

plat::SettingsStore& Store() {
  static plat::SettingsStore store(kSettingsKey);
  return store;
}

void Report(FPContext* ctx, const char* name, const char* what) {
  if (ctx->pfnLogMessageH) ctx->pfnLogMessageH(ctx, name, what);
}

// A value that is missing, of the other kind, cut short or garbled reads as nothing: the setting
// keeps what it has, and the log says why.
bool Readable(FPContext* ctx, const char* name, bool read) {
  if (!read) Report(ctx, name, "No readable value in the settings store, ignored");
  return read;
}

}  // namespace

void MirrorNumber(FPContext* ctx, const char* name, uint32_t value) {
  if (!Store().WriteNumber(name, value)) Report(ctx, name, "Settings store write failed");
}

void MirrorText(FPContext* ctx, const char* name, const char* text) {
  if (!Store().WriteString(name, text ? text : "")) Report(ctx, name, "Settings store write failed");
}

bool ReadMirroredText(FPContext* ctx, const char* name, std::string* text) {
  std::string value;
  if (!Readable(ctx, name, Store().ReadString(name, &value) && value.size() <= kMaxText)) return false;
  *text = value;
  return true;
}

bool ReadMirroredNumber(FPContext* ctx, const char* name, uint32_t* value) {
  return Readable(ctx, name, Store().ReadNumber(name, value));
}
