// The request/response exchange against a scripted port: frames on the wire,
// attempt counts, pauses and result codes.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Comportclass.h"
#include "Crc16.h"
#include "FakePort.h"
#include "ScriptedMessageService.h"

using linktest::Bytes;
using linktest::FakePort;
using linktest::WithCrc;

namespace {

Bytes Head(const Bytes& b) { return Bytes(b.begin(), b.begin() + 3); }
Bytes Tail(const Bytes& b) { return Bytes(b.begin() + 3, b.end()); }

struct Link {
  FakePort port;
  ui::ScriptedMessageService messages;
  int closeRequests = 0;
  std::vector<int> delays;
  TComPortClass link{port, messages, [this] { ++closeRequests; }};

  Link() {
    link.SetDelayFunction([this](int ms) { delays.push_back(ms); });
    link.TxDelay = 7;
    port.open = true;
  }
};

// ---------------------------------------------------------------- CRC

struct CrcCase {
  const char* name;
  Bytes bytes;
  std::uint16_t crc;
};

class Crc : public ::testing::TestWithParam<CrcCase> {};

TEST_P(Crc, Value) {
  const auto& c = GetParam();
  EXPECT_EQ(TComPortClass::Crc16(static_cast<int>(c.bytes.size()), c.bytes.data()), c.crc);
}

INSTANTIATE_TEST_SUITE_P(
    Link, Crc,
    ::testing::Values(CrcCase{"check", {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x4B37},
                      CrcCase{"ident", {0x01, 0x11}, 0x2CC0},
                      CrcCase{"readRegs", {0x01, 0x03, 0x00, 0x12, 0x00, 0x08}, 0x09E4},
                      CrcCase{"empty", {}, 0xFFFF}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Frame, CrcGoesLowByteFirst) {
  Link t;
  t.port.Reply(WithCrc({0x01, 0x11, 0x03, 1, 2, 100}));
  std::uint8_t reply[64];
  ASSERT_EQ(t.link.Request(0, 17, 0, nullptr, reply, sizeof reply), rc::Ok);
  ASSERT_EQ(t.port.writes.size(), 1u);
  EXPECT_EQ(t.port.writes[0], (Bytes{0x01, 0x11, 0xC0, 0x2C}));
  EXPECT_EQ(t.link.FrameLen, 4);
  EXPECT_EQ(t.link.DataLen, 0);
  EXPECT_EQ(t.link.ReplyLen, 8);
  EXPECT_EQ(t.port.purges, 1);
  EXPECT_EQ(Bytes(reply, reply + 8), WithCrc({0x01, 0x11, 0x03, 1, 2, 100}));
}

// ---------------------------------------------------------- exchanges

struct ExchangeCase {
  const char* name;
  int device;
  int function;
  Bytes data;
  int retries1;
  int retries2;
  std::vector<Bytes> script;  // chunks, {} = time-out
  int result;
  int writes;
  std::vector<int> delays;  // 7 = TxDelay, 300 = pause after a failure
  int replyLen;             // -1: not checked
  std::size_t replySize = 64;
};

const Bytes kIdent = WithCrc({0x01, 0x11, 0x03, 6, 0x10, 101});
const Bytes kIdentBadHigh = [] {
  Bytes b = kIdent;
  b.back() ^= 0x01;
  return b;
}();
const Bytes kIdentBadLow = [] {
  Bytes b = kIdent;
  b[b.size() - 2] ^= 0x80;
  return b;
}();
const Bytes kMode = WithCrc({0x01, 0x05, 0x10, 0x01, 0xFF, 0x00});
const Bytes kEchoed68 = WithCrc({0x01, 0x44});
const Bytes kBlock32 = [] {
  Bytes b{0x20, 0x44, 24, 0x43};
  for (std::uint8_t i = 1; i < 24; ++i) b.push_back(i);
  return WithCrc(b);
}();
const Bytes kBlock32BadCrc = [] {
  Bytes b = kBlock32;
  b.back() ^= 0x01;
  return b;
}();

std::vector<ExchangeCase> ExchangeCases() {
  return {
      {"SilentInstrument",
       0,
       17,
       {},
       5,
       10,
       {},
       rc::NoReply,
       5,
       {7, 300, 7, 300, 7, 300, 7, 300, 7, 300},
       -1},
      {"HeaderThenSilenceEndsOnStage2Counter",
       0,
       17,
       {},
       5,
       3,
       {Head(kIdent), {}, Head(kIdent), {}, Head(kIdent), {}},
       rc::NoReply,
       3,
       {7, 300, 7, 300, 7, 300},
       8},
      {"StageOneReloadsOnGoodHeader",
       0,
       17,
       {},
       2,
       10,
       {{}, Head(kIdentBadHigh), Tail(kIdentBadHigh), {}, Head(kIdent), Tail(kIdent)},
       rc::Ok,
       4,
       {7, 300, 7, 300, 7, 300, 7},
       8},
      {"ExceptionReturnsCodeAtOnce",
       4,
       3,
       {0, 0, 0, 1},
       5,
       10,
       {WithCrc({0x05, 0x83, 0x02})},
       2,
       1,
       {7},
       5},
      {"ExceptionBusy", 0, 68, {}, 5, 10, {WithCrc({0x01, 0xC4, 0x06})}, rc::Busy, 1, {7}, 5},
      {"ExceptionCodeZeroIsOrdinaryReply",
       0,
       3,
       {0, 0, 0, 1},
       5,
       10,
       {WithCrc({0x01, 0x83, 0x00})},
       rc::Ok,
       1,
       {7},
       5},
      {"CrcHighByteWrong", 0, 17, {}, 5, 1, {kIdentBadHigh}, rc::CrcError, 1, {7, 300}, 8},
      {"CrcLowByteWrong", 0, 17, {}, 5, 1, {kIdentBadLow}, rc::CrcError, 1, {7, 300}, 8},
      {"DamagedReplyRecoveredByRetry",
       0,
       17,
       {},
       5,
       10,
       {kIdentBadHigh, kIdent},
       rc::Ok,
       2,
       {7, 300, 7},
       8},
      {"ShortHeader",
       0,
       17,
       {},
       2,
       10,
       {{0x01, 0x11}, {0x01}},
       rc::Incomplete,
       2,
       {7, 300, 7, 300},
       -1},
      {"ShortRest", 0, 17, {}, 5, 1, {Head(kIdent), {0x06, 0x10}}, rc::Incomplete, 1, {7, 300}, 8},
      {"ForeignFunctionEverywhere",
       0,
       17,
       {},
       3,
       10,
       {{0x01, 0x12, 0x00}, {0x01, 0x12, 0x00}, {0x01, 0x12, 0x00}},
       rc::ReceiveError,
       3,
       {7, 300, 7, 300, 7, 300},
       -1},
      // Byte 2 of a function 5 reply is not a count (0x10 would mean 21 bytes).
      {"Function5ReplyAsLongAsRequest",
       0,
       5,
       {0x10, 0x01, 0xFF, 0x00},
       5,
       1,
       {kMode},
       rc::Ok,
       1,
       {7},
       8},
      {"Function14ReplyOfFourBytes", 0, 14, {}, 5, 1, {WithCrc({0x01, 0x0E})}, rc::Ok, 1, {7}, 4},
      {"Function15ReplyOfEightBytes",
       0,
       15,
       {0, 1, 0, 2, 1, 0},
       5,
       1,
       {WithCrc({0x01, 0x0F, 0x00, 0x01, 0x00, 0x02})},
       rc::Ok,
       1,
       {7},
       8},
      {"Function69NoReplyRead", 0, 69, {8, 1, 2, 3, 4, 5, 6, 7, 8}, 5, 10, {}, rc::Ok, 1, {7}, -1},
      {"Function70NoReplyRead", 0, 70, {}, 5, 10, {}, rc::Ok, 1, {7}, -1},
      // The count says 32 data bytes, the buffer holds 10.
      {"ReplyLargerThanBuffer",
       0,
       17,
       {},
       5,
       2,
       {{0x01, 0x11, 0x20}, {}, {0x01, 0x11, 0x20}, {}},
       rc::ReceiveError,
       2,
       {7, 300, 7, 300},
       37,
       10},
      // Its rest is thrown away, so the retry reads the next reply from its start.
      {"OverlongReplyDrainedBeforeRetry",
       0,
       17,
       {},
       5,
       2,
       {{0x01, 0x11, 0x20}, Bytes(34, 0x11), kIdent},
       rc::Ok,
       2,
       {7, 300, 7},
       8,
       10},
      // Address 32, function 68: the request 20 44 18 43 is also how a valid
      // 24-byte block starting with 0x43 begins. Not an echo, damaged or not.
      {"ReplyBeginningLikeTheRequest", 31, 68, {}, 5, 1, {kBlock32}, rc::Ok, 1, {7}, 29},
      {"DamagedReplyBeginningLikeTheRequest",
       31,
       68,
       {},
       5,
       1,
       {kBlock32BadCrc},
       rc::CrcError,
       1,
       {7, 300},
       29},
      // A half-duplex adapter returning the request before the reply.
      {"EchoedRequestWithoutData",
       0,
       68,
       {},
       5,
       10,
       {kEchoed68, WithCrc({0x01, 0x44, 0x00})},
       rc::Echo,
       1,
       {7},
       -1,
       300},
      {"EchoedRequestBufferTooSmall",
       0,
       68,
       {},
       5,
       10,
       {kEchoed68, WithCrc({0x01, 0x44, 0x00})},
       rc::Echo,
       1,
       {7},
       -1,
       8},
      {"EchoedRequestWithData",
       0,
       71,
       {0x00, 0x01},
       5,
       10,
       {WithCrc({0x01, 0x47, 0x00, 0x01}), WithCrc({0x01, 0x47, 0x00})},
       rc::Echo,
       1,
       {7},
       -1},
  };
}

class Exchange : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(Exchange, ResultAttemptsAndPauses) {
  const auto& c = GetParam();
  Link t;
  t.link.Retries1 = c.retries1;
  t.link.Retries2 = c.retries2;
  for (const auto& chunk : c.script) t.port.Reply(chunk);

  // The reply buffer sits between guard bytes that must stay untouched.
  constexpr std::uint8_t kGuard = 0xA5;
  std::vector<std::uint8_t> memory(c.replySize + 32, kGuard);
  std::uint8_t* reply = memory.data() + 16;

  const int result = t.link.Request(c.device, c.function, static_cast<int>(c.data.size()),
                                    c.data.data(), reply, c.replySize);
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(static_cast<int>(t.port.writes.size()), c.writes);
  EXPECT_EQ(t.delays, c.delays);
  EXPECT_EQ(t.port.purges, 1);
  if (c.replyLen >= 0) {
    EXPECT_EQ(t.link.ReplyLen, c.replyLen);
  }
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(memory[i], kGuard) << "before the buffer at " << i;
    EXPECT_EQ(memory[16 + c.replySize + i], kGuard) << "past the buffer at " << i;
  }
  for (const auto& w : t.port.writes) EXPECT_EQ(w, t.port.writes.front()) << "resent frame differs";
  EXPECT_TRUE(t.messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Link, Exchange, ::testing::ValuesIn(ExchangeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Exchange, ExceptionCrcIsNotRead) {
  Link t;
  t.port.Reply(WithCrc({0x05, 0x83, 0x02}));
  std::uint8_t reply[16];
  const std::uint8_t data[] = {0, 0, 0, 1};
  ASSERT_EQ(t.link.Request(4, 3, 4, data, reply, sizeof reply), 2);
  EXPECT_EQ(t.port.reads, (std::vector<int>{3}));
  EXPECT_EQ(t.port.replies.size(), 1u) << "the CRC bytes stay in the driver";
  EXPECT_EQ(t.port.writes[0][0], 5) << "address is device index + 1";
}

TEST(Exchange, Function70AddressRule) {
  Link t;
  std::uint8_t reply[8];
  const std::uint8_t data[] = {0x12, 0x34};
  ASSERT_EQ(t.link.Request(4, 70, 2, data, reply, sizeof reply), rc::Ok);
  ASSERT_EQ(t.link.Request(4, 70, 0, nullptr, reply, sizeof reply), rc::Ok);
  ASSERT_EQ(t.link.Request(4, 17, 2, data, reply, sizeof reply), rc::NoReply);
  EXPECT_EQ(t.port.writes[0], WithCrc({0x00, 70, 0x12, 0x34}));
  EXPECT_EQ(t.port.writes[1], WithCrc({0x05, 70}));
  EXPECT_EQ(t.port.writes[2], WithCrc({0x05, 17, 0x12, 0x34}));
  EXPECT_EQ(t.link.FrameLen, 6);
  EXPECT_EQ(t.link.DataLen, 2);
}

TEST(Exchange, OnlyTheListedFunctionsAreSent) {
  const std::vector<int> allowed = {1, 2, 3, 4, 5, 6, 14, 15, 17, 18, 66, 67, 68, 69, 70, 71, 100};
  for (int f = 0; f < 256; ++f) {
    for (const bool open : {false, true}) {
      Link t;
      t.port.open = open;
      std::uint8_t reply[8];
      const int r = t.link.Request(0, f, 0, nullptr, reply, sizeof reply);
      const bool isAllowed = std::find(allowed.begin(), allowed.end(), f) != allowed.end();
      if (isAllowed) {
        EXPECT_NE(r, rc::BadFunction) << f;
        EXPECT_EQ(r == rc::PortClosed, !open) << f;
      } else {
        EXPECT_EQ(r, rc::BadFunction) << f;
        EXPECT_EQ(t.port.purges, 0) << f;
        EXPECT_TRUE(t.port.writes.empty()) << f;
        EXPECT_TRUE(t.port.reads.empty()) << f;
      }
    }
  }
}

TEST(Exchange, ClosedPortGives256AndReportClosesIt) {
  Link t;
  t.port.open = false;
  std::uint8_t reply[8];
  EXPECT_EQ(t.link.Request(0, 17, 0, nullptr, reply, sizeof reply), rc::PortClosed);
  EXPECT_EQ(t.port.purges, 0);
  EXPECT_TRUE(t.port.writes.empty());
  EXPECT_TRUE(t.delays.empty());

  t.port.open = true;  // the report closes the port whatever its state
  t.link.ReportError(0, rc::PortClosed);
  EXPECT_FALSE(t.port.open);
  EXPECT_GE(t.port.closes, 1);
  ASSERT_EQ(t.messages.shown.size(), 1u);
  EXPECT_EQ(t.messages.Last().text, "Не выбран COM-порт.");
  EXPECT_EQ(t.messages.Last().caption, "Ошибка");
  EXPECT_EQ(t.messages.Last().icon, ui::Icon::Error);
}

TEST(Exchange, PurgeFailureReportsDisconnectAndGoesOn) {
  Link t;
  t.port.purgeErrno = EIO;
  t.port.Reply(kIdent);
  std::uint8_t reply[16];
  EXPECT_EQ(t.link.Request(0, 17, 0, nullptr, reply, sizeof reply), rc::Ok);
  ASSERT_EQ(t.messages.shown.size(), 1u);
  EXPECT_EQ(t.messages.Last().text,
            "COM-порт отключен. Проверьте оборудование, перезапустите программу.");
  EXPECT_EQ(t.messages.Last().caption, "Ошибка");
  EXPECT_EQ(t.messages.Last().icon, ui::Icon::Error);
  EXPECT_EQ(t.closeRequests, 1);
  EXPECT_EQ(t.port.writes.size(), 1u);
}

TEST(Exchange, PortErrorsDuringTheExchangeReachTheCaller) {
  struct Unplugged : FakePort {
    int Read(std::uint8_t*, int) override { throw pmlink::SerialPortError("unplugged", EIO); }
  };
  Unplugged port;
  port.open = true;
  ui::ScriptedMessageService messages;
  TComPortClass link(port, messages, [] {});
  link.SetDelayFunction([](int) {});
  std::uint8_t reply[16];
  EXPECT_THROW(link.Request(0, 17, 0, nullptr, reply, sizeof reply), pmlink::SerialPortError);
  EXPECT_TRUE(messages.shown.empty());
}

// ------------------------------------------------------------ observer

struct Recorder : pmlink::FrameObserver {
  std::vector<std::pair<pmlink::Direction, Bytes>> chunks;
  std::vector<int> results;
  void OnBytes(std::chrono::steady_clock::time_point, pmlink::Direction d,
               std::span<const std::uint8_t> b) override {
    chunks.emplace_back(d, Bytes(b.begin(), b.end()));
  }
  void OnResult(std::chrono::steady_clock::time_point, int, int, int result) override {
    results.push_back(result);
  }
};

TEST(Observer, SeesEveryChunkAndTheResult) {
  Link t;
  Recorder rec;
  t.link.SetFrameObserver(&rec);
  t.link.Retries2 = 1;
  t.port.Reply(Head(kIdent));
  t.port.Reply(Tail(kIdent));
  std::uint8_t reply[16];
  ASSERT_EQ(t.link.Request(0, 17, 0, nullptr, reply, sizeof reply), rc::Ok);
  ASSERT_EQ(rec.chunks.size(), 3u);
  EXPECT_EQ(rec.chunks[0].first, pmlink::Direction::Tx);
  EXPECT_EQ(rec.chunks[0].second, (Bytes{0x01, 0x11, 0xC0, 0x2C}));
  EXPECT_EQ(rec.chunks[1].first, pmlink::Direction::Rx);
  EXPECT_EQ(rec.chunks[1].second, Head(kIdent));
  EXPECT_EQ(rec.chunks[2].second, Tail(kIdent));
  EXPECT_EQ(rec.results, (std::vector<int>{rc::Ok}));

  t.link.SetFrameObserver(nullptr);
  t.link.Request(0, 17, 0, nullptr, reply, sizeof reply);
  EXPECT_EQ(rec.results.size(), 1u);
}

// -------------------------------------------------------------- Delay

TEST(Delay, SleepsAtLeastTheTime) {
  FakePort port;
  ui::ScriptedMessageService messages;
  TComPortClass link(port, messages, [] {});
  const auto start = std::chrono::steady_clock::now();
  link.Delay(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

}  // namespace
