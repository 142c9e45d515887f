// The line overview never holds the window, and stops at once. Against the
// simulator with its wire modelled (replies delivered when they would have
// crossed a 9600 bit/s line, 8N2), through the real link on a
// pseudo-terminal, with the exchange settings' defaults (5 attempts, 1000 ms
// + 100 ms per byte, 25 ms before each request), for 4 and 32 instruments:
// all answering; one silent; one whose replies have a bad CRC; one that
// sends only the first 3 bytes of each reply; every address silent.
//
// 1. The window: the main window and the overview run offscreen in this
//    process. A 5 ms timer on the window's event loop records the longest
//    gap between its ticks while the overview polls for kPollS seconds: the
//    longest time the window could not have answered input or repainted
//    (target: under 100 ms). Then "Стоп": how long the handler took, and
//    how long after it the last byte of a request reached the line.
// 2. pmctl watch on the same lines: SIGINT after kPollS seconds; the time
//    to the program's exit and to the last byte of a request on the line.
//
// Prints the figures; exits non-zero when a stall reaches 100 ms or a stop
// takes longer than one attempt (1.6 s).

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "LineOverview.h"
#include "Line.h"
#include "NamedPort.h"
#include "Obr_pm.h"
#include "PtyServer.h"
#include "ScriptedMessageService.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollS = 4;
constexpr double kStallTargetMs = 100, kStopTargetMs = 1600;
constexpr int kModels[][2] = {{100, 5}, {101, 6}, {102, 6}, {103, 4}};

enum class Sick { None, Silent, BadCrc, Partial, AllSilent };
const char* Name(Sick s) {
  switch (s) {
    case Sick::None: return "all answer";
    case Sick::Silent: return "one silent";
    case Sick::BadCrc: return "one bad CRC";
    case Sick::Partial: return "one sends 3 bytes";
    case Sick::AllSilent: return "all silent";
  }
  return "";
}

void Fill(sim::Line& line, int n, Sick sick) {
  if (sick == Sick::AllSilent) return;
  for (int a = 1; a <= n; ++a) {
    const auto& m = kModels[(a - 1) % 4];
    line.Add({.address = a, .model = m[0], .version = m[1]});
  }
  sim::Instrument& two = *line.Find(2);
  if (sick == Sick::Silent) two.InjectFault(sim::Fault::Persistent(sim::FaultKind::Silence));
  if (sick == Sick::BadCrc) two.InjectFault(sim::Fault::Persistent(sim::FaultKind::BadCrc));
  if (sick == Sick::Partial)
    two.InjectFault(sim::Fault{.kind = sim::FaultKind::Truncated, .times = sim::Fault::kPersistent, .keepBytes = 3});
}

// How long after `t` the last request byte reached the line, ms (0: none).
double LastInAfter(const sim::Line& line, Clock::time_point t) {
  double ms = 0;
  for (const sim::LogEntry& e : line.Log())
    if (e.dir == sim::Dir::In && e.time > t) ms = std::max(ms, std::chrono::duration<double, std::milli>(e.time - t).count());
  return ms;
}

void Spin(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

struct WindowFigures {
  double stallMs = 0, stopHandlerMs = 0, lastByteMs = 0;
  long polls = 0;
};

WindowFigures Window(int n, Sick sick) {
  sim::Line line;
  Fill(line, n, sick);
  sim::PtyServer server(line);
  server.FollowPortSettings(true);
  pmlink::NamedPort port;
  ui::ScriptedMessageService messages;
  WindowFigures f;
  {
    TForm1 form(messages, port);
    form.Link.Port = server.SlavePath();
    if (form.Link.Configure() != 0) throw std::runtime_error("cannot open " + form.Link.Port);
    form.show();
    form.ui.AOverview->trigger();
    LineOverview& o = form.Overview();
    o.ui.EditAddr->setText(QString("1-%1").arg(n));
    o.ButStartClick();

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      longest = std::max(longest, clock.elapsed() - last);
      last = clock.elapsed();
    });
    tick.start(5);
    Spin(kPollS * 1000);
    tick.stop();
    f.stallMs = static_cast<double>(longest);
    f.polls = o.Poller()->PollsDone();

    const auto stop = Clock::now();
    o.ButStartClick();
    f.stopHandlerMs = std::chrono::duration<double, std::milli>(Clock::now() - stop).count();
    Spin(500);
    f.lastByteMs = LastInAfter(line, stop);
  }
  server.Stop();
  return f;
}

struct WatchFigures {
  double exitMs = 0, lastByteMs = 0;
};

WatchFigures Watch(int n, Sick sick) {
  sim::Line line;
  Fill(line, n, sick);
  sim::PtyServer server(line);
  server.FollowPortSettings(true);
  const std::string addresses = "1-" + std::to_string(n);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(PMCTL, PMCTL, "watch", server.SlavePath().c_str(), addresses.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::seconds(kPollS));
  const auto stop = Clock::now();
  ::kill(pid, SIGINT);
  int status = 0;
  ::waitpid(pid, &status, 0);
  WatchFigures f;
  f.exitMs = std::chrono::duration<double, std::milli>(Clock::now() - stop).count();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  f.lastByteMs = LastInAfter(line, stop);
  server.Stop();
  return f;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform's notes on window hints would hide the figures.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg && type != QtWarningMsg) std::fprintf(stderr, "%s\n", qPrintable(text));
  });
  QApplication app(argc, argv);
  bool ok = true;
  const Sick cases[] = {Sick::None, Sick::Silent, Sick::BadCrc, Sick::Partial, Sick::AllSilent};

  std::printf("1. The window while the overview polls at 9600 bit/s for %d s, then \"Стоп\"\n", kPollS);
  std::printf("   (target: longest stall < %.0f ms; stop within one attempt, %.0f ms)\n", kStallTargetMs, kStopTargetMs);
  std::printf("   %4s %-18s %7s %12s %12s %14s\n", "n", "line", "polls", "stall, ms", "Стоп, ms", "last byte, ms");
  for (int n : {4, 32}) {
    for (Sick sick : cases) {
      const WindowFigures f = Window(n, sick);
      ok = ok && f.stallMs < kStallTargetMs && f.stopHandlerMs < kStopTargetMs && f.lastByteMs < kStopTargetMs;
      std::printf("   %4d %-18s %7ld %12.1f %12.1f %14.1f\n", n, Name(sick), f.polls, f.stallMs, f.stopHandlerMs,
                  f.lastByteMs);
      std::fflush(stdout);
    }
  }

  std::printf("\n2. pmctl watch on the same lines, SIGINT after %d s\n", kPollS);
  std::printf("   %4s %-18s %12s %14s\n", "n", "line", "exit, ms", "last byte, ms");
  for (int n : {4, 32}) {
    for (Sick sick : cases) {
      const WatchFigures f = Watch(n, sick);
      ok = ok && f.exitMs < kStopTargetMs && f.lastByteMs < kStopTargetMs;
      std::printf("   %4d %-18s %12.1f %14.1f\n", n, Name(sick), f.exitMs, f.lastByteMs);
      std::fflush(stdout);
    }
  }
  return ok ? 0 : 1;
}
