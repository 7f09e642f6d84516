#include "device/recode.h"

#include <array>
#include <iterator>

namespace {

// A run of table entries: bytes first..last map to `to`, counting up when `runs` is set.
struct Span {
  uint8_t first;
  uint8_t last;
  uint8_t to;
  bool runs;
};

template <size_t N, size_t M>
std::array<uint8_t, N> BuildTable(const Span (&spans)[M], uint8_t base) {
  std::array<uint8_t, N> table{};
  for (const Span& s : spans) {
    for (int b = s.first; b <= s.last; ++b) {
      table[b - base] = static_cast<uint8_t>(s.runs ? s.to + (b - s.first) : s.to);
    }
  }
  return table;
}

// Device bytes -> Windows-1251 of the older printers: control bytes and the unused cells print as
// blanks, and the two runs of boxed digits read as plain digits.
const Span kFromDeviceSpans[] = {
    {0x00, 0x1F, 0x20, false}, {0x20, 0x7F, 0x20, true},  {0x80, 0x85, 0xC0, true},
    {0x86, 0x86, 0xA8, false}, {0x87, 0xA0, 0xC6, true},  {0xA1, 0xA1, 0xAA, false},
    {0xA2, 0xA2, 0xBA, false}, {0xA3, 0xA5, 0x20, false}, {0xA6, 0xA6, 0x2E, false},
    {0xA7, 0xA7, 0x20, false}, {0xA8, 0xA8, 0xB0, false}, {0xA9, 0xA9, 0xC8, false},
    {0xAA, 0xAA, 0xD2, false}, {0xAB, 0xAB, 0xCE, false}, {0xAC, 0xAC, 0xC3, false},
    {0xAD, 0xAD, 0x20, false}, {0xAE, 0xAF, 0x96, true},  {0xB0, 0xB5, 0xE0, true},
    {0xB6, 0xB6, 0xB8, false}, {0xB7, 0xD0, 0xE6, true},  {0xD1, 0xD1, 0x20, false},
    {0xD2, 0xDB, 0x30, true},  {0xDC, 0xE5, 0x30, true},  {0xE6, 0xEA, 0x20, false},
    {0xEB, 0xEB, 0xAB, false}, {0xEC, 0xEC, 0xBB, false}, {0xED, 0xEF, 0x20, false},
    {0xF0, 0xF0, 0x3D, false}, {0xF1, 0xFF, 0x20, false},
};

struct Override {
  uint8_t from;
  uint8_t to;
};

// The newer printers (model 5 on) keep NUL as the end of a text and have the number sign.
const Override kNewerFromDevice[] = {{0x00, 0x00}, {0xFC, 0xB9}};

template <size_t N>
void ApplyOverrides(std::array<uint8_t, N>* table, const Override* overrides, size_t count, uint8_t base) {
  for (size_t i = 0; i < count; ++i) (*table)[overrides[i].from - base] = overrides[i].to;
}

// Function-local statics: ready even for a context constructed during static initialisation.
const std::array<uint8_t, 256>& FromDeviceTable(bool newer) {
  static const std::array<uint8_t, 256> older = BuildTable<256>(kFromDeviceSpans, 0);
  static const std::array<uint8_t, 256> newerTable = [] {
    std::array<uint8_t, 256> t = BuildTable<256>(kFromDeviceSpans, 0);
    ApplyOverrides(&t, kNewerFromDevice, std::size(kNewerFromDevice), 0);
    return t;
  }();
  return newer ? newerTable : older;
}

// Windows-1251 upper half -> device bytes of table 3 (the supported model's); characters the
// printer lacks become blanks or the nearest sign it has.
const Span kToDeviceSpans[] = {
    {0x80, 0x80, 0xFB, false}, {0x81, 0x95, 0x20, false}, {0x96, 0x97, 0xAE, true},
    {0x98, 0xA6, 0x20, false}, {0xA7, 0xA7, 0xA7, false}, {0xA8, 0xA8, 0x86, false},
    {0xA9, 0xAC, 0xA9, true},  {0xAD, 0xAD, 0x20, false}, {0xAE, 0xAF, 0xAE, true},
    {0xB0, 0xB0, 0xA7, false}, {0xB1, 0xB1, 0xA5, false}, {0xB2, 0xB7, 0x20, false},
    {0xB8, 0xB8, 0xB6, false}, {0xB9, 0xB9, 0xFC, false}, {0xBA, 0xBC, 0x20, false},
    {0xBD, 0xBD, 0xA5, false}, {0xBE, 0xBE, 0xFB, false}, {0xBF, 0xBF, 0x20, false},
    {0xC0, 0xC5, 0x80, true},  {0xC6, 0xDF, 0x87, true},  {0xE0, 0xE5, 0xB0, true},
    {0xE6, 0xFF, 0xB7, true},
};

// Tables 1 and 2 differ from table 3 only in a few signs their printers print differently.
const Override kTable1Changes[] = {{0x80, 0xF4}, {0xB9, 0xA7}, {0xBE, 0x20}};
const Override kTable2Changes[] = {{0x80, 0xE7}};

std::array<uint8_t, 128> ToDeviceTable(const Override* changes, size_t count) {
  std::array<uint8_t, 128> table = BuildTable<128>(kToDeviceSpans, 0x80);
  ApplyOverrides(&table, changes, count, 0x80);
  return table;
}

constexpr int kNewerCharsetFromMajor = 5;

}  // namespace

const uint8_t* DeviceRecodeTable(int number) {
  static const std::array<uint8_t, 128> tables[] = {
      ToDeviceTable(kTable1Changes, std::size(kTable1Changes)),
      ToDeviceTable(kTable2Changes, std::size(kTable2Changes)), ToDeviceTable(nullptr, 0)};
  if (number < 1 || number > 3) return nullptr;
  return tables[number - 1].data();
}

void RecodeFromDevice(FPContext* ctx, char* text, int length) {
  const std::array<uint8_t, 256>& table = FromDeviceTable(ctx->nVersionMajor >= kNewerCharsetFromMajor);
  for (int i = 0; i < length; ++i) text[i] = static_cast<char>(table[static_cast<uint8_t>(text[i])]);
}

void RecodeToDevice(FPContext* ctx, char* text, int length) {
  if (!ctx->pRecodeTable) return;
  for (int i = 0; i < length; ++i) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    if (b & 0x80) {
      text[i] = static_cast<char>(ctx->pRecodeTable[b & 0x7F]);
    } else if (b == '\r' || b == '\n') {
      text[i] = ' ';
    }
  }
}
