// The traffic collector fed by the link over a scripted port: how chunks
// become frames, where the result code lands, the bound on memory and the
// text form.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Comportclass.h"
#include "Crc16.h"
#include "FakePort.h"
#include "ScriptedMessageService.h"
#include "TrafficLog.h"

using linktest::Bytes;
using linktest::FakePort;
using linktest::WithCrc;
using pmlink::TrafficFrame;
using pmlink::TrafficLog;
using Kind = pmlink::TrafficFrame::Kind;

namespace {

const Bytes kIdentRequest = {0x01, 0x11, 0xC0, 0x2C};
const Bytes kIdentReply = WithCrc({0x01, 0x11, 0x03, 1, 2, 100});

struct Rig {
  FakePort port;
  ui::ScriptedMessageService messages;
  TComPortClass link{port, messages, [] {}};
  TrafficLog log;
  std::vector<TrafficFrame> heard;  // what the listener was given

  Rig() {
    link.SetDelayFunction([](int) {});
    port.open = true;
    link.SetFrameObserver(&log);
    log.SetListener([this](const TrafficFrame& f) { heard.push_back(f); });
  }

  int Ident() {
    std::uint8_t reply[64];
    return link.Request(0, 17, 0, nullptr, reply, sizeof reply);
  }

  // Kind, bytes and result of each kept frame.
  struct Shape {
    Kind kind;
    Bytes bytes;
    std::optional<int> result;
    bool operator==(const Shape&) const = default;
  };
  static std::vector<Shape> ShapesOf(const auto& frames) {
    std::vector<Shape> out;
    for (const TrafficFrame& f : frames) out.push_back({f.kind, f.bytes, f.result});
    return out;
  }
  std::vector<Shape> Shapes() const { return ShapesOf(log.Frames()); }
};

void PrintTo(const Rig::Shape& s, std::ostream* os) {
  *os << TrafficLog::DirectionText(s.kind) << ' '
      << TrafficLog::BytesText({0, s.kind, s.bytes, s.result}) << " result "
      << (s.result ? std::to_string(*s.result) : "-");
}

// ------------------------------------------------------------ frames from the link

TEST(TrafficFrames, ReplyChunksOfOneAttemptMakeOneFrameCarryingTheResult) {
  Rig t;
  // The link reads the header and the rest separately: two chunks.
  t.port.Reply({kIdentReply.begin(), kIdentReply.begin() + 3});
  t.port.Reply({kIdentReply.begin() + 3, kIdentReply.end()});
  ASSERT_EQ(t.Ident(), rc::Ok);

  EXPECT_EQ(t.Shapes(), (std::vector<Rig::Shape>{{Kind::Tx, kIdentRequest, std::nullopt},
                                                 {Kind::Rx, kIdentReply, rc::Ok}}));
  EXPECT_EQ(Rig::ShapesOf(t.heard), t.Shapes());
  EXPECT_LE(t.log.Frames()[0].ms, t.log.Frames()[1].ms);
}

TEST(TrafficFrames, EveryRetryIsItsOwnFrameAndOnlyTheLastCarriesTheResult) {
  Rig t;
  t.link.Retries1 = 3;
  ASSERT_EQ(t.Ident(), rc::NoReply);

  EXPECT_EQ(t.Shapes(), (std::vector<Rig::Shape>{{Kind::Tx, kIdentRequest, std::nullopt},
                                                 {Kind::Tx, kIdentRequest, std::nullopt},
                                                 {Kind::Tx, kIdentRequest, rc::NoReply}}));
  // The frames mirror the writes exactly.
  ASSERT_EQ(t.port.writes.size(), 3u);
}

TEST(TrafficFrames, ABadReplyEndsAtTheNextRequest) {
  Rig t;
  Bytes damaged = kIdentReply;
  damaged.back() ^= 0xFF;
  t.port.Reply({damaged.begin(), damaged.begin() + 3});
  t.port.Reply({damaged.begin() + 3, damaged.end()});
  t.port.Reply({kIdentReply.begin(), kIdentReply.begin() + 3});
  t.port.Reply({kIdentReply.begin() + 3, kIdentReply.end()});
  ASSERT_EQ(t.Ident(), rc::Ok);

  EXPECT_EQ(t.Shapes(), (std::vector<Rig::Shape>{{Kind::Tx, kIdentRequest, std::nullopt},
                                                 {Kind::Rx, damaged, std::nullopt},
                                                 {Kind::Tx, kIdentRequest, std::nullopt},
                                                 {Kind::Rx, kIdentReply, rc::Ok}}));
}

TEST(TrafficFrames, ExchangesThatSendNothingStillShowTheirResult) {
  Rig t;
  // A broadcast is written and not answered; a refused function and a
  // closed port put nothing on the line.
  std::uint8_t reply[8];
  const std::uint8_t block[] = {0x10, 0x20};
  ASSERT_EQ(t.link.Request(0, 70, 2, block, reply, sizeof reply), rc::Ok);
  ASSERT_EQ(t.link.Request(0, 99, 0, nullptr, reply, sizeof reply), rc::BadFunction);
  t.port.open = false;
  ASSERT_EQ(t.Ident(), rc::PortClosed);

  ASSERT_EQ(t.log.Frames().size(), 3u);
  EXPECT_EQ(t.log.Frames()[0].kind, Kind::Tx);
  EXPECT_EQ(t.log.Frames()[0].bytes[0], 0x00);  // broadcast address
  EXPECT_EQ(t.log.Frames()[0].result, rc::Ok);
  EXPECT_EQ(t.Shapes()[1], (Rig::Shape{Kind::ResultOnly, {}, rc::BadFunction}));
  EXPECT_EQ(t.Shapes()[2], (Rig::Shape{Kind::ResultOnly, {}, rc::PortClosed}));
}

TEST(TrafficFrames, ADetachedLogHearsNothing) {
  Rig t;
  t.link.SetFrameObserver(nullptr);
  t.port.Reply(kIdentReply);
  ASSERT_EQ(t.Ident(), rc::Ok);
  EXPECT_TRUE(t.log.Frames().empty());
  EXPECT_TRUE(t.heard.empty());
}

// ------------------------------------------------------------ bound, clear, text

TEST(TrafficLogStore, KeepsOnlyTheNewestFramesButReportsAll) {
  FakePort port;
  ui::ScriptedMessageService messages;
  TComPortClass link{port, messages, [] {}};
  link.SetDelayFunction([](int) {});
  link.Retries1 = 1;
  port.open = true;
  TrafficLog log(3);
  int heard = 0;
  log.SetListener([&](const TrafficFrame&) { ++heard; });
  link.SetFrameObserver(&log);

  std::uint8_t reply[64];
  for (int address = 0; address < 5; ++address)
    link.Request(address, 17, 0, nullptr, reply, sizeof reply);  // time-outs: one Tx each

  EXPECT_EQ(heard, 5);
  ASSERT_EQ(log.Frames().size(), 3u);
  EXPECT_EQ(log.Dropped(), 2u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(log.Frames()[i].bytes[0], 3 + i);  // addresses 3, 4, 5
}

TEST(TrafficLogStore, ClearDropsFramesAndRestartsTheClock) {
  using namespace std::chrono_literals;
  TrafficLog log;
  const auto t0 = TrafficLog::Clock::now();
  log.Clear(t0);
  const std::uint8_t req[] = {1, 2};
  log.OnBytes(t0 + 5ms, pmlink::Direction::Tx, req);
  log.OnBytes(t0 + 7ms, pmlink::Direction::Rx, req);  // left open
  log.Clear(t0 + 10ms);
  EXPECT_TRUE(log.Frames().empty());

  // The open reply of before the clear does not swallow new bytes.
  log.OnBytes(t0 + 12500us, pmlink::Direction::Rx, req);
  log.OnResult(t0 + 13ms, 0, 17, 0);
  ASSERT_EQ(log.Frames().size(), 1u);
  EXPECT_EQ(log.Frames()[0].bytes, (Bytes{1, 2}));
  EXPECT_DOUBLE_EQ(log.Frames()[0].ms, 2.5);
}

TEST(TrafficLogStore, TextHasOneLinePerFrame) {
  using namespace std::chrono_literals;
  TrafficLog log;
  const auto t0 = TrafficLog::Clock::now();
  log.Clear(t0);
  log.OnBytes(t0 + 1ms, pmlink::Direction::Tx, kIdentRequest);
  log.OnBytes(t0 + 2250us, pmlink::Direction::Rx, std::span(kIdentReply).first(3));
  log.OnBytes(t0 + 3ms, pmlink::Direction::Rx, std::span(kIdentReply).subspan(3));
  log.OnResult(t0 + 4ms, 0, 17, 0);
  log.OnBytes(t0 + 1500ms, pmlink::Direction::Tx, kIdentRequest);
  log.OnResult(t0 + 2800ms, 0, 17, 130);
  log.OnResult(t0 + 3000ms, 0, 17, 256);

  EXPECT_EQ(log.Text(),
            "1,000\tTX\t[01][11][C0][2C]\t\n"
            "2,250\tRX\t<01><11><03><01><02><64><AC><C6>\t0\n"
            "1500,000\tTX\t[01][11][C0][2C]\t130\n"
            "3000,000\t--\t\t256\n");
}

}  // namespace
