#pragma once
// pmsim's bench control: lines of text that change the simulated
// instruments while they are served, read from a Unix-domain socket
// (pmsim --control PATH), one command a line, one answer line each:
//
//   input ADDR VALUE     apply a reference signal: Ω (ЗЕТ-ТС), mV (ЗЕТ-ТП),
//                        mA (КАРД, ЛУНТ); a decimal point or comma
//   input ADDR off       take it away: the slow wave again
//   terminals ADDR DEGC  the temperature of the input terminals (ЗЕТ-ТП)
//   noise ADDR CODES     reading noise, up to CODES of the ADC either way
//   tune ADDR [PERCENT]  calibration codes that match sensor and range, the
//                        scale end off by PERCENT of the span
//
// The answer is "ok" or "error: " and the reason.

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

namespace sim {

class Line;

// Carries out one command line on the line's instruments; the answer.
std::string ControlCommand(Line& line, std::string_view command);

// Serves the commands on a Unix-domain socket at `path` from a thread of
// its own, a few clients at a time; the socket file is removed at the end.
class ControlServer {
 public:
  ControlServer(Line& line, const std::string& path);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

 private:
  void Serve();

  Line& m_line;
  std::string m_path;
  int m_listen = -1;
  int m_wake[2] = {-1, -1};
  std::thread m_thread;
};

}  // namespace sim
