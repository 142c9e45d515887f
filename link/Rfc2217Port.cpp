#include "Rfc2217Port.h"

#include <cerrno>
#include <string>

namespace pmlink {

namespace {

// Telnet (RFC 854) and the COM port control option (RFC 2217).
constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240;
constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
constexpr std::uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                       kSetControl = 5, kPurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;  // the server answers command + 100
constexpr std::uint8_t kNoFlowControl = 1, kPurgeReceived = 1;

// The options this end performs, and those it lets the far end perform.
bool WePerform(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}
bool TheyPerform(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead; }

// A subnegotiation longer than this is no COM port answer (only the
// server's signature text varies in length, and it is a short name): it is
// dropped.
constexpr std::size_t kSubMax = 256;

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

std::string Value(const std::vector<std::uint8_t>& v) {
  unsigned long n = 0;
  for (const auto b : v) n = (n << 8) | b;
  return std::to_string(n);
}

std::vector<std::uint8_t> Setting(std::uint8_t command, const std::vector<std::uint8_t>& value) {
  std::vector<std::uint8_t> bytes{kIac, kSb, kComPort, command};
  for (const auto b : value) {
    bytes.push_back(b);
    if (b == kIac) bytes.push_back(kIac);
  }
  bytes.insert(bytes.end(), {kIac, kSe});
  return bytes;
}

}  // namespace

void Rfc2217Port::SendCommand(const std::vector<std::uint8_t>& bytes, Clock::time_point deadline) {
  Queue(bytes);
  if (!Flush(deadline)) Fail("сервер не принимает команды", ETIMEDOUT);
}

void Rfc2217Port::Negotiate(Clock::time_point deadline) {
  m_state = State::Data;
  m_sub.clear();
  m_us.fill(Side::No);
  m_him.fill(Side::No);
  for (auto& a : m_answers) a.clear();

  m_us[kComPort] = m_us[kBinary] = m_him[kBinary] = Side::WantYes;
  SendCommand({kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary}, deadline);
  if (!ReceiveUntil(deadline, [this] { return m_us[kComPort] != Side::WantYes; }))
    Fail("сервер не ответил на запрос управления портом (RFC 2217)", ETIMEDOUT);
  if (m_us[kComPort] != Side::Yes) Fail("сервер не поддерживает управление портом (RFC 2217)", EPROTONOSUPPORT);

  const std::uint32_t baud = static_cast<std::uint32_t>(m_baud);
  const std::uint8_t parity = m_parity == ParityKind::Odd ? 2 : m_parity == ParityKind::Even ? 3 : 1;
  const std::uint8_t stop = m_stopBits == 2 ? 2 : 1;
  struct SettingValue {
    std::uint8_t command;
    std::vector<std::uint8_t> value;
    const char* what;
  };
  const SettingValue settings[] = {
      {kSetBaud,
       {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
        static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)},
       "скорость"},
      {kSetDataSize, {8}, "число бит данных"},
      {kSetParity, {parity}, "четность"},
      {kSetStopSize, {stop}, "число стоповых бит"},
      {kSetControl, {kNoFlowControl}, "работу без управления потоком"},
  };
  std::vector<std::uint8_t> commands;
  for (const auto& s : settings) {
    const auto bytes = Setting(s.command, s.value);
    commands.insert(commands.end(), bytes.begin(), bytes.end());
  }
  SendCommand(commands, deadline);
  for (const auto& s : settings) {
    if (!ReceiveUntil(deadline, [&] { return !m_answers[s.command].empty(); }))
      Fail("сервер не подтвердил настройки порта за " + std::to_string(connectMs / 1000) + " с",
           ETIMEDOUT);
    if (m_answers[s.command] != s.value)
      Fail(std::string("сервер не принял ") + s.what + " " + Value(s.value) + " (ответ " +
               Value(m_answers[s.command]) + ")",
           EINVAL);
  }
}

void Rfc2217Port::OnOption(std::uint8_t verb, std::uint8_t option) {
  // RFC 1143: an option is answered only when its state changes. The answer
  // to this end's own request, and a request for the state the option is
  // already in, get none; a refusal is never answered (RFC 854).
  const bool ours = verb == kDo || verb == kDont;
  Side& side = ours ? m_us[option] : m_him[option];
  const std::uint8_t yes = ours ? kWill : kDo;
  const std::uint8_t no = ours ? kWont : kDont;
  if (verb == kDo || verb == kWill) {
    if (side == Side::WantYes) {
      side = Side::Yes;
    } else if (side == Side::No) {
      const bool agreed = ours ? WePerform(option) : TheyPerform(option);
      if (agreed) side = Side::Yes;
      Queue({kIac, agreed ? yes : no, option});
    }
  } else {
    if (side == Side::Yes) Queue({kIac, no, option});
    side = Side::No;
  }
}

void Rfc2217Port::OnSubnegotiation() {
  if (m_sub.size() < 2 || m_sub[0] != kComPort) return;
  const int command = m_sub[1] - kServerOffset;
  if (command >= kSetBaud && command <= kSetControl && m_answers[command].empty())
    m_answers[command].assign(m_sub.begin() + 2, m_sub.end());
  // Line and modem state notices and the purge's acknowledgement need no answer.
}

bool Rfc2217Port::SubnegotiationComplete() const {
  if (m_sub.size() < 2 || m_sub[0] != kComPort) return false;
  const int length = AnswerLength(m_sub[1]);
  return length >= 0 && m_sub.size() >= 2 + static_cast<std::size_t>(length);
}

void Rfc2217Port::OnCommand(std::uint8_t command) {
  m_state = State::Data;
  if (command == kIac) {
    Hold(command);  // a doubled 0xFF is one data byte
  } else if (command == kDo || command == kDont || command == kWill || command == kWont) {
    m_verb = command;
    m_state = State::Option;
  } else if (command == kSb) {
    m_sub.clear();
    m_state = State::Sub;
  }
  // NOP, GA and the like need nothing.
}

void Rfc2217Port::OnSubByte(std::uint8_t b) {
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
  Hold(b);
}

void Rfc2217Port::Decode(const std::uint8_t* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    switch (m_state) {
      case State::Data:
        if (b == kIac)
          m_state = State::Iac;
        else
          Hold(b);
        break;
      case State::Iac:
        OnCommand(b);
        break;
      case State::Option:
        m_state = State::Data;
        OnOption(m_verb, b);
        break;
      case State::Sub:
        if (b == kIac)
          m_state = State::SubIac;
        else
          OnSubByte(b);
        break;
      case State::SubIac:
        if (b == kSe) {
          m_state = State::Data;
          OnSubnegotiation();
        } else if (b == kIac) {
          OnSubByte(b);  // IAC IAC inside a subnegotiation
        } else {
          // Any other command ends the subnegotiation unfinished (RFC 855):
          // it is dropped and the command is taken.
          m_sub.clear();
          OnCommand(b);
        }
        break;
    }
  }
}

void Rfc2217Port::Encode(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out) {
  out.clear();
  out.reserve(n + 4);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(data[i]);
    if (data[i] == kIac) out.push_back(kIac);
  }
}

void Rfc2217Port::AfterPurge() {
  // Bytes still in the far port's receive buffer would otherwise arrive as
  // the start of the next reply. Its transmit buffer is left alone: it may
  // still hold a frame we sent (a block write awaits no reply), and a write
  // here returns when the bytes are handed to the connection, not when they
  // are on the line. The command goes now if the connection takes it, else
  // ahead of the next write.
  Queue(Setting(kPurgeData, {kPurgeReceived}));
  Flush(Clock::now());
}

}  // namespace pmlink
