#include "TrafficLog.h"

#include <cstdio>
#include <utility>

namespace pmlink {

TrafficLog::TrafficLog(std::size_t capacity)
    : m_capacity(capacity > 0 ? capacity : 1), m_start(Clock::now()) {}

double TrafficLog::Ms(Clock::time_point when) const {
  if (when < m_start) return 0;
  return std::chrono::duration<double, std::milli>(when - m_start).count();
}

void TrafficLog::OnBytes(Clock::time_point when, Direction dir,
                         std::span<const std::uint8_t> bytes) {
  if (dir == Direction::Rx && m_pending && m_pending->kind == TrafficFrame::Kind::Rx) {
    m_pending->bytes.insert(m_pending->bytes.end(), bytes.begin(), bytes.end());
    return;
  }
  // A write is a frame of its own; it also ends whatever came before it.
  CompletePending();
  TrafficFrame frame;
  frame.ms = Ms(when);
  frame.kind = dir == Direction::Tx ? TrafficFrame::Kind::Tx : TrafficFrame::Kind::Rx;
  frame.bytes.assign(bytes.begin(), bytes.end());
  m_pending = std::move(frame);
}

void TrafficLog::OnResult(Clock::time_point when, int /*deviceIndex*/, int /*function*/,
                          int result) {
  if (!m_pending) {
    TrafficFrame frame;
    frame.ms = Ms(when);
    frame.kind = TrafficFrame::Kind::ResultOnly;
    m_pending = std::move(frame);
  }
  m_pending->result = result;
  CompletePending();
}

void TrafficLog::CompletePending() {
  if (!m_pending) return;
  TrafficFrame frame = std::move(*m_pending);
  m_pending.reset();
  Complete(std::move(frame));
}

void TrafficLog::Complete(TrafficFrame frame) {
  m_frames.push_back(std::move(frame));
  while (m_frames.size() > m_capacity) {
    m_frames.pop_front();
    ++m_dropped;
  }
  if (m_listener) m_listener(m_frames.back());
}

void TrafficLog::SetListener(Listener listener) { m_listener = std::move(listener); }

void TrafficLog::Clear(Clock::time_point start) {
  m_frames.clear();
  m_pending.reset();
  m_dropped = 0;
  m_start = start;
}

std::string TrafficLog::DirectionText(TrafficFrame::Kind kind) {
  switch (kind) {
    case TrafficFrame::Kind::Tx:
      return "TX";
    case TrafficFrame::Kind::Rx:
      return "RX";
    case TrafficFrame::Kind::ResultOnly:
      break;
  }
  return "--";
}

std::string TrafficLog::BytesText(const TrafficFrame& frame) {
  const bool sent = frame.kind == TrafficFrame::Kind::Tx;
  std::string out;
  out.reserve(frame.bytes.size() * 4);
  char buf[8];
  for (const std::uint8_t b : frame.bytes) {
    std::snprintf(buf, sizeof buf, sent ? "[%02X]" : "<%02X>", static_cast<unsigned>(b));
    out += buf;
  }
  return out;
}

std::string TrafficLog::TimeText(double ms) {
  // A decimal comma, as the operator writes numbers and as a spreadsheet with
  // Russian settings reads them.
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", ms);
  std::string text = buf;
  for (char& c : text)
    if (c == '.') c = ',';
  return text;
}

std::string TrafficLog::ResultText(const TrafficFrame& frame) {
  return frame.result ? std::to_string(*frame.result) : std::string();
}

std::string TrafficLog::Line(const TrafficFrame& frame) {
  std::string line = TimeText(frame.ms);
  line += '\t';
  line += DirectionText(frame.kind);
  line += '\t';
  line += BytesText(frame);
  line += '\t';
  line += ResultText(frame);
  return line;
}

std::string TrafficLog::Text() const {
  std::string out;
  for (const TrafficFrame& f : m_frames) {
    out += Line(f);
    out += '\n';
  }
  return out;
}

}  // namespace pmlink
