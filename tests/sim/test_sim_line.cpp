// The simulated line on raw frames: what each instrument answers, how the
// line cuts bytes into frames, and the faults tests switch on.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "DisplayFormat.h"
#include "Line.h"

using namespace std::chrono_literals;
using sim::Bytes;
using sim::Clock;
using sim::Dir;
using sim::Fault;
using sim::FaultKind;

namespace {

Bytes Req(std::uint8_t addr, std::uint8_t fn, Bytes data = {}) { return sim::MakeFrame(addr, fn, data); }

// The data bytes of an ordinary reply, after checking its frame.
Bytes DataOf(const Bytes& reply, std::uint8_t addr, std::uint8_t fn) {
  EXPECT_GE(reply.size(), 5u);
  if (reply.size() < 5) return {};
  EXPECT_EQ(reply[0], addr);
  EXPECT_EQ(reply[1], fn);
  EXPECT_EQ(reply.size(), reply[2] + 5u) << sim::Hex(reply);
  EXPECT_TRUE(sim::CrcOk(reply));
  return Bytes(reply.begin() + 3, reply.end() - 2);
}

int Le16(const Bytes& b, std::size_t at) { return static_cast<std::int16_t>(b[at] | (b[at + 1] << 8)); }

}  // namespace

TEST(SimFrame, CrcOfKnownFrames) {
  EXPECT_EQ(Req(1, 17), (Bytes{0x01, 0x11, 0xC0, 0x2C}));
  const Bytes text{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  Bytes f = text;
  sim::AppendCrc(f);
  EXPECT_EQ(f[9], 0x37);
  EXPECT_EQ(f[10], 0x4B);
  f[10] ^= 1;
  EXPECT_FALSE(sim::CrcOk(f));
}

// ---- identification and parameter block per model and version ----

struct IdentCase {
  int model;
  int version;
  bool privileged;
  std::size_t blockLength;
};

class SimIdentification : public testing::TestWithParam<IdentCase> {};

TEST_P(SimIdentification, IdentityAndBlockLayout) {
  const auto c = GetParam();
  sim::Line line;
  line.Add({.address = 7, .model = c.model, .version = c.version, .privileged = c.privileged});

  const Bytes id = DataOf(line.Exchange(Req(7, 17)).bytes, 7, 17);
  ASSERT_GE(id.size(), 3u);
  EXPECT_EQ(id[0], c.version);
  EXPECT_EQ(id[2], c.model);

  const Bytes block = DataOf(line.Exchange(Req(7, 68)).bytes, 7, 68);
  ASSERT_EQ(block.size(), c.blockLength);
  EXPECT_EQ(block[11], 6) << "Nu is the address - 1";
  EXPECT_EQ((block[4] & 0x80) != 0, !c.privileged) << "bit 7 of the flags is the access mode";
  // The identification carries the start correction from the flags.
  EXPECT_EQ(id[1] & 0x70, block[4] & 0x70);
  EXPECT_EQ(id[1] & 0x0F, 0);
  EXPECT_LT(Le16(block, 0), Le16(block, 2)) << "scale start below scale end";
  if (c.model == sim::model::ZetTp) {
    EXPECT_LT(Le16(block, 12), Le16(block, 14)) << "cold-junction scale";
  }
  if (c.blockLength == 40 && c.version >= 4) {
    EXPECT_NE(block[38] & 0x0F, 0) << "scale-end correction of a ЗЕТ";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, SimIdentification,
    testing::Values(IdentCase{100, 5, true, 16}, IdentCase{100, 1, false, 16},
                    IdentCase{101, 6, true, 40}, IdentCase{101, 2, true, 20},
                    IdentCase{102, 6, false, 40}, IdentCase{102, 1, true, 20},
                    IdentCase{103, 4, true, 16}, IdentCase{255, 3, true, 16},
                    IdentCase{104, 5, true, 16}));

// ---- every function: reply shape ----

struct FunctionCase {
  const char* name;
  int model;
  int version;
  std::uint8_t function;
  Bytes data;
  Bytes prefix;      // expected reply bytes after the address
  std::size_t size;  // expected reply length
};

class SimFunctions : public testing::TestWithParam<FunctionCase> {};

TEST_P(SimFunctions, ReplyShape) {
  const auto c = GetParam();
  sim::Line line;
  line.Add({.address = 3, .model = c.model, .version = c.version});
  const Bytes reply = line.Exchange(Req(3, c.function, c.data)).bytes;
  ASSERT_EQ(reply.size(), c.size) << sim::Hex(reply);
  EXPECT_EQ(reply[0], 3);
  EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), reply.begin() + 1)) << sim::Hex(reply);
  EXPECT_TRUE(sim::CrcOk(reply));
}

