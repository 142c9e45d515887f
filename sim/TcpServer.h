#pragma once
// Serves a Line on a TCP port, raw: the bytes of the connection are the
// bytes of the line, as behind a serial-to-Ethernet gateway in TCP server
// mode. One client at a time; a later one waits until the first has gone.

#include <atomic>
#include <string>
#include <thread>

#include "Line.h"

namespace sim {

class TcpServer {
 public:
  // Listens on "ADDR:PORT" (PORT 0: any free port) and starts serving;
  // throws std::runtime_error when the address is bad or taken.
  TcpServer(Line& line, const std::string& address);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  int Port() const { return m_port; }
  void Stop();

 private:
  void Serve();

  Line& m_line;
  int m_listen = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace sim
