#pragma once
// A gateway on the loopback address that misbehaves in one chosen way, as
// failing and misconfigured boxes on plant networks do: silent, flooding,
// sending malformed or looping Telnet, dropping the connection mid-reply.
// Where it answers at all it speaks RFC 2217 like ser2net (DO COM-PORT,
// every setting confirmed as asked), and it answers each 4-byte request
// frame (function 17, no data) with a valid 6-byte reply. One connection at
// a time; a later one is served once the first has gone.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <thread>
#include <vector>

#include "Crc16.h"

namespace testsupport {

enum class Misbehaviour {
  Silent,                      // accepts and never sends a byte
  ZeroFlood,                   // zero bytes without end, from the start
  EndlessSubnegotiation,       // IAC SB COM-PORT, then bytes without end
  NopFlood,                    // negotiates; a request gets IAC NOP without end
  UnterminatedSubnegotiation,  // negotiates; each reply follows a line state notice without IAC SE
  CommandInSubnegotiation,     // negotiates; each reply follows a signature cut short by IAC NOP
  OptionLoop,                  // offers SGA and agrees to every option command it gets, without state
  OptionFlipFlop,              // asks for SGA, withdraws it, then asks for the opposite of every answer
  CloseMidReply,               // a request gets two bytes of its reply, then the connection closes
};

class HostileGateway {
 public:
  explicit HostileGateway(Misbehaviour how) : m_how(how) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_listener, 1);
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] {
      while (!m_stop) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        Serve(fd);
        ::close(fd);
      }
    });
  }
  ~HostileGateway() {
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
  }
  HostileGateway(const HostileGateway&) = delete;
  HostileGateway& operator=(const HostileGateway&) = delete;

  int Port() const { return m_port; }
  // Option commands (DO, DONT, WILL, WONT) received from the port.
  int OptionCommands() const { return m_optionCommands; }

 private:
  using Bytes = std::vector<std::uint8_t>;
  static constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                                kSb = 250, kSe = 240, kNop = 241;

  // Sends all bytes unless the peer goes or the gateway stops; false then.
  bool Put(int fd, const Bytes& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size() && !m_stop) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t k = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (k < 0 && errno != EAGAIN) return false;
      if (k > 0) sent += static_cast<std::size_t>(k);
    }
    return sent == bytes.size();
  }

  void Flood(int fd, const Bytes& pattern) {
    Bytes chunk;
    while (chunk.size() < 4096) chunk.insert(chunk.end(), pattern.begin(), pattern.end());
    while (Put(fd, chunk)) {
    }
  }

  static Bytes Reply(std::uint8_t address) {
    Bytes r{address, 17, 1, 0x42};
    const std::uint16_t crc = pmlink::Crc16(r.size(), r.data());
    r.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    r.push_back(static_cast<std::uint8_t>(crc >> 8));
    return r;
  }

  void Serve(int fd) {
    std::uint8_t buf[512];
    switch (m_how) {
      case Misbehaviour::Silent:
        while (!m_stop) {
          pollfd p{fd, POLLIN, 0};
          if (::poll(&p, 1, 50) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) return;
        }
        return;
      case Misbehaviour::ZeroFlood:
        return Flood(fd, {0});
      case Misbehaviour::EndlessSubnegotiation:
        if (Put(fd, {kIac, kSb, 44})) Flood(fd, {1});
        return;
      case Misbehaviour::OptionLoop:
        if (!Put(fd, {kIac, kWill, 3})) return;
        break;
      case Misbehaviour::OptionFlipFlop:
        if (!Put(fd, {kIac, kDo, 3, kIac, kDont, 3})) return;
        break;
      default:
        break;
    }
    Bytes in;   // what arrived and is not yet understood
    Bytes request;
    while (!m_stop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t k = ::recv(fd, buf, sizeof buf, 0);
      if (k <= 0) return;
      in.insert(in.end(), buf, buf + k);
      Bytes out;
      std::size_t i = 0;
      while (i < in.size()) {
        if (in[i] != kIac) {
          request.push_back(in[i++]);
          continue;
        }
        if (i + 1 >= in.size()) break;
        const std::uint8_t verb = in[i + 1];
        if (verb >= kWill && verb <= kDont) {
          if (i + 2 >= in.size()) break;
          ++m_optionCommands;
          const std::uint8_t option = in[i + 2];
          if (verb == kWill && option == 44) out.insert(out.end(), {kIac, kDo, 44});
          if (m_how == Misbehaviour::OptionLoop && (verb == kDo || verb == kWill))
            out.insert(out.end(), {kIac, static_cast<std::uint8_t>(verb == kDo ? kWill : kDo), option});
          if (m_how == Misbehaviour::OptionFlipFlop && option == 3 && (verb == kWill || verb == kWont))
            out.insert(out.end(), {kIac, static_cast<std::uint8_t>(verb == kWill ? kDont : kDo), option});
          i += 3;
        } else if (verb == kSb) {
          std::size_t end = i + 2;
          while (end + 1 < in.size() && !(in[end] == kIac && in[end + 1] == kSe)) ++end;
          if (end + 1 >= in.size()) break;
          // A COM port command: confirmed with its own value.
          out.insert(out.end(), {kIac, kSb, 44, static_cast<std::uint8_t>(in[i + 3] + 100)});
          out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i + 4), in.begin() + static_cast<std::ptrdiff_t>(end + 2));
          i = end + 2;
        } else {
          if (verb == kIac) request.push_back(kIac);
          i += 2;
        }
      }
      in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(i));
      if (!Put(fd, out)) return;
      for (; request.size() >= 4; request.erase(request.begin(), request.begin() + 4)) {
        const Bytes reply = Reply(request[0]);
        switch (m_how) {
          case Misbehaviour::NopFlood:
            return Flood(fd, {kIac, kNop});
          case Misbehaviour::CloseMidReply:
            Put(fd, {reply[0], reply[1]});
            return;
          case Misbehaviour::UnterminatedSubnegotiation:
            out = {kIac, kSb, 44, 106, 0x10};
            break;
          case Misbehaviour::CommandInSubnegotiation:
            out = {kIac, kSb, 44, 100, 'g', 'w', kIac, kNop};
            break;
          default:
            out.clear();
            break;
        }
        out.insert(out.end(), reply.begin(), reply.end());
        if (!Put(fd, out)) return;
      }
    }
  }

  Misbehaviour m_how;
  int m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_optionCommands{0};
  std::thread m_thread;
};

}  // namespace testsupport
