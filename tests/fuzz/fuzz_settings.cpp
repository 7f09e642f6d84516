// The host's settings: SetParameter with any name and any value, a few in a row, as 1C hands them
// over before Open, on a driver whose port is open to a printer that does not answer or still
// closed (the first byte's low bit), so that the settings that program the printer try it.
// The rest are pieces in pairs: the name as the host's 8-bit text, then the value, whose first
// byte picks the VARIANT type and whose other bytes are the text (UTF-16 units as they come, lone
// surrogates and NULs included) or the number's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/device_on_memory_line.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

constexpr size_t kMaxSettings = 8;

const VARTYPE kTypes[] = {VT_BSTR, VT_I4, VT_I2,  VT_BOOL, VT_UI4, VT_I8,    VT_UI8,
                          VT_R8,   VT_R4, VT_UI2, VT_UI1,  VT_INT, VT_EMPTY, VT_NULL};

// Where the driver's files go: its settings store and log files, and every log folder a value
// names.
std::string g_home;

// A log folder is kept inside the fuzzer's own directory: the value's separators and dots become
// '_', and the directory is put in front.
std::u16string ConfinedFolder(const std::u16string& value) {
  std::u16string folder(g_home.begin(), g_home.end());
  folder += u"/log-";
  for (char16_t c : value) folder += (c == u'/' || c == u'\\' || c == u'.') ? u'_' : c;
  return folder;
}

void MakeValue(const std::string& name, const std::string& piece, VARIANT* v) {
  VariantInit(v);
  if (piece.empty()) return;
  const VARTYPE type = kTypes[static_cast<uint8_t>(piece[0]) % (sizeof kTypes / sizeof kTypes[0])];
  const std::string payload = piece.substr(1);
  if (type == VT_BSTR) {
    std::u16string units(payload.size() / 2, u'\0');
    std::memcpy(&units[0], payload.data(), units.size() * sizeof(char16_t));
    if (name == "PathLog") units = ConfinedFolder(units);
    v->vt = VT_BSTR;
    v->bstrVal = SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
    return;
  }
  v->vt = type;
  std::memcpy(&v->llVal, payload.data(), std::min(payload.size(), sizeof v->llVal));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static TempDir home;
  g_home = home.path().string();
  static ScopedEnv homeEnv("HOME", g_home.c_str());
  static ScopedEnv configEnv("XDG_CONFIG_HOME", g_home.c_str());
  static ScopedEnv stateEnv("XDG_STATE_HOME", g_home.c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  DriverOnMemoryLine line({}, data[0] & 1);
  const std::vector<std::string> pieces = memline::SplitPieces(data + 1, size - 1);
  for (size_t i = 0; i + 1 < pieces.size() && i / 2 < kMaxSettings; i += 2) {
    const std::string name = pieces[i].c_str();
    VARIANT value;
    MakeValue(name, pieces[i + 1], &value);
    line.driver->SetParameter(name.c_str(), value);
    VariantClear(&value);
  }
  return 0;
}
