// The address set the operator types, the polling schedule with its
// back-off and cycle accounting, and the rows as text.

#include <gtest/gtest.h>

#include "Addresses.h"
#include "LinePoller.h"
#include "RowText.h"

namespace {

using pmline::LinePoller;

struct AddressCase {
  const char* text;
  std::vector<int> addresses;  // empty: refused
  friend void PrintTo(const AddressCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
};

class Addresses : public testing::TestWithParam<AddressCase> {};

TEST_P(Addresses, ParseAndWriteBack) {
  const auto& c = GetParam();
  const auto parsed = pmline::ParseAddresses(c.text);
  if (c.addresses.empty()) {
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
    return;
  }
  ASSERT_TRUE(std::holds_alternative<std::vector<int>>(parsed)) << std::get<std::string>(parsed);
  EXPECT_EQ(std::get<std::vector<int>>(parsed), c.addresses);
  EXPECT_EQ(pmline::ParseAddresses(pmline::AddressesText(c.addresses)), parsed);
}

INSTANTIATE_TEST_SUITE_P(
    Typed, Addresses,
    testing::Values(AddressCase{"1-8, 12", {1, 2, 3, 4, 5, 6, 7, 8, 12}}, AddressCase{"3 1 2 3", {1, 2, 3}},
                    AddressCase{"30 - 32;1", {1, 30, 31, 32}}, AddressCase{"5\xE2\x80\x93" "6", {5, 6}},
                    AddressCase{"", {}}, AddressCase{" , ", {}}, AddressCase{"0", {}}, AddressCase{"33", {}},
                    AddressCase{"8-1", {}}, AddressCase{"1-", {}}, AddressCase{"1x", {}}, AddressCase{"0001", {}}));

TEST(Addresses, TextIsShortest) {
  EXPECT_EQ(pmline::AddressesText({12, 1, 2, 3, 4, 5, 6, 7, 8}), "1-8, 12");
  EXPECT_EQ(pmline::AddressesText({1, 2, 4}), "1, 2, 4");
}

pmops::ReadOutcome Answered() {
  pmops::ReadOutcome r;
  r.stop = pmops::ReadStop::Complete;
  return r;
}
pmops::ReadOutcome Silent() {
  pmops::ReadOutcome r;
  r.stop = pmops::ReadStop::Identify;
  r.result = rc::NoReply;
  return r;
}

// Runs the poller for `cycles` cycles; `answers(address, cycle)` says whether
// the instrument answers. Returns "address:attempts" of every poll, cycle
// by cycle ("|" between cycles).
std::string Poll(LinePoller& p, int cycles, const std::function<bool(int, long)>& answers) {
  std::string trace;
  long cycle = p.Cycles();
  std::int64_t now = 0;
  while (auto step = p.Next(now += 10, cycles)) {
    if (step->cycle != cycle && !trace.empty()) trace += '|';
    cycle = step->cycle;
    const int address = p.Instruments()[step->index].address;
    trace += std::to_string(address) + ':' + std::to_string(step->attempts) + ' ';
    p.Take(*step, answers(address, step->cycle) ? Answered() : Silent(), "/dev/ttyS0", now, "нет ответа");
  }
  return trace;
}

TEST(Poller, SilentInstrumentIsBackedOffAndComesBackAtOnce) {
  LinePoller p({1, 2, 3});
  // Address 2 is silent until cycle 9; it is tried at cycles 1, 5 and 9 with
  // one attempt after the first failure, then every cycle again.
  const std::string trace = Poll(p, 10, [](int a, long cycle) { return a != 2 || cycle >= 9; });
  EXPECT_EQ(trace,
            "1:0 2:0 3:0 |1:0 3:0 |1:0 3:0 |1:0 3:0 |1:0 2:1 3:0 |1:0 3:0 |1:0 3:0 |1:0 3:0 |"
            "1:0 2:1 3:0 |1:0 2:0 3:0 ");
  const pmline::Instrument& two = p.Instruments()[1];
  EXPECT_EQ(two.failures, 2);
  EXPECT_FALSE(two.silent);
  EXPECT_EQ(two.lastGood, p.Instruments()[2].lastGood - 10);
  EXPECT_EQ(p.Cycles(), 10);
  EXPECT_EQ(p.PollsDone(), 24);
}

TEST(Poller, CycleTimeAndALineThatNeverAnswers) {
  LinePoller p({4, 9});
  EXPECT_FALSE(p.LastCycleMs());
  EXPECT_EQ(Poll(p, 2, [](int, long) { return true; }), "4:0 9:0 |4:0 9:0 ");
  EXPECT_EQ(p.LastCycleMs(), 20);
  // Nobody answers: cycles without a poll pass, the loop never hangs.
  LinePoller dead({1});
  EXPECT_EQ(Poll(dead, 9, [](int, long) { return false; }), "1:0 |1:1 |1:1 ");
  EXPECT_TRUE(LinePoller({}).Next(0) == std::nullopt);
}

TEST(RowText, SilentInstrumentKeepsItsLastReadingAndSaysWhy) {
  LinePoller p({7});
  auto step = p.Next(0);
  TProgPMClass& pm = p.Record(*step);
  pm.DevType = 100;
  pm.Version = 5;
  pm.Image[0] = 20;
  pm.Image[43] = 0x80;  // overflow
  const pmtrend::ReadOutcome good = p.Take(*step, Answered(), "/dev/ttyS0", 1000);
  pmline::RowText row = pmline::Describe(p.Instruments()[0]);
  EXPECT_EQ(row.model, "КАРД");
  EXPECT_EQ(row.result, "4,000 мА");
  EXPECT_EQ(row.state, "Переполнение");
  EXPECT_EQ(row.stateColour, pmdev::kRed);
  EXPECT_EQ(row.range, "4 .. 20 мА");
  EXPECT_EQ(pmline::WatchLine(p.Instruments()[0], good).substr(23), "\t7\tКАРД\t4,000 мА\t0,000 %\tПереполнение\tНорма");

  step = p.Next(10);
  const pmtrend::ReadOutcome bad = p.Take(*step, Silent(), "/dev/ttyS0", 2000, "нет ответа");
  row = pmline::Describe(p.Instruments()[0]);
  EXPECT_EQ(row.state, pmline::kNoAnswer);
  EXPECT_EQ(row.result, "4,000 мА");
  EXPECT_EQ(row.failures, "1");
  EXPECT_EQ(pmline::WatchLine(p.Instruments()[0], bad).substr(23), "\t7\tКАРД\tнет ответа");
}

}  // namespace
