#pragma once
// The serial line behind a Telnet connection with the COM port control
// option of RFC 2217 ("rfc2217://HOST:PORT", offered by ser2net and many
// gateways): speed, 8 data bits, parity, stop bits and no flow control are
// set on the far port when the port opens, and each must come back as asked;
// a far end that answers with another value has refused it. The purge also
// clears the far port's receive buffer. Data bytes 0xFF travel doubled, as Telnet
// requires. What arrives is taken apart by TelnetReceiver: each option is
// answered only when its state changes, and a bounded number of times, so
// a far end that answers every answer, or keeps changing its mind, cannot
// loop with this one.

#include <cstdint>
#include <vector>

#include "TcpPort.h"
#include "TelnetReceiver.h"

namespace pmlink {

class Rfc2217Port : public TcpPort {
 protected:
  void Negotiate(Clock::time_point deadline) override;
  void Decode(const std::uint8_t* bytes, std::size_t n) override;
  void Encode(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out) override;
  void AfterPurge() override;

 private:
  void SendCommand(const std::vector<std::uint8_t>& bytes, Clock::time_point deadline);

  TelnetReceiver m_telnet;
};

}  // namespace pmlink
