#include "Comportclass.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "Crc16.h"
#include "NetworkName.h"
#include "TermiosPort.h"

namespace {

constexpr const char* kPortDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

// The function codes the instruments know; anything else is refused before
// a byte is sent.
constexpr std::uint8_t kAllowedFunctions[] = {1,  2,  3,  4,  5,  6,  14, 15, 17,
                                              18, 66, 67, 68, 69, 70, 71, 100};

constexpr int kBaudRates[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                              14400, 19200, 38400, 56000, 57600, 115200};

// Pause after a failed attempt before the request is sent again.
constexpr int kRetryPauseMs = 300;

// Leading blanks, an optional sign, then decimal digits up to the first other
// character; no digits give 0.
long ParseLeadingInt(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' ||
                          s[i] == '\v' || s[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  long value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > 100000000L) break;  // far beyond any rate; stop before overflow
  }
  return negative ? -value : value;
}

// The line added under the port-disconnected message when the port did not
// open: the cause the system reported, or the port layer's own text when the
// cause is not one an operator can act on by name.
std::string OpenFailureCause(const std::string& port, int err, const std::string& portText) {
  switch (err) {
    case EACCES:
    case EPERM:
    case EBUSY:
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "Порт " + port + ": " + pmlink::PortErrorCause(err);
    default:
      return portText;
  }
}

bool IsAllowedFunction(int function) {
  return std::find(std::begin(kAllowedFunctions), std::end(kAllowedFunctions), function) !=
         std::end(kAllowedFunctions);
}

}  // namespace

TComPortClass::TComPortClass(pmlink::SerialPort& port, ui::MessageService& messages,
                             std::function<void()> closeMainWindow)
    : m_port(port), m_messages(messages), m_closeMainWindow(std::move(closeMainWindow)) {}

void TComPortClass::PortDisconnected() {
  m_messages.Error(kPortDisconnected, "Ошибка");
  if (m_closeMainWindow) m_closeMainWindow();
}

int TComPortClass::Configure() { return Configure(true); }

bool TComPortClass::SupportedBaud(const std::string& baud) {
  const long rate = ParseLeadingInt(baud);
  return std::find(std::begin(kBaudRates), std::end(kBaudRates), rate) != std::end(kBaudRates);
}

std::string TComPortClass::LastOpenFailureCause() const {
  // A network port's own text names the host and what went wrong.
  if (pmlink::KindOfPortName(Port) != pmlink::PortKind::Device) return m_lastOpenError;
  return OpenFailureCause(Port, m_lastOpenErrno, m_lastOpenError);
}

int TComPortClass::Configure(bool reportOpenFailure) {
  m_lastOpenError.clear();
  m_lastOpenErrno = 0;
  try {
    m_port.Close();
  } catch (const pmlink::SerialPortError&) {
    PortDisconnected();
  }

  if (!SupportedBaud(Baud)) return -1;
  m_port.SetBaud(static_cast<int>(ParseLeadingInt(Baud)));

  // Upper-case letters only: "n" is not a parity.
  const char parity = Parity.empty() ? '\0' : Parity[0];
  switch (parity) {
    case 'E':
      m_port.SetParity(pmlink::ParityKind::Even);
      break;
    case 'N':
      m_port.SetParity(pmlink::ParityKind::None);
      break;
    case 'O':
      m_port.SetParity(pmlink::ParityKind::Odd);
      break;
    default:
      return -1;
  }

  const long stopBits = ParseLeadingInt(StopBits);
  if (stopBits != 1 && stopBits != 2) return -1;
  m_port.SetStopBits(static_cast<int>(stopBits));

  // A COM name ("COM3", "com3"; "Com3" is not one), an absolute device path,
  // or a network line. A malformed network address is refused by the port's
  // Open, which says what the address must look like.
  if (pmlink::KindOfPortName(Port) == pmlink::PortKind::Device) {
    const bool comName =
        Port.find("COM") != std::string::npos || Port.find("com") != std::string::npos;
    const bool absolutePath = !Port.empty() && Port[0] == '/';
    if (!comName && !absolutePath) return -1;
  }
  m_port.SetName(Port);

  try {
    m_port.Open();
  } catch (const pmlink::SerialPortError& e) {
    m_lastOpenError = e.what();
    m_lastOpenErrno = e.Errno();
    if (!reportOpenFailure) return -1;
    // The program's message, and on a line of its own why the port did not
    // open, so that the operator knows what to fix.
    const std::string cause = LastOpenFailureCause();
    m_messages.Error(cause.empty() ? std::string(kPortDisconnected)
                                   : std::string(kPortDisconnected) + "\n" + cause,
                     "Ошибка");
    if (m_closeMainWindow) m_closeMainWindow();
  }
  return m_port.IsOpen() ? 0 : -1;
}

