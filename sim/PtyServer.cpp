#include "PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <stdexcept>

#include "Publish.h"
#include "ReplySender.h"

namespace sim {

namespace {

void MakeRaw(int fd) {
  // A pty starts in canonical mode with echo, which would swallow or double
  // bytes such as 0x0D, 0x11 and 0x13 of the binary frames.
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &t);
}

// The wire the program's settings describe: 1 start bit, the data bits,
// the parity bit, 1 or 2 stop bits, at the output speed.
std::optional<Wire> WireOf(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return std::nullopt;
  static const std::pair<speed_t, int> speeds[] = {
      {B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},   {B19200, 19200},
      {B38400, 38400},   {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
      {B921600, 921600}};
  const speed_t speed = ::cfgetospeed(&t);
  for (const auto& [code, baud] : speeds) {
    if (code != speed) continue;
    const int data = (t.c_cflag & CSIZE) == CS7 ? 7 : (t.c_cflag & CSIZE) == CS6 ? 6 : (t.c_cflag & CSIZE) == CS5 ? 5 : 8;
    return Wire{baud, 1 + data + ((t.c_cflag & PARENB) ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1)};
  }
  return std::nullopt;
}

}  // namespace

PtyServer::PtyServer(Line& line) : m_line(line) {
  char name[256] = {};
  if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
    throw std::runtime_error(std::string("openpty failed: ") + std::strerror(errno));
  m_slavePath = name;
  MakeRaw(m_master);
  MakeRaw(m_slave);
  ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
  ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
  ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
  m_thread = std::thread([this] { Serve(); });
}

PtyServer::~PtyServer() { Stop(); }

std::string PtyServer::Publish(const std::string& name) {
  std::lock_guard lock(m_control);
  std::string link = sim::Publish(m_slavePath, name);
  m_published.push_back(link);
  return link;
}

void PtyServer::Join() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

void PtyServer::Unplug() {
  std::lock_guard lock(m_control);
  Join();
  if (m_master >= 0) ::close(m_master);
  m_master = -1;
  if (m_slave >= 0) ::close(m_slave);
  m_slave = -1;
}

void PtyServer::Stop() {
  std::lock_guard lock(m_control);
  Join();
  for (const auto& link : m_published) Unpublish(link, m_slavePath);
  m_published.clear();
  if (m_master >= 0) ::close(m_master);
  m_master = -1;
  if (m_slave >= 0) ::close(m_slave);
  m_slave = -1;
}

void PtyServer::Serve() {
  std::uint8_t buf[512];
  while (!m_stop) {
    pollfd p{m_master, POLLIN, 0};
    const int r = ::poll(&p, 1, PollTimeoutMs(m_line));
    if (r < 0 && errno != EINTR) break;
    std::vector<Reply> replies;
    if (r > 0 && (p.revents & POLLIN)) {
      const ssize_t n = ::read(m_master, buf, sizeof buf);
      if (n > 0 && m_follow) m_line.SetWire(WireOf(m_slave));
      if (n > 0) replies = m_line.Receive(std::span(buf, static_cast<std::size_t>(n)), Clock::now());
    } else if (r > 0 && (p.revents & (POLLHUP | POLLERR))) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (auto& reply : m_line.Idle(Clock::now())) replies.push_back(std::move(reply));
    for (const auto& reply : replies) SendReply(m_master, reply, m_stop);
  }
}

}  // namespace sim
