#pragma once
// CRC-16/MODBUS: initial value 0xFFFF, reflected polynomial 0xA001, no final
// XOR. The value is returned as a number (the check value of "123456789" is
// 0x4B37); on the wire its low byte goes first (37 4B).

#include <cstddef>
#include <cstdint>

namespace pmlink {

inline std::uint16_t Crc16(std::size_t count, const std::uint8_t* bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      const bool out = crc & 1u;
      crc >>= 1;
      if (out) crc ^= 0xA001;
    }
  }
  return crc;
}

}  // namespace pmlink