void TComPortClass::ClosePort() {
  try {
    m_port.Close();
  } catch (...) {
    // Closing is best effort: a port that vanished is closed for us anyway.
  }
}

bool TComPortClass::IsOpen() const { return m_port.IsOpen(); }

int TComPortClass::WritePort(const std::uint8_t* frame, int length) {
  if (m_observer)
    m_observer->OnBytes(std::chrono::steady_clock::now(), pmlink::Direction::Tx,
                        {frame, static_cast<std::size_t>(length)});
  m_port.Write(frame, length);
  return 0;
}

int TComPortClass::ReadPort(std::uint8_t* buffer, int n) {
  const int got = m_stop ? m_port.ReadOrWake(buffer, n, m_stop->Fd()) : m_port.Read(buffer, n);
  if (m_observer && got > 0)
    m_observer->OnBytes(std::chrono::steady_clock::now(), pmlink::Direction::Rx,
                        {buffer, static_cast<std::size_t>(got)});
  return got;
}

void TComPortClass::Delay(int ms) {
  if (m_delay) {
    m_delay(ms);
    return;
  }
  if (ms <= 0) return;
  // Sleeping (not spinning) on the monotonic clock: the thread still blocks
  // for the whole pause, but the CPU is free and a change of the wall clock
  // (midnight, NTP) cannot stretch or shorten it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
}

void TComPortClass::SetDelayFunction(std::function<void(int)> delay) { m_delay = std::move(delay); }

void TComPortClass::SetFrameObserver(pmlink::FrameObserver* observer) { m_observer = observer; }

std::uint16_t TComPortClass::Crc16(int count, const std::uint8_t* bytes) {
  return pmlink::Crc16(count > 0 ? static_cast<std::size_t>(count) : 0, bytes);
}

int TComPortClass::Finish(int deviceIndex, int function, int result) {
  if (m_observer)
    m_observer->OnResult(std::chrono::steady_clock::now(), deviceIndex, function, result);
  return result;
}

pmlink::ExchangeRules TComPortClass::Rules() const {
  pmlink::ExchangeRules rules;
  rules.retries1 = Retries1;
  rules.retries2 = Retries2;
  rules.txDelayMs = TxDelay;
  rules.retryPauseMs = kRetryPauseMs;
  return rules;
}

void TComPortClass::TakeSettings(const TComPortClass& from) {
  Retries1 = from.Retries1;
  Retries2 = from.Retries2;
  TxDelay = from.TxDelay;
  RxDelay = from.RxDelay;
  Baud = from.Baud;
  Parity = from.Parity;
  StopBits = from.StopBits;
  Port = from.Port;
}

void TComPortClass::SetRequestHooks(std::function<void()> before, std::function<void()> after) {
  m_beforeRequest = std::move(before);
  m_afterRequest = std::move(after);
}

bool TComPortClass::StopAsked() const {
  return (m_stop && m_stop->Raised()) || (m_giveWay && m_giveWay());
}

int TComPortClass::Request(int deviceIndex, int function, int dataLen, const std::uint8_t* data,
                           std::uint8_t* reply, std::size_t replySize) {
  if (!m_beforeRequest && !m_afterRequest) return RequestFramed(deviceIndex, function, dataLen, data, reply, replySize);
  struct After {
    const std::function<void()>& hook;
    ~After() {
      if (hook) hook();
    }
  };
  if (m_beforeRequest) m_beforeRequest();
  const After after{m_afterRequest};
  return RequestFramed(deviceIndex, function, dataLen, data, reply, replySize);
}

