#pragma once
// The link: the port settings as short texts, the retry counts and pauses of
// the exchange, the request with its framing and CRC, and the operator
// messages for result codes. The request's rules (attempts, time-outs,
// reply checks) are the state machine of Exchange.h, which Request drives
// by blocking on the port.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Exchange.h"
#include "FrameObserver.h"
#include "MessageService.h"
#include "ResultCodes.h"
#include "SerialPort.h"
#include "StopSignal.h"

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

  // The exchange's rules as the fields and the port's defaults set them.
  pmlink::ExchangeRules Rules() const;
  // Takes the port and exchange settings of another link (texts, retries,
  // pauses): a second user of the same port asks as this one would.
  void TakeSettings(const TComPortClass& from);
  // The port this link drives.
  pmlink::SerialPort& Device() { return m_port; }

  // A raised stop ends the request under way at once with rc::Stopped:
  // before its next step, and inside a read or pause through the stop's
  // descriptor. Null: requests run to their end.
  void SetStop(const pmlink::StopSignal* stop) { m_stop = stop; }
  // While giveWay() is true the request under way ends with rc::Stopped
  // before its next transmission or pause: the attempt on the line is
  // finished first, so nothing of it is left for the next user of the line
  // to read. Null: never.
  void SetGiveWay(std::function<bool()> giveWay) { m_giveWay = std::move(giveWay); }
  // Called before every request is framed and after it has ended (also by
  // an exception): the line's owner takes its turn there.
  void SetRequestHooks(std::function<void()> before, std::function<void()> after);
  // A purge failure raises the port's error to the caller instead of the
  // port-disconnected message and the request to close the main window:
  // for a user of the line that reports a lost line itself.
  void SetPurgeFailureThrows(bool on) { m_purgeFailureThrows = on; }

  // Tests count pauses instead of sleeping.
  void SetDelayFunction(std::function<void(int)> delay);
  // Traffic view; nullptr for none.
  void SetFrameObserver(pmlink::FrameObserver* observer);
  pmlink::FrameObserver* Observer() const { return m_observer; }

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
  const pmlink::StopSignal* m_stop = nullptr;
  std::function<bool()> m_giveWay;
  std::function<void()> m_beforeRequest, m_afterRequest;
  bool m_purgeFailureThrows = false;
  std::uint8_t m_frame[3000] = {};
  std::uint8_t m_received[3000] = {};  // what one read brought, for the exchange
  std::string m_lastOpenError;
  int m_lastOpenErrno = 0;

  void PortDisconnected();
  int Configure(bool reportOpenFailure);
  // Drives the exchange of the frame built, blocking on the port.
  int Transaction(std::uint8_t* reply, std::size_t replySize);
  int RequestFramed(int deviceIndex, int function, int dataLen, const std::uint8_t* data, std::uint8_t* reply,
                    std::size_t replySize);
  bool StopAsked() const;
  int Finish(int deviceIndex, int function, int result);
};
