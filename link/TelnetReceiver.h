#pragma once
// What arrives on a Telnet connection with the COM port control option
// (RFC 2217), taken apart without a socket: fed the bytes as they come, it
// gives the line's data and the option answers to send back, and keeps the
// state of every option and the far end's answer to each port setting.
//
// Options follow RFC 1143: an answer goes only when an option's state
// changes or a request is refused, never to the answer to this end's own
// request nor to a request for the state the option is already in. A far
// end may still change its mind without end (ask, withdraw, ask again, each
// answer mirrored); each option is therefore answered at most kAnswersMax
// times per connection on either side, after which it is turned off when
// the far end asks and otherwise left as it is, unanswered. So the answers
// never outnumber the option commands received, and a far end cannot keep
// an exchange of options going.
//
// A subnegotiation is cut short by an IAC command or when it grows past
// kSubMax bytes or past what a COM port answer holds; the bytes after it
// are the line's again.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace pmlink {

class TelnetReceiver {
 public:
  // Telnet (RFC 854) and the COM port control option.
  static constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                                kSe = 240;
  static constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
  // Answers per option and side in one connection.
  static constexpr int kAnswersMax = 8;
  // A subnegotiation longer than this is no COM port answer (only the
  // server's signature text varies in length, and it is a short name).
  static constexpr std::size_t kSubMax = 256;

  // Either side of an option (RFC 1143): off, on, or asked for by this end
  // and not yet answered.
  enum class Side : std::uint8_t { No, Yes, WantYes };

  struct Received {
    std::vector<std::uint8_t> data;     // the line's bytes
    std::vector<std::uint8_t> answers;  // option commands for the far end
  };

  // A new connection: every option off, nothing answered.
  void Reset();
  // Asks the far end for the options a COM port needs (this end performs
  // COM-PORT and BINARY, the far end BINARY); the bytes to send.
  std::vector<std::uint8_t> Offer();
  // Takes the next bytes of the connection, in any pieces.
  Received Receive(std::span<const std::uint8_t> bytes);

  // Options this end performs (the far end's DO asks) and those the far end
  // performs (its WILL offers).
  Side Ours(std::uint8_t option) const { return m_us[option]; }
  Side Theirs(std::uint8_t option) const { return m_him[option]; }
  // The far end's answer to setting command 1..5 (speed .. flow control), as
  // the value bytes it sent back; empty until answered.
  const std::vector<std::uint8_t>& Answer(int command) const { return m_answers[command]; }

 private:
  enum class State { Data, Iac, Option, Sub, SubIac };

  void OnCommand(std::uint8_t command, Received& out);  // the command after an IAC
  void OnOption(std::uint8_t verb, std::uint8_t option, Received& out);
  void OnSubByte(std::uint8_t b, Received& out);  // a byte of a subnegotiation's value
  void OnSubnegotiation();
  // Whether the subnegotiation so far is a COM port answer whose value is
  // complete, so that only IAC SE may follow.
  bool SubnegotiationComplete() const;

  State m_state = State::Data;
  std::uint8_t m_verb = 0;
  std::vector<std::uint8_t> m_sub;  // at most kSubMax bytes
  std::array<Side, 256> m_us{};
  std::array<Side, 256> m_him{};
  // Answers sent so far for each option, this end's side and the far end's.
  std::array<std::uint8_t, 256> m_usAnswered{};
  std::array<std::uint8_t, 256> m_himAnswered{};
  std::array<std::vector<std::uint8_t>, 6> m_answers;  // index: setting command 1..5
};

}  // namespace pmlink
