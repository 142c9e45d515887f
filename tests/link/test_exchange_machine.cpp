// The exchange's state machine on its own: scripted bytes and times, no
// port. A small simulated line answers each transmission with chunks at
// given times after it; the machine's own deadlines end the reads.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Exchange.h"
#include "FakePort.h"
#include "ResultCodes.h"

namespace machinetest {

using linktest::Bytes;
using linktest::WithCrc;
using Ex = pmlink::Exchange;
using Action = Ex::Action;
using Clock = Ex::Clock;
using std::chrono::milliseconds;

struct Chunk {
  int atMs;  // after the transmission it answers
  Bytes bytes;
};
using Answer = std::vector<Chunk>;  // to one transmission; empty: silence

struct Outcome {
  int result = -1;
  int sends = 0;
  long elapsedMs = 0;
  int replyLen = 0;
};

// Drives the machine by time alone, as a poller on an event loop would:
// bytes are fed when they arrive, Tick when a step's time has come.
Outcome Drive(const Bytes& request, const std::vector<Answer>& answers, pmlink::ExchangeRules rules,
          std::uint8_t* reply, std::size_t replySize) {
  const Clock::time_point t0{};
  Clock::time_point now = t0, sentAt = t0;
  Ex ex(request, reply, replySize, rules);
  auto step = ex.Start(now);
  std::size_t answer = 0, chunk = 0;
  for (int guard = 0; guard < 10000 && step.action != Action::Done; ++guard) {
    switch (step.action) {
      case Action::Pause:
        now = step.until;
        step = ex.Tick(now);
        break;
      case Action::Send:
        sentAt = now;
        step = ex.Sent(now);
        answer = static_cast<std::size_t>(ex.Sends() - 1);
        chunk = 0;
        break;
      case Action::Receive: {
        const Answer* a = answer < answers.size() ? &answers[answer] : nullptr;
        if (a && chunk < a->size() && sentAt + milliseconds((*a)[chunk].atMs) <= step.until) {
          now = std::max(now, sentAt + milliseconds((*a)[chunk].atMs));
          Bytes& bytes = const_cast<Bytes&>((*a)[chunk].bytes);
          step = ex.Bytes(now, bytes);
          // What the machine did not take stays for the next read.
          bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(ex.Taken()));
          if (bytes.empty()) ++chunk;
        } else {
          now = step.until;
          step = ex.Tick(now);
        }
        break;
      }
      case Action::Done:
        break;
    }
  }
  return {step.result, ex.Sends(), static_cast<long>((now - t0) / milliseconds(1)), ex.ReplyLen()};
}

const Bytes kRequest = WithCrc({0x01, 0x11});
const Bytes kIdent = WithCrc({0x01, 0x11, 0x03, 6, 0x10, 101});
Bytes Part(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}
Bytes BadCrc(Bytes b) {
  b.back() ^= 0x01;
  return b;
}

struct MachineCase {
  const char* name;
  int retries1, retries2;
  std::vector<Answer> answers;
  int result;
  int sends;
  long elapsedMs;  // the whole exchange, pauses and time-outs included
};

// Defaults: 25 ms before a send, 300 ms after a failure, a read of n bytes
// ends 1000 + 100 n ms after it began or 100 ms after its last byte.
std::vector<MachineCase> Cases() {
  return {
      {"SilentEndsAfterFiveHeaderTimeOuts", 5, 10, {}, rc::NoReply, 5, 5 * (25 + 1300 + 300)},
      {"AnswerInOneChunk", 5, 10, {{{30, kIdent}}}, rc::Ok, 1, 25 + 30},
      {"AnswerByteByByte",
       5,
       10,
       {{{10, {kIdent[0]}}, {20, {kIdent[1]}}, {30, {kIdent[2]}}, {40, Part(kIdent, 3, 8)}}},
       rc::Ok,
       1,
       25 + 40},
      // 2 bytes, then nothing: 100 ms after the second the header read ends.
      {"HeaderCutShortByTheGap", 1, 10, {{{10, Part(kIdent, 0, 2)}}}, rc::Incomplete, 1, 25 + 10 + 100 + 300},
      // A gap of 150 ms inside the rest: the attempt fails, the next succeeds.
      {"GapInsideTheRest",
       5,
       10,
       {{{10, Part(kIdent, 0, 5)}, {160, Part(kIdent, 5, 8)}}, {{10, kIdent}}},
       rc::Ok,
       2,
       25 + 10 + 100 + 300 + 25 + 10},
      // The header alone, every time: stage 2's counter ends it.
      {"HeaderThenSilence", 5, 2, {{{5, Part(kIdent, 0, 3)}}, {{5, Part(kIdent, 0, 3)}}}, rc::NoReply, 2,
       2 * (25 + 5 + 1500 + 300)},
      {"BadCrcEveryTime", 5, 3, {{{20, BadCrc(kIdent)}}, {{20, BadCrc(kIdent)}}, {{20, BadCrc(kIdent)}}},
       rc::CrcError, 3, 3 * (25 + 20 + 300)},
      {"ExceptionAtOnce", 5, 10, {{{20, WithCrc({0x01, 0x91, 0x02})}}}, 2, 1, 25 + 20},
      {"ForeignFunctionRetriedAsStageOne", 2, 10, {{{5, {0x01, 0x12, 0x00}}}, {{5, {0x01, 0x12, 0x00}}}},
       rc::ReceiveError, 2, 2 * (25 + 5 + 300)},
      // The adapter's echo of the request, then the instrument's reply.
      // The header read takes 01 11 C0: a count of 192 is beyond the buffer, and
      // the rest is read (until 100 ms after the last byte) to be compared.
      {"EchoOfTheRequest", 5, 10, {{{1, kRequest}, {30, kIdent}}}, rc::Echo, 1, 25 + 30 + 100},
  };
}

