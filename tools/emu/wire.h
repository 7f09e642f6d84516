// The printer's side of the wire: control bytes, the check character and the frames it sends.
// Written from the device's point of view and kept apart from the driver's link code, so that a
// misreading on one side is not silently mirrored on the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu {

using Bytes = std::vector<uint8_t>;

namespace ctl {
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kEnq = 0x05;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kEnq2 = 0x11;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kEnqt = 0x1A;
}  // namespace ctl

// Exclusive-or of the bytes; over "text + ETX" it is the frame's check character.
uint8_t Xor(const uint8_t* bytes, size_t count);

// STX, payload, ETX, check character over payload and ETX.
Bytes Frame(const Bytes& payload);
Bytes Frame(const std::string& payload);

// A byte as two characters 0x30 + nibble, high nibble first ("0".."9", ":".."?").
void AppendNibbleChars(Bytes* out, uint8_t value);

}  // namespace emu
