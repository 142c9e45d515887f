#pragma once
// The serial line behind a TCP connection: "tcp://HOST:PORT", a gateway in
// TCP server mode or ser2net in raw mode. The bytes of the line travel
// unchanged; speed, parity and stop bits are the gateway's own settings.
// The connection is made on Open and kept until Close; reads and writes have
// the time-outs of a local port, and each wait ends at its deadline however
// fast the far end sends; what a connection holds is bounded whatever
// arrives. A connection that drops is reported like an unplugged adapter.

#include <chrono>
#include <cstdint>
#include <functional>
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
  int ReadOrWake(std::uint8_t* buf, int n, int wakeFd) override;
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
  // Bytes from the connection: the line's data go to m_data through Hold.
  virtual void Decode(const std::uint8_t* bytes, std::size_t n);
  // The line's data as they go on the connection.
  virtual void Encode(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out);
  // After the arrived data were discarded.
  virtual void AfterPurge() {}

  // Waits for bytes and passes them to Decode until done() holds; false when
  // the deadline passes first. The deadline is checked after every chunk, so
  // a far end that keeps sending what decodes to nothing (Telnet commands)
  // cannot hold the caller past it.
  bool ReceiveUntil(Clock::time_point deadline, const std::function<bool()>& done);
  // One line data byte for Read. What Read has not taken is held up to
  // kHeldMax bytes and the rest dropped: a reply is at most a few kilobytes,
  // and the exchange reads it as it arrives.
  void Hold(std::uint8_t b) {
    if (m_data.size() < kHeldMax) m_data.push_back(b);
  }
  // Bytes for the far end (Telnet answers) that go out at the next chance:
  // after the chunk being decoded, or before the next write. Up to
  // kQueuedMax bytes wait; beyond that the far end is not reading what it
  // asks for, and more is dropped.
  void Queue(const std::vector<std::uint8_t>& bytes);
  // Sends what is queued until the deadline; true when all of it is out.
  bool Flush(Clock::time_point deadline);
  // Closes the connection and throws "Порт NAME: what".
  [[noreturn]] void Fail(const std::string& what, int err);

  static constexpr std::size_t kHeldMax = 8192;
  static constexpr std::size_t kQueuedMax = 1024;
  // A purge drains at most this much of a far end that keeps sending.
  static constexpr std::size_t kPurgeMax = 64 * 1024;

  std::string m_name;
  int m_baud = 9600;
  ParityKind m_parity = ParityKind::None;
  int m_stopBits = 2;
  std::vector<std::uint8_t> m_data;  // the line's data arrived and not yet read
  std::size_t m_dataRead = 0;        // how much of m_data Read has taken
  std::vector<std::uint8_t> m_out;   // queued for the connection

 private:
  void Connect(const std::string& host, const std::string& service, Clock::time_point deadline);
  // Waits until the deadline for one chunk and decodes it; its size, or 0
  // when the deadline passed first.
  std::size_t ReceiveSome(Clock::time_point deadline);
  // Sends until the deadline; the count sent.
  std::size_t Send(const std::uint8_t* bytes, std::size_t n, Clock::time_point deadline);
  [[noreturn]] void Dropped(int err);

  int m_fd = -1;
  int m_wakeFd = -1;    // watched beside the connection while a read waits
  bool m_woken = false;  // it became readable: the read ends now
};

}  // namespace pmlink
