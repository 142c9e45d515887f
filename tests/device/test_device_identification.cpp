// Identity reply parsing, model classification, identification line and
// geometry, warnings, access mode and the features per model and version.
#include <gtest/gtest.h>

#include <algorithm>

#include "Identification.h"

using namespace pmdev;

namespace {

TEST(DeviceIdentification, ParsesVersionCorrectionAndModel) {
  const std::uint8_t frame[] = {1, 17, 3, 4, 0xA7, 101, 0x12, 0x34};
  const auto id = ParseIdentity(frame);
  ASSERT_TRUE(id);
  EXPECT_EQ(id->version, 4);
  EXPECT_EQ(id->correction, 10);  // high nibble of 0xA7; the low bits are ignored
  EXPECT_EQ(id->model, 101);

  const std::uint8_t undetermined[] = {3, 17, 1, 6, 0xF0, 0xFF};
  EXPECT_EQ(ParseIdentity(undetermined), (Identity{6, 15, 255}));

  const std::uint8_t shortFrame[] = {1, 17, 3, 4, 0xA7};
  EXPECT_FALSE(ParseIdentity(shortFrame));
}

TEST(DeviceIdentification, Classification) {
  EXPECT_EQ(ClassifyModel(100), ModelClass::Kard);
  EXPECT_EQ(ClassifyModel(101), ModelClass::ZetTS);
  EXPECT_EQ(ClassifyModel(102), ModelClass::ZetTP);
  EXPECT_EQ(ClassifyModel(103), ModelClass::Lunt);
  EXPECT_EQ(ClassifyModel(255), ModelClass::Undetermined);
  for (int foreign : {0, 99, 104, 254}) EXPECT_EQ(ClassifyModel(foreign), ModelClass::Foreign) << foreign;
}

struct IdCase {
  int model;
  int version;
  const char* text;
  int left;
  int width;
};

class IdentificationLines : public ::testing::TestWithParam<IdCase> {};

TEST_P(IdentificationLines, TextAndGeometry) {
  const IdCase& c = GetParam();
  EXPECT_EQ(IdentificationText(c.model, c.version), (IdentificationLine{c.text, c.left, c.width}));
}

INSTANTIATE_TEST_SUITE_P(
    AroundThreshold, IdentificationLines,
    ::testing::Values(IdCase{100, 4, "КАРД-v4", 272, 73},
                      IdCase{100, 5, "КАРД  700100.003  ПО.V5  0xA1000001", 170, 300},
                      IdCase{101, 4, "ЗЕТ-ТС-v4", 272, 73},
                      IdCase{101, 5, "ЗЕТ-ТС ЛВ  700200.002  ПО.V5  0xA1000003", 170, 300},
                      IdCase{102, 4, "ЗЕТ-ТП-v4", 272, 73},
                      IdCase{102, 5, "ЗЕТ-ТП ЛВ  700300.003  ПО.V4  0xA1000004", 170, 300},
                      IdCase{102, 6, "ЗЕТ-ТП ЛВ  700300.003  ПО.V4  0xA1000004", 170, 300},
                      IdCase{103, 1, "ЛУНТ-v1", 272, 73},
                      IdCase{103, 2, "ЛУНТ  700100.005  ПО.V2  0xA1000002", 170, 300},
                      IdCase{103, 0, "ЛУНТ-v0", 272, 73},
                      IdCase{100, 12, "КАРД  700100.003  ПО.V5  0xA1000001", 170, 300},
                      IdCase{104, 5, "", 272, 73}));

TEST(DeviceIdentification, ModelCheckWarnings) {
  EXPECT_EQ(UndeterminedTypeWarning(1), "устройство 1 - не определен тип прибора\nДанные не считаны");
  EXPECT_EQ(ForeignDeviceWarning(32), "устройство 32 - не ЗЕТ, не КАРД и не ЛУНТ\nДанные не считаны");
}

TEST(DeviceIdentification, AccessMode) {
  EXPECT_EQ(AccessModeText(0), "привилегированный");
  EXPECT_EQ(AccessModeColour(0), (Rgb{255, 0, 0}));
  EXPECT_EQ(AccessModeText(1), "непривилегированный");
  EXPECT_EQ(AccessModeColour(1), (Rgb{0, 0, 128}));
  EXPECT_EQ(PrivilegedControls().size(), 10u);
  const auto& p = PrivilegedControls();
  EXPECT_EQ(std::count(p.begin(), p.end(), "CBoxTipSign"), 0);  // alarms stay editable
}

bool Has(const std::vector<std::string>& v, const char* name) {
  return std::find(v.begin(), v.end(), name) != v.end();
}

TEST(DeviceIdentification, FeaturesByVersion) {
  // LUNT: no break state nor start correction at version 1; both corrections at 4.
  const Features l1 = FeaturesFor(103, 1);
  EXPECT_FALSE(l1.breakState);
  EXPECT_FALSE(l1.currentStart);
  EXPECT_FALSE(l1.currentEnd);
  const Features l4 = FeaturesFor(103, 4);
  EXPECT_TRUE(l4.breakState && l4.currentStart && l4.currentEnd);
  EXPECT_FALSE(l4.contactType);  // no alarm contacts on the LUNT
  EXPECT_FALSE(l4.alarms);
  EXPECT_TRUE(l4.outputControl);
  EXPECT_TRUE(l4.resultMA);

  const Features k3 = FeaturesFor(100, 3);
  EXPECT_TRUE(k3.contactType && k3.alarms && k3.sensorType && k3.resultMA);
  EXPECT_FALSE(k3.range || k3.setpointsInDegC || k3.currentEnd);

  EXPECT_FALSE(FeaturesFor(101, 2).connection);
  EXPECT_TRUE(FeaturesFor(101, 3).connection);
  EXPECT_FALSE(FeaturesFor(101, 2).nonStandardFromVersion);
  EXPECT_TRUE(FeaturesFor(101, 3).nonStandardFromVersion);
  EXPECT_TRUE(FeaturesFor(101, 6).sensorResistance);
  EXPECT_FALSE(FeaturesFor(101, 5).sensorResistance);
  EXPECT_FALSE(FeaturesFor(101, 6).thermocoupleEmf);
  EXPECT_TRUE(FeaturesFor(102, 6).thermocoupleEmf);
  EXPECT_FALSE(FeaturesFor(102, 7).thermocoupleEmf);
  EXPECT_TRUE(FeaturesFor(102, 1).coldJunction);
  EXPECT_FALSE(FeaturesFor(101, 6).coldJunction);
  EXPECT_EQ(FeaturesFor(100, 0), FeaturesFor(100, 1));
  EXPECT_EQ(FeaturesFor(104, 5), Features{});
}

TEST(DeviceIdentification, VisibleControlNames) {
  const auto lunt = VisibleControls(FeaturesFor(103, 4));
  EXPECT_TRUE(Has(lunt, "Edit1") && Has(lunt, "ButSwitch") && Has(lunt, "CBoxCurrentEnd"));
  EXPECT_FALSE(Has(lunt, "CBoxTipSign") || Has(lunt, "CBoxTipD") || Has(lunt, "GBoxZETTP"));

  const auto tp6 = VisibleControls(FeaturesFor(102, 6));
  EXPECT_TRUE(Has(tp6, "GBoxZETTP") && Has(tp6, "StRt") && Has(tp6, "CBoxMin") && Has(tp6, "CBoxTipK"));
  EXPECT_FALSE(Has(tp6, "CBoxConnect") || Has(tp6, "Edit1"));
  EXPECT_EQ(std::count(tp6.begin(), tp6.end(), std::string("StRezGrMA")), 1);

  EXPECT_TRUE(VisibleControls(FeaturesFor(200, 5)).empty());
}

}  // namespace
