#pragma once
// Helpers for the window tests: a pseudo-terminal standing for a serial
// line, a port that records the settings of every open, a port that fails
// its writes, and a scripted dialog runner.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QDialog>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ModalRunner.h"
#include "SerialPort.h"
#include "TermiosPort.h"

namespace apptest {

// A pseudo-terminal pair, both ends raw (a pty starts canonical, which would
// mangle binary frames). The slave path opens like a serial device.
class Pty {
 public:
  Pty() {
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    for (int fd : {m_master, m_slave}) {
      termios t{};
      ::tcgetattr(fd, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(fd, TCSANOW, &t);
    }
    m_path = name;
  }
  ~Pty() {
    ::close(m_slave);
    ::close(m_master);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  const std::string& path() const { return m_path; }
  int master() const { return m_master; }

 private:
  int m_master = -1;
  int m_slave = -1;
  std::string m_path;
};

// The real termios port, recording the settings each successful open used.
class RecordingPort : public pmlink::TermiosPort {
 public:
  struct Open_ {
    std::string name;
    int baud;
    pmlink::ParityKind parity;
    int stopBits;
  };
  void SetName(const std::string& n) override {
    name = n;
    TermiosPort::SetName(n);
  }
  void SetBaud(int b) override {
    baud = b;
    TermiosPort::SetBaud(b);
  }
  void SetParity(pmlink::ParityKind p) override {
    parity = p;
    TermiosPort::SetParity(p);
  }
  void SetStopBits(int s) override {
    stopBits = s;
    TermiosPort::SetStopBits(s);
  }
  void Open() override {
    TermiosPort::Open();
    opens.push_back({name, baud, parity, stopBits});
  }
  std::vector<Open_> opens;

 private:
  std::string name;
  int baud = 0;
  pmlink::ParityKind parity = pmlink::ParityKind::None;
  int stopBits = 0;
};

// Opens without a device; every write fails as an unplugged adapter would.
class FailingWritePort : public pmlink::SerialPort {
 public:
  void SetName(const std::string&) override {}
  void SetBaud(int) override {}
  void SetParity(pmlink::ParityKind) override {}
  void SetStopBits(int) override {}
  void Open() override { m_open = true; }
  void Close() override { m_open = false; }
  bool IsOpen() const override { return m_open; }
  void Purge() override {}
  int Read(std::uint8_t*, int) override { return 0; }
  int Write(const std::uint8_t*, int) override { throw pmlink::SerialPortError(writeError, 5); }
  std::string writeError = "Ошибка записи в порт";

 private:
  bool m_open = false;
};

// Installs a dialog runner that plays the given steps in order, one per
// modal showing; a showing beyond the script is counted and cancelled.
class DialogScript {
 public:
  using Step = std::function<int(QDialog&)>;
  DialogScript() {
    ui::SetDialogRunner([this](QDialog& d) {
      ++shown;
      if (steps.empty()) {
        ++unexpected;
        return int(QDialog::Rejected);
      }
      Step s = std::move(steps.front());
      steps.pop_front();
      return s(d);
    });
  }
  ~DialogScript() { ui::SetDialogRunner(nullptr); }
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  DialogScript& then(Step s) {
    steps.push_back(std::move(s));
    return *this;
  }
  std::deque<Step> steps;
  int shown = 0;
  int unexpected = 0;
};

}  // namespace apptest
