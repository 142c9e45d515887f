// The address set the operator types, the polling schedule with its
// back-off and cycle accounting, and the rows as text.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "Addresses.h"
#include "LineOwner.h"
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

TEST(Addresses, RefusalSaysWhatIsWrongAndEchoesLittle) {
  EXPECT_EQ(std::get<std::string>(pmline::ParseAddresses("-4")),
            "Неверный диапазон в \"-4\": не указан первый адрес; адреса от 1 до 32");
  const std::string huge = "1," + std::string(120'000, 'x');
  const std::string why = std::get<std::string>(pmline::ParseAddresses(huge));
  EXPECT_EQ(why, "Неверный адрес в \"" + std::string(40, 'x') + "…\": адреса от 1 до 32");
  // Bytes that are not UTF-8: a lead byte and its continuations are one
  // character of at most 4 bytes, however many continuations follow.
  const std::string broken = "5\x80" + std::string(100'000, '\x93');
  EXPECT_EQ(std::get<std::string>(pmline::ParseAddresses(broken)),
            "Неверный адрес в \"5\x80\x93\x93" + std::string(39 * 4, '\x93') + "…\": адреса от 1 до 32");
}

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

// A poller on the clock: each turn is a step or a wait; the clock is
// moved to the wait's end, every poll takes 100 ms. Returns the time at which
// the turns end, and the polls as "cycle:address" in `trace`.
std::int64_t PlanRun(LinePoller& p, std::int64_t interval, long cycles, const std::function<bool(int)>& answers,
                     std::string& trace) {
  std::int64_t now = 0;
  for (int guard = 0; guard < 1000; ++guard) {
    const pmline::Turn turn = p.Plan(now, interval, cycles);
    if (turn.Ends()) return now;
    if (!turn.step) {
      EXPECT_GT(turn.waitUntilMs, now);
      now = turn.waitUntilMs;
      continue;
    }
    const int address = p.Instruments()[turn.step->index].address;
    trace += std::to_string(turn.step->cycle) + ':' + std::to_string(address) + ' ';
    now += 100;
    p.Take(*turn.step, answers(address) ? Answered() : Silent(), "/dev/ttyS0", now, "нет ответа");
  }
  ADD_FAILURE() << "the turns did not end";
  return now;
}

struct PlanCase {
  const char* name;
  std::vector<int> addresses;
  std::int64_t interval;
  long cycles;
  std::vector<int> silent;
  const char* trace;
  std::int64_t endsAt;
};

class Plan : public testing::TestWithParam<PlanCase> {};

TEST_P(Plan, PollsWaitsAndEnds) {
  const auto& c = GetParam();
  LinePoller p(c.addresses);
  std::string trace;
  const auto silent = [&](int a) { return std::find(c.silent.begin(), c.silent.end(), a) == c.silent.end(); };
  EXPECT_EQ(PlanRun(p, c.interval, c.cycles, silent, trace), c.endsAt);
  EXPECT_EQ(trace, c.trace);
  EXPECT_EQ(p.Cycles(), c.cycles);
}

INSTANTIATE_TEST_SUITE_P(
    Poller, Plan,
    testing::Values(
        // Without an interval cycles follow each other; the last ends the run at once.
        PlanCase{"BackToBack", {1, 2}, 0, 2, {}, "1:1 1:2 2:1 2:2 ", 400},
        // The interval holds between starts, and the count ends right after its last cycle.
        PlanCase{"Interval", {1, 2}, 1000, 2, {}, "1:1 1:2 2:1 2:2 ", 1200},
        // One silent instrument, probed every fourth cycle: the cycles between
        // wait their interval, nine cycles take at least eight intervals.
        PlanCase{"SilentWithInterval", {9}, 2000, 9, {9}, "1:9 5:9 9:9 ", 16100},
        // Without an interval a cycle with nothing due lasts as long as the last one that polled.
        PlanCase{"AllSilentHoldTheirBackOff", {1, 2}, 0, 5, {1, 2}, "1:1 1:2 5:1 5:2 ", 1000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Poller, AStepNotPolledComesAgain) {
  LinePoller p({3, 4});
  const auto first = p.Plan(0).step;
  ASSERT_TRUE(first);
  p.Again(*first);
  const auto again = p.Plan(10).step;
  ASSERT_TRUE(again);
  EXPECT_EQ(again->index, first->index);
  EXPECT_EQ(again->cycle, first->cycle);
}

TEST(RowText, AReadingNoLongerCurrentIsShownOld) {
  for (const pmops::ReadStop lastStop : {pmops::ReadStop::Identify, pmops::ReadStop::Foreign}) {
    LinePoller p({7});
    auto step = p.Next(0);
    TProgPMClass& pm = p.Record(*step);
    pm.DevType = 100;
    pm.Version = 5;
    pm.Image[0] = 20;
    pm.Image[43] = 0x01;  // beyond a setpoint
    p.Take(*step, Answered(), "/dev/ttyS0", 1000);
    pmline::RowText row = pmline::Describe(p.Instruments()[0]);
    EXPECT_FALSE(row.old);
    EXPECT_NE(row.alarmColour, pmline::kOldColour);

    step = p.Next(10);
    pmops::ReadOutcome last = lastStop == pmops::ReadStop::Identify ? Silent() : Answered();
    last.stop = lastStop;
    p.Take(*step, last, "/dev/ttyS0", 2000, "нет ответа");
    row = pmline::Describe(p.Instruments()[0]);
    EXPECT_TRUE(row.old);
    EXPECT_EQ(row.result, "4,000 мА");
    EXPECT_FALSE(row.lastGood.empty());
    EXPECT_EQ(row.alarmColour, pmline::kOldColour);
  }
}

// The owner of the line between the window's thread and a poller's.
TEST(LineOwner, ACommandWaitsForThePollersTurnAndThePollerGivesWay) {
  pmline::LineOwner owner;
  ASSERT_TRUE(owner.BeginTurn());
  owner.BeginCommand();
  auto taken = std::async(std::launch::async, [&] { owner.Take(); });
  // The window waits: the poller is told to give way and may not begin again.
  while (!owner.GiveWay()) std::this_thread::yield();
  EXPECT_EQ(taken.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  owner.EndTurn();
  taken.get();
  EXPECT_TRUE(owner.Held());
  EXPECT_FALSE(owner.GiveWay());
  EXPECT_FALSE(owner.BeginTurn());
  owner.Take();  // held already: no wait
  owner.ReleaseUnlessCommand();
  EXPECT_TRUE(owner.Held()) << "kept until the command ends";
  owner.EndCommand();
  EXPECT_FALSE(owner.Held());
  EXPECT_TRUE(owner.BeginTurn());
  owner.EndTurn();
}

TEST(LineOwner, StoppingThePollerSaysWhyAndLeavesTheLineFree) {
  pmline::LineOwner owner;
  owner.StopPoller(pmline::LineOwner::Why::Closing);  // nothing registered
  std::vector<pmline::LineOwner::Why> asked;
  owner.SetPollerStop([&](pmline::LineOwner::Why why) { asked.push_back(why); });
  owner.StopPoller(pmline::LineOwner::Why::PortChange);
  EXPECT_EQ(asked, std::vector{pmline::LineOwner::Why::PortChange});
  EXPECT_FALSE(owner.Held());
}

}  // namespace
