#pragma once
// Serves a Line on a pseudo-terminal: the program under test opens the
// slave end as its serial port; a thread reads the master end, feeds the
// line and writes the replies back, honouring their delays.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Line.h"

namespace sim {

class PtyServer {
 public:
  // Opens the pty pair and starts serving; throws std::runtime_error when
  // no pty can be had.
  explicit PtyServer(Line& line);
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  const std::string& SlavePath() const { return m_slavePath; }
  // Publishes the slave as <LineFolder()>/<name>; returns the link path.
  // The link goes away on Stop.
  std::string Publish(const std::string& name);
  // Stops the thread, closes the pty and removes the published links.
  void Stop();
  // The instruments are unplugged: the thread stops and the master end is
  // closed, so the slave side sees a hang-up. Published links stay until
  // Stop.
  void Unplug();
  bool Running() const { return !m_stop.load(); }
  // Models the wire at the speed and character frame the program set on
  // its end of the pseudo-terminal (read again for every request).
  void FollowPortSettings(bool on) { m_follow = on; }

 private:
  void Serve();
  void Join();

  Line& m_line;
  int m_master = -1;
  int m_slave = -1;  // kept open so the master never sees a hang-up
  std::string m_slavePath;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_follow{false};
  std::thread m_thread;
  std::mutex m_control;  // Stop, Unplug, Publish from different threads
  std::vector<std::string> m_published;
};

}  // namespace sim
