#include "TcpServer.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "ReplySender.h"

namespace sim {

TcpServer::TcpServer(Line& line, const std::string& address) : m_line(line) {
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos) throw std::runtime_error("expected ADDR:PORT: " + address);
  std::string host = address.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string service = address.substr(colon + 1);

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) throw std::runtime_error(address + ": " + ::gai_strerror(rc));
  std::string error = "no address";
  for (const addrinfo* a = found; a != nullptr && m_listen < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 4) == 0) {
      m_listen = fd;
      sockaddr_storage bound{};
      socklen_t len = sizeof bound;
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
      m_port = ntohs(bound.ss_family == AF_INET6
                         ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                         : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    } else {
      error = std::strerror(errno);
      ::close(fd);
    }
  }
  ::freeaddrinfo(found);
  if (m_listen < 0) throw std::runtime_error(address + ": " + error);
  m_thread = std::thread([this] { Serve(); });
}

TcpServer::~TcpServer() { Stop(); }

void TcpServer::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_listen >= 0) ::close(m_listen);
  m_listen = -1;
}

void TcpServer::Serve() {
  int client = -1;
  std::uint8_t buf[512];
  while (!m_stop) {
    pollfd p{client >= 0 ? client : m_listen, POLLIN, 0};
    const int r = ::poll(&p, 1, PollTimeoutMs(m_line));
    if (r < 0 && errno != EINTR) break;
    std::vector<Reply> replies;
    if (r > 0 && client < 0) {
      client = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      const int on = 1;
      if (client >= 0) ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      continue;
    }
    if (r > 0) {
      const ssize_t n = ::recv(client, buf, sizeof buf, 0);
      if (n > 0) {
        replies = m_line.Receive(std::span(buf, static_cast<std::size_t>(n)), Clock::now());
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        ::close(client);  // the client has gone: wait for the next one
        client = -1;
        continue;
      }
    }
    for (auto& reply : m_line.Idle(Clock::now())) replies.push_back(std::move(reply));
    for (const auto& reply : replies)
      if (client >= 0 && !SendReply(client, reply, m_stop)) {
        ::close(client);
        client = -1;
      }
  }
  if (client >= 0) ::close(client);
}

}  // namespace sim