INSTANTIATE_TEST_SUITE_P(
    All, SimFunctions,
    testing::Values(
        FunctionCase{"echo14", 100, 5, 14, {}, {14}, 4},
        FunctionCase{"measure", 102, 6, 71, {0x00, 0x01}, {71, 9}, 14},
        FunctionCase{"measureBadData", 102, 6, 71, {0x00, 0x02}, {71 | 0x80, 2}, 5},
        FunctionCase{"registersV6Ts", 101, 6, 4, {0, 0, 0, 4}, {4, 8}, 13},
        FunctionCase{"registersV6Tp", 102, 6, 4, {0, 0, 0, 4}, {4, 8}, 13},
        FunctionCase{"registersV5", 101, 5, 4, {0, 0, 0, 4}, {4 | 0x80, 1}, 5},
        FunctionCase{"registersKard", 100, 6, 4, {0, 0, 0, 4}, {4 | 0x80, 1}, 5},
        FunctionCase{"calibrationOn", 100, 5, 5, {0x10, 0x01, 0xFF, 0x00}, {5, 0x10, 0x01, 0xFF, 0x00}, 8},
        FunctionCase{"calibrationOff", 102, 1, 5, {0x10, 0x01, 0x00, 0x00}, {5, 0x10, 0x01, 0x00, 0x00}, 8},
        FunctionCase{"outputControlLunt", 103, 4, 5, {0x10, 0x02, 0xFF, 0x00}, {5, 0x10, 0x02, 0xFF, 0x00}, 8},
        FunctionCase{"outputControlKard", 100, 4, 5, {0x10, 0x02, 0xFF, 0x00}, {5 | 0x80, 2}, 5},
        FunctionCase{"switchUnknown", 100, 4, 5, {0x10, 0x07, 0xFF, 0x00}, {5 | 0x80, 2}, 5},
        FunctionCase{"outputWhileOff", 103, 4, 6, {0x00, 0x01, 0x1F, 0xFF}, {6 | 0x80, 4}, 5},
        FunctionCase{"outputNotLunt", 101, 6, 6, {0x00, 0x01, 0x1F, 0xFF}, {6 | 0x80, 1}, 5},
        FunctionCase{"unknown3", 100, 5, 3, {0, 0, 0, 1}, {3 | 0x80, 1}, 5},
        FunctionCase{"unknown100", 103, 5, 100, {}, {100 | 0x80, 1}, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimFunctions, RegistersCarryResistanceOrEmf) {
  sim::Line line;
  auto& ts = line.Add({.address = 1, .model = sim::model::ZetTs, .version = 6});
  auto& tp = line.Add({.address = 2, .model = sim::model::ZetTp, .version = 6});
  auto floatAt = [](const Bytes& d, std::size_t at) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(d[at] << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3]));
  };
  const Bytes reg{0, 0, 0, 4};
  const float ohms = floatAt(DataOf(line.Exchange(Req(1, 4, reg)).bytes, 1, 4), 4);
  EXPECT_GT(ohms, 99.0f);   // a Pt100 somewhere on 0..150 °C
  EXPECT_LT(ohms, 160.0f);
  const float mv = floatAt(DataOf(line.Exchange(Req(2, 4, reg)).bytes, 2, 4), 4);
  EXPECT_GE(mv, 0.0f);
  EXPECT_LT(mv, 10.0f);

  ts.SetSensorValue(109.73f);
  tp.SetSensorValue(-1.25f);
  EXPECT_EQ(floatAt(DataOf(line.Exchange(Req(1, 4, reg)).bytes, 1, 4), 4), 109.73f);
  EXPECT_EQ(floatAt(DataOf(line.Exchange(Req(2, 4, reg)).bytes, 2, 4), 4), -1.25f);
}

