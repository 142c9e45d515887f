// The line overview's polling at the line's limit, against the simulator
// with its wire modelled (each reply delivered when request and reply would
// have crossed a real line at the speed the link set, 8N2 = 11 bits per
// character), through the real link on a pseudo-terminal, with the exchange
// settings' defaults (pause 25 ms before each request, 5 attempts, 1000 ms
// + 100 ms per byte):
//
// 1. For 4, 16 and 32 answering instruments at 9600 and 115200 bit/s: the
//    cycle time, and its ratio to the line's limit, the sum over the
//    requests of the cycle of request and reply wire time plus the pause
//    before each (goal: at most 1.05).
// 2. 32 instruments, one silent, at 115200 bit/s: each cycle's time; a
//    cycle with the silent instrument's single probe grows by about one
//    time-out, the others stay at the 31's own time.
// 3. Memory over 24 hours of polling 32 instruments, time compressed: the
//    poller's bookkeeping, the CSV recording (to /dev/null) and the trend of
//    all 32 together run for the polls 24 h at the cycle time measured in 2
//    would make, without the line; the resident size is printed along the
//    way. It grows while the trend's bounded histories fill (10,000 points
//    per instrument, about 7 hours at this cycle) and must stay flat after
//    (hour 12 to hour 24).
//
// Exits non-zero when a ratio misses the goal or memory grows.

#include <fstream>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Comportclass.h"
#include "CsvRecorder.h"
#include "Line.h"
#include "LinePoll.h"
#include "LinePoller.h"
#include "NamedPort.h"
#include "PtyServer.h"
#include "ScriptedMessageService.h"
#include "TrendModel.h"

namespace {

constexpr int kModels[][2] = {{100, 5}, {101, 6}, {102, 6}, {103, 4}};

long RssKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

struct Rig {
  sim::Line line;
  sim::PtyServer server{line};
  pmlink::NamedPort port;
  ui::ScriptedMessageService messages;
  TComPortClass link{port, messages, [] {}};

