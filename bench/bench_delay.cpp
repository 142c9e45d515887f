// CPU time the link's Delay uses while it blocks, as a share of the wall
// time. Delay sleeps on the monotonic clock, so the share should stay far
// below the 2 % target (a busy wait would use 100 %).
//
// Usage: bench_link [ms] [runs]   (default 1000 ms, 3 runs)

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Comportclass.h"
#include "SerialPort.h"

namespace {

struct NoPort : pmlink::SerialPort {
  void SetName(const std::string&) override {}
  void SetBaud(int) override {}
  void SetParity(pmlink::ParityKind) override {}
  void SetStopBits(int) override {}
  void Open() override {}
  void Close() override {}
  bool IsOpen() const override { return false; }
  void Purge() override {}
  int Read(std::uint8_t*, int) override { return 0; }
  int Write(const std::uint8_t*, int n) override { return n; }
};

struct NoMessages : ui::MessageService {
  ui::Answer Show(const ui::Message& m) override { return m.defaultAnswer; }
  void Beep() override {}
};

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  const int ms = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  if (ms <= 0 || runs <= 0) {
    std::fprintf(stderr, "usage: %s [ms] [runs]\n", argv[0]);
    return 2;
  }
  NoPort port;
  NoMessages messages;
  TComPortClass link(port, messages, [] {});

  std::vector<double> shares;
  for (int i = 0; i < runs; ++i) {
    const double cpu0 = ThreadCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    link.Delay(ms);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = ThreadCpuSeconds() - cpu0;
    shares.push_back(100.0 * cpu / wall);
    std::printf("Delay(%d): wall %.1f ms, CPU %.3f ms, %.3f %% of wall\n", ms, wall * 1e3,
                cpu * 1e3, shares.back());
  }
  const double worst = *std::max_element(shares.begin(), shares.end());
  std::printf("worst CPU share during Delay(%d): %.3f %% (target <= 2 %%)\n", ms, worst);
  return 0;
}
