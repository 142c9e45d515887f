#include "Exchange.h"

#include <algorithm>
#include <cstring>

#include "Crc16.h"
#include "ResultCodes.h"

namespace pmlink {

namespace {

bool NoReplyFunction(int function) { return function == 69 || function == 70; }
// Functions answered with a reply of a fixed length whose byte 2 is no count.
bool FixedLengthReply(int function) { return function == 5 || function == 14 || function == 15; }

}  // namespace

Exchange::Exchange(std::span<const std::uint8_t> frame, std::uint8_t* reply, std::size_t replySize,
                   const ExchangeRules& rules)
    : m_frame(frame), m_function(frame.size() > 1 ? frame[1] : 0), m_reply(reply), m_replySize(replySize),
      m_rules(rules) {}

Exchange::Step Exchange::Start(Clock::time_point now) {
  m_a = m_rules.retries1;
  m_b = m_rules.retries2;
  m_sends = 0;
  m_replyLen = 0;
  return PauseFor(Phase::TxPause, m_rules.txDelayMs, now);
}

Exchange::Step Exchange::PauseFor(Phase phase, int ms, Clock::time_point now) {
  m_phase = phase;
  m_step = {};
  m_step.action = Action::Pause;
  m_step.pauseMs = ms;
  m_step.until = now + std::chrono::milliseconds(std::max(ms, 0));
  return m_step;
}

Exchange::Step Exchange::ReceiveInto(Phase phase, std::uint8_t* target, int count, Clock::time_point now) {
  m_phase = phase;
  m_target = target;
  m_want = count;
  m_got = 0;
  m_total = now + std::chrono::milliseconds(m_rules.totalBaseMs + m_rules.totalPerByteMs * count);
  m_gap = m_total;  // before the first byte only the total applies
  m_step = {};
  m_step.action = Action::Receive;
  m_step.count = count;
  m_step.until = m_total;
  return m_step;
}

Exchange::Step Exchange::Finish(int result) {
  m_phase = Phase::Finished;
  m_step = {};
  m_step.action = Action::Done;
  m_step.result = result;
  return m_step;
}

Exchange::Step Exchange::PauseEnded(Clock::time_point now) {
  switch (m_phase) {
    case Phase::TxPause:
      m_phase = Phase::Sending;
      m_step = {};
      m_step.action = Action::Send;
      m_step.frame = m_frame;
      return m_step;
    case Phase::RetryPause:
      // The counter of the failed stage decides whether another attempt follows.
      if (m_stage2 ? --m_b <= 0 : --m_a <= 0) return Finish(m_result);
      return PauseFor(Phase::TxPause, m_rules.txDelayMs, now);
    default:
      return m_step;
  }
}

Exchange::Step Exchange::Sent(Clock::time_point now) {
  if (m_phase != Phase::Sending) return m_step;
  ++m_sends;
  if (NoReplyFunction(m_function)) return Finish(rc::Ok);
  m_stage2 = false;
  m_result = rc::Ok;
  return ReceiveInto(Phase::Header, m_header, 3, now);
}

Exchange::Step Exchange::Bytes(Clock::time_point now, std::span<const std::uint8_t> bytes) {
  m_taken = 0;
  if (m_step.action != Action::Receive) return m_step;
  const std::size_t k = std::min(bytes.size(), static_cast<std::size_t>(m_want - m_got));
  if (k == 0) return m_step;
  std::memcpy(m_target + m_got, bytes.data(), k);
  m_got += static_cast<int>(k);
  m_taken = k;
  if (m_got == m_want) return ReadComplete(now);
  m_gap = now + std::chrono::milliseconds(m_rules.interByteMs);
  m_step.count = m_want - m_got;
  m_step.until = std::min(m_total, m_gap);
  return m_step;
}

Exchange::Step Exchange::ReadEnded(Clock::time_point now) {
  if (m_step.action != Action::Receive) return m_step;
  return ReadComplete(now);
}

Exchange::Step Exchange::Tick(Clock::time_point now) {
  if (m_step.action == Action::Pause && now >= m_step.until) return PauseEnded(now);
  if (m_step.action == Action::Receive && now >= m_step.until) return ReadEnded(now);
  return m_step;
}

Exchange::Step Exchange::ReadComplete(Clock::time_point now) {
  switch (m_phase) {
    case Phase::Header:
      return HeaderRead(now);
    case Phase::Overlong:
      m_received += m_got;
      return CheckEcho(now);
    case Phase::Rest: {
      const int rest = m_replyLen - 3;
      if (m_got == rest) {
        const std::uint16_t crc = Crc16(static_cast<std::size_t>(m_replyLen - 2), m_reply);
        if (m_reply[m_replyLen - 2] == (crc & 0xFF) && m_reply[m_replyLen - 1] == (crc >> 8))
          return Finish(rc::Ok);
        m_result = rc::CrcError;
      } else {
        m_result = m_got == 0 ? rc::NoReply : rc::Incomplete;
      }
      std::memcpy(m_scratch + 3, m_reply + 3, static_cast<std::size_t>(m_got));
      m_received += m_got;
      return CheckEcho(now);
    }
    case Phase::EchoRest:
      m_received += m_got;
      return EchoDecided(m_received >= static_cast<int>(m_frame.size()), now);
    default:
      return m_step;
  }
}

Exchange::Step Exchange::HeaderRead(Clock::time_point now) {
  const int got = m_got;
  std::memcpy(m_reply, m_header, std::min<std::size_t>(static_cast<std::size_t>(got), m_replySize));
  if (got == 0) return Failed(rc::NoReply, false, now);
  if (got < 3) return Failed(rc::Incomplete, false, now);

  const int frameLen = static_cast<int>(m_frame.size());
  if (m_function == 5 || m_function == 14)
    m_replyLen = frameLen;
  else if (m_function == 15)
    m_replyLen = 8;
  else
    m_replyLen = m_header[2] + 5;

  const bool exception = m_header[1] == (m_function | 0x80);
  if (exception && m_header[2] != 0) {
    // The instrument refused the request: its code is the result, and the
    // CRC that follows is left unread.
    m_replyLen = 5;
    return Finish(m_header[2]);
  }
  if (m_header[1] != m_function && !exception) {
    // A foreign function code: another talker on the line, or leftovers of
    // an earlier reply. Retried like a missing reply; when the stage-1
    // attempts run out on it the exchange ends with 128 (receive error).
    return Failed(rc::ReceiveError, false, now);
  }

  m_a = m_rules.retries1;
  m_stage2 = true;
  std::memcpy(m_scratch, m_header, 3);
  m_received = 3;
  const int rest = m_replyLen - 3;
  if (static_cast<std::size_t>(m_replyLen) > m_replySize) {
    // The reply would not fit the caller's buffer: a failed attempt, retried
    // like a damaged reply (the count byte may have been hit by noise). Its
    // rest is read and thrown away, so that the next attempt starts in step
    // with the line; nothing past the caller's buffer is touched.
    m_result = rc::ReceiveError;
    return ReceiveInto(Phase::Overlong, m_scratch + 3, rest, now);
  }
  return ReceiveInto(Phase::Rest, m_reply + 3, rest, now);
}

Exchange::Step Exchange::CheckEcho(Clock::time_point now) {
  // Some half-duplex RS-485 adapters return our own request before the
  // reply; retrying cannot help, so say so at once. Functions 5 and 14 are
  // answered with the request itself, and a function 15 reply has the
  // request's length: for them an echo cannot be told from the answer.
  const int frameLen = static_cast<int>(m_frame.size());
  const int count = m_received;
  if (FixedLengthReply(m_function) || count <= 0 || count > static_cast<int>(sizeof m_scratch))
    return EchoDecided(false, now);
  const int head = std::min(count, frameLen);
  if (std::memcmp(m_scratch, m_frame.data(), static_cast<std::size_t>(head)) != 0) return EchoDecided(false, now);
  // The bytes so far begin our frame: the rest of it must follow.
  if (count < frameLen) return ReceiveInto(Phase::EchoRest, m_scratch + count, frameLen - count, now);
  return EchoDecided(true, now);
}

Exchange::Step Exchange::EchoDecided(bool wholeFrame, Clock::time_point now) {
  bool echo = wholeFrame;
  // An echo is our whole frame, followed by nothing or by the start of the
  // instrument's reply. A reply that merely begins like the request (for
  // function 68 at some addresses and block lengths the CRC of the request
  // equals the count and the first data byte) goes on differently.
  const int frameLen = static_cast<int>(m_frame.size());
  for (int i = frameLen; echo && i < m_received && i < frameLen + 2; ++i)
    if (m_scratch[i] != m_frame[static_cast<std::size_t>(i - frameLen)]) echo = false;
  if (echo) return Finish(rc::Echo);
  return Failed(m_result, true, now);
}

Exchange::Step Exchange::Failed(int result, bool stage2, Clock::time_point now) {
  m_result = result;
  m_stage2 = stage2;
  return PauseFor(Phase::RetryPause, m_rules.retryPauseMs, now);
}

}  // namespace pmlink
