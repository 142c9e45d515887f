// A day of polling (28,800 reads, one every 3 s) through the trend and the
// recorder: the time per read for the trend's model, for a CSV line written
// to a file, and for repainting the trend's plot with its full history; the
// bytes the trend holds and the growth of the resident memory from the moment
// the bound is reached to the end of the day. Exits non-zero when the held samples exceed
// the trend's bound or the resident memory grows by more than 1 MiB after
// the bound is reached.

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "CsvRecorder.h"
#include "Identification.h"
#include "TrendModel.h"
#include "TrendPlot.h"

namespace {

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

pmtrend::Reading ReadingAt(int i) {
  pmtrend::Reading r;
  r.time = 1765152000000 + static_cast<pmtrend::Millis>(i) * 3000;
  r.source = {"/dev/ttyUSB0", 1, pmdev::kModelZetTP};
  r.unit = "°C";
  r.value = 250 + 40 * std::sin(i / 200.0);
  r.valueText = std::to_string(r.value);
  r.percentText = "62,500";
  r.rez = 5000 + i % 100;
  r.adc = 20000 + i % 300;
  r.status = i % 97 == 0 ? 0x20 : 0;
  r.overflow = r.status != 0;
  r.setpoint1 = 220;
  r.setpoint2 = 280;
  r.coldJunctionText = "22,00";
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  using Clock = std::chrono::steady_clock;
  constexpr int kReads = 28'800;
  // The bound of 10,000 samples is reached by then.
  constexpr int kRssFrom = 12'000;

  const std::filesystem::path csv =
      std::filesystem::temp_directory_path() / ("bench_trend_" + std::to_string(::getpid()) + ".csv");
  pmtrend::TrendModel model;
  pmtrend::CsvRecorder recorder;
  if (auto err = recorder.Start(csv.string())) {
    std::fprintf(stderr, "bench_trend: %s\n", err->c_str());
    return 1;
  }

  double modelSec = 0, csvSec = 0;
  long rssThird = 0;
  for (int i = 0; i < kReads; ++i) {
    const pmtrend::Reading r = ReadingAt(i);
    const auto t0 = Clock::now();
    if (i % 500 == 499) model.AddFailure(r.source, r.time);
    else model.AddReading(r);
    const auto t1 = Clock::now();
    const auto err = i % 500 == 499 ? recorder.Append(pmtrend::CsvFailureRow(r.source, r.time))
                                    : recorder.Append(pmtrend::CsvRow(r));
    const auto t2 = Clock::now();
    if (err) {
      std::fprintf(stderr, "bench_trend: %s\n", err->c_str());
      return 1;
    }
    modelSec += std::chrono::duration<double>(t1 - t0).count();
    csvSec += std::chrono::duration<double>(t2 - t1).count();
    if (i == kRssFrom) rssThird = ResidentKiB();
  }
  const long rssEnd = ResidentKiB();
  const long lines = recorder.Lines();
  recorder.Stop();
  const auto fileBytes = std::filesystem::file_size(csv);
  std::filesystem::remove(csv);

  // The plot repainted as after each read, with the whole kept history shown.
  TrendPlot plot;
  plot.resize(740, 340);
  const pmtrend::Series& s = model.AllSeries().back();
  const pmtrend::Millis now = s.samples.back().time;
  QImage image(plot.size(), QImage::Format_ARGB32_Premultiplied);
  constexpr int kPaints = 50;
  const auto p0 = Clock::now();
  for (int i = 0; i < kPaints; ++i) {
    plot.Show(&s, pmtrend::ComputeView(s, now, 0, std::nullopt));
    plot.render(&image);
  }
  const double paintMs = std::chrono::duration<double, std::milli>(Clock::now() - p0).count() / kPaints;
  plot.Show(&s, pmtrend::ComputeView(s, now, 60'000, std::nullopt));
  const auto m0 = Clock::now();
  for (int i = 0; i < kPaints; ++i) plot.render(&image);
  const double paintMinuteMs = std::chrono::duration<double, std::milli>(Clock::now() - m0).count() / kPaints;

  const std::size_t held = model.SamplesHeld();
  const std::size_t bound = pmtrend::TrendModel::kMaxSamples * sizeof(pmtrend::Sample);
  std::printf("bench_trend: %d reads, %ld CSV lines (%.1f MiB)\n", kReads, lines, fileBytes / 1048576.0);
  std::printf("  trend model      %.3f us per read\n", modelSec / kReads * 1e6);
  std::printf("  CSV line         %.3f us per read (written to the system each time)\n", csvSec / kReads * 1e6);
  std::printf("  plot repaint     %.2f ms with the whole history (%zu points), %.2f ms for the last minute\n",
              paintMs, s.samples.size(), paintMinuteMs);
  std::printf("  samples held     %zu bytes (bound %zu bytes, %zu dropped)\n", held, bound, s.dropped);
  std::printf("  resident memory  %ld KiB after %d reads, %ld KiB after all (%+ld KiB)\n", rssThird, kRssFrom, rssEnd,
              rssEnd - rssThird);
  const bool ok = held <= bound && rssEnd - rssThird <= 1024;
  if (!ok) std::printf("bench_trend: memory not bounded\n");
  return ok ? 0 : 1;
}
