#include "Line.h"

#include <stdexcept>

namespace sim {

Instrument& Line::Add(const InstrumentSetup& setup) {
  auto instrument = std::make_unique<Instrument>(setup);
  std::lock_guard lock(m_mutex);
  m_instruments.push_back(std::move(instrument));
  return *m_instruments.back();
}

void Line::AddDefaultSet() {
  Add({.address = 1, .model = model::Kard, .version = 5});
  Add({.address = 2, .model = model::ZetTs, .version = 6});
  Add({.address = 3, .model = model::ZetTp, .version = 6});
  Add({.address = 4, .model = model::Lunt, .version = 4});
}

Instrument* Line::FindLocked(int address) const {
  for (const auto& i : m_instruments)
    if (i->Address() == address) return i.get();
  return nullptr;
}

Instrument* Line::Find(int address) {
  std::lock_guard lock(m_mutex);
  return FindLocked(address);
}

Instrument& Line::At(std::size_t index) {
  std::lock_guard lock(m_mutex);
  return *m_instruments.at(index);
}

std::size_t Line::Count() const {
  std::lock_guard lock(m_mutex);
  return m_instruments.size();
}

std::optional<std::size_t> Line::ExpectedLength() const {
  if (m_pending.size() < 2) return std::nullopt;
  switch (m_pending[1]) {
    case 17:
    case 68:
    case 14:
      return 4;
    case 71:
      return 6;
    case 4:
    case 5:
    case 6:
      return 8;
    case 69:
      if (const Instrument* i = FindLocked(m_pending[0])) return i->BlockLength() + 4;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

Clock::duration Line::SilenceLimit() const {
  // A frame known to be incomplete is given the byte time-out of a serial
  // line before it is cut: a busy machine can pause a writer for a few ms.
  const auto length = ExpectedLength();
  if (length && m_pending.size() < *length) return m_partialTimeout;
  return m_gap;
}

Reply Line::Dispatch(std::span<const std::uint8_t> frame, Clock::time_point now,
                     std::vector<LogEntry>& fresh) {
  const bool ok = CrcOk(frame);
  fresh.push_back({now, Dir::In, Bytes(frame.begin(), frame.end()), ok});
  if (!ok) return {};
  Instrument* instrument = FindLocked(frame[0]);
  if (!instrument) return {};
  Reply reply = instrument->Handle(frame, now);
  if (m_wire && !reply.bytes.empty()) reply.wire = WireTime(*m_wire, frame.size() + reply.bytes.size());
  if (!reply.bytes.empty()) fresh.push_back({now + reply.delay + reply.wire, Dir::Out, reply.bytes, true});
  return reply;
}

void Line::Publish(std::vector<LogEntry>& fresh, std::unique_lock<std::mutex>& lock) {
  if (fresh.empty()) return;
  m_log.insert(m_log.end(), fresh.begin(), fresh.end());
  auto sink = m_sink;
  lock.unlock();
  m_logged.notify_all();
  if (sink)
    for (const auto& e : fresh) sink(e);
}

std::vector<Reply> Line::Receive(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  std::vector<Reply> replies;
  std::vector<LogEntry> fresh;
  std::unique_lock lock(m_mutex);
  // Bytes that follow a long silence start a new frame: what was pending is
  // ended first.
  if (!m_pending.empty() && now - m_lastByte >= SilenceLimit()) {
    Reply r = Dispatch(m_pending, m_lastByte + SilenceLimit(), fresh);
    if (!r.bytes.empty()) replies.push_back(std::move(r));
    m_pending.clear();
  }
  m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
  m_lastByte = now;
  while (const auto length = ExpectedLength()) {
    if (m_pending.size() < *length) break;
    const std::span<const std::uint8_t> frame(m_pending.data(), *length);
    if (!CrcOk(frame)) break;  // wait for the silence that ends it
    Reply r = Dispatch(frame, now, fresh);
    if (!r.bytes.empty()) replies.push_back(std::move(r));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(*length));
  }
  Publish(fresh, lock);
  return replies;
}

std::vector<Reply> Line::Idle(Clock::time_point now) {
  std::vector<Reply> replies;
  std::vector<LogEntry> fresh;
  std::unique_lock lock(m_mutex);
  if (!m_pending.empty() && now - m_lastByte >= SilenceLimit()) {
    Reply r = Dispatch(m_pending, now, fresh);
    if (!r.bytes.empty()) replies.push_back(std::move(r));
    m_pending.clear();
  }
  Publish(fresh, lock);
  return replies;
}

std::optional<Clock::time_point> Line::Deadline() const {
  std::lock_guard lock(m_mutex);
  if (m_pending.empty()) return std::nullopt;
  return m_lastByte + SilenceLimit();
}

Reply Line::Exchange(std::span<const std::uint8_t> frame, Clock::time_point now) {
  std::vector<LogEntry> fresh;
  std::unique_lock lock(m_mutex);
  Reply reply = Dispatch(frame, now, fresh);
  Publish(fresh, lock);
  return reply;
}

std::chrono::microseconds WireTime(const Wire& wire, std::size_t bytes) {
  if (wire.baud <= 0) return {};
  const long long bits = static_cast<long long>(bytes) * wire.bitsPerChar;
  return std::chrono::microseconds((bits * 1'000'000 + wire.baud - 1) / wire.baud);
}

void Line::SetWire(std::optional<Wire> wire) {
  std::lock_guard lock(m_mutex);
  m_wire = wire;
}

std::optional<Wire> Line::GetWire() const {
  std::lock_guard lock(m_mutex);
  return m_wire;
}

void Line::SetFrameGap(std::chrono::milliseconds gap) {
  std::lock_guard lock(m_mutex);
  m_gap = gap;
}

std::chrono::milliseconds Line::FrameGap() const {
  std::lock_guard lock(m_mutex);
  return m_gap;
}

std::chrono::milliseconds Line::PartialTimeout() const {
  std::lock_guard lock(m_mutex);
  return m_partialTimeout;
}

std::vector<LogEntry> Line::Log() const {
  std::lock_guard lock(m_mutex);
  return m_log;
}

std::vector<Bytes> Line::Frames(Dir dir) const {
  std::lock_guard lock(m_mutex);
  std::vector<Bytes> out;
  for (const auto& e : m_log)
    if (e.dir == dir) out.push_back(e.bytes);
  return out;
}

void Line::ClearLog() {
  std::lock_guard lock(m_mutex);
  m_log.clear();
}

bool Line::WaitForLog(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_logged.wait_for(lock, timeout, [&] { return m_log.size() >= count; });
}

void Line::SetLogSink(std::function<void(const LogEntry&)> sink) {
  std::lock_guard lock(m_mutex);
  m_sink = std::move(sink);
}

}  // namespace sim
