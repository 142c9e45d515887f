// One identification exchange against the simulator over a pseudo-terminal
// with TxDelay = 1 ms: the median wall time of Request minus that pause is
// what the link, the terminal and the instrument add per exchange
// (target: at most 1 ms). Prints figures; exits non-zero only when an
// exchange fails.
//
// The same exchange is also timed with a traffic collector attached (the
// traffic view open) and after detaching it again (the view closed), in
// interleaved rounds so that drift of the machine hits all three alike.
//
// Then the same exchange over loopback TCP: straight to the simulator's TCP
// server, and through ser2net (raw and RFC 2217) in front of the simulator's
// pseudo-terminal when ser2net is installed; each median overhead beside the
// pseudo-terminal's (target: within 0.5 ms of it).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "Comportclass.h"
#include "Line.h"
#include "PtyServer.h"
#include "NamedPort.h"
#include "ScriptedMessageService.h"
#include "Ser2net.h"
#include "TcpServer.h"
#include "TermiosPort.h"
#include "TrafficLog.h"

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
  auto exchange = [&]() -> double {
    const auto t0 = Clock::now();
    const int result = link.Request(0, 17, 0, nullptr, reply, sizeof reply);
    const auto t1 = Clock::now();
    if (result != 0) {
      std::fprintf(stderr, "bench_exchange: exchange failed with %d\n", result);
      std::exit(1);
    }
    return std::chrono::duration<double, std::micro>(t1 - t0).count();
  };
  for (int i = 0; i < 10; ++i) exchange();  // warm-up

  // Rounds of: no observer, the collector attached, detached again.
  constexpr int kRounds = 4;
  constexpr int kPerRound = kExchanges / kRounds;
  pmlink::TrafficLog traffic;
  std::vector<double> none, attached, detached;
  for (int round = 0; round < kRounds; ++round) {
    for (int i = 0; i < kPerRound; ++i) none.push_back(exchange());
    link.SetFrameObserver(&traffic);
    for (int i = 0; i < kPerRound; ++i) attached.push_back(exchange());
    link.SetFrameObserver(nullptr);
    for (int i = 0; i < kPerRound; ++i) detached.push_back(exchange());
  }
  if (traffic.Frames().size() != 2u * kRounds * kPerRound) {
    std::fprintf(stderr, "bench_exchange: the collector holds %zu frames, expected %d\n",
                 traffic.Frames().size(), 2 * kRounds * kPerRound);
    return 1;
  }

  auto median = [](std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::vector<double>& us = none;
  const double med = median(us);
  const double overhead = med - kTxDelayMs * 1000.0;
  std::printf("identification exchange over a pty, %zu exchanges, TxDelay %d ms\n", us.size(),
              kTxDelayMs);
  std::printf("  wall time: median %.0f us, p10 %.0f us, p90 %.0f us, max %.0f us\n", med,
              us[us.size() / 10], us[us.size() * 9 / 10], us.back());
  std::printf("  overhead (median - TxDelay): %.3f ms (target <= 1 ms): %s\n", overhead / 1000.0,
              overhead <= 1000.0 ? "met" : "missed");

  const double medAttached = median(attached);
  const double medDetached = median(detached);
  std::printf("traffic collector, %zu exchanges each, interleaved:\n", attached.size());
  std::printf("  no observer:        median %.0f us\n", med);
  std::printf("  collector attached: median %.0f us (%+.0f us)\n", medAttached, medAttached - med);
  std::printf("  detached (closed):  median %.0f us (%+.0f us)\n", medDetached, medDetached - med);

  // The collector's own share of an exchange, without the line: the calls
  // the link makes for one request and its reply.
  constexpr int kCalls = 200000;
  const std::uint8_t request[] = {0x01, 0x11, 0xC0, 0x2C};
  const std::uint8_t answer[] = {0x01, 0x11, 0x03, 0x01, 0x02, 0x64, 0xAC, 0xC6};
  const auto c0 = Clock::now();
  for (int i = 0; i < kCalls; ++i) {
    const auto now = Clock::now();
    traffic.OnBytes(now, pmlink::Direction::Tx, request);
    traffic.OnBytes(now, pmlink::Direction::Rx, std::span(answer).first(3));
    traffic.OnBytes(now, pmlink::Direction::Rx, std::span(answer).subspan(3));
    traffic.OnResult(now, 0, 17, 0);
  }
  const double perExchange =
      std::chrono::duration<double, std::micro>(Clock::now() - c0).count() / kCalls;
  std::printf("  collector work per exchange (no line, %zu frames kept): %.2f us\n",
              traffic.Frames().size(), perExchange);

  // Over the network: a link of its own for each line, the pty link closed.
  link.ClosePort();
  const double ptyOverhead = overhead;
  auto networkOverhead = [&](const std::string& name) -> double {
    pmlink::NamedPort netPort;
    TComPortClass netLink(netPort, messages, [] {});
    netLink.Port = name;
    netLink.Baud = "115200";
    netLink.StopBits = "1";
    if (netLink.Configure() != 0) {
      std::fprintf(stderr, "bench_exchange: cannot open %s: %s\n", name.c_str(),
                   netLink.LastOpenError().c_str());
      std::exit(1);
    }
    netLink.SetTxDelay(kTxDelayMs);
    std::vector<double> times;
    for (int i = 0; i < kExchanges + 10; ++i) {
      const auto t0 = Clock::now();
      const int result = netLink.Request(0, 17, 0, nullptr, reply, sizeof reply);
      const auto t1 = Clock::now();
      if (result != 0) {
        std::fprintf(stderr, "bench_exchange: exchange over %s failed with %d\n", name.c_str(),
                     result);
        std::exit(1);
      }
      if (i >= 10) times.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    return median(times) - kTxDelayMs * 1000.0;
  };
  auto report = [&](const char* what, double us) {
    std::printf("  %-34s overhead %.3f ms (%+.3f ms against the pty; target within 0.5 ms): %s\n",
                what, us / 1000.0, (us - ptyOverhead) / 1000.0,
                us - ptyOverhead <= 500.0 ? "met" : "missed");
  };
  std::printf("identification exchange over loopback TCP, %d exchanges each:\n", kExchanges);
  std::printf("  %-34s overhead %.3f ms\n", "pseudo-terminal (above)", ptyOverhead / 1000.0);
  {
    sim::TcpServer tcpServer(line, "127.0.0.1:0");
    report("pmsim --tcp, tcp://", networkOverhead("tcp://127.0.0.1:" + std::to_string(tcpServer.Port())));
  }
  if (!testsupport::Ser2net::Installed()) {
    std::printf("  ser2net is not installed: no figures through it\n");
    return 0;
  }
  for (const bool rfc2217 : {false, true}) {
    testsupport::Ser2net gateway(server.SlavePath(), rfc2217);
    const std::string name = std::string(rfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" +
                             std::to_string(gateway.Port());
    report(rfc2217 ? "ser2net, rfc2217://" : "ser2net, tcp://", networkOverhead(name));
  }
  // ser2net's default: it holds the device's bytes about two character
  // times to fill its packets. That wait is the gateway's, not the link's.
  testsupport::Ser2net buffering(server.SlavePath(), false, true);
  const double held =
      networkOverhead("tcp://127.0.0.1:" + std::to_string(buffering.Port())) - ptyOverhead;
  std::printf("  %-34s overhead %+.3f ms against the pty (the gateway's own wait)\n",
              "ser2net with chardelay on, tcp://", held / 1000.0);
  return 0;
}
