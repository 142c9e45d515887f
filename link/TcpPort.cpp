#include "TcpPort.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "AddressLookup.h"
#include "NetworkName.h"

namespace pmlink {

namespace {

int MsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

bool IsDrop(int err) {
  return err == ECONNRESET || err == EPIPE || err == ETIMEDOUT || err == ENOTCONN ||
         err == EHOSTUNREACH || err == ENETUNREACH || err == ECONNABORTED;
}

}  // namespace

TcpPort::~TcpPort() { Close(); }

void TcpPort::Fail(const std::string& what, int err) {
  Close();
  throw SerialPortError("Порт " + m_name + ": " + what, err);
}

void TcpPort::Dropped(int err) {
  // The far end closed or the network failed: like an unplugged adapter,
  // the connection is useless from now on.
  Fail("соединение разорвано", err != 0 ? err : ECONNRESET);
}

void TcpPort::Open() {
  Close();
  const auto address = ParseNetworkName(m_name);
  if (!address) Fail("неверный адрес (нужно tcp://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ)", EINVAL);
  const auto deadline = Clock::now() + std::chrono::milliseconds(connectMs);
  Connect(address->host, address->service, deadline);
  Negotiate(deadline);
}

void TcpPort::Connect(const std::string& host, const std::string& service,
                      Clock::time_point deadline) {
  const std::string seconds = std::to_string(connectMs / 1000);
  const AddressLookup lookup = LookUpAddresses(host, service, deadline);
  // A lookup that ends with no time left for the connection is as late as
  // one that never ends: the name server is the one to blame.
  if (lookup.timedOut || (lookup.rc == 0 && MsLeft(deadline) == 0))
    Fail("узел " + host + " не найден за " + seconds + " с (сервер имён не ответил)", ETIMEDOUT);
  if (lookup.rc == EAI_SYSTEM) Fail("узел " + host + ": " + std::strerror(lookup.err), lookup.err);
  if (lookup.rc != 0) Fail("узел " + host + " не найден", EHOSTUNREACH);

  int lastErr = ETIMEDOUT;
  for (const addrinfo* a = lookup.found.get(); a != nullptr && m_fd < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            a->ai_protocol);
    if (fd < 0) {
      lastErr = errno;
      continue;
    }
    int err = 0;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int r;
        while ((r = ::poll(&p, 1, MsLeft(deadline))) < 0 && errno == EINTR) {
        }
        socklen_t len = sizeof err;
        if (r == 0)
          err = ETIMEDOUT;
        else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
          err = errno;
      }
    }
    if (err == 0) {
      m_fd = fd;
      break;
    }
    ::close(fd);
    lastErr = err;
    if (err == ETIMEDOUT) break;  // the time is spent
  }
  if (m_fd < 0) {
    switch (lastErr) {
      case ECONNREFUSED:
        Fail("узел " + host + " отклонил соединение на порту " + service, lastErr);
      case ETIMEDOUT:
        Fail("узел " + host + " не ответил за " + seconds + " с", lastErr);
      default:
        Fail("узел " + host + ": " + std::strerror(lastErr), lastErr);
    }
  }
  // One request frame is one segment, sent at once.
  const int on = 1;
  ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  m_data.clear();
  m_dataRead = 0;
  m_out.clear();
}

void TcpPort::Negotiate(Clock::time_point) {}

void TcpPort::Decode(const std::uint8_t* bytes, std::size_t n) {
  const std::size_t room = kHeldMax - std::min(kHeldMax, m_data.size());
  m_data.insert(m_data.end(), bytes, bytes + std::min(n, room));
}

void TcpPort::Encode(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out) {
  out.assign(data, data + n);
}

void TcpPort::Close() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
  m_data.clear();
  m_dataRead = 0;
  m_out.clear();
}

std::size_t TcpPort::ReceiveSome(Clock::time_point deadline) {
  std::uint8_t chunk[1024];
  for (;;) {
    const ssize_t k = ::recv(m_fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (k > 0) {
      Decode(chunk, static_cast<std::size_t>(k));
      // Answers to the chunk's Telnet commands go out when the connection
      // takes them now; the caller's deadline is never spent on them.
      if (!m_out.empty()) Flush(Clock::now());
      return static_cast<std::size_t>(k);
    }
    if (k == 0) Dropped(0);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      if (IsDrop(errno)) Dropped(errno);
      Fail(std::string("чтение: ") + std::strerror(errno), errno);
    }
    const int wait = MsLeft(deadline);
    if (wait == 0) return 0;
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    if (::poll(fds, m_wakeFd >= 0 ? 2 : 1, wait) < 0 && errno != EINTR) Fail("ожидание данных", errno);
    if (m_wakeFd >= 0 && (fds[1].revents & POLLIN)) {
      m_woken = true;
      return 0;
    }
  }
}

