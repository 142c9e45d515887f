#include "TermiosPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "CustomBaud.h"

namespace pmlink {

namespace {

speed_t SpeedFor(int baud) {
  switch (baud) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return 0;
  }
}

}  // namespace

std::string PortErrorCause(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
      return "нет прав на доступ к порту (добавьте пользователя в группу dialout и войдите в "
             "систему заново)";
    case EBUSY:
      return "порт занят другой программой";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "такого порта нет";
    case EIO:
      return "устройство отключено";
    default:
      return std::strerror(err);
  }
}

TermiosPort::~TermiosPort() { Close(); }

std::string TermiosPort::DevicePath(const std::string& name) {
  if (name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0)) {
    int n = 0;
    std::size_t i = 3;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && n < 100000; ++i)
      n = n * 10 + (name[i] - '0');
    if (i == name.size() && n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
  }
  return name;
}

void TermiosPort::Fail(const std::string& what, int err) {
  const std::string text = "Порт " + m_name + ": " + what + ": " + PortErrorCause(err);
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
    m_saved = false;
  }
  throw SerialPortError(text, err);
}

void TermiosPort::Disconnected(int err) {
  // The device is gone (USB adapter unplugged, pty master closed): the
  // descriptor is useless, so release it now and report the loss once.
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
    m_saved = false;
  }
  throw SerialPortError("Порт " + m_name + ": устройство отключено", err);
}

void TermiosPort::Open() {
  Close();
  const std::string path = DevicePath(m_name);
  // O_NONBLOCK keeps open() from waiting for carrier on a modem line;
  // O_NOCTTY keeps the port from becoming our controlling terminal.
  m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0) {
    const int err = errno;
    throw SerialPortError("Порт " + m_name + " (" + path + "): " + PortErrorCause(err), err);
  }
  if (::isatty(m_fd) == 0) Fail("не является последовательным портом", ENOTTY);

  // Exclusive: a second open of the device fails with EBUSY (root excepted).
  if (::ioctl(m_fd, TIOCEXCL) != 0) Fail("монопольный доступ", errno);

  termios tio{};
  if (::tcgetattr(m_fd, &tio) != 0) Fail("чтение настроек", errno);
  m_savedTermios = tio;
  m_saved = true;

  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8;
  if (m_parity == ParityKind::Even) tio.c_cflag |= PARENB;
  if (m_parity == ParityKind::Odd) tio.c_cflag |= PARENB | PARODD;
  if (m_stopBits == 2) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  // Timing is ours (poll with deadlines): VTIME counts in 100 ms steps and
  // cannot express 1000 ms + 100 ms per byte.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;

  // 14400 and 56000 have no Bxxx constant: they are set through termios2
  // after the rest of the settings.
  const speed_t speed = SpeedFor(m_baud);
  ::cfsetispeed(&tio, speed != 0 ? speed : B9600);
  ::cfsetospeed(&tio, speed != 0 ? speed : B9600);
  if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) Fail("настройка порта", errno);
  if (speed == 0 && !SetCustomBaud(m_fd, m_baud))
    Fail("скорость " + std::to_string(m_baud) + " не поддерживается", errno);

  // DTR and RTS inactive: some adapters power or steer the line with them.
  // A pseudo-terminal has no modem lines and refuses the call.
  const int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(m_fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
    Fail("сброс DTR/RTS", errno);

  if (::tcflush(m_fd, TCIOFLUSH) != 0) Fail("очистка буферов", errno);
}

void TermiosPort::Close() {
  if (m_fd < 0) return;
  if (m_saved) ::tcsetattr(m_fd, TCSANOW, &m_savedTermios);
  // The exclusive flag lives with the terminal, not with our descriptor: a
  // pty slave keeps it while the master stays open, which would refuse the
  // next open of the same line.
  ::ioctl(m_fd, TIOCNXCL);
  ::close(m_fd);
  m_fd = -1;
  m_saved = false;
}

void TermiosPort::Purge() {
  if (m_fd < 0) throw SerialPortError("Порт " + m_name + " не открыт", EBADF);
  if (::tcflush(m_fd, TCIOFLUSH) != 0) {
    const int err = errno;
    if (err == EIO || err == ENXIO) Disconnected(err);
    Fail("очистка буферов", err);
  }
}

