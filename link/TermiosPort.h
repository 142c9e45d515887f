#pragma once
// The serial port on a POSIX terminal device: exclusive open, raw 8-bit
// frames, no flow control, DTR and RTS low, and reads and writes timed with
// poll() against steady_clock deadlines.

#include <termios.h>

#include <chrono>
#include <string>

#include "SerialPort.h"

namespace pmlink {

class TermiosPort : public SerialPort {
 public:
  TermiosPort() = default;
  ~TermiosPort() override;
  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  void SetName(const std::string& name) override { m_name = name; }
  void SetBaud(int baud) override { m_baud = baud; }
  void SetParity(ParityKind parity) override { m_parity = parity; }
  void SetStopBits(int stopBits) override { m_stopBits = stopBits; }

  void Open() override;
  void Close() override;
  bool IsOpen() const override { return m_fd >= 0; }
  void Purge() override;
  int Read(std::uint8_t* buf, int n) override;
  int ReadOrWake(std::uint8_t* buf, int n, int wakeFd) override;
  int Write(const std::uint8_t* buf, int n) override;

  // The device path a port name stands for: "COMn" / "comn" is
  // /dev/ttyS(n-1); anything else is used as it is.
  static std::string DevicePath(const std::string& name);

  // Time-outs in milliseconds (defaults: 100 ms between bytes, 1000 ms +
  // 100 ms per byte in total, the same for writes).
  int interByteMs = 100;
  int totalBaseMs = 1000;
  int totalPerByteMs = 100;

 private:
  using Clock = std::chrono::steady_clock;
  // Blocks until the written bytes have left the driver, at most until the
  // deadline.
  void WaitUntilSent(Clock::time_point deadline);
  [[noreturn]] void Fail(const std::string& what, int err);
  [[noreturn]] void Disconnected(int err);

  std::string m_name;
  int m_baud = 9600;
  ParityKind m_parity = ParityKind::None;
  int m_stopBits = 2;
  int m_fd = -1;
  int m_wakeFd = -1;  // watched beside the port while a read waits
  bool m_saved = false;
  termios m_savedTermios{};
};

// Operator text for an errno from opening or using a port.
std::string PortErrorCause(int err);

}  // namespace pmlink
