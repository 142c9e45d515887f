#pragma once
// The link: the port settings as short texts, the retry counts and pauses of
// the exchange, the request/response transaction with framing, CRC and
// retries, and the operator messages for result codes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "FrameObserver.h"
#include "MessageService.h"
#include "SerialPort.h"

// Result codes of Request (instrument exception codes share this space).
namespace rc {
constexpr int Ok = 0;
constexpr int BadFunction = 1;
constexpr int Busy = 6;              // instrument writing its parameters
constexpr int ReceiveError = 128;    // reply longer than the buffer, foreign function code
constexpr int Incomplete = 129;
constexpr int NoReply = 130;
constexpr int CrcError = 131;
constexpr int CannotOpen = 132;
constexpr int NotConfigured = 133;
constexpr int SwitchedOff = 134;
constexpr int SettingError = 135;
constexpr int Echo = 136;            // our own request came back (RS-485 adapter echo)
constexpr int PortClosed = 256;
}  // namespace rc

class TComPortClass {
 public:
  // closeMainWindow is called after the port-disconnected message: the
  // main window closes once control returns to its event loop.
  TComPortClass(pmlink::SerialPort& port, ui::MessageService& messages,
                std::function<void()> closeMainWindow);

  // Fields with their defaults.
  int FrameLen = 0;
  int DataLen = 0;
  int ReplyLen = 0;
  int Retries1 = 5;
  int Retries2 = 10;
  int TxDelay = 25;
  int RxDelay = 20;
  std::string Baud = "9600";
  std::string Parity = "N";
  std::string StopBits = "2";
  std::string Port = "COM1";  // a COM name, an absolute device path, tcp:// or rfc2217://

  // 0: the port is open; -1: a setting was refused or the port did not open.
  int Configure();
  // Whether Configure takes this speed text.
  static bool SupportedBaud(const std::string& baud);
  // Configure for a caller that reports a port that does not open itself
  // and goes on: no message, no request to close the main window.
  int ConfigureQuietly() { return Configure(false); }
  // Closes the port if open; errors are ignored.
  void ClosePort();
  bool IsOpen() const;
  int WritePort(const std::uint8_t* frame, int length);
  int ReadPort(std::uint8_t* buffer, int n);
  // Blocks the calling thread for at least ms milliseconds.
  void Delay(int ms);

  int GetRetries1() const { return Retries1; }
  void SetRetries1(int v) { Retries1 = v; }
  void SetRetries2(int v) { Retries2 = v; }
  int GetTxDelay() const { return TxDelay; }
  void SetTxDelay(int v) { TxDelay = v; }
  int GetRxDelay() const { return RxDelay; }
  void SetRxDelay(int v) { RxDelay = v; }

  // One exchange with the instrument at address deviceIndex + 1. The reply
  // frame (address, function, count, data, CRC) is written to reply, which
  // holds replySize bytes; a reply that would not fit is a failed exchange.
  int Request(int deviceIndex, int function, int dataLen, const std::uint8_t* data,
              std::uint8_t* reply, std::size_t replySize);
  // Shows the message for a result code (nothing for 0).
  void ReportError(int deviceIndex, int code);
  // The operator text for a result code ("" for 0), as ReportError shows it.
  std::string ErrorText(int deviceIndex, int code) const;

  static std::uint16_t Crc16(int count, const std::uint8_t* bytes);

  // Tests count pauses instead of sleeping.
  void SetDelayFunction(std::function<void(int)> delay);
  // Traffic view; nullptr for none.
  void SetFrameObserver(pmlink::FrameObserver* observer);

  // Why the last Configure failed to open the port (the port layer's text,
  // naming the port and the cause, and its errno); empty / 0 after a good open.
  const std::string& LastOpenError() const { return m_lastOpenError; }
  int LastOpenErrno() const { return m_lastOpenErrno; }
  // The line shown under an open-failure message: the cause by name where
  // the operator can act on it, else the port layer's text.
  std::string LastOpenFailureCause() const;

 private:
  pmlink::SerialPort& m_port;
  ui::MessageService& m_messages;
  std::function<void()> m_closeMainWindow;
  std::function<void(int)> m_delay;
  pmlink::FrameObserver* m_observer = nullptr;
  std::uint8_t m_frame[3000] = {};
  std::uint8_t m_scratch[3000] = {};  // bytes read only to be compared, never kept
  std::string m_lastOpenError;
  int m_lastOpenErrno = 0;

  void PortDisconnected();
  int Configure(bool reportOpenFailure);
  int Transaction(int function, std::uint8_t* reply, std::size_t replySize);
  // Whether the count bytes of the failed attempt in m_scratch are our own
  // request come back; may read the rest of the frame to decide.
  bool EchoArrived(int count);
  int Finish(int deviceIndex, int function, int result);
};