bool TcpPort::ReceiveUntil(Clock::time_point deadline, const std::function<bool()>& done) {
  while (!done()) {
    if (Clock::now() >= deadline || m_woken) return false;
    ReceiveSome(deadline);
  }
  return true;
}

void TcpPort::Queue(const std::vector<std::uint8_t>& bytes) {
  if (m_out.size() + bytes.size() <= kQueuedMax) m_out.insert(m_out.end(), bytes.begin(), bytes.end());
}

bool TcpPort::Flush(Clock::time_point deadline) {
  const std::size_t sent = Send(m_out.data(), m_out.size(), deadline);
  m_out.erase(m_out.begin(), m_out.begin() + static_cast<std::ptrdiff_t>(sent));
  return m_out.empty();
}

std::size_t TcpPort::Send(const std::uint8_t* bytes, std::size_t n, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < n) {
    const ssize_t k = ::send(m_fd, bytes + sent, n - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (k > 0) {
      sent += static_cast<std::size_t>(k);
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (IsDrop(errno)) Dropped(errno);
      Fail(std::string("запись: ") + std::strerror(errno), errno);
    }
    const int wait = MsLeft(deadline);
    if (wait == 0) break;
    pollfd p{m_fd, POLLOUT, 0};
    if (::poll(&p, 1, wait) < 0 && errno != EINTR) Fail("ожидание записи", errno);
  }
  return sent;
}

void TcpPort::Purge() {
  if (m_fd < 0) throw SerialPortError("Порт " + m_name + " не открыт", EBADF);
  // What has arrived goes through Decode (a Telnet command in it still
  // counts) and is dropped with the unread data. A far end that keeps
  // sending is drained for at most the gap between two bytes or kPurgeMax
  // bytes; the rest is read as the start of the next reply, which the
  // exchange refuses by its header.
  const auto deadline = Clock::now() + std::chrono::milliseconds(interByteMs);
  std::size_t drained = 0;
  while (drained < kPurgeMax && Clock::now() < deadline) {
    const std::size_t k = ReceiveSome(Clock::now());
    m_data.clear();
    if (k == 0) break;
    drained += k;
  }
  m_data.clear();
  m_dataRead = 0;
  AfterPurge();
}

int TcpPort::Read(std::uint8_t* buf, int n) {
  if (m_fd < 0) throw SerialPortError("Порт " + m_name + " не открыт", EBADF);
  if (n <= 0) return 0;
  const auto total = Clock::now() + std::chrono::milliseconds(totalBaseMs + totalPerByteMs * n);
  auto gap = total;  // before the first byte only the total applies
  int got = 0;
  while (got < n) {
    const std::size_t ready = m_data.size() - m_dataRead;
    if (ready > 0) {
      const std::size_t k = std::min(ready, static_cast<std::size_t>(n - got));
      std::memcpy(buf + got, m_data.data() + m_dataRead, k);
      m_dataRead += k;
      got += static_cast<int>(k);
      if (m_dataRead == m_data.size()) {
        m_data.clear();
        m_dataRead = 0;
      }
      gap = std::min(total, Clock::now() + std::chrono::milliseconds(interByteMs));
      continue;
    }
    if (!ReceiveUntil(std::min(total, gap), [this] { return m_data.size() > m_dataRead; })) break;
  }
  return got;
}

int TcpPort::ReadOrWake(std::uint8_t* buf, int n, int wakeFd) {
  m_wakeFd = wakeFd;
  m_woken = false;
  try {
    const int got = Read(buf, n);
    m_wakeFd = -1;
    m_woken = false;
    return got;
  } catch (...) {
    m_wakeFd = -1;
    m_woken = false;
    throw;
  }
}

int TcpPort::Write(const std::uint8_t* buf, int n) {
  if (m_fd < 0) throw SerialPortError("Порт " + m_name + " не открыт", EBADF);
  if (n <= 0) return 0;
  std::vector<std::uint8_t> wire;
  Encode(buf, static_cast<std::size_t>(n), wire);
  // Telnet answers still queued go first.
  m_out.insert(m_out.end(), wire.begin(), wire.end());
  const auto total = Clock::now() + std::chrono::milliseconds(totalBaseMs + totalPerByteMs * n);
  if (Flush(total)) return n;
  m_out.clear();  // what did not go out in time is dropped, as a local port's flush would
  return 0;
}

}  // namespace pmlink
