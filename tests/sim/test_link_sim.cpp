// The real link (termios port and exchange) against the simulator over a
// pseudo-terminal: the read sequence of every model, time-outs, damaged
// replies recovered by the retries, and a block write that moves an
// instrument to another address.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Comportclass.h"
#include "Line.h"
#include "PortEnumeration.h"
#include "PtyServer.h"
#include "Publish.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"

using namespace std::chrono_literals;
using sim::Bytes;
using sim::Clock;
using sim::Dir;
using sim::Fault;
using sim::FaultKind;

namespace {

class LinkSim : public testing::Test {
 protected:
  void SetUp() override {
    line.AddDefaultSet();
    line.Add({.address = 5, .model = sim::model::Undetermined, .version = 2});
    line.Add({.address = 6, .model = 104, .version = 5, .privileged = false});
    link.Port = server.SlavePath();
    link.Baud = "19200";
    link.Parity = "N";
    link.StopBits = "1";
    ASSERT_EQ(link.Configure(), 0) << link.LastOpenError();
    // Pauses are counted, not slept: the time-outs of the port stay real.
    link.SetDelayFunction([this](int ms) { pauses.push_back(ms); });
  }

  int Request(int index, int function, const Bytes& data = {}) {
    reply.fill(0);
    return link.Request(index, function, static_cast<int>(data.size()), data.data(), reply.data(),
                        reply.size());
  }
  std::size_t Sent() const { return line.Frames(Dir::In).size(); }

  sim::Line line;
  sim::PtyServer server{line};
  pmlink::TermiosPort port;
  ui::ScriptedMessageService messages;
  int windowCloses = 0;
  TComPortClass link{port, messages, [this] { ++windowCloses; }};
  std::vector<int> pauses;
  std::array<std::uint8_t, 100> reply{};
};

struct ReadCase {
  int address;
  int model;
  int version;
  std::size_t blockLength;
  bool registers;     // ЗЕТ version 6: function 4
  bool outputSwitch;  // ЛУНТ: function 5 output control off
};

class LinkSimRead : public LinkSim, public testing::WithParamInterface<ReadCase> {};

TEST_P(LinkSimRead, WholeReadSequence) {
  const auto c = GetParam();
  const int index = c.address - 1;
  ASSERT_EQ(Request(index, 17), 0);
  EXPECT_EQ(reply[3], c.version);
  EXPECT_EQ(reply[5], c.model);

  ASSERT_EQ(Request(index, 68), 0);
  EXPECT_EQ(reply[2], c.blockLength);
  EXPECT_EQ(reply[3 + 11], index) << "Nu";

  ASSERT_EQ(Request(index, 71, {0x00, 0x01}), 0);
  EXPECT_GE(reply[2], 9);

  if (c.outputSwitch) {
    const Bytes off{0x10, 0x02, 0x00, 0x00};
    ASSERT_EQ(Request(index, 5, off), 0);
    EXPECT_EQ(Bytes(reply.begin() + 2, reply.begin() + 6), off);
  }
  if (c.registers) {
    ASSERT_EQ(Request(index, 4, {0, 0, 0, 4}), 0);
    EXPECT_EQ(reply[2], 8);
  }
  EXPECT_EQ(Sent(), 3u + c.outputSwitch + c.registers) << "each request once";
  EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Models, LinkSimRead,
                         testing::Values(ReadCase{1, 100, 5, 16, false, false},
                                         ReadCase{2, 101, 6, 40, true, false},
                                         ReadCase{3, 102, 6, 40, true, false},
                                         ReadCase{4, 103, 4, 16, false, true},
                                         ReadCase{5, 255, 2, 16, false, false},
                                         ReadCase{6, 104, 5, 16, false, false}));

TEST_F(LinkSim, AbsentInstrumentTimesOutAfterTheHeaderWait) {
  link.Retries1 = 1;
  const auto t0 = Clock::now();
  EXPECT_EQ(Request(19, 17), rc::NoReply);
  const auto took = Clock::now() - t0;
  EXPECT_EQ(Sent(), 1u);
  EXPECT_GE(took, 1000ms);
  EXPECT_LT(took, 3000ms);
}

struct RecoveryCase {
  const char* name;
  Fault fault;
  int result;
  std::size_t transmissions;
};

class LinkSimRecovery : public LinkSim, public testing::WithParamInterface<RecoveryCase> {};

TEST_P(LinkSimRecovery, RetriesOrStops) {
  const auto& c = GetParam();
  line.Find(2)->InjectFault(c.fault);
  EXPECT_EQ(Request(1, 68), c.result);
  EXPECT_EQ(Sent(), c.transmissions);
  if (c.result == 0) {
    EXPECT_EQ(reply[2], 40);
    EXPECT_TRUE(sim::CrcOk(std::span(reply).first(45)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LinkSimRecovery,
    testing::Values(
        RecoveryCase{"BadCrc", Fault::Once(FaultKind::BadCrc), 0, 2},
        RecoveryCase{"TruncatedBody", Fault{.kind = FaultKind::Truncated, .keepBytes = 20}, 0, 2},
        RecoveryCase{"SilentOnce", Fault::Once(FaultKind::Silence), 0, 2},
        RecoveryCase{"SecondTry", Fault::Once(FaultKind::SecondTry), 0, 2},
        RecoveryCase{"SlowButInTime", Fault{.kind = FaultKind::Slow, .delay = 300ms}, 0, 1},
        RecoveryCase{"Exception", Fault{.kind = FaultKind::Exception, .exceptionCode = 3}, 3, 1},
        RecoveryCase{"AlwaysBadCrc",
                     Fault::Persistent(FaultKind::BadCrc), rc::CrcError, 10}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkSim, GapBetweenReplyBytesBeyondTheByteTimeOutIsIncomplete) {
  link.Retries1 = 1;
  line.Find(1)->InjectFault({.kind = FaultKind::Slow, .byteGap = 150ms});
  EXPECT_EQ(Request(0, 17), rc::Incomplete);
  EXPECT_EQ(Sent(), 1u);
}

TEST_F(LinkSim, BlockWriteMovesTheInstrumentAndItIsBusyMeanwhile) {
  line.Find(1)->SetWriteTime(150ms);
  ASSERT_EQ(Request(0, 68), 0);
  Bytes block(reply.begin() + 3, reply.begin() + 3 + reply[2]);
  block[11] = 9;
  EXPECT_EQ(Request(0, 69, block), 0);
  // The program pauses after a block write; without it the purge of the
  // next request would discard the write still in the terminal's queue.
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Request(9, 14), rc::Busy);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Request(9, 14), 0);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), sim::MakeFrame(10, 14));
  EXPECT_EQ(line.Find(10)->Block(), block);
}

TEST_F(LinkSim, UnpluggedLineIsNoSilentSuccess) {
  server.Unplug();
  int result = -1;
  try {
    result = Request(0, 17);
  } catch (const pmlink::SerialPortError&) {
    result = -2;  // the port layer raised the disconnection
  }
  EXPECT_NE(result, 0);
}

TEST_F(LinkSim, PublishedLineIsListedByTheEnumeration) {
  EXPECT_EQ(sim::LineFolder(), pmlink::SimulatorLineFolder());
  const std::string link = server.Publish("test-" + std::to_string(::getpid()));
  bool found = false;
  for (const auto& p : pmlink::EnumeratePorts()) found = found || p.name == link;
  EXPECT_TRUE(found) << link;
  server.Stop();
  for (const auto& p : pmlink::EnumeratePorts()) EXPECT_NE(p.name, link);
}

}  // namespace
