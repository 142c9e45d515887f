#include "TelnetReceiver.h"

namespace pmlink {

namespace {

constexpr std::uint8_t kServerOffset = 100;  // the server answers command + 100
constexpr std::uint8_t kSetBaud = 1, kSetControl = 5, kPurgeData = 12;

// The options this end performs, and those it lets the far end perform.
bool WePerform(std::uint8_t option) {
  return option == TelnetReceiver::kBinary || option == TelnetReceiver::kSuppressGoAhead ||
         option == TelnetReceiver::kComPort;
}
bool TheyPerform(std::uint8_t option) {
  return option == TelnetReceiver::kBinary || option == TelnetReceiver::kSuppressGoAhead;
}

// The value length of a COM port answer (command + 100), -1 where it varies
// (the signature).
int AnswerLength(std::uint8_t command) {
  switch (command) {
    case kServerOffset + kSetBaud:
      return 4;
    case kServerOffset + 8:  // flow control suspend and resume
    case kServerOffset + 9:
      return 0;
    default:
      return command > kServerOffset && command <= kServerOffset + kPurgeData ? 1 : -1;
  }
}

}  // namespace

void TelnetReceiver::Reset() {
  m_state = State::Data;
  m_sub.clear();
  m_us.fill(Side::No);
  m_him.fill(Side::No);
  m_usAnswered.fill(0);
  m_himAnswered.fill(0);
  for (auto& a : m_answers) a.clear();
}

std::vector<std::uint8_t> TelnetReceiver::Offer() {
  m_us[kComPort] = m_us[kBinary] = m_him[kBinary] = Side::WantYes;
  return {kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary};
}

void TelnetReceiver::OnOption(std::uint8_t verb, std::uint8_t option, Received& out) {
  // The answer to this end's own request, and a request for the state the
  // option is already in, get none; a refusal is never answered (RFC 854).
  const bool ours = verb == kDo || verb == kDont;
  Side& side = ours ? m_us[option] : m_him[option];
  std::uint8_t& answered = ours ? m_usAnswered[option] : m_himAnswered[option];
  const std::uint8_t yes = ours ? kWill : kDo;
  const std::uint8_t no = ours ? kWont : kDont;
  const auto answer = [&](std::uint8_t v) {
    if (answered >= kAnswersMax) return;
    ++answered;
    out.answers.insert(out.answers.end(), {kIac, v, option});
  };
  if (verb == kDo || verb == kWill) {
    if (side == Side::WantYes) {
      side = Side::Yes;
    } else if (side == Side::No && answered < kAnswersMax) {
      const bool agreed = ours ? WePerform(option) : TheyPerform(option);
      if (agreed) side = Side::Yes;
      answer(agreed ? yes : no);
    }
  } else {
    if (side == Side::Yes) answer(no);
    side = Side::No;
  }
}

void TelnetReceiver::OnSubnegotiation() {
  if (m_sub.size() < 2 || m_sub[0] != kComPort) return;
  const int command = m_sub[1] - kServerOffset;
  if (command >= kSetBaud && command <= kSetControl && m_answers[command].empty())
    m_answers[command].assign(m_sub.begin() + 2, m_sub.end());
  // Line and modem state notices and the purge's acknowledgement need no answer.
}

bool TelnetReceiver::SubnegotiationComplete() const {
  if (m_sub.size() < 2 || m_sub[0] != kComPort) return false;
  const int length = AnswerLength(m_sub[1]);
  return length >= 0 && m_sub.size() >= 2 + static_cast<std::size_t>(length);
}

void TelnetReceiver::OnCommand(std::uint8_t command, Received& out) {
  m_state = State::Data;
  if (command == kIac) {
    out.data.push_back(command);  // a doubled 0xFF is one data byte
  } else if (command == kDo || command == kDont || command == kWill || command == kWont) {
    m_verb = command;
    m_state = State::Option;
  } else if (command == kSb) {
    m_sub.clear();
    m_state = State::Sub;
  }
  // NOP, GA and the like need nothing.
}

void TelnetReceiver::OnSubByte(std::uint8_t b, Received& out) {
  m_state = State::Sub;
  if (m_sub.size() < kSubMax && !SubnegotiationComplete()) {
    m_sub.push_back(b);
    return;
  }
  // Too long, or more than a COM port answer holds, where only IAC SE may
  // follow: the subnegotiation will never end properly. It is dropped, and
  // from this byte on the bytes are the line's data again.
  m_sub.clear();
  m_state = State::Data;
  out.data.push_back(b);
}

TelnetReceiver::Received TelnetReceiver::Receive(std::span<const std::uint8_t> bytes) {
  Received out;
  for (const std::uint8_t b : bytes) {
    switch (m_state) {
      case State::Data:
        if (b == kIac)
          m_state = State::Iac;
        else
          out.data.push_back(b);
        break;
      case State::Iac:
        OnCommand(b, out);
        break;
      case State::Option:
        m_state = State::Data;
        OnOption(m_verb, b, out);
        break;
      case State::Sub:
        if (b == kIac)
          m_state = State::SubIac;
        else
          OnSubByte(b, out);
        break;
      case State::SubIac:
        if (b == kSe) {
          m_state = State::Data;
          OnSubnegotiation();
        } else if (b == kIac) {
          OnSubByte(b, out);  // IAC IAC inside a subnegotiation
        } else {
          // Any other command ends the subnegotiation unfinished (RFC 855):
          // it is dropped and the command is taken.
          m_sub.clear();
          OnCommand(b, out);
        }
        break;
    }
  }
  return out;
}

}  // namespace pmlink
