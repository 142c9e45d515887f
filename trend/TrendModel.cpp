#include "TrendModel.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace pmtrend {

TrendModel::TrendModel(std::size_t maxSamples, std::size_t maxSeries)
    : m_maxSamples(std::max<std::size_t>(maxSamples, 1)), m_maxSeries(std::max<std::size_t>(maxSeries, 1)) {}

void TrendModel::Push(Series& s, const Sample& sample) {
  s.samples.push_back(sample);
  while (s.samples.size() > m_maxSamples) {
    s.samples.pop_front();
    ++s.dropped;
  }
  // A series never starts with a gap.
  while (!s.samples.empty() && s.samples.front().Gap()) {
    s.samples.pop_front();
    ++s.dropped;
  }
}

Series& TrendModel::StartSeries(const Reading& r) {
  Series s;
  s.source = r.source;
  s.legend = Legend(r.source);
  s.unit = r.unit;
  m_series.push_back(std::move(s));
  while (m_series.size() > m_maxSeries) m_series.pop_front();
  return m_series.back();
}

void TrendModel::Take(Series& s, const Reading& r) {
  s.setpoint1 = r.setpoint1;
  s.setpoint2 = r.setpoint2;
  Push(s, {r.time, r.value, r.alarm, r.overflow});
}

void TrendModel::AddReading(const Reading& r) {
  Take(m_series.empty() || !(m_series.back().source == r.source) ? StartSeries(r) : m_series.back(), r);
}

void TrendModel::AddFailure(const Source& source, Millis time) {
  if (m_series.empty()) return;
  Series& s = m_series.back();
  // The model of a failed read may not be known: port and address decide.
  if (s.source.port != source.port || s.source.address != source.address) return;
  if (s.samples.empty() || s.samples.back().Gap()) return;
  Push(s, {time, std::numeric_limits<double>::quiet_NaN(), false, false});
}

namespace {

bool SameInstrument(const Source& a, const Source& b) { return a.port == b.port && a.address == b.address; }

}  // namespace

void TrendModel::AddReadingOf(const Reading& r) {
  auto it = std::find_if(m_series.begin(), m_series.end(),
                         [&r](const Series& s) { return SameInstrument(s.source, r.source); });
  if (it == m_series.end() || !(it->source == r.source)) {
    // A new instrument, or another model at its address: a series of its own.
    if (it != m_series.end()) m_series.erase(it);
    Take(StartSeries(r), r);
    return;
  }
  Take(*it, r);
}

void TrendModel::AddFailureOf(const Source& source, Millis time) {
  for (Series& s : m_series)
    if (SameInstrument(s.source, source) && !s.samples.empty() && !s.samples.back().Gap())
      Push(s, {time, std::numeric_limits<double>::quiet_NaN(), false, false});
}

std::size_t TrendModel::SamplesHeld() const {
  std::size_t n = 0;
  for (const Series& s : m_series) n += s.samples.size();
  return n * sizeof(Sample);
}

ViewBox ComputeView(const Series& s, Millis now, Millis windowMs, std::optional<ui::Span> fixed) {
  ViewBox box;
  const Millis first = s.samples.empty() ? now : s.samples.front().time;
  const Millis from = windowMs > 0 ? now - windowMs : std::min(first, now);
  box.time = {static_cast<double>(from), static_cast<double>(std::max(now, from + 1000))};
  if (fixed && fixed->hi > fixed->lo) {
    box.value = *fixed;
    return box;
  }
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (auto it = s.samples.rbegin(); it != s.samples.rend() && it->time >= from; ++it) {
    if (it->Gap() || it->time > now) continue;
    lo = std::min(lo, it->value);
    hi = std::max(hi, it->value);
  }
  for (const auto& sp : {s.setpoint1, s.setpoint2})
    if (sp) {
      lo = std::min(lo, *sp);
      hi = std::max(hi, *sp);
    }
  box.value = ui::PaddedSpan(lo, hi, 0.08);
  return box;
}

ViewBox ComputeView(const std::vector<const Series*>& all, Millis now, Millis windowMs, std::optional<ui::Span> fixed) {
  static const Series kEmpty;
  if (all.empty()) return ComputeView(kEmpty, now, windowMs, fixed);
  ViewBox box = ComputeView(*all.front(), now, windowMs, fixed);
  for (const Series* s : all) {
    const ViewBox b = ComputeView(*s, now, windowMs, fixed);
    box.time = {std::min(box.time.lo, b.time.lo), std::max(box.time.hi, b.time.hi)};
    box.value = {std::min(box.value.lo, b.value.lo), std::max(box.value.hi, b.value.hi)};
  }
  return box;
}

}  // namespace pmtrend
