#include "Frame.h"

#include <cstdio>

#include "Crc16.h"

namespace sim {

Bytes MakeFrame(std::uint8_t address, std::uint8_t function, std::span<const std::uint8_t> data) {
  Bytes frame;
  frame.reserve(data.size() + 4);
  frame.push_back(address);
  frame.push_back(function);
  frame.insert(frame.end(), data.begin(), data.end());
  AppendCrc(frame);
  return frame;
}

void AppendCrc(Bytes& frame) {
  const std::uint16_t crc = pmlink::Crc16(frame.size(), frame.data());
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool CrcOk(std::span<const std::uint8_t> frame) {
  if (frame.size() < 4) return false;
  const std::size_t n = frame.size() - 2;
  const std::uint16_t crc = pmlink::Crc16(n, frame.data());
  return frame[n] == (crc & 0xFF) && frame[n + 1] == (crc >> 8);
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    out += buf;
  }
  return out;
}

std::string Marked(std::span<const std::uint8_t> bytes, bool incoming) {
  std::string out;
  char buf[8];
  for (const std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, incoming ? "[%02X]" : "<%02X>", b);
    out += buf;
  }
  return out;
}

}  // namespace sim
