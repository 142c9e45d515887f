#include "Identify.h"

#include <cstdint>

namespace pmops {

Identified Identify(TComPortClass& link, int deviceIndex) {
  std::uint8_t data[1] = {};
  std::uint8_t reply[100] = {};
  Identified out;
  out.result = link.Request(deviceIndex, pmdev::kFuncIdentify, 0, data, reply, sizeof reply);
  // A good reply is at least address, function, count, three data bytes and CRC.
  if (out.result == rc::Ok) out.identity = *pmdev::ParseIdentity(reply);
  return out;
}

}  // namespace pmops
