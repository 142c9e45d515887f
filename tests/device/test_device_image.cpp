// The parameter image: field layout, byte order, sign extension, bit-field
// updates and the bounds of the block and measurement copies.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ProgPM.h"

namespace {

// A function 68 reply frame: address, 68, count, data..., two CRC bytes.
std::vector<std::uint8_t> BlockFrame(std::vector<std::uint8_t> data, int count = -1) {
  std::vector<std::uint8_t> f;
  f.reserve(data.size() + 5);
  f.push_back(1);
  f.push_back(68);
  f.push_back(static_cast<std::uint8_t>(count < 0 ? data.size() : count));
  for (std::uint8_t b : data) f.push_back(b);
  f.push_back(0xAA);
  f.push_back(0xBB);
  return f;
}

TEST(DeviceImage, InitialStateIsZero) {
  TProgPMClass pm;
  EXPECT_EQ(pm.Access, 0);
  EXPECT_EQ(pm.DevType, 0);
  EXPECT_EQ(pm.Version, 0);
  EXPECT_EQ(pm.NonPriv, 0);
  EXPECT_EQ(pm.Changed, 0);
  EXPECT_EQ(pm.TipDChanged, 0);
  EXPECT_EQ(pm.DataRead, 0);
  EXPECT_EQ(pm.LayoutDone, 0);
  EXPECT_EQ(pm.SavedRange, 0);
  EXPECT_EQ(pm.TMin, 0.0f);
  EXPECT_EQ(pm.TMax, 0.0f);
  EXPECT_FALSE(pm.BlockLoaded);
}

TEST(DeviceImage, FlagsByteFromReplyTakesAccessModeThenCorrectionCode) {
  TProgPMClass pm;
  std::vector<std::uint8_t> data(20, 0);
  data[4] = 0x86;  // image byte 5
  ASSERT_TRUE(pm.TakeBlockReply(BlockFrame(data), 3));
  EXPECT_EQ(pm.GetTipSign(), 2);  // HH
  EXPECT_EQ(pm.GetBreak(), 1);    // "ток max"
  EXPECT_EQ(pm.GetTipK(), 0);     // "нр"
  EXPECT_EQ(pm.NonPriv, 1);
  EXPECT_EQ(pm.GetNonPriv(), 1);
  EXPECT_EQ(pm.Image[5], 0x36);
  EXPECT_EQ(pm.GetCurrent(), 3);

  std::array<std::uint8_t, 40> out{};
  ASSERT_EQ(pm.StoreBlock(out), 20u);
  EXPECT_EQ(out[4], 0x36);
}

TEST(DeviceImage, PrivilegedModeWhenBit7Clear) {
  TProgPMClass pm;
  pm.NonPriv = 1;
  std::vector<std::uint8_t> data(20, 0);
  data[4] = 0x75;
  ASSERT_TRUE(pm.TakeBlockReply(BlockFrame(data), 0x0A));
  EXPECT_EQ(pm.NonPriv, 0);
  EXPECT_EQ(pm.Image[5], 0xA5);
}

TEST(DeviceImage, FlagsSetters) {
  TProgPMClass pm;
  pm.Image[5] = 0xF1;
  pm.SetTipSign(2);  // bits 0-1 replaced, others kept
  EXPECT_EQ(pm.Image[5], 0xF2);
  pm.SetBreak(1);
  EXPECT_EQ(pm.Image[5], 0xF6);
  pm.SetBreak(0);
  EXPECT_EQ(pm.Image[5], 0xF2);
  pm.SetTipK(1);
  EXPECT_EQ(pm.Image[5], 0xFA);
  pm.SetTipK(0);
  EXPECT_EQ(pm.Image[5], 0xF2);
  pm.SetCurrent(0x9);
  EXPECT_EQ(pm.Image[5], 0x92);
}

TEST(DeviceImage, CurrentEndSettersOrIntoTheirOwnByte) {
  TProgPMClass pm;
  pm.Image[13] = 0xA0;
  pm.Image[39] = 0x30;
  pm.SetCurrentEndKA(5);
  EXPECT_EQ(pm.Image[13], 0xA5);
  EXPECT_EQ(pm.GetCurrentEndKA(), 5);
  EXPECT_EQ(pm.Image[39], 0x30);

  pm.SetCurrentEndZ(9);
  EXPECT_EQ(pm.Image[39], 0x39);
  EXPECT_EQ(pm.GetCurrentEndZ(), 9);
  EXPECT_EQ(pm.Image[13], 0xA5);  // never touched by the ZET setter

  // Low nibble cleared first, so a new code replaces the old one.
  pm.SetCurrentEndKA(2);
  EXPECT_EQ(pm.Image[13], 0xA2);
  pm.SetCurrentEndZ(0);
  EXPECT_EQ(pm.Image[39], 0x30);
}

TEST(DeviceImage, SharedByte13) {
  TProgPMClass pm;
  pm.Image[13] = 0xA5;
  pm.Image[14] = 0x01;
  pm.SetConnect(2);  // the whole byte
  EXPECT_EQ(pm.Image[13], 0x02);
  EXPECT_EQ(pm.GetBegSkTxc(), 0x0102);  // low half of BegSkTxc
  pm.SetBegSkTxc(-1);
  EXPECT_EQ(pm.GetConnect(), 0xFF);
}

struct Field16 {
  const char* name;
  std::size_t at;
  std::function<int(const TProgPMClass&)> get;
  std::function<void(TProgPMClass&, int)> set;
};

class LittleEndianFields : public ::testing::TestWithParam<Field16> {};

TEST_P(LittleEndianFields, ByteOrderSignExtensionAndLow16Bits) {
  const Field16& f = GetParam();
  TProgPMClass pm;
  pm.Image.fill(0x55);
  pm.Image[f.at] = 0xFE;
  pm.Image[f.at + 1] = 0xFF;
  EXPECT_EQ(f.get(pm), -2) << f.name;
  f.set(pm, 0x12345);  // only the low 16 bits are stored
  EXPECT_EQ(pm.Image[f.at], 0x45);
  EXPECT_EQ(pm.Image[f.at + 1], 0x23);
  EXPECT_EQ(f.get(pm), 0x2345);
  f.set(pm, -32768);
  EXPECT_EQ(f.get(pm), -32768);
  f.set(pm, 32767);
  EXPECT_EQ(f.get(pm), 32767);
  // Neighbours untouched.
  EXPECT_EQ(pm.Image[f.at - 1], 0x55);
  EXPECT_EQ(pm.Image[f.at + 2], 0x55);
}

#define FIELD(n, at) \
  Field16{#n, at, [](const TProgPMClass& p) { return p.Get##n(); }, [](TProgPMClass& p, int v) { p.Set##n(v); }}

INSTANTIATE_TEST_SUITE_P(
    Block, LittleEndianFields,
    ::testing::Values(FIELD(KBegSk, 1), FIELD(KEndSk, 3), FIELD(UstKod1, 6), FIELD(UstKod2, 8),
                      FIELD(BegSkTxc, 13), FIELD(EndSkTxc, 15), FIELD(KTxc, 17), FIELD(RangeMin, 19),
                      FIELD(RangeMax, 21)),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceImage, Nodes) {
  TProgPMClass pm;
  for (int m = 0; m < 8; ++m) pm.SetNode(m, -(m + 2));
  for (int m = 0; m < 8; ++m) {
    EXPECT_EQ(pm.GetNode(m), -(m + 2));
    EXPECT_EQ(pm.Image[23 + 2 * m], static_cast<std::uint8_t>(-(m + 2)));
    EXPECT_EQ(pm.Image[24 + 2 * m], 0xFF);
  }
  EXPECT_EQ(pm.Image[39], 0);
  const auto before = pm.Image;
  pm.SetNode(8, 7);
  pm.SetNode(-1, 7);
  EXPECT_EQ(pm.Image, before);
  EXPECT_EQ(pm.GetNode(8), 0);
  EXPECT_EQ(pm.GetNode(-1), 0);
}

TEST(DeviceImage, BytesFields) {
  TProgPMClass pm;
  pm.Image[10] = 0xF2;
  pm.Image[11] = 0x81;
  pm.Image[12] = 0x1F;
  EXPECT_EQ(pm.GetTipD(), 0xF2);  // unsigned
  EXPECT_EQ(pm.GetRangeNo(), 0x81);
  EXPECT_EQ(pm.GetNu(), 31);
  pm.SetRangeNo(24);
  pm.SetNu(5);
  EXPECT_EQ(pm.Image[12], 5);
  EXPECT_EQ(pm.Contr, "PutNu 24");
}

TEST(DeviceImage, MeasurementFieldsAreBigEndian) {
  TProgPMClass pm;
  const std::uint8_t frame[] = {1, 71, 9, 0xFF, 0xFE, 0xE1, 0x12, 0x34, 0x80, 0x00, 0x7F, 0xFF, 0, 0};
  ASSERT_TRUE(pm.TakeMeasReply(frame));
  EXPECT_EQ(pm.GetRez(), -2);
  EXPECT_EQ(pm.GetStatus(), 0xE1);
  EXPECT_EQ(pm.GetKodACP(), 0x1234);
  EXPECT_EQ(pm.GetTxc(), -32768);
  EXPECT_EQ(pm.GetKodTxc(), 32767);
}

TEST(DeviceImage, ShortMeasurementIsRefused) {
  TProgPMClass pm;
  const std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(pm.LoadMeas(data));
  for (std::size_t i = 41; i < 50; ++i) EXPECT_EQ(pm.Image[i], 0);
}

TEST(DeviceImage, ClearZeroesBlockAndMeasurementKeepsLength) {
  TProgPMClass pm;
  pm.Image.fill(0xEE);
  pm.SetLen(20);
  pm.BlockLoaded = true;
  pm.ClearImage();
  EXPECT_EQ(pm.Image[0], 20);
  for (int i = 1; i <= 20; ++i) EXPECT_EQ(pm.Image[i], 0) << i;
  for (int i = 21; i <= 40; ++i) EXPECT_EQ(pm.Image[i], 0xEE) << i;
  for (int i = 41; i <= 49; ++i) EXPECT_EQ(pm.Image[i], 0) << i;
  EXPECT_FALSE(pm.BlockLoaded);
}

TEST(DeviceImage, Block39IsWrittenBackAsExactly39) {
  TProgPMClass pm;
  pm.Image.fill(0xEE);
  pm.SetLen(40);
  pm.ClearImage();
  std::vector<std::uint8_t> data(39);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_TRUE(pm.TakeBlockReply(BlockFrame(data), 0));
  EXPECT_TRUE(pm.BlockLoaded);
  EXPECT_EQ(pm.GetLen(), 39);
  EXPECT_EQ(pm.Image[39], 39);
  EXPECT_EQ(pm.Image[40], 0);

  std::array<std::uint8_t, 100> out;
  out.fill(0xCC);
  ASSERT_EQ(pm.StoreBlock(out), 39u);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[38], 39);
  EXPECT_EQ(out[39], 0xCC);
}

class OversizedBlock : public ::testing::TestWithParam<int> {};

TEST_P(OversizedBlock, CannotReachPastTheBlock) {
  TProgPMClass pm;
  pm.SetLen(12);
  for (std::size_t i = 41; i < 50; ++i) pm.Image[i] = 0x5A;
  const auto before = pm.Image;
  std::vector<std::uint8_t> data(300, 0x77);
  EXPECT_FALSE(pm.TakeBlockReply(BlockFrame(data, GetParam()), 3));
  EXPECT_EQ(pm.Image, before);
  EXPECT_FALSE(pm.BlockLoaded);

  // Nor through the lower-level copies with a length set by hand.
  pm.SetLen(GetParam());
  EXPECT_FALSE(pm.LoadBlock(data));
  std::array<std::uint8_t, 300> out{};
  EXPECT_EQ(pm.StoreBlock(out), 0u);
  for (std::size_t i = 41; i < 50; ++i) EXPECT_EQ(pm.Image[i], 0x5A);
}

INSTANTIATE_TEST_SUITE_P(Counts, OversizedBlock, ::testing::Values(41, 49, 50, 255));

TEST(DeviceImage, TruncatedFrameIsRefused) {
  TProgPMClass pm;
  std::vector<std::uint8_t> frame{1, 68, 30, 1, 2, 3};  // count says 30, 3 data bytes
  EXPECT_FALSE(pm.TakeBlockReply(frame, 0));
  EXPECT_EQ(pm.GetLen(), 0);
  const std::uint8_t tiny[] = {1, 68};
  EXPECT_FALSE(pm.TakeBlockReply(tiny, 0));
  EXPECT_FALSE(pm.TakeMeasReply(tiny));
}

TEST(DeviceImage, StoreRefusesTooSmallBuffer) {
  TProgPMClass pm;
  pm.SetLen(20);
  std::array<std::uint8_t, 19> out{};
  EXPECT_EQ(pm.StoreBlock(out), 0u);
}

TEST(DeviceImage, RecordBoundChecksUseTMinTMax) {
  TProgPMClass pm;
  pm.TMin = -50;
  pm.TMax = 50;
  EXPECT_EQ(pm.CheckNumber("-50", 1), 0);
  EXPECT_EQ(pm.CheckNumber("60", 1), 1);
  EXPECT_EQ(pm.CheckNumber("60", 2), 0);
  EXPECT_FLOAT_EQ(pm.CodeToDegC(8191), 50.0f);
  EXPECT_FLOAT_EQ(pm.CodeToDegC(0), -50.0f);
}

}  // namespace
