// The simulator as a bench: an applied input is measured through the ADC,
// the stored calibration codes and the sensor's characteristic (with the
// ЗЕТ-ТП's terminals added), an instrument out of calibration reads off by
// its error, calibration mode shows the raw code, and the control commands
// of pmsim reach the instruments, in process and through pmsim's socket.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "Control.h"
#include "Line.h"
#include "Sensor.h"

namespace {

using sim::Instrument;
using sim::Sensor;

struct Bench {
  int model;
  int tipD;
  int rangeNo;        // a standard range of the sensor
  double lo, hi;      // that range, °C (0..100 % for КАРД and ЛУНТ)
  Sensor sensor;      // None: the unified current input
  bool root = false;  // КАРД "корневой"
};

const Bench kBenches[] = {
    {sim::model::ZetTp, 2, 7, 0, 1100, Sensor::K},     // XA(K) 0..1100
    {sim::model::ZetTp, 0, 9, 0, 600, Sensor::L},      // XK(L) 0..600
    {sim::model::ZetTs, 2, 24, -50, 600, Sensor::Pt100},  // Pt100 −50..600
    {sim::model::ZetTs, 5, 27, 0, 200, Sensor::M50},   // 50M 0..200
    {sim::model::Kard, 1, 0, 0, 100, Sensor::None},
    {sim::model::Kard, 0, 0, 0, 100, Sensor::None, true},
    {sim::model::Lunt, 0, 0, 0, 100, Sensor::None},
};

// The instrument's result in the scale's unit.
double Result(const Instrument& in, const Bench& b) {
  const int rez = in.MeasurementAt(sim::Clock::now()).rez;
  return b.sensor == Sensor::None ? rez * 100.0 / 16383 : b.lo + (b.hi - b.lo) * rez / 8191.0;
}

// The signal of a point, as a calibrator on copper wires gives it.
double Signal(const Bench& b, double point, double terminals) {
  if (b.sensor == Sensor::None) {
    const double share = point / 100;
    return 4 + 16 * (b.root ? share * share : share);
  }
  const double e = sim::SignalOf(b.sensor, point);
  return b.model == sim::model::ZetTp ? e - sim::SignalOf(b.sensor, terminals) : e;
}

Instrument& Place(sim::Line& line, const Bench& b) {
  Instrument& in = line.Add({1, b.model, 6});
  sim::Bytes block = in.Block();
  block[9] = static_cast<std::uint8_t>(b.tipD);
  block[10] = static_cast<std::uint8_t>(b.rangeNo);
  in.SetBlock(block);
  return in;
}

TEST(SimBench, AnAppliedSignalIsMeasuredThroughTheCalibrationCodes) {
  for (const Bench& b : kBenches) {
    sim::Line line;
    Instrument& in = Place(line, b);
    ASSERT_TRUE(in.Tune(0)) << b.model;
    in.SetTerminalTemperature(24.5);
    const double span = b.hi - b.lo;
    for (double share : {0.0, 0.3, 0.75, 1.0}) {
      const double point = b.lo + share * span;
      in.SetInput(Signal(b, point, 24.5));
      // Within the ADC's and the result's resolution.
      EXPECT_NEAR(Result(in, b), point, span * 0.0006) << b.model << " " << b.tipD << " at " << point;
    }
    // Out of calibration: the scale end's code 2 % of the span too high
    // reads low at the end (a root scale by half as much) and right at the
    // start.
    in.Tune(2);
    in.SetInput(Signal(b, b.hi, 24.5));
    const double low = b.hi - Result(in, b);
    EXPECT_GT(low, span * 0.009) << b.model;
    in.SetInput(Signal(b, b.lo, 24.5));
    EXPECT_NEAR(Result(in, b), b.lo, span * 0.0006) << b.model;
    // Calibration mode shows the input's own code, which calibration stores.
    in.SetInput(Signal(b, b.hi, 0));
    const sim::Bytes on = sim::MakeFrame(1, 5, sim::Bytes{0x10, 0x01, 0xFF, 0x00});
    in.Handle(on, sim::Clock::now());
    EXPECT_EQ(in.MeasurementAt(sim::Clock::now()).kodAcp,
              std::lround(in.AdcOf(b.sensor == Sensor::None ? 20 : sim::SignalOf(b.sensor, b.hi))));
  }
}

TEST(SimBench, NoiseStaysWithinItsCodes) {
  sim::Line line;
  Instrument& in = Place(line, kBenches[0]);
  in.Tune(0);
  in.SetInput(10.0);
  in.SetNoise(2, 7);
  const double centre = in.AdcOf(10.0);
  int lowest = 1 << 20, highest = -(1 << 20);
  for (int i = 0; i < 200; ++i) {
    const int code = in.MeasurementAt(sim::Clock::now()).kodAcp;
    lowest = std::min(lowest, code);
    highest = std::max(highest, code);
  }
  EXPECT_GE(lowest, std::lround(centre) - 2);
  EXPECT_LE(highest, std::lround(centre) + 2);
  EXPECT_LT(lowest, highest);
}

TEST(SimBench, ControlCommands) {
  sim::Line line;
  Instrument& in = Place(line, kBenches[0]);
  const struct {
    const char* command;
    const char* answer;
  } cases[] = {
      {"input 1 10,153", "ok"},
      {"terminals 1 30", "ok"},
      {"noise 1 3", "ok"},
      {"tune 1 1.5", "ok"},
      {"input 2 1", "error: no instrument at address 2"},
      {"input 1", "error: input ADDR VALUE"},
      {"tune 1 x", "error: tune ADDR [PERCENT]"},
      {"shake 1", "error: unknown command shake (input, terminals, noise, tune)"},
      {"", "error: empty command"},
  };
  for (const auto& c : cases) EXPECT_EQ(sim::ControlCommand(line, c.command), c.answer) << c.command;
  EXPECT_EQ(in.Input(), 10.153);
  EXPECT_EQ(sim::ControlCommand(line, "input 1 off"), "ok");
  EXPECT_FALSE(in.Input());
}

#ifdef PMSIM
// pmsim itself: --help documents the commands, and its socket takes them.
TEST(SimBench, PmsimTakesTheCommandsOnItsSocket) {
  std::string help;
  FILE* p = popen(PMSIM " --help", "r");
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) help.append(buf, n);
  pclose(p);
  EXPECT_NE(help.find("input ADDR VALUE"), std::string::npos);

  const std::string path = testing::TempDir() + "pmsim-control-" + std::to_string(getpid());
  const std::string name = "verify-bench-" + std::to_string(getpid());
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execl(PMSIM, PMSIM, "--instrument", "1:zet-tp:6", "--name", name.c_str(), "--control", path.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  FILE* sim = fdopen(out[0], "r");
  char line[512];
  bool ready = false;
  while (!ready && fgets(line, sizeof line, sim)) ready = std::strncmp(line, "control:", 8) == 0;
  ASSERT_TRUE(ready);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string commands = "input 1 4,096\ninput 9 1\n";
  ASSERT_EQ(write(fd, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
  std::string answers;
  while (std::count(answers.begin(), answers.end(), '\n') < 2) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    answers.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  EXPECT_EQ(answers, "ok\nerror: no instrument at address 9\n");
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  fclose(sim);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(access(path.c_str(), F_OK) == 0);
}
#endif

}  // namespace