int TermiosPort::Read(std::uint8_t* buf, int n) {
  if (m_fd < 0) throw SerialPortError("Порт " + m_name + " не открыт", EBADF);
  if (n <= 0) return 0;
  const auto start = Clock::now();
  const auto total = start + std::chrono::milliseconds(totalBaseMs + totalPerByteMs * n);
  auto gap = total;
  int got = 0;
  while (got < n) {
    // Before the first byte only the total applies; after it, also the gap.
    const auto deadline = std::min(total, gap);
    const auto now = Clock::now();
    if (now >= deadline) break;
    const int wait =
        static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const int r = ::poll(fds, m_wakeFd >= 0 ? 2 : 1, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      Fail("ожидание данных", errno);
    }
    if (r == 0) continue;  // the deadlines are checked again at the top
    if (m_wakeFd >= 0 && (fds[1].revents & POLLIN)) break;
    const pollfd& p = fds[0];
    if (p.revents & POLLIN) {
      const ssize_t k = ::read(m_fd, buf + got, static_cast<std::size_t>(n - got));
      if (k > 0) {
        got += static_cast<int>(k);
        gap = Clock::now() + std::chrono::milliseconds(interByteMs);
        continue;
      }
      if (k < 0) {
        const int err = errno;
        if (err == EINTR || err == EAGAIN) continue;
        if (err == EIO || err == ENXIO) Disconnected(err);
        Fail("чтение", err);
      }
    }
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) Disconnected(EIO);
  }
  return got;
}

int TermiosPort::ReadOrWake(std::uint8_t* buf, int n, int wakeFd) {
  m_wakeFd = wakeFd;
  try {
    const int got = Read(buf, n);
    m_wakeFd = -1;
    return got;
  } catch (...) {
    m_wakeFd = -1;
    throw;
  }
}

int TermiosPort::Write(const std::uint8_t* buf, int n) {
  if (m_fd < 0) throw SerialPortError("Порт " + m_name + " не открыт", EBADF);
  if (n <= 0) return 0;
  const auto total = Clock::now() + std::chrono::milliseconds(totalBaseMs + totalPerByteMs * n);
  int sent = 0;
  while (sent < n) {
    const ssize_t k = ::write(m_fd, buf + sent, static_cast<std::size_t>(n - sent));
    if (k > 0) {
      sent += static_cast<int>(k);
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EIO || errno == ENXIO)) Disconnected(errno);
    if (k < 0 && errno != EAGAIN) Fail("запись", errno);
    // Output buffer full: wait until it drains or the write time-out passes.
    const auto now = Clock::now();
    if (now >= total) break;
    const int wait =
        static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(total - now).count());
    pollfd p{m_fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, wait);
    if (r < 0 && errno != EINTR) Fail("ожидание записи", errno);
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) Disconnected(EIO);
  }
  WaitUntilSent(total);
  return sent;
}

void TermiosPort::WaitUntilSent(Clock::time_point deadline) {
  // tcdrain() alone could block without bound (a stalled adapter), so the
  // driver's queue is watched until it empties or the write time-out passes;
  // then tcdrain() waits only for the few bytes still in the UART's FIFO.
  // Without this the purge of the next request could cut the frame short.
  for (;;) {
    int queued = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0) {
      if (errno == EIO || errno == ENXIO) Disconnected(errno);
      break;  // the driver does not tell: rely on tcdrain() alone
    }
    if (queued <= 0) break;
    const auto now = Clock::now();
    if (now >= deadline) return;
    // About the time the queued bytes need on the line, in small steps.
    const auto step = std::chrono::microseconds(std::clamp<long>(
        static_cast<long>(queued) * 11'000'000L / std::max(m_baud, 1) / 4, 500, 20'000));
    std::this_thread::sleep_for(std::min<Clock::duration>(step, deadline - now));
  }
  while (::tcdrain(m_fd) != 0) {
    if (errno == EINTR) continue;
    if (errno == EIO || errno == ENXIO) Disconnected(errno);
    break;  // a pseudo-terminal has nothing to drain
  }
}

}  // namespace pmlink