int TComPortClass::RequestFramed(int deviceIndex, int function, int dataLen, const std::uint8_t* data,
                                 std::uint8_t* reply, std::size_t replySize) {
  if (dataLen < 0 || dataLen + 4 > static_cast<int>(sizeof m_frame))
    throw std::invalid_argument("Request: data length out of range");

  DataLen = dataLen;
  FrameLen = dataLen + 4;
  std::memset(m_frame, 0, static_cast<std::size_t>(FrameLen));

  // The function is checked before anything else, even with the port closed.
  if (!IsAllowedFunction(function)) return Finish(deviceIndex, function, rc::BadFunction);

  m_frame[0] = static_cast<std::uint8_t>(deviceIndex + 1);
  m_frame[1] = static_cast<std::uint8_t>(function);
  if (dataLen != 0) {
    std::memcpy(m_frame + 2, data, static_cast<std::size_t>(dataLen));
    // Function 70 with data is a broadcast.
    if (function == 70) m_frame[0] = 0;
  }
  const std::uint16_t crc = Crc16(FrameLen - 2, m_frame);
  m_frame[FrameLen - 2] = static_cast<std::uint8_t>(crc & 0xFF);
  m_frame[FrameLen - 1] = static_cast<std::uint8_t>(crc >> 8);

  if (!m_port.IsOpen()) return Finish(deviceIndex, function, rc::PortClosed);
  if (StopAsked()) return Finish(deviceIndex, function, rc::Stopped);

  // One purge per exchange: bytes left over from a failed attempt are read
  // as the start of the next one, which the header check then refuses.
  try {
    m_port.Purge();
  } catch (const pmlink::SerialPortError&) {
    if (m_purgeFailureThrows) throw;
    PortDisconnected();
  }

  return Finish(deviceIndex, function, Transaction(reply, replySize));
}

int TComPortClass::Transaction(std::uint8_t* reply, std::size_t replySize) {
  using Clock = std::chrono::steady_clock;
  using Action = pmlink::Exchange::Action;
  pmlink::Exchange exchange({m_frame, static_cast<std::size_t>(FrameLen)}, reply, replySize, Rules());
  auto step = exchange.Start(Clock::now());
  for (;;) {
    switch (step.action) {
      case Action::Pause:
        if (StopAsked()) return rc::Stopped;
        if (m_stop && !m_delay) m_stop->Sleep(step.pauseMs);
        else Delay(step.pauseMs);
        if (m_stop && m_stop->Raised()) return rc::Stopped;
        step = exchange.PauseEnded(Clock::now());
        break;
      case Action::Send:
        if (StopAsked()) return rc::Stopped;
        WritePort(step.frame.data(), static_cast<int>(step.frame.size()));
        step = exchange.Sent(Clock::now());
        break;
      case Action::Receive: {
        const int want = std::min(step.count, static_cast<int>(sizeof m_received));
        const int got = ReadPort(m_received, want);
        if (m_stop && m_stop->Raised()) return rc::Stopped;
        step = exchange.Bytes(Clock::now(), {m_received, static_cast<std::size_t>(got)});
        // The port's read gave up before all came: its time-out.
        if (got < want) step = exchange.ReadEnded(Clock::now());
        break;
      }
      case Action::Done:
        if (exchange.ReplyLen() != 0) ReplyLen = exchange.ReplyLen();
        return step.result;
    }
  }
}

std::string TComPortClass::ErrorText(int deviceIndex, int code) const {
  const std::string device = "устройство " + std::to_string(deviceIndex + 1) + " " + Port;
  switch (code) {
    case rc::Ok:
      return "";
    case rc::Busy:
      return device + " Идет запись базы данных. Ждите.";
    case rc::ReceiveError:
      return device + " ошибка приема данных ";
    case rc::Incomplete:
      return device + " тайм-аут приема данных";
    case rc::NoReply:
      return device + " не отвечает на запрос";
    case rc::CrcError:
      return device + " ошибка контрольной суммы";
    case rc::CannotOpen:
      return " невозможно открыть последовательный порт ";
    case rc::NotConfigured:
      return "вероятно, порт не настроен";
    case rc::SwitchedOff:
      return "сбой настройки порта при выключении прибора";
    case rc::SettingError:
      return "ошибка настройки порта";
    case rc::Echo:
      return device +
             " принят собственный запрос (эхо адаптера RS-485).\n"
             "Отключите эхо в настройках адаптера или используйте другой адаптер.";
    case rc::PortClosed:
      return "Не выбран COM-порт.";
    default: {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(code));
      return device + " ошибка обмена " + hex;
    }
  }
}

void TComPortClass::ReportError(int deviceIndex, int code) {
  if (code == rc::Ok) return;
  const std::string text = ErrorText(deviceIndex, code);
  switch (code) {
    case rc::PortClosed:
      ClosePort();
      m_messages.Error(text, "Ошибка");
      return;
    case rc::NotConfigured:
    case rc::SwitchedOff:
    case rc::SettingError:
      m_messages.Error(text, "Ошибка");
      return;
    default:
      m_messages.Warning(text, "Предупреждение");
      return;
  }
}
