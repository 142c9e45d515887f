#pragma once
// The serial line behind a Telnet connection with the COM port control
// option of RFC 2217 ("rfc2217://HOST:PORT", offered by ser2net and many
// gateways): speed, 8 data bits, parity, stop bits and no flow control are
// set on the far port when the port opens, and each must come back as asked;
// a far end that answers with another value has refused it. The purge also
// clears the far port's receive buffer. Data bytes 0xFF travel doubled, as Telnet
// requires. Each option is answered only when its state changes, so a far
// end that answers every answer cannot loop with this one; a subnegotiation
// is cut short by an IAC command or when it grows past a few hundred bytes,
// and the bytes after it are the line's again.

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
  // Either side of an option (RFC 1143): off, on, or asked for by this end
  // and not yet answered.
  enum class Side : std::uint8_t { No, Yes, WantYes };

  void SendCommand(const std::vector<std::uint8_t>& bytes, Clock::time_point deadline);
  // The command after an IAC.
  void OnCommand(std::uint8_t command);
  void OnOption(std::uint8_t verb, std::uint8_t option);
  // A byte of a subnegotiation's value.
  void OnSubByte(std::uint8_t b);
  void OnSubnegotiation();
  // Whether the subnegotiation so far is a COM port answer whose value is
  // complete, so that only IAC SE may follow.
  bool SubnegotiationComplete() const;

  State m_state = State::Data;
  std::uint8_t m_verb = 0;
  std::vector<std::uint8_t> m_sub;  // at most kSubMax bytes
  std::array<Side, 256> m_us{};     // options this end performs (WILL, DO asks)
  std::array<Side, 256> m_him{};    // options the far end performs
  // The far end's answer to each setting command (index: command 1..5), as
  // the value bytes it sent back; empty until answered.
  std::array<std::vector<std::uint8_t>, 6> m_answers;
};

}  // namespace pmlink
