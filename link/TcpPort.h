#pragma once
// The serial line behind a TCP connection: "tcp://HOST:PORT", a gateway in
// TCP server mode or ser2net in raw mode. The bytes of the line travel
// unchanged; speed, parity and stop bits are the gateway's own settings.
// The connection is made on Open and kept until Close; reads and writes have
// the time-outs of a local port. A connection that drops is reported like an
// unplugged adapter.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "SerialPort.h"

namespace pmlink {

class TcpPort : public SerialPort {
 public:
  TcpPort() = default;
  ~TcpPort() override;
  TcpPort(const TcpPort&) = delete;
  TcpPort& operator=(const TcpPort&) = delete;

  void SetName(const std::string& name) override { m_name = name; }
  void SetBaud(int baud) override { m_baud = baud; }
  void SetParity(ParityKind parity) override { m_parity = parity; }
  void SetStopBits(int stopBits) override { m_stopBits = stopBits; }

  void Open() override;
  void Close() override;
  bool IsOpen() const override { return m_fd >= 0; }
  // Discards what has arrived and not been read.
  void Purge() override;
  int Read(std::uint8_t* buf, int n) override;
  // Returns once the bytes are handed to the connection.
  int Write(const std::uint8_t* buf, int n) override;

  // Time-outs in milliseconds, as for a local port; the connection (and, for
  // RFC 2217, the settings) must be through within connectMs.
  int interByteMs = 100;
  int totalBaseMs = 1000;
  int totalPerByteMs = 100;
  int connectMs = 3000;

 protected:
  using Clock = std::chrono::steady_clock;

  // After the connection is made: agree on the line's settings with the far
  // end (nothing for raw TCP). Throws SerialPortError through Fail.
  virtual void Negotiate(Clock::time_point deadline);
  // Bytes from the connection: the line's data go to m_data.
  virtual void Decode(const std::uint8_t* bytes, std::size_t n);
  // The line's data as they go on the connection.
  virtual void Encode(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out);
  // After the arrived data were discarded.
  virtual void AfterPurge() {}

  // Waits for bytes until the deadline and passes them to Decode; false when
  // the deadline passed first.
  bool Receive(Clock::time_point deadline);
  // Sends all bytes unless the deadline passes first; returns the count sent.
  std::size_t Send(const std::uint8_t* bytes, std::size_t n, Clock::time_point deadline);
  // Closes the connection and throws "Порт NAME: what".
  [[noreturn]] void Fail(const std::string& what, int err);

  std::string m_name;
  int m_baud = 9600;
  ParityKind m_parity = ParityKind::None;
  int m_stopBits = 2;
  std::vector<std::uint8_t> m_data;  // the line's data arrived and not yet read
  std::size_t m_dataRead = 0;        // how much of m_data Read has taken

 private:
  void Connect(const std::string& host, const std::string& service, Clock::time_point deadline);
  [[noreturn]] void Dropped(int err);

  int m_fd = -1;
};

}  // namespace pmlink
