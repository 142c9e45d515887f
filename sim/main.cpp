// pmsim: serves simulated instruments on one pseudo-terminal and publishes
// it where the service program's port list finds it; or, with --tcp, on a
// TCP port as a serial-to-Ethernet gateway would (tcp://ADDR:PORT).
//
// Default line (one of each model, all privileged):
//   address 1  КАРД    version 5  full identification line, both corrections
//   address 2  ЗЕТ-ТС  version 6  connection scheme, resistance register
//   address 3  ЗЕТ-ТП  version 6  cold junction, e.m.f. register
//   address 4  ЛУНТ    version 4  output control, scale-end correction

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Control.h"
#include "Line.h"
#include "PtyServer.h"
#include "TcpServer.h"

namespace {

void Usage() {
  std::cout <<
      "usage: pmsim [--instrument ADDR:MODEL:VERSION[:nonpriv]]... [--name NAME] [--log]\n"
      "             [--write-time MS] [--tcp ADDR:PORT] [--wire] [--control PATH]\n"
      "  MODEL  100|kard, 101|zet-ts, 102|zet-tp, 103|lunt, or any code 0..255\n"
      "  Without --instrument: КАРД v5 at 1, ЗЕТ-ТС v6 at 2, ЗЕТ-ТП v6 at 3, ЛУНТ v4 at 4.\n"
      "  --name   name of the published link (default: the first free line1..line9)\n"
      "  --log    print every frame: [..] received, <..> sent\n"
      "  --tcp    serve the line on a TCP port (raw, one client at a time) instead of a\n"
      "           pseudo-terminal; the program reaches it as tcp://ADDR:PORT\n"
      "  --wire   model the wire: each reply arrives when request and reply would have\n"
      "           crossed a real line at the speed and character frame the program set\n"
      "           (bits per character x bytes / bit rate); with --tcp, 9600 bit/s 8N2\n"
      "  --control  the bench: a Unix-domain socket at PATH that takes one command a\n"
      "           line and answers \"ok\" or \"error: ...\" (for example with\n"
      "           socat - UNIX-CONNECT:PATH):\n"
      "             input ADDR VALUE     apply a reference signal to the input: ohm for\n"
      "                                  ZET-TS, mV for ZET-TP, mA for KARD and LUNT; the\n"
      "                                  instrument then measures it through its ADC, its\n"
      "                                  calibration codes and its sensor characteristic\n"
      "             input ADDR off       remove it: the slow wave again\n"
      "             terminals ADDR DEGC  temperature of the input terminals (ZET-TP cold\n"
      "                                  junction, default 23)\n"
      "             noise ADDR CODES     reading noise, up to CODES of the ADC either way\n"
      "             tune ADDR [PERCENT]  calibration codes matching sensor and range, the\n"
      "                                  scale end off by PERCENT of the span (an instrument\n"
      "                                  out of calibration)\n";
}

int ParseModel(const std::string& s) {
  if (s == "kard") return sim::model::Kard;
  if (s == "zet-ts") return sim::model::ZetTs;
  if (s == "zet-tp") return sim::model::ZetTp;
  if (s == "lunt") return sim::model::Lunt;
  const int code = std::stoi(s);
  if (code < 0 || code > 255) throw std::invalid_argument("model code out of range: " + s);
  return code;
}

sim::InstrumentSetup ParseInstrument(const std::string& spec) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t colon; (colon = spec.find(':', start)) != std::string::npos; start = colon + 1)
    parts.push_back(spec.substr(start, colon - start));
  parts.push_back(spec.substr(start));
  if (parts.size() < 3 || parts.size() > 4 || (parts.size() == 4 && parts[3] != "nonpriv"))
    throw std::invalid_argument("bad --instrument " + spec);
  sim::InstrumentSetup setup;
  setup.address = std::stoi(parts[0]);
  setup.model = ParseModel(parts[1]);
  setup.version = std::stoi(parts[2]);
  setup.privileged = parts.size() == 3;
  if (setup.address < 1 || setup.address > 32) throw std::invalid_argument("address must be 1..32");
  if (setup.version < 0 || setup.version > 255) throw std::invalid_argument("version must be 0..255");
  return setup;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<sim::InstrumentSetup> setups;
  std::string name;
  bool log = false;
  bool wire = false;
  int writeTimeMs = -1;
  std::string tcp;
  std::string control;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--instrument") setups.push_back(ParseInstrument(value()));
      else if (arg == "--name") name = value();
      else if (arg == "--log") log = true;
      else if (arg == "--wire") wire = true;
      else if (arg == "--write-time") writeTimeMs = std::stoi(value());
      else if (arg == "--tcp") tcp = value();
      else if (arg == "--control") control = value();
      else if (arg == "--help" || arg == "-h") { Usage(); return 0; }
      else throw std::invalid_argument("unknown option " + arg);
    }
  } catch (const std::exception& e) {
    std::cerr << "pmsim: " << e.what() << "\n";
    Usage();
    return 2;
  }

  // Block the stop signals before the server thread starts, so that only
  // sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  sim::Line line;
  if (setups.empty()) line.AddDefaultSet();
  for (const auto& s : setups) line.Add(s);
  if (writeTimeMs >= 0)
    for (std::size_t i = 0; i < line.Count(); ++i)
      line.At(i).SetWriteTime(std::chrono::milliseconds(writeTimeMs));

  const auto start = sim::Clock::now();
  if (log) {
    line.SetLogSink([start](const sim::LogEntry& e) {
      const double ms = std::chrono::duration<double, std::milli>(e.time - start).count();
      std::printf("%10.1f %s%s\n", ms, sim::Marked(e.bytes, e.dir == sim::Dir::In).c_str(),
                  e.dir == sim::Dir::In && !e.crcOk ? "  (bad CRC, ignored)" : "");
      std::fflush(stdout);
    });
  }

  auto printInstruments = [&line] {
    for (std::size_t i = 0; i < line.Count(); ++i) {
      const auto& inst = line.At(i);
      std::printf("  address %2d  model %3d  version %d  %s\n", inst.Address(), inst.Model(),
                  inst.Version(), inst.Privileged() ? "privileged" : "non-privileged");
    }
    std::fflush(stdout);
  };

  // Lists the instruments, then serves until SIGINT or SIGTERM.
  const auto serve = [&](auto& server) {
    printInstruments();
    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.Stop();
  };

  try {
    std::unique_ptr<sim::ControlServer> bench;
    if (!control.empty()) {
      bench = std::make_unique<sim::ControlServer>(line, control);
      std::printf("control: %s\n", control.c_str());
    }
    if (!tcp.empty()) {
      if (wire) line.SetWire(sim::Wire{});
      sim::TcpServer server(line, tcp);
      const std::string host = tcp.substr(0, tcp.rfind(':'));
      std::printf("port:   tcp://%s:%d\n", host.c_str(), server.Port());
      serve(server);
    } else {
      sim::PtyServer server(line);
      server.FollowPortSettings(wire);
      std::string link;
      if (!name.empty()) {
        link = server.Publish(name);
      } else {
        for (int n = 1; n <= 9 && link.empty(); ++n) {
          try {
            link = server.Publish("line" + std::to_string(n));
          } catch (const std::runtime_error&) {
            if (n == 9) throw;
          }
        }
      }
      std::printf("device: %s\nlink:   %s\n", server.SlavePath().c_str(), link.c_str());
      serve(server);
    }
  } catch (const std::exception& e) {
    std::cerr << "pmsim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
