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

bool Wanted(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

std::string Value(const std::vector<std::uint8_t>& v) {
  unsigned long n = 0;
  for (const auto b : v) n = (n << 8) | b;
  return std::to_string(n);
}

}  // namespace

void Rfc2217Port::SendCommand(std::vector<std::uint8_t> bytes) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(connectMs);
  if (Send(bytes.data(), bytes.size(), deadline) != bytes.size())
    Fail("сервер не принимает команды", ETIMEDOUT);
}

void Rfc2217Port::SendSetting(std::uint8_t command, std::vector<std::uint8_t> value) {
  std::vector<std::uint8_t> bytes{kIac, kSb, kComPort, command};
  for (const auto b : value) {
    bytes.push_back(b);
    if (b == kIac) bytes.push_back(kIac);
  }
  bytes.insert(bytes.end(), {kIac, kSe});
  SendCommand(std::move(bytes));
}

void Rfc2217Port::Negotiate(Clock::time_point deadline) {
  m_state = State::Data;
  m_sub.clear();
  m_comPortAccepted = m_comPortRefused = false;
  for (auto& a : m_answers) a.clear();

  SendCommand({kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary});
  while (!m_comPortAccepted && !m_comPortRefused)
    if (!Receive(deadline)) Fail("сервер не ответил на запрос управления портом (RFC 2217)", ETIMEDOUT);
  if (m_comPortRefused) Fail("сервер не поддерживает управление портом (RFC 2217)", EPROTONOSUPPORT);

  const std::uint32_t baud = static_cast<std::uint32_t>(m_baud);
  const std::uint8_t parity = m_parity == ParityKind::Odd ? 2 : m_parity == ParityKind::Even ? 3 : 1;
  const std::uint8_t stop = m_stopBits == 2 ? 2 : 1;
  struct Setting {
    std::uint8_t command;
    std::vector<std::uint8_t> value;
    const char* what;
  };
  const Setting settings[] = {
      {kSetBaud,
       {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
        static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)},
       "скорость"},
      {kSetDataSize, {8}, "число бит данных"},
      {kSetParity, {parity}, "четность"},
      {kSetStopSize, {stop}, "число стоповых бит"},
      {kSetControl, {kNoFlowControl}, "работу без управления потоком"},
  };
  for (const auto& s : settings) SendSetting(s.command, s.value);
  for (const auto& s : settings) {
    while (m_answers[s.command].empty())
      if (!Receive(deadline)) Fail("сервер не подтвердил настройки порта за " +
                                       std::to_string(connectMs / 1000) + " с",
                                   ETIMEDOUT);
    if (m_answers[s.command] != s.value)
      Fail(std::string("сервер не принял ") + s.what + " " + Value(s.value) + " (ответ " +
               Value(m_answers[s.command]) + ")",
           EINVAL);
  }
}

void Rfc2217Port::OnOption(std::uint8_t verb, std::uint8_t option) {
  if (option == kComPort && verb == kDo) m_comPortAccepted = true;
  if (option == kComPort && verb == kDont) m_comPortRefused = true;
  // Agree to what this port uses, refuse the rest; never answer a refusal
  // (RFC 854's rule against negotiation loops). WILL COM-PORT and the
  // binary mode were offered at the start.
  if (verb == kDo && !Wanted(option)) SendCommand({kIac, kWont, option});
  if (verb == kWill && !Wanted(option)) SendCommand({kIac, kDont, option});
  if (verb == kWill && option == kSuppressGoAhead) SendCommand({kIac, kDo, option});
  if (verb == kDo && option == kSuppressGoAhead) SendCommand({kIac, kWill, option});
}

void Rfc2217Port::OnSubnegotiation() {
  if (m_sub.size() < 2 || m_sub[0] != kComPort) return;
  const int command = m_sub[1] - kServerOffset;
  if (command >= kSetBaud && command <= kSetControl && m_answers[command].empty())
    m_answers[command].assign(m_sub.begin() + 2, m_sub.end());
  // Line and modem state notices and the purge's acknowledgement need no answer.
}

void Rfc2217Port::Decode(const std::uint8_t* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    switch (m_state) {
      case State::Data:
        if (b == kIac)
          m_state = State::Iac;
        else
          m_data.push_back(b);
        break;
      case State::Iac:
        if (b == kIac) {
          m_data.push_back(b);  // a doubled 0xFF is one data byte
          m_state = State::Data;
        } else if (b == kDo || b == kDont || b == kWill || b == kWont) {
          m_verb = b;
          m_state = State::Option;
        } else if (b == kSb) {
          m_sub.clear();
          m_state = State::Sub;
        } else {
          m_state = State::Data;  // NOP, GA and the like
        }
        break;
      case State::Option:
        OnOption(m_verb, b);
        m_state = State::Data;
        break;
      case State::Sub:
        if (b == kIac)
          m_state = State::SubIac;
        else
          m_sub.push_back(b);
        break;
      case State::SubIac:
        if (b == kSe) {
          OnSubnegotiation();
          m_state = State::Data;
        } else {
          m_sub.push_back(b);  // IAC IAC inside a subnegotiation
          m_state = State::Sub;
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
  // are on the line.
  SendSetting(kPurgeData, {kPurgeReceived});
}

}  // namespace pmlink
