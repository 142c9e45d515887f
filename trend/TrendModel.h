#pragma once
// The points of the trend: one series per instrument (port and address,
// with its model), a new series whenever the instrument shown changes, the
// last few series kept, each with a bounded history. A failed read is a gap.
// Also what part of a series a view shows and the scale it takes. Plain C++.

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "PlotScale.h"
#include "Reading.h"

namespace pmtrend {

struct Sample {
  Millis time = 0;
  double value = 0;  // NaN: a failed read (a gap)
  bool alarm = false;
  bool overflow = false;
  bool Gap() const { return value != value; }
};

struct Series {
  Source source;
  std::string legend;
  std::string unit;
  std::deque<Sample> samples;  // in time order
  // The setpoints of the latest reading, in unit.
  std::optional<double> setpoint1, setpoint2;
  std::size_t dropped = 0;  // oldest samples let go for the bound
};

class TrendModel {
 public:
  // About eight hours at the polling period, five instruments.
  static constexpr std::size_t kMaxSamples = 10000;
  static constexpr std::size_t kMaxSeries = 5;

  explicit TrendModel(std::size_t maxSamples = kMaxSamples, std::size_t maxSeries = kMaxSeries);

  // A completed read: a point of the current series, or the first of a new
  // one when it came from another instrument than the last.
  void AddReading(const Reading& r);
  // A failed read of `source`: a gap in its series when that is the current
  // one (two failures in a row leave one gap); otherwise nothing.
  void AddFailure(const Source& source, Millis time);

  // Several instruments read in turn (the line overview): a reading goes to
  // the series of its port and address, which is made when there is none;
  // a failure is a gap in that series.
  void AddReadingOf(const Reading& r);
  void AddFailureOf(const Source& source, Millis time);

  // Oldest first; the last is the current series.
  const std::deque<Series>& AllSeries() const { return m_series; }
  void Clear() { m_series.clear(); }
  // Bytes of the samples held (the deques' elements).
  std::size_t SamplesHeld() const;

 private:
  void Push(Series& s, const Sample& sample);
  // A new series for the reading's instrument, the oldest dropped past the limit.
  Series& StartSeries(const Reading& r);
  // The reading's setpoints and sample into its series.
  void Take(Series& s, const Reading& r);

  std::size_t m_maxSamples;
  std::size_t m_maxSeries;
  std::deque<Series> m_series;
};

// The rectangle a view shows.
struct ViewBox {
  ui::Span time;   // ms since the epoch
  ui::Span value;  // unit
};

// The view of a series at `now`: the last `windowMs` (0: the whole series)
// across; up the range of the points in that time and the setpoints, with a
// margin, or the fixed span when one is given. Points after `now` (arrived
// while the view is paused) take no part.
ViewBox ComputeView(const Series& s, Millis now, Millis windowMs, std::optional<ui::Span> fixed);
// The same for several series drawn together: the union of their views.
ViewBox ComputeView(const std::vector<const Series*>& all, Millis now, Millis windowMs, std::optional<ui::Span> fixed);

}  // namespace pmtrend
