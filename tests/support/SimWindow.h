#pragma once
// The main window in-process, talking over a real pseudo-terminal to the
// simulator served from a thread, with scripted message boxes. Window tests
// drive it through the same handlers the operator's actions run.

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "Line.h"
#include "Obr_pm.h"
#include "PtyServer.h"
#include "ScriptedMessageService.h"
#include "NamedPort.h"

namespace testsupport {

struct SimWindow {
  sim::Line line;
  std::unique_ptr<sim::PtyServer> server;
  ui::ScriptedMessageService messages;
  pmlink::NamedPort port;  // a device path opens the termios port
  std::unique_ptr<TForm1> form;
  // Every pause the link was asked for, in order.
  std::vector<int> delays;
  // Pauses are shortened to at most this many milliseconds so that tests
  // stay fast; the instruments' write time is shortened to match.
  int maxDelayMs = 20;

  SimWindow() {
    server = std::make_unique<sim::PtyServer>(line);
    form = std::make_unique<TForm1>(messages, port);
    form->Link.SetDelayFunction([this](int ms) {
      delays.push_back(ms);
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, maxDelayMs)));
    });
  }
  ~SimWindow() {
    form.reset();
    server->Stop();
  }

  // Adds an instrument that finishes storing a written block quickly.
  sim::Instrument& Add(int address, int model, int version, bool privileged = true) {
    sim::Instrument& in = line.Add({address, model, version, privileged});
    in.SetWriteTime(std::chrono::milliseconds(5));
    return in;
  }

  // Opens the simulator's line as the link's port, as a confirmed port
  // dialog would, with short pauses and retry counts.
  bool OpenPort(int retries1 = 2, int retries2 = 2, const std::string& name = {}) {
    form->Link.Port = name.empty() ? server->SlavePath() : name;
    form->Link.TxDelay = 1;
    form->Link.Retries1 = retries1;
    form->Link.Retries2 = retries2;
    return form->Link.Configure() == 0;
  }

  // Selects an instrument number in CBoxUstr as the operator's pick does.
  void PickDevice(int number) {
    form->ui.CBoxUstr->setCurrentIndex(number - 1);
    form->CBoxUstrClick();
  }
};

}  // namespace testsupport
