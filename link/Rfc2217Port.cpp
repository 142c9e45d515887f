#include "Rfc2217Port.h"

#include <cerrno>
#include <string>

namespace pmlink {

namespace {

using T = TelnetReceiver;
constexpr std::uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                       kSetControl = 5, kPurgeData = 12;
constexpr std::uint8_t kNoFlowControl = 1, kPurgeReceived = 1;

std::string Value(const std::vector<std::uint8_t>& v) {
  unsigned long n = 0;
  for (const auto b : v) n = (n << 8) | b;
  return std::to_string(n);
}

std::vector<std::uint8_t> Setting(std::uint8_t command, const std::vector<std::uint8_t>& value) {
  std::vector<std::uint8_t> bytes{T::kIac, T::kSb, T::kComPort, command};
  for (const auto b : value) {
    bytes.push_back(b);
    if (b == T::kIac) bytes.push_back(T::kIac);
  }
  bytes.insert(bytes.end(), {T::kIac, T::kSe});
  return bytes;
}

}  // namespace

void Rfc2217Port::SendCommand(const std::vector<std::uint8_t>& bytes, Clock::time_point deadline) {
  Queue(bytes);
  if (!Flush(deadline)) Fail("сервер не принимает команды", ETIMEDOUT);
}

void Rfc2217Port::Negotiate(Clock::time_point deadline) {
  m_telnet.Reset();
  SendCommand(m_telnet.Offer(), deadline);
  if (!ReceiveUntil(deadline, [this] { return m_telnet.Ours(T::kComPort) != T::Side::WantYes; }))
    Fail("сервер не ответил на запрос управления портом (RFC 2217)", ETIMEDOUT);
  if (m_telnet.Ours(T::kComPort) != T::Side::Yes) Fail("сервер не поддерживает управление портом (RFC 2217)", EPROTONOSUPPORT);

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
    if (!ReceiveUntil(deadline, [&] { return !m_telnet.Answer(s.command).empty(); }))
      Fail("сервер не подтвердил настройки порта за " + std::to_string(connectMs / 1000) + " с",
           ETIMEDOUT);
    if (m_telnet.Answer(s.command) != s.value)
      Fail(std::string("сервер не принял ") + s.what + " " + Value(s.value) + " (ответ " +
               Value(m_telnet.Answer(s.command)) + ")",
           EINVAL);
  }
}

void Rfc2217Port::Decode(const std::uint8_t* bytes, std::size_t n) {
  const TelnetReceiver::Received r = m_telnet.Receive({bytes, n});
  for (const std::uint8_t b : r.data) Hold(b);
  if (!r.answers.empty()) Queue(r.answers);
}

void Rfc2217Port::Encode(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out) {
  out.clear();
  out.reserve(n + 4);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(data[i]);
    if (data[i] == T::kIac) out.push_back(T::kIac);
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
