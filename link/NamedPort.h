#pragma once
// The port the program drives: the name chosen says what is behind it. A
// device path or COMn is a local serial port (termios), "tcp://HOST:PORT" a
// raw TCP connection to a gateway, "rfc2217://HOST:PORT" a Telnet connection
// that also sets the far port. The link, the windows and pmctl see one
// SerialPort whatever the line is.

#include <array>

#include "Rfc2217Port.h"
#include "SerialPort.h"
#include "TcpPort.h"
#include "TermiosPort.h"

namespace pmlink {

class NamedPort : public SerialPort {
 public:
  // A new name of another kind closes the port of the old one.
  void SetName(const std::string& name) override;
  void SetBaud(int baud) override;
  void SetParity(ParityKind parity) override;
  void SetStopBits(int stopBits) override;

  void Open() override { m_active->Open(); }
  void Close() override { m_active->Close(); }
  bool IsOpen() const override { return m_active->IsOpen(); }
  void Purge() override { m_active->Purge(); }
  int Read(std::uint8_t* buf, int n) override { return m_active->Read(buf, n); }
  int ReadOrWake(std::uint8_t* buf, int n, int wakeFd) override { return m_active->ReadOrWake(buf, n, wakeFd); }
  int Write(const std::uint8_t* buf, int n) override { return m_active->Write(buf, n); }

  // The port the current name uses.
  SerialPort& Active() { return *m_active; }

  // The wait for a reply before its first byte, of every kind of line
  // (1000 ms by default; each byte expected adds its own 100 ms).
  void SetReplyTimeout(int ms) { m_device.totalBaseMs = m_tcp.totalBaseMs = m_rfc2217.totalBaseMs = ms; }

 private:
  std::array<SerialPort*, 3> All() { return {&m_device, &m_tcp, &m_rfc2217}; }

  TermiosPort m_device;
  TcpPort m_tcp;
  Rfc2217Port m_rfc2217;
  SerialPort* m_active = &m_device;
};

}  // namespace pmlink