// ---- block write ----

TEST(SimBlockWrite, StoresBlockMovesAddressAndIsBusyMeanwhile) {
  sim::Line line;
  auto& inst = line.Add({.address = 2, .model = sim::model::ZetTs, .version = 6});
  inst.SetWriteTime(300ms);
  const auto t0 = Clock::now();
  Bytes block = DataOf(line.Exchange(Req(2, 68), t0).bytes, 2, 68);
  block[11] = 9;   // Nu: address 10
  block[0] = 0x34;  // KBegSk low byte

  EXPECT_TRUE(line.Exchange(Req(2, 69, block), t0).bytes.empty()) << "a block write has no reply";
  EXPECT_EQ(inst.Address(), 10);
  EXPECT_TRUE(line.Exchange(Req(2, 17), t0 + 400ms).bytes.empty()) << "the old address is gone";

  // While writing, every request gets exception 6.
  EXPECT_EQ(line.Exchange(Req(10, 14), t0 + 100ms).bytes, Req(10, 14 | 0x80, {6}));
  EXPECT_EQ(line.Exchange(Req(10, 68), t0 + 299ms).bytes, Req(10, 68 | 0x80, {6}));
  // Afterwards the new block is served at the new address.
  EXPECT_EQ(line.Exchange(Req(10, 14), t0 + 1000ms).bytes, Req(10, 14));
  const Bytes stored = DataOf(line.Exchange(Req(10, 68), t0 + 1000ms).bytes, 10, 68);
  EXPECT_EQ(stored, block);
}

TEST(SimBlockWrite, CorrectionCodeFromWrittenFlagsButAccessModeStays) {
  sim::Line line;
  auto& inst = line.Add({.address = 1, .model = sim::model::Kard, .version = 5, .privileged = false});
  inst.SetWriteTime(0ms);
  Bytes block = DataOf(line.Exchange(Req(1, 68)).bytes, 1, 68);
  EXPECT_EQ(block[4] & 0x80, 0x80);
  block[4] = 0x36;  // correction code 3, alarm type HH, break state max
  line.Exchange(Req(1, 69, block));
  EXPECT_EQ(DataOf(line.Exchange(Req(1, 17)).bytes, 1, 17)[1], 0x30);
  EXPECT_EQ(DataOf(line.Exchange(Req(1, 68)).bytes, 1, 68)[4], 0xB6) << "still non-privileged";
}

// ---- measurement, calibration and output control ----

TEST(SimMeasurement, MovesUntilFrozenAndFollowsTheScale) {
  sim::Line line;
  auto& inst = line.Add({.address = 1, .model = sim::model::ZetTp, .version = 6});
  const auto t0 = Clock::now();
  std::vector<int> rez;
  for (int s = 0; s < 40; s += 5) rez.push_back(inst.MeasurementAt(t0 + std::chrono::seconds(s)).rez);
  EXPECT_NE(*std::min_element(rez.begin(), rez.end()), *std::max_element(rez.begin(), rez.end()));
  for (int r : rez) {
    EXPECT_GE(r, 0);
    EXPECT_LE(r, 8191);
  }
  const auto m = inst.MeasurementAt(t0);
  EXPECT_GT(m.txc, 1500) << "cold junction near room temperature";
  EXPECT_LT(m.txc, 2200);

  inst.Freeze();
  const auto a = inst.MeasurementAt(t0);
  const auto b = inst.MeasurementAt(t0 + 17s);
  EXPECT_EQ(a.Encode(), b.Encode());
}

