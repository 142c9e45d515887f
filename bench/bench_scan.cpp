// How long a device-list scan takes when nothing answers on the line,
// compared with the time the exchange makes unavoidable for a silent
// address: two stage-1 attempts, each with the transmit pause, the header
// time-out (1000 ms + 3 x 100 ms) and the 300 ms pause after a failure.
//
// Usage: bench_scan [N]   (N = highest address scanned, 1..32; default 3)

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Comportclass.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"
#include "obrListDevice.h"

int main(int argc, char** argv) {
  int n = 3;
  if (argc > 1) {
    n = std::atoi(argv[1]);
    if (n < 1 || n > 32) {
      std::fprintf(stderr, "usage: %s [N]  (1..32, default 3)\n", argv[0]);
      return 2;
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  // A pseudo-terminal whose other end nobody answers on.
  int master = -1;
  int slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);

  pmlink::TermiosPort port;
  ui::ScriptedMessageService messages;
  TComPortClass link(port, messages, [] {});
  link.Port = name;
  if (link.Configure() != 0) {
    std::fprintf(stderr, "cannot open %s\n", name);
    return 1;
  }

  TFormDevice form(link, messages);
  form.show();
  form.CBoxUstr->setCurrentIndex(n - 1);

  const auto start = std::chrono::steady_clock::now();
  form.Button1Click();
  const auto end = std::chrono::steady_clock::now();
  link.ClosePort();
  close(slave);
  close(master);

  const double measured = std::chrono::duration<double, std::milli>(end - start).count();
  const double perAddress = 2.0 * (link.TxDelay + 1300.0 + 300.0);
  const double floor = n * perAddress;
  const double ratio = measured / floor;
  std::printf("addresses scanned      %d\n", n);
  std::printf("measured               %.1f ms (%.1f ms per address)\n", measured, measured / n);
  std::printf("unavoidable            %.1f ms (%.1f ms per address, TxDelay %d ms)\n", floor, perAddress,
              link.TxDelay);
  std::printf("ratio                  %.4f (target <= 1.02)\n", ratio);
  if (!messages.shown.empty()) {
    std::printf("unexpected message: %s\n", messages.shown.front().text.c_str());
    return 1;
  }
  return ratio <= 1.02 ? 0 : 1;
}
