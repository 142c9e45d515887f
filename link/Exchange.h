#pragma once
// One request and its reply as a state machine that does no I/O: it is told
// what happened (a pause ended, the frame went out, bytes arrived, a read
// ended or time passed) and answers what to do next: pause, send the frame,
// receive so many bytes, or done with a result code. The rules of the
// exchange live here once: the pause before every transmission, the two
// attempt counters (stage 1: the 3-byte header; stage 2: the rest and its
// CRC), the special reply lengths, exception replies, a reply too long for
// the caller's buffer, an echo of our own request, and the pause after a
// failed attempt.
//
// Two ways to drive it:
//  - blocking: Receive reads `count` bytes with the port's own time-outs,
//    then Bytes() with what came and, when fewer came, ReadEnded();
//  - by time: bytes as they arrive through Bytes(), and Tick(now) when the
//    step's `until` has passed (a pause is over, or a read has waited as
//    long as it may: 1000 ms + 100 ms per byte in all, 100 ms after a byte).
//
// Purging the port before the first attempt is the caller's, as is the
// check of the function code and the frame itself (see TComPortClass).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace pmlink {

struct ExchangeRules {
  int retries1 = 5;        // stage-1 attempts in a row
  int retries2 = 10;       // stage-2 failures in all
  int txDelayMs = 25;      // before every transmission
  int retryPauseMs = 300;  // after a failed attempt
  // When a read gives up, for the driver that keeps the time itself.
  int interByteMs = 100;
  int totalBaseMs = 1000;
  int totalPerByteMs = 100;
};

class Exchange {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Action { Pause, Send, Receive, Done };

  struct Step {
    Action action = Action::Done;
    int pauseMs = 0;                       // Pause
    std::span<const std::uint8_t> frame;   // Send
    int count = 0;                         // Receive: bytes still wanted
    Clock::time_point until{};             // Pause, Receive: when Tick moves on
    int result = 0;                        // Done
  };

  // `frame` is the whole request with its CRC (byte 1 the function code);
  // it and `reply` must outlive the exchange. The reply is written from its
  // first byte and never past replySize.
  Exchange(std::span<const std::uint8_t> frame, std::uint8_t* reply, std::size_t replySize,
           const ExchangeRules& rules);

  Step Start(Clock::time_point now);
  Step PauseEnded(Clock::time_point now);
  Step Sent(Clock::time_point now);
  // Bytes that arrived while receiving; those beyond `count` are not taken
  // (Taken() tells how many were).
  Step Bytes(Clock::time_point now, std::span<const std::uint8_t> bytes);
  // The read under way got no more bytes before its time-out.
  Step ReadEnded(Clock::time_point now);
  // The time now: moves on from a pause or a read whose `until` has passed.
  Step Tick(Clock::time_point now);

  const Step& Current() const { return m_step; }
  std::size_t Taken() const { return m_taken; }
  // The reply length expected, once a header has arrived (0 before).
  int ReplyLen() const { return m_replyLen; }
  // Transmissions so far.
  int Sends() const { return m_sends; }

 private:
  enum class Phase { TxPause, Sending, Header, Rest, Overlong, EchoRest, RetryPause, Finished };

  Step PauseFor(Phase phase, int ms, Clock::time_point now);
  Step ReceiveInto(Phase phase, std::uint8_t* target, int count, Clock::time_point now);
  Step Finish(int result);
  // The read under way is over (all bytes, or a time-out).
  Step ReadComplete(Clock::time_point now);
  Step HeaderRead(Clock::time_point now);
  // After stage 2 failed with m_result: an echo of the request, or a retry.
  Step CheckEcho(Clock::time_point now);
  Step EchoDecided(bool echo, Clock::time_point now);
  Step Failed(int result, bool stage2, Clock::time_point now);

  std::span<const std::uint8_t> m_frame;
  int m_function;
  std::uint8_t* m_reply;
  std::size_t m_replySize;
  ExchangeRules m_rules;

  Phase m_phase = Phase::Finished;
  Step m_step;
  int m_a = 0, m_b = 0;
  int m_result = 0;
  bool m_stage2 = false;
  int m_replyLen = 0;
  int m_sends = 0;
  std::size_t m_taken = 0;

  // The read under way.
  std::uint8_t* m_target = nullptr;
  int m_want = 0, m_got = 0;
  Clock::time_point m_total{}, m_gap{};

  std::uint8_t m_header[3] = {};
  std::uint8_t m_scratch[3000] = {};  // bytes read only to be compared, never kept
  int m_received = 0;                 // of them, for the echo check
};

}  // namespace pmlink
