// One identification exchange against the simulator over a pseudo-terminal
// with TxDelay = 1 ms: the median wall time of Request minus that pause is
// what the link, the terminal and the instrument add per exchange
// (target: at most 1 ms). Prints figures; exits non-zero only when an
// exchange fails.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "Comportclass.h"
#include "Line.h"
#include "PtyServer.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"

int main() {
  using Clock = std::chrono::steady_clock;
  constexpr int kExchanges = 200;
  constexpr int kTxDelayMs = 1;

  sim::Line line;
  line.AddDefaultSet();
  sim::PtyServer server(line);
  pmlink::TermiosPort port;
  ui::ScriptedMessageService messages;
  TComPortClass link(port, messages, [] {});
  link.Port = server.SlavePath();
  link.Baud = "115200";
  link.Parity = "N";
  link.StopBits = "1";
  if (link.Configure() != 0) {
    std::fprintf(stderr, "bench_exchange: cannot open %s: %s\n", link.Port.c_str(),
                 link.LastOpenError().c_str());
    return 1;
  }
  link.SetTxDelay(kTxDelayMs);

  std::uint8_t reply[64];
  std::vector<double> us;
  us.reserve(kExchanges);
  for (int i = 0; i < kExchanges + 10; ++i) {
    const auto t0 = Clock::now();
    const int result = link.Request(0, 17, 0, nullptr, reply, sizeof reply);
    const auto t1 = Clock::now();
    if (result != 0) {
      std::fprintf(stderr, "bench_exchange: exchange %d failed with %d\n", i, result);
      return 1;
    }
    if (i >= 10) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());  // after warm-up
  }
  std::sort(us.begin(), us.end());
  const double median = us[us.size() / 2];
  const double overhead = median - kTxDelayMs * 1000.0;
  std::printf("identification exchange over a pty, %d exchanges, TxDelay %d ms\n", kExchanges, kTxDelayMs);
  std::printf("  wall time: median %.0f us, p10 %.0f us, p90 %.0f us, max %.0f us\n", median,
              us[us.size() / 10], us[us.size() * 9 / 10], us.back());
  std::printf("  overhead (median - TxDelay): %.3f ms (target <= 1 ms): %s\n", overhead / 1000.0,
              overhead <= 1000.0 ? "met" : "missed");
  return 0;
}
