#pragma once
// The serial port as the link needs it: settings, exclusive open, purge and
// blocking reads and writes with time-outs. Port failures raise
// SerialPortError. TermiosPort is the real one; tests use a scripted fake.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pmlink {

enum class ParityKind { None, Odd, Even };

class SerialPortError : public std::runtime_error {
 public:
  SerialPortError(const std::string& what, int err) : std::runtime_error(what), m_errno(err) {}
  // The errno the system reported (0 when not from a system call).
  int Errno() const { return m_errno; }

 private:
  int m_errno;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual void SetName(const std::string& name) = 0;
  virtual void SetBaud(int baud) = 0;
  virtual void SetParity(ParityKind parity) = 0;
  virtual void SetStopBits(int stopBits) = 0;  // 1 or 2

  // Opens the named port exclusively with the settings; throws on failure
  // and leaves the port closed.
  virtual void Open() = 0;
  // Does nothing when the port is not open; never throws.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Discards what the driver holds in both directions; throws on failure.
  virtual void Purge() = 0;
  // Reads up to n bytes, blocking until n have arrived, 100 ms pass without
  // a byte, or 1000 ms + 100 ms * n pass in total. Returns the count read.
  virtual int Read(std::uint8_t* buf, int n) = 0;
  // Read that also ends, with what has arrived, as soon as wakeFd becomes
  // readable (a stop raised meanwhile). A port that cannot watch a second
  // descriptor reads as Read does.
  virtual int ReadOrWake(std::uint8_t* buf, int n, int wakeFd) {
    static_cast<void>(wakeFd);
    return Read(buf, n);
  }
  // Writes n bytes and returns once they have left the driver (are on the
  // line, or handed to the connection), blocking at most 1000 ms + 100 ms * n.
  // Returns the count written.
  virtual int Write(const std::uint8_t* buf, int n) = 0;
};

}  // namespace pmlink
