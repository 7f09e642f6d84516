#include "emu/wire.h"

namespace emu {

uint8_t Xor(const uint8_t* bytes, size_t count) {
  uint8_t x = 0;
  for (size_t i = 0; i < count; ++i) x ^= bytes[i];
  return x;
}

Bytes Frame(const Bytes& payload) {
  Bytes out;
  out.reserve(payload.size() + 3);
  out.push_back(ctl::kStx);
  out.insert(out.end(), payload.begin(), payload.end());
  out.push_back(ctl::kEtx);
  out.push_back(Xor(out.data() + 1, out.size() - 1));
  return out;
}

Bytes Frame(const std::string& payload) { return Frame(Bytes(payload.begin(), payload.end())); }

void AppendNibbleChars(Bytes* out, uint8_t value) {
  out->push_back(static_cast<uint8_t>(0x30 + (value >> 4)));
  out->push_back(static_cast<uint8_t>(0x30 + (value & 0x0F)));
}

}  // namespace emu
