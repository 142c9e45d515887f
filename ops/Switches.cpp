#include "Switches.h"

#include <cstdint>

#include "Scaling.h"

namespace pmops {

namespace {

constexpr int kFnSwitch = 5;
constexpr int kFnOutputValue = 6;

int Send(TComPortClass& link, int deviceIndex, int function, const std::uint8_t (&data)[4]) {
  std::uint8_t reply[100] = {};
  return link.Request(deviceIndex, function, 4, data, reply, sizeof reply);
}

int Switch(TComPortClass& link, int deviceIndex, std::uint8_t coil, bool on) {
  const std::uint8_t data[4] = {0x10, coil, static_cast<std::uint8_t>(on ? 0xFF : 0x00), 0x00};
  return Send(link, deviceIndex, kFnSwitch, data);
}

}  // namespace

int SetCalibrationMode(TComPortClass& link, int deviceIndex, bool on) {
  return Switch(link, deviceIndex, 0x01, on);
}

int SetOutputControl(TComPortClass& link, int deviceIndex, bool on) {
  return Switch(link, deviceIndex, 0x02, on);
}

int SendOutputValue(TComPortClass& link, int deviceIndex, double milliamp) {
  const auto code = static_cast<std::uint16_t>(pmdev::MilliampToCode(milliamp));
  const std::uint8_t data[4] = {0x00, 0x01, static_cast<std::uint8_t>(code >> 8),
                                static_cast<std::uint8_t>(code & 0xFF)};
  return Send(link, deviceIndex, kFnOutputValue, data);
}

}  // namespace pmops
