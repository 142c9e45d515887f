#pragma once
// A serial bus with several simulated instruments. Bytes from the master are
// fed in as they arrive; the line cuts them into request frames, hands each
// to the instrument at its address and returns what that instrument sends
// back. Every frame in and out goes into a traffic log.
//
// Framing: the length of a request follows from its function code (17, 68,
// 14: 4 bytes; 71: 6; 4, 5, 6: 8; 69: the addressed instrument's block
// length + 4). A frame of that length with a good CRC is served at once.
// Anything else (unknown functions, a 69 of another length, damaged
// frames) ends at the first silence of FrameGap() and is served only when
// its CRC is right. A frame still shorter than its length is cut only after
// PartialTimeout() of silence.
//
// Thread-safe: a server thread feeds it while tests add instruments, change
// them and read the log.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "Frame.h"
#include "Instrument.h"

namespace sim {

enum class Dir { In, Out };

// A serial wire modelled in time: each character takes bitsPerChar bits
// (start, data, parity, stop) at baud bits per second.
struct Wire {
  int baud = 9600;
  int bitsPerChar = 11;  // 8 data bits, no parity, 2 stop bits
  bool operator==(const Wire&) const = default;
};

// The time `bytes` characters take on the wire.
std::chrono::microseconds WireTime(const Wire& wire, std::size_t bytes);

struct LogEntry {
  Clock::time_point time;
  Dir dir = Dir::In;
  Bytes bytes;
  bool crcOk = true;  // In: the frame was heard (false: ignored as damaged)
};

class Line {
 public:
  Line() = default;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  Instrument& Add(const InstrumentSetup& setup);
  // One instrument of each model at addresses 1..4 (КАРД v5, ЗЕТ-ТС v6,
  // ЗЕТ-ТП v6, ЛУНТ v4), all privileged.
  void AddDefaultSet();
  // The instrument answering at that address now, or nullptr.
  Instrument* Find(int address);
  Instrument& At(std::size_t index);
  std::size_t Count() const;

  // Bytes received from the master; returns the replies to send, in order.
  std::vector<Reply> Receive(std::span<const std::uint8_t> bytes, Clock::time_point now);
  // Ends a pending frame once the line has been silent for FrameGap().
  std::vector<Reply> Idle(Clock::time_point now);
  // When Idle should next be called; nothing while no bytes are pending.
  std::optional<Clock::time_point> Deadline() const;
  // Serves one whole frame (logged like any other).
  Reply Exchange(std::span<const std::uint8_t> frame, Clock::time_point now = Clock::now());

  // With a wire, every reply is delivered when request and reply would have
  // crossed a real line at its speed; without one (the default), at once.
  void SetWire(std::optional<Wire> wire);
  std::optional<Wire> GetWire() const;

  void SetFrameGap(std::chrono::milliseconds gap);
  std::chrono::milliseconds FrameGap() const;
  std::chrono::milliseconds PartialTimeout() const;

  std::vector<LogEntry> Log() const;
  // The bytes of the logged frames in one direction, oldest first.
  std::vector<Bytes> Frames(Dir dir) const;
  void ClearLog();
  // Waits until the log holds at least count entries.
  bool WaitForLog(std::size_t count, std::chrono::milliseconds timeout) const;
  // Called for every new log entry, outside the line's lock.
  void SetLogSink(std::function<void(const LogEntry&)> sink);

 private:
  Instrument* FindLocked(int address) const;
  std::optional<std::size_t> ExpectedLength() const;
  Clock::duration SilenceLimit() const;
  Reply Dispatch(std::span<const std::uint8_t> frame, Clock::time_point now,
                 std::vector<LogEntry>& fresh);
  void Publish(std::vector<LogEntry>& fresh, std::unique_lock<std::mutex>& lock);

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_logged;
  std::vector<std::unique_ptr<Instrument>> m_instruments;
  Bytes m_pending;
  Clock::time_point m_lastByte{};
  std::chrono::milliseconds m_gap{5};
  std::optional<Wire> m_wire;
  std::chrono::milliseconds m_partialTimeout{100};
  std::vector<LogEntry> m_log;
  std::function<void(const LogEntry&)> m_sink;
};

}  // namespace sim
