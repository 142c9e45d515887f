#pragma once
// Collects what the link reports into whole frames for the traffic view:
// one Tx frame per write, and the Rx chunks of one attempt joined into one
// Rx frame (it ends when the next request is written or the exchange's
// result arrives). The result code is attached to the last frame of its
// exchange; an exchange that put nothing on the line (port closed, function
// refused) leaves a frame of its own with no bytes and the result.
//
// A frame is reported to the listener once it is complete, so that the
// listener always sees it with its result. Memory is bounded: only the last
// Capacity() frames are kept.
//
// Not thread-safe: it is called on the thread that runs the exchanges, and
// read on that same thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "FrameObserver.h"

namespace pmlink {

struct TrafficFrame {
  enum class Kind { Tx, Rx, ResultOnly };
  double ms = 0;  // since the log started, at the frame's first byte
  Kind kind = Kind::Tx;
  std::vector<std::uint8_t> bytes;
  std::optional<int> result;  // on the last frame of an exchange
};

class TrafficLog : public FrameObserver {
 public:
  using Clock = std::chrono::steady_clock;
  using Listener = std::function<void(const TrafficFrame&)>;

  static constexpr std::size_t kDefaultCapacity = 10000;

  explicit TrafficLog(std::size_t capacity = kDefaultCapacity);

  void OnBytes(Clock::time_point when, Direction dir, std::span<const std::uint8_t> bytes) override;
  void OnResult(Clock::time_point when, int deviceIndex, int function, int result) override;

  // Called for every completed frame, oldest first.
  void SetListener(Listener listener);

  // Drops every frame (and a frame still being assembled); times are then
  // counted from `start`.
  void Clear(Clock::time_point start = Clock::now());

  const std::deque<TrafficFrame>& Frames() const { return m_frames; }
  std::size_t Capacity() const { return m_capacity; }
  // Frames dropped to keep within the capacity since the last Clear.
  std::size_t Dropped() const { return m_dropped; }

  // The kept frames as text, one line per frame (see Line).
  std::string Text() const;

  // The text forms shared by the export and the window.
  // "TX", "RX", or "--" for a frame without bytes.
  static std::string DirectionText(TrafficFrame::Kind kind);
  // Bytes in hex with direction marks as in the simulator's log: [01][11]
  // for what we send, <01><11> for what we receive.
  static std::string BytesText(const TrafficFrame& frame);
  // Milliseconds with three decimals.
  static std::string TimeText(double ms);
  // The result code, or "" when the frame carries none.
  static std::string ResultText(const TrafficFrame& frame);
  // Tab-separated: time, direction, bytes, result.
  static std::string Line(const TrafficFrame& frame);

 private:
  double Ms(Clock::time_point when) const;
  void Complete(TrafficFrame frame);
  void CompletePending();

  std::size_t m_capacity;
  Clock::time_point m_start;
  std::deque<TrafficFrame> m_frames;
  std::size_t m_dropped = 0;
  // The frame still open to more bytes or to the exchange's result.
  std::optional<TrafficFrame> m_pending;
  Listener m_listener;
};

}  // namespace pmlink