  Rig(int answering, int baud) {
    for (int a = 1; a <= answering; ++a) {
      const auto& m = kModels[(a - 1) % 4];
      line.Add({.address = a, .model = m[0], .version = m[1]});
    }
    server.FollowPortSettings(true);
    link.Port = server.SlavePath();
    link.Baud = std::to_string(baud);
    if (link.Configure() != 0) throw std::runtime_error("cannot open " + link.Port);
  }
  ~Rig() {
    link.ClosePort();
    server.Stop();
  }
  // Polls until `cycles` more cycles are complete.
  void Run(pmline::LinePoller& poller, long cycles, std::vector<double>* each = nullptr) {
    const long end = poller.Cycles() + cycles;
    while (!(poller.Cycles() == end && poller.AtCycleEnd())) {
      const long before = poller.Cycles();
      pmline::PollNext(poller, link, pmline::Now);
      if (each && poller.Cycles() != before && poller.LastCycleMs() && before > 0)
        each->push_back(static_cast<double>(*poller.LastCycleMs()));
    }
  }
  // The line's limit of the frames logged since the last ClearLog, ms.
  double LimitMs(int baud) const {
    const sim::Wire wire{baud, 11};
    double ms = 0;
    for (const sim::LogEntry& e : line.Log()) {
      ms += static_cast<double>(sim::WireTime(wire, e.bytes.size()).count()) / 1000.0;
      if (e.dir == sim::Dir::In) ms += link.TxDelay;
    }
    return ms;
  }
};

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main() {
  bool ok = true;
  std::printf("1. Answering instruments, cycle time against the line's limit (goal: ratio <= 1.05)\n");
  std::printf("   %7s %5s %8s %12s %12s %7s\n", "bit/s", "n", "cycles", "cycle, ms", "limit, ms", "ratio");
  for (int baud : {9600, 115200}) {
    for (int n : {4, 16, 32}) {
      Rig rig(n, baud);
      std::vector<int> addresses;
      for (int a = 1; a <= n; ++a) addresses.push_back(a);
      pmline::LinePoller poller(addresses);
      rig.Run(poller, 1);  // the first cycle sets the pty's speed and warms up
      const long cycles = n == 32 ? 3 : 6;
      rig.line.ClearLog();
      const auto t0 = std::chrono::steady_clock::now();
      rig.Run(poller, cycles);
      const double cycle = Ms(std::chrono::steady_clock::now() - t0) / static_cast<double>(cycles);
      const double limit = rig.LimitMs(baud) / static_cast<double>(cycles);
      const double ratio = cycle / limit;
      ok = ok && ratio <= 1.05;
      std::printf("   %7d %5d %8ld %12.1f %12.1f %7.3f\n", baud, n, cycles, cycle, limit, ratio);
    }
  }

  std::printf("\n2. 32 instruments, address 32 silent, 115200 bit/s (one probe of 1 attempt every %d cycles)\n",
              pmline::kBackoffCycles);
  double answeredCycleMs = 0;
  {
    Rig rig(31, 115200);
    std::vector<int> addresses;
    for (int a = 1; a <= 32; ++a) addresses.push_back(a);
    pmline::LinePoller poller(addresses);
    std::vector<double> each;
    rig.Run(poller, 9, &each);
    // Cycles 2..9 (cycle 1 holds the full exchange that found it silent).
    double plain = 0, probed = 0;
    int nPlain = 0, nProbed = 0;
    for (std::size_t i = 1; i < each.size(); ++i) {
      const long cycle = static_cast<long>(i) + 1;
      const bool probe = (cycle - 1) % pmline::kBackoffCycles == 0;
      std::printf("   cycle %2ld: %8.1f ms%s\n", cycle, each[i], probe ? "  (silent address probed)" : "");
      (probe ? probed : plain) += each[i];
      (probe ? nProbed : nPlain) += 1;
    }
    std::printf("   cycle 1 (found silent with 5 attempts): %.1f ms\n", each.empty() ? 0.0 : each[0]);
    answeredCycleMs = plain / nPlain;
    const double oneTimeout = rig.link.TxDelay + 1300.0 + 300.0;
    std::printf("   the other 31 alone: %.1f ms; with the probe: %.1f ms (+%.1f ms; one attempt's time-out and pause: %.0f ms)\n",
                answeredCycleMs, probed / nProbed, probed / nProbed - answeredCycleMs, oneTimeout);
    std::printf("   average over the back-off period: %.1f ms (+%.1f %%)\n", (plain + probed) / (nPlain + nProbed),
                100.0 * ((plain + probed) / (nPlain + nProbed) / answeredCycleMs - 1));
  }

  std::printf("\n3. Memory over 24 h of polling 32 instruments (bookkeeping only, time compressed)\n");
  {
    const double pollMs = answeredCycleMs / 32.0;
    const long polls = static_cast<long>(24.0 * 3600 * 1000 / pollMs);
    std::vector<int> addresses;
    for (int a = 1; a <= 32; ++a) addresses.push_back(a);
    pmline::LinePoller poller(addresses);
    pmtrend::CsvRecorder csv;
    if (csv.Start("/dev/null")) return 1;
    pmtrend::TrendModel trend(pmtrend::TrendModel::kMaxSamples, 32);
    pmtrend::Millis wall = pmtrend::NowMillis();
    double steady = 0;
    long rssAt12h = 0, rssEnd = 0;
    std::printf("   %ld polls (%.1f ms each)\n   %6s %10s %12s\n", polls, pollMs, "hours", "RSS, KiB", "trend bytes");
    for (long i = 1; i <= polls; ++i) {
      steady += pollMs;
      const auto step = poller.Next(static_cast<std::int64_t>(steady));
      TProgPMClass& pm = poller.Record(*step);
      pmops::ReadOutcome read;
      if (step->index == 31 && (i / 32) % 500 < 5) {
        read.result = rc::NoReply;  // now and then silent for a few cycles
      } else {
        const auto& m = kModels[step->index % 4];
        pm.DevType = m[0];
        pm.Version = m[1];
        pm.Image[0] = 20;
        pm.Image[41] = static_cast<std::uint8_t>((i >> 8) & 0x1F);
        pm.Image[42] = static_cast<std::uint8_t>(i & 0xFF);
        read.stop = pmops::ReadStop::Complete;
      }
      wall += static_cast<pmtrend::Millis>(pollMs);
      const pmtrend::ReadOutcome o = poller.Take(*step, read, "/dev/ttyUSB0", wall, "нет ответа");
      if (o.ok) trend.AddReadingOf(o.reading);
      else trend.AddFailureOf(o.source, o.time);
      csv.Append(o.ok ? pmtrend::CsvRow(o.reading) : pmtrend::CsvFailureRow(o.source, o.time));
      const long hour = static_cast<long>(static_cast<double>(i) * pollMs / 3'600'000.0);
      const long prevHour = static_cast<long>(static_cast<double>(i - 1) * pollMs / 3'600'000.0);
      if (hour != prevHour || i == polls) {
        const long rss = RssKiB();
        if (hour == 12) rssAt12h = rss;
        rssEnd = rss;
        if (hour == 1 || hour % 6 == 0 || i == polls)
          std::printf("   %6.1f %10ld %12zu\n", static_cast<double>(i) * pollMs / 3'600'000.0, rss, trend.SamplesHeld());
      }
    }
    const long grown = rssEnd - rssAt12h;
    std::printf("   the trend's histories full after %.1f h; RSS from hour 12 to hour 24: %+ld KiB\n",
                static_cast<double>(pmtrend::TrendModel::kMaxSamples) * answeredCycleMs / 3'600'000.0, grown);
    ok = ok && grown < 1024;
  }
  return ok ? 0 : 1;
}
