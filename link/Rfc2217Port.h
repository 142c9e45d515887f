#pragma once
// The serial line behind a Telnet connection with the COM port control
// option of RFC 2217 ("rfc2217://HOST:PORT", offered by ser2net and many
// gateways): speed, 8 data bits, parity, stop bits and no flow control are
// set on the far port when the port opens, and each must come back as asked;
// a far end that answers with another value has refused it. The purge also
// clears the far port's receive buffer. Data bytes 0xFF travel doubled, as Telnet
// requires.

#include <array>
#include <cstdint>
#include <vector>

#include "TcpPort.h"

namespace pmlink {

class Rfc2217Port : public TcpPort {
 protected:
  void Negotiate(Clock::time_point deadline) override;
  void Decode(const std::uint8_t* bytes, std::size_t n) override;
  void Encode(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out) override;
  void AfterPurge() override;

 private:
  enum class State { Data, Iac, Option, Sub, SubIac };

  void SendCommand(std::vector<std::uint8_t> bytes);
  void SendSetting(std::uint8_t command, std::vector<std::uint8_t> value);
  void OnOption(std::uint8_t verb, std::uint8_t option);
  void OnSubnegotiation();

  State m_state = State::Data;
  std::uint8_t m_verb = 0;
  std::vector<std::uint8_t> m_sub;
  bool m_comPortAccepted = false;
  bool m_comPortRefused = false;
  // The far end's answer to each setting command (index: command 1..5), as
  // the value bytes it sent back; empty until answered.
  std::array<std::vector<std::uint8_t>, 6> m_answers;
};

}  // namespace pmlink
