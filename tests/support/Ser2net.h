#pragma once
// ser2net (the Debian package) started by a test on the loopback address in
// front of a device, in the foreground, and stopped with the test: a raw TCP
// or an RFC 2217 (Telnet) gateway to the simulator's pseudo-terminal.

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace testsupport {

// A TCP port on 127.0.0.1 that nothing listens on just now.
inline int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

// Whether a socket listens on 127.0.0.1:port, read from the kernel's table
// without connecting (a connection would make ser2net open the device). A
// bind test would also count another program's connection that happens to
// use the port as its own end.
inline bool Listening(int port) {
  std::ifstream table("/proc/net/tcp");
  char local[16];
  std::snprintf(local, sizeof local, "0100007F:%04X", static_cast<unsigned>(port));
  std::string line;
  std::getline(table, line);  // the header
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, address, remote, state;
    fields >> slot >> address >> remote >> state;
    if (address == local && state == "0A") return true;  // TCP_LISTEN
  }
  return false;
}

class Ser2net {
 public:
  static bool Installed() {
    return ::access("/usr/sbin/ser2net", X_OK) == 0 || ::access("/usr/bin/ser2net", X_OK) == 0;
  }

  // Serves device on 127.0.0.1:Port(), raw or with RFC 2217. By default
  // ser2net holds what the device sends for about two character times
  // (at least 1 ms) to fill its packets; charDelay false sends at once.
  Ser2net(const std::string& device, bool rfc2217, bool charDelay = false) {
    // The free port may be taken by another program before ser2net binds
    // it: ser2net then ends, and another port is tried.
    for (int attempt = 0; attempt < 3 && !Running(); ++attempt) {
      Stop(SIGKILL);
      Start(device, rfc2217, charDelay);
    }
  }
  ~Ser2net() { Stop(SIGTERM); }
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  int Port() const { return m_port; }
  bool Running() const { return m_pid > 0 && Listening(m_port); }
  // Ends it at once, as a gateway that loses power.
  void Kill() { Stop(SIGKILL); }

 private:
  void Start(const std::string& device, bool rfc2217, bool charDelay) {
    m_port = FreeLoopbackPort();
    const std::string accepter = std::string(rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") +
                                 "127.0.0.1," + std::to_string(m_port);
    const std::string a = "  accepter: " + accepter;
    const std::string c = "  connector: serialdev," + device + ",9600n81,local";
    const std::string o = std::string("  options: {chardelay: ") + (charDelay ? "true" : "false") + "}";
    m_pid = ::fork();
    if (m_pid == 0) {
      ::freopen("/dev/null", "w", stdout);
      ::freopen("/dev/null", "w", stderr);
      const char* path = ::access("/usr/sbin/ser2net", X_OK) == 0 ? "/usr/sbin/ser2net" : "ser2net";
      // -n: foreground; -u: no UUCP lock files; -Y: the configuration.
      ::execlp(path, "ser2net", "-n", "-u", "-Y", "connection: &line", "-Y", a.c_str(), "-Y",
               c.c_str(), "-Y", o.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Listening(m_port) && std::chrono::steady_clock::now() < giveUp) {
      if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {  // it could not serve the port
        m_pid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Signals ser2net and waits for it, at most 2 s before it is killed.
  void Stop(int sig) {
    if (m_pid <= 0) return;
    ::kill(m_pid, sig);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > giveUp) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
  }

  int m_port = 0;
  pid_t m_pid = -1;
};

}  // namespace testsupport
