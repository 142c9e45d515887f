#pragma once
// Framing helpers shared by the simulated instruments, the line and the
// tests: CRC-16/MODBUS appended low byte first, checked the same way.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// address, function, data..., CRC low, CRC high
Bytes MakeFrame(std::uint8_t address, std::uint8_t function, std::span<const std::uint8_t> data = {});
// Appends the CRC of the bytes already in frame.
void AppendCrc(Bytes& frame);
// True when the frame is at least 4 bytes long and its last two bytes are
// the CRC of the others, low byte first.
bool CrcOk(std::span<const std::uint8_t> frame);
// "01 11 C0 2C"
std::string Hex(std::span<const std::uint8_t> bytes);
// "[01][11][C0][2C]" for what the line receives, "<01><11>..." for what
// it sends.
std::string Marked(std::span<const std::uint8_t> bytes, bool incoming);

}  // namespace sim