class Machine : public ::testing::TestWithParam<MachineCase> {};

TEST_P(Machine, ResultSendsAndTime) {
  const auto& c = GetParam();
  pmlink::ExchangeRules rules;
  rules.retries1 = c.retries1;
  rules.retries2 = c.retries2;
  std::uint8_t reply[64] = {};
  const Outcome run = Drive(kRequest, c.answers, rules, reply, sizeof reply);
  EXPECT_EQ(run.result, c.result);
  EXPECT_EQ(run.sends, c.sends);
  EXPECT_EQ(run.elapsedMs, c.elapsedMs);
  if (c.result == rc::Ok) {
    EXPECT_EQ(Bytes(reply, reply + 8), kIdent);
  }
}

INSTANTIATE_TEST_SUITE_P(Link, Machine, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Machine, TakesNoMoreThanTheReplyAndSaysWhatItTook) {
  std::uint8_t reply[64] = {};
  Ex ex(kRequest, reply, sizeof reply, {});
  const Clock::time_point t{};
  auto step = ex.Start(t);
  ASSERT_EQ(step.action, Action::Pause);
  EXPECT_EQ(step.pauseMs, 25);
  step = ex.PauseEnded(t);
  ASSERT_EQ(step.action, Action::Send);
  EXPECT_EQ(Bytes(step.frame.begin(), step.frame.end()), kRequest);
  step = ex.Sent(t);
  ASSERT_EQ(step.action, Action::Receive);
  EXPECT_EQ(step.count, 3);
  EXPECT_EQ(step.until, t + milliseconds(1300));

  Bytes twoReplies = kIdent;
  twoReplies.insert(twoReplies.end(), kIdent.begin(), kIdent.end());
  step = ex.Bytes(t, twoReplies);
  EXPECT_EQ(ex.Taken(), 3u) << "the header read wants 3 bytes";
  ASSERT_EQ(step.action, Action::Receive);
  EXPECT_EQ(step.count, 5);
  step = ex.Bytes(t, Part(twoReplies, 3, twoReplies.size()));
  EXPECT_EQ(ex.Taken(), 5u);
  ASSERT_EQ(step.action, Action::Done);
  EXPECT_EQ(step.result, rc::Ok);
  EXPECT_EQ(ex.ReplyLen(), 8);
}

TEST(Machine, TimeBeforeADeadlineChangesNothing) {
  std::uint8_t reply[64] = {};
  Ex ex(kRequest, reply, sizeof reply, {});
  const Clock::time_point t{};
  ex.Start(t);
  EXPECT_EQ(ex.Tick(t + milliseconds(24)).action, Action::Pause);
  EXPECT_EQ(ex.Tick(t + milliseconds(25)).action, Action::Send);
  ex.Sent(t + milliseconds(25));
  EXPECT_EQ(ex.Tick(t + milliseconds(1324)).action, Action::Receive);
  // After a byte the gap of 100 ms applies, within the total.
  auto step = ex.Bytes(t + milliseconds(1300), Bytes{0x01});
  EXPECT_EQ(step.until, t + milliseconds(1325));
  step = ex.Tick(t + milliseconds(1325));
  ASSERT_EQ(step.action, Action::Pause);
  EXPECT_EQ(step.pauseMs, 300);
}

TEST(Machine, NoReplyFunctionsAreDoneOnceSent) {
  for (const int function : {69, 70}) {
    const Bytes frame = WithCrc({0x01, static_cast<std::uint8_t>(function), 1, 2});
    std::uint8_t reply[8] = {};
    Ex ex(frame, reply, sizeof reply, {});
    ex.Start({});
    ex.PauseEnded({});
    const auto step = ex.Sent({});
    EXPECT_EQ(step.action, Action::Done) << function;
    EXPECT_EQ(step.result, rc::Ok) << function;
  }
}

}  // namespace machinetest