TEST(SimMeasurement, ReplyIsTheBigEndianBlock) {
  sim::Line line;
  auto& inst = line.Add({.address = 1, .model = sim::model::Kard, .version = 5});
  inst.SetMeasurement({.rez = -2, .status = 0xA1, .kodAcp = 0x1234, .txc = 7, .kodTxc = 0x0102});
  EXPECT_EQ(DataOf(line.Exchange(Req(1, 71, {0, 1})).bytes, 1, 71),
            (Bytes{0xFF, 0xFE, 0xA1, 0x12, 0x34, 0x00, 0x07, 0x01, 0x02}));
}

// The alarm digits as the window shows them (bit 1, then bit 0): the left
// one belongs to the block's first setpoint word and the type's first letter,
// the right one to the second word and the second letter; L trips below, H
// above. The setpoints stand 20 codes apart around the measured value.
struct AlarmCase {
  const char* type;
  int flags;  // bits 0-1 of the block's flags byte
  const char* below;    // the value under both setpoints
  const char* between;  // above the first word's setpoint, under the second's
  const char* above;    // above both
};

TEST(SimMeasurement, AlarmDigitsStandUnderTheSetpointThatTripped) {
  const AlarmCase cases[] = {
      {"LH", 0, "10", "00", "01"},
      {"LL", 1, "11", "01", "00"},
      {"HH", 2, "00", "10", "11"},
      {"HH", 3, "00", "10", "11"},
  };
  for (const int modelCode : {sim::model::Kard, sim::model::ZetTs, sim::model::ZetTp}) {
    for (const AlarmCase& c : cases) {
      sim::Line line;
      auto& inst = line.Add({.address = 1, .model = modelCode, .version = 5});
      Bytes block = inst.Block();
      const auto t0 = Clock::now();
      inst.Freeze();
      const int rez = inst.MeasurementAt(t0).rez;
      auto digits = [&](int first, int second) {
        block[4] = static_cast<std::uint8_t>((block[4] & ~3) | c.flags);
        block[5] = first & 0xFF, block[6] = (first >> 8) & 0xFF;
        block[7] = second & 0xFF, block[8] = (second >> 8) & 0xFF;
        inst.SetBlock(block);
        const std::uint8_t status = inst.MeasurementAt(t0).status;
        EXPECT_EQ(inst.StatusOf(static_cast<std::int16_t>(rez)), status) << "a fixed result gets the same bits";
        return pmdev::AlarmState(status).digits;
      };
      SCOPED_TRACE(std::string(c.type) + " flags " + std::to_string(c.flags) + " model " + std::to_string(modelCode));
      EXPECT_EQ(digits(rez + 10, rez + 30), c.below);
      EXPECT_EQ(digits(rez - 10, rez + 10), c.between);
      EXPECT_EQ(digits(rez - 30, rez - 10), c.above);
      EXPECT_EQ(digits(rez, rez), "00") << "a value on a setpoint trips neither";
    }
    sim::Line line;
    const auto& inst = line.Add({.address = 1, .model = modelCode, .version = 5});
    const int full = modelCode == sim::model::Kard ? 16383 : 8191;
    EXPECT_EQ(inst.StatusOf(-1) & 0xE0, 0x20) << "underflow";
    EXPECT_EQ(inst.StatusOf(static_cast<std::int16_t>(full)) & 0xE0, 0);
    EXPECT_EQ(inst.StatusOf(static_cast<std::int16_t>(full + 1)) & 0xE0, 0x80) << "overflow";
  }
}

TEST(SimCalibration, AdcCodesAreThoseOfTheReference) {
  sim::Line line;
  auto& inst = line.Add({.address = 3, .model = sim::model::ZetTp, .version = 4});
  inst.SetCalibrationReference(14800, 2345);  // the scale-end signal
  auto measure = [&] { return sim::Measurement::Decode(DataOf(line.Exchange(Req(3, 71, {0, 1})).bytes, 3, 71)); };

  line.Exchange(Req(3, 5, {0x10, 0x01, 0xFF, 0x00}));
  EXPECT_TRUE(inst.CalibrationMode());
  const auto on = measure();
  EXPECT_EQ(on.kodAcp, 14800);
  EXPECT_EQ(on.kodTxc, 2345);
  EXPECT_EQ(on.rez, 8191) << "the stored scale end reads as full scale";

  line.Exchange(Req(3, 5, {0x10, 0x01, 0x00, 0x00}));
  EXPECT_FALSE(inst.CalibrationMode());
  const auto off = measure();
  EXPECT_NE(off.kodAcp, 14800);
  EXPECT_NE(off.kodTxc, 2345);
}

