#include "Control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "Line.h"

namespace sim {

namespace {

// Clients served at once, and the longest command line taken.
constexpr std::size_t kMaxClients = 8;
constexpr std::size_t kMaxLine = 256;

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : std::string(text) + " ") {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

bool Number(std::string text, double& value) {
  std::replace(text.begin(), text.end(), ',', '.');
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string ControlCommand(Line& line, std::string_view command) {
  const std::vector<std::string> w = Words(command);
  if (w.empty()) return "error: empty command";
  const std::string& verb = w[0];
  if (verb != "input" && verb != "terminals" && verb != "noise" && verb != "tune")
    return "error: unknown command " + verb + " (input, terminals, noise, tune)";
  double address = 0;
  if (w.size() < 2 || !Number(w[1], address)) return "error: " + verb + " needs an address";
  Instrument* in = line.Find(static_cast<int>(address));
  if (!in) return "error: no instrument at address " + w[1];
  double value = 0;
  const bool valueGiven = w.size() == 3 && Number(w[2], value);
  if (verb == "tune") {
    if (w.size() > 3 || (w.size() == 3 && !valueGiven)) return "error: tune ADDR [PERCENT]";
    return in->Tune(value) ? "ok" : "error: the simulator does not model this sensor";
  }
  if (verb == "input" && w.size() == 3 && w[2] == "off") {
    in->SetInput(std::nullopt);
    return "ok";
  }
  if (!valueGiven) return "error: " + verb + " ADDR VALUE";
  if (verb == "input") in->SetInput(value);
  else if (verb == "terminals") in->SetTerminalTemperature(value);
  else if (value < 0 || value > 1000) return "error: noise 0..1000";
  else in->SetNoise(static_cast<int>(value));
  return "ok";
}

ControlServer::ControlServer(Line& line, const std::string& path) : m_line(line), m_path(path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) throw std::runtime_error("control socket path too long");
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listen < 0 || ::pipe2(m_wake, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("control socket: ") + std::strerror(errno));
  ::unlink(path.c_str());
  if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listen, 4) != 0) {
    const int err = errno;
    ::close(m_listen);
    throw std::runtime_error("control socket " + path + ": " + std::strerror(err));
  }
  m_thread = std::thread([this] { Serve(); });
}

ControlServer::~ControlServer() {
  const char byte = 0;
  [[maybe_unused]] const auto n = ::write(m_wake[1], &byte, 1);
  if (m_thread.joinable()) m_thread.join();
  ::close(m_listen);
  ::close(m_wake[0]);
  ::close(m_wake[1]);
  ::unlink(m_path.c_str());
}

void ControlServer::Serve() {
  struct Client {
    int fd;
    std::string pending;
  };
  std::vector<Client> clients;
  for (;;) {
    std::vector<pollfd> fds = {{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
    for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    for (std::size_t i = clients.size(); i-- > 0;) {
      if (!fds[i + 2].revents) continue;
      Client& c = clients[i];
      char buf[256];
      const ssize_t n = ::read(c.fd, buf, sizeof buf);
      bool drop = n <= 0;
      if (n > 0) c.pending.append(buf, static_cast<std::size_t>(n));
      for (std::size_t end; !drop && (end = c.pending.find('\n')) != std::string::npos;) {
        const std::string answer = ControlCommand(m_line, c.pending.substr(0, end)) + "\n";
        c.pending.erase(0, end + 1);
        drop = ::send(c.fd, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size());
      }
      if (c.pending.size() > kMaxLine) drop = true;
      if (drop) {
        ::close(c.fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    if (fds[1].revents & POLLIN) {
      const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0 && clients.size() < kMaxClients) clients.push_back({fd, {}});
      else if (fd >= 0) ::close(fd);
    }
  }
  for (const Client& c : clients) ::close(c.fd);
}

}  // namespace sim