TEST(SimOutputControl, LuntDrivesItsOutputWithTheCode) {
  sim::Line line;
  auto& lunt = line.Add({.address = 4, .model = sim::model::Lunt, .version = 4});
  line.Exchange(Req(4, 5, {0x10, 0x02, 0xFF, 0x00}));
  EXPECT_EQ(line.Exchange(Req(4, 6, {0x00, 0x01, 0x1F, 0xFF})).bytes,
            Req(4, 6, {4, 0x00, 0x01, 0x1F, 0xFF}));
  EXPECT_EQ(lunt.OutputCode(), 8191);
  const auto m = sim::Measurement::Decode(DataOf(line.Exchange(Req(4, 71, {0, 1})).bytes, 4, 71));
  EXPECT_EQ(m.rez, 8191);
  EXPECT_EQ(m.status & 0x03, 0) << "the ЛУНТ has no alarms";

  line.Exchange(Req(4, 5, {0x10, 0x02, 0x00, 0x00}));
  EXPECT_FALSE(lunt.OutputControlMode());
  EXPECT_EQ(line.Exchange(Req(4, 6, {0x00, 0x01, 0x00, 0x00})).bytes[1], 6 | 0x80);
}

// ---- faults ----

struct FaultCase {
  const char* name;
  Fault fault;
  // Checks the faulty reply to the identification 01 11 C0 2C.
  std::function<void(const sim::Reply&, const Bytes& good)> check;
};

class SimFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(SimFaults, OnceThenHealthyOrPersistent) {
  const auto& c = GetParam();
  for (const bool persistent : {false, true}) {
    SCOPED_TRACE(persistent ? "persistent" : "once");
    sim::Line line;
    auto& inst = line.Add({.address = 1, .model = sim::model::Kard, .version = 5});
    const Bytes good = line.Exchange(Req(1, 17)).bytes;
    Fault f = c.fault;
    f.times = persistent ? Fault::kPersistent : 1;
    inst.InjectFault(f);
    c.check(line.Exchange(Req(1, 17)), good);
    const sim::Reply next = line.Exchange(Req(1, 17));
    if (persistent) {
      c.check(next, good);
      EXPECT_EQ(inst.FaultRemaining(), Fault::kPersistent);
      inst.ClearFault();
      EXPECT_EQ(line.Exchange(Req(1, 17)).bytes, good);
    } else {
      EXPECT_EQ(next.bytes, good);
      EXPECT_EQ(next.delay, 0ms);
      EXPECT_EQ(inst.FaultRemaining(), 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SimFaults,
    testing::Values(
        FaultCase{"Silence", Fault{.kind = FaultKind::Silence},
                  [](const sim::Reply& r, const Bytes&) { EXPECT_TRUE(r.bytes.empty()); }},
        FaultCase{"TruncatedHalf", Fault{.kind = FaultKind::Truncated},
                  [](const sim::Reply& r, const Bytes& good) {
                    EXPECT_EQ(r.bytes, Bytes(good.begin(), good.begin() + 4));
                  }},
        FaultCase{"TruncatedToHeader", Fault{.kind = FaultKind::Truncated, .keepBytes = 3},
                  [](const sim::Reply& r, const Bytes& good) {
                    EXPECT_EQ(r.bytes, Bytes(good.begin(), good.begin() + 3));
                  }},
        FaultCase{"BadCrc", Fault{.kind = FaultKind::BadCrc},
                  [](const sim::Reply& r, const Bytes& good) {
                    ASSERT_EQ(r.bytes.size(), good.size());
                    EXPECT_FALSE(sim::CrcOk(r.bytes));
                    EXPECT_EQ(r.bytes[good.size() - 2], good[good.size() - 2]) << "one CRC byte right";
                  }},
        FaultCase{"ForeignFunction", Fault{.kind = FaultKind::ForeignFunction},
                  [](const sim::Reply& r, const Bytes& good) {
                    ASSERT_EQ(r.bytes.size(), good.size());
                    EXPECT_NE(r.bytes[1], 17);
                    EXPECT_NE(r.bytes[1], 17 | 0x80);
                    EXPECT_TRUE(sim::CrcOk(r.bytes));
                  }},
        FaultCase{"Exception", Fault{.kind = FaultKind::Exception, .exceptionCode = 2},
                  [](const sim::Reply& r, const Bytes&) { EXPECT_EQ(r.bytes, Req(1, 0x91, {2})); }},
        FaultCase{"Slow", Fault{.kind = FaultKind::Slow, .delay = 250ms, .byteGap = 30ms},
                  [](const sim::Reply& r, const Bytes& good) {
                    EXPECT_EQ(r.bytes, good);
                    EXPECT_EQ(r.delay, 250ms);
                    EXPECT_EQ(r.byteGap, 30ms);
                  }},
        FaultCase{"Stray", Fault{.kind = FaultKind::Stray, .stray = {0xAA, 0x55}},
                  [](const sim::Reply& r, const Bytes& good) {
                    Bytes expected{0xAA, 0x55};
                    expected.insert(expected.end(), good.begin(), good.end());
                    EXPECT_EQ(r.bytes, expected);
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimFaults, SecondTryAnswersOnlyTheRepetition) {
  sim::Line line;
  auto& inst = line.Add({.address = 1, .model = sim::model::Kard, .version = 5});
  inst.InjectFault(Fault::Persistent(FaultKind::SecondTry));
  EXPECT_TRUE(line.Exchange(Req(1, 17)).bytes.empty());
  EXPECT_FALSE(line.Exchange(Req(1, 17)).bytes.empty());
  EXPECT_TRUE(line.Exchange(Req(1, 68)).bytes.empty());
  EXPECT_TRUE(line.Exchange(Req(1, 71, {0, 1})).bytes.empty()) << "another request starts over";
  EXPECT_FALSE(line.Exchange(Req(1, 71, {0, 1})).bytes.empty());
}

TEST(SimFaults, SilenceSwallowsABlockWriteAndFaultsCountRepliesOnly) {
  sim::Line line;
  auto& inst = line.Add({.address = 1, .model = sim::model::Kard, .version = 5});
  inst.SetWriteTime(0ms);
  Bytes block = inst.Block();
  block[11] = 4;
  inst.InjectFault(Fault::Once(FaultKind::Silence));
  line.Exchange(Req(1, 69, block));
  EXPECT_EQ(inst.Address(), 1) << "the write was not heard";

  inst.InjectFault(Fault::Once(FaultKind::BadCrc));
  line.Exchange(Req(1, 69, block));
  EXPECT_EQ(inst.Address(), 5);
  EXPECT_EQ(inst.FaultRemaining(), 1) << "a write has no reply to damage";
  EXPECT_FALSE(sim::CrcOk(line.Exchange(Req(5, 14)).bytes));
}

// ---- framing of received bytes ----

TEST(SimLineFraming, SplitJoinedDamagedAndForeignFrames) {
  sim::Line line;
  line.AddDefaultSet();
  const auto t0 = Clock::now();
  const Bytes ident = Req(2, 17);

  // A frame in two pieces is served when its last byte arrives, even after
  // a pause longer than the gap that ends frames of unknown length.
  EXPECT_TRUE(line.Receive(std::span(ident).first(2), t0).empty());
  EXPECT_TRUE(line.Idle(t0 + 20ms).empty());
  auto replies = line.Receive(std::span(ident).subspan(2), t0 + 21ms);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes[0], 2);
  // A piece whose rest never comes is dropped after the byte time-out.
  EXPECT_TRUE(line.Receive(std::span(ident).first(3), t0 + 22ms).empty());
  EXPECT_EQ(line.Deadline(), t0 + 22ms + line.PartialTimeout());
  line.Idle(t0 + 22ms + line.PartialTimeout());
  EXPECT_FALSE(line.Deadline());
  EXPECT_EQ(line.Receive(ident, t0 + 300ms).size(), 1u);

  const auto t1 = t0 + 1s;
  // Two frames in one chunk: two replies, in order.
  Bytes two = Req(1, 68);
  const Bytes meas = Req(3, 71, {0, 1});
  two.insert(two.end(), meas.begin(), meas.end());
  replies = line.Receive(two, t1 + 20ms);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].bytes[1], 68);
  EXPECT_EQ(replies[1].bytes[1], 71);

  // A damaged frame is never answered; the silence after it clears the way.
  Bytes bad = Req(1, 17);
  bad[3] ^= 0x01;
  EXPECT_TRUE(line.Receive(bad, t1 + 40ms).empty());
  EXPECT_EQ(line.Deadline(), t1 + 40ms + line.FrameGap());
  EXPECT_TRUE(line.Idle(t1 + 60ms).empty());
  EXPECT_FALSE(line.Deadline());
  EXPECT_EQ(line.Receive(Req(1, 17), t1 + 61ms).size(), 1u);

  // Frames for an absent address and unknown functions ended by silence.
  EXPECT_TRUE(line.Receive(Req(9, 17), t1 + 80ms).empty());
  const Bytes odd = Req(1, 0x20, {1, 2, 3});
  EXPECT_TRUE(line.Receive(odd, t1 + 100ms).empty());
  replies = line.Idle(t1 + 110ms);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes, Req(1, 0xA0, {1}));

  const auto log = line.Log();
  const auto ignored = std::count_if(log.begin(), log.end(), [](const auto& e) { return !e.crcOk; });
  EXPECT_EQ(ignored, 2) << "the lone piece and the damaged frame";
}

TEST(SimLineFraming, BlockWriteFramedByTheAddressedBlockLength) {
  sim::Line line;
  line.AddDefaultSet();
  auto& tp = *line.Find(3);
  tp.SetWriteTime(0ms);
  const auto t0 = Clock::now();
  Bytes block = tp.Block();
  block[11] = 20;
  Bytes frames = Req(3, 69, block);
  const Bytes confirm = Req(21, 14);
  frames.insert(frames.end(), confirm.begin(), confirm.end());
  // The write and the confirmation back to back: the write ends by length,
  // not by a silence that never came.
  const auto replies = line.Receive(frames, t0);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes, confirm);

  // A write shorter than the block still arrives, ended by silence.
  Bytes shorter(block.begin(), block.begin() + 30);
  shorter[11] = 29;
  EXPECT_TRUE(line.Receive(Req(21, 69, shorter), t0 + 50ms).empty());
  line.Idle(t0 + 50ms + line.PartialTimeout());
  EXPECT_EQ(tp.Address(), 30);
  EXPECT_EQ(tp.BlockLength(), 30u);
}

TEST(SimLineLog, RecordsFramesInBothDirections) {
  sim::Line line;
  line.AddDefaultSet();
  std::vector<std::string> printed;
  line.SetLogSink([&](const sim::LogEntry& e) { printed.push_back(sim::Marked(e.bytes, e.dir == Dir::In)); });
  line.Exchange(Req(1, 17));
  line.Exchange(Req(12, 17));  // nobody there
  ASSERT_EQ(line.Frames(Dir::In).size(), 2u);
  ASSERT_EQ(line.Frames(Dir::Out).size(), 1u);
  EXPECT_EQ(line.Frames(Dir::Out)[0][0], 1);
  ASSERT_EQ(printed.size(), 3u);
  EXPECT_EQ(printed[0], "[01][11][C0][2C]");
  EXPECT_EQ(printed[1].substr(0, 8), "<01><11>");
  line.ClearLog();
  EXPECT_TRUE(line.Log().empty());
}
