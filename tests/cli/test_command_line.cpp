// pmctl's command line taken apart without running anything: what each
// kind of line becomes, and the first fault of a wrong one, named as pmctl
// names it.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"

namespace {

struct LineCase {
  const char* name;
  std::vector<const char*> args;
  std::string fault;  // the message before the pointer to the help; "" : taken
  std::function<void(const pmcli::Invocation&)> check = [](const pmcli::Invocation&) {};
};

const LineCase kLines[] = {
    {"ReadWithThePortsSettings",
     {"read", "rfc2217://gw:2217", "5", "--json", "--parity", "even", "--stop-bits", "1", "--baud", "19200"}, "",
     [](const pmcli::Invocation& c) {
       EXPECT_EQ(c.address, 5);
       EXPECT_TRUE(c.json);
       EXPECT_EQ(c.parity, "E");
       EXPECT_EQ(c.stopBits, "1");
       EXPECT_EQ(c.baud, "19200");
       EXPECT_EQ(c.args[1], "rfc2217://gw:2217");
     }},
    {"WatchASet", {"watch", "/dev/ttyUSB0", "1-3, 7", "--count", "2", "--interval", "0,5", "--csv", "w.csv"}, "",
     [](const pmcli::Invocation& c) {
       EXPECT_EQ(c.watch.addresses, (std::vector<int>{1, 2, 3, 7}));
       EXPECT_EQ(c.watch.count, 2);
       EXPECT_DOUBLE_EQ(c.watch.intervalS, 0.5);
       EXPECT_EQ(c.csv, "w.csv");
     }},
    {"LoadIntoAnotherJournal", {"load", "COM1", "2", "f.json", "--journal", "j.sqlite", "--tries", "3"}, "",
     [](const pmcli::Invocation& c) {
       EXPECT_EQ(c.journal, "j.sqlite");
       EXPECT_FALSE(c.noJournal);
       EXPECT_EQ(c.tries, 3);
       EXPECT_EQ(c.args[3], "f.json");
     }},
    {"JournalShow", {"journal", "show", "17"}, "",
     [](const pmcli::Invocation& c) {
       EXPECT_EQ(c.journalVerb, "show");
       EXPECT_EQ(c.entry, 17);
     }},
    {"CheckRecords", {"verify", "--list", "--address", "4"}, "",
     [](const pmcli::Invocation& c) {
       EXPECT_TRUE(c.checkList);
       EXPECT_EQ(c.checkFilter.address, 4);
     }},
    {"AddressSetThatBeginsWithADash", {"watch", "/dev/ttyUSB0", "-4"},
     "Неверный диапазон в \"-4\": не указан первый адрес; адреса от 1 до 32"},
    {"NegativeValueStaysTheOptions", {"watch", "/dev/ttyUSB0", "1-8", "--interval", "-1"},
     "--interval: число секунд от 0 до 86400"},
    {"JournalAndNoJournal", {"load", "p", "1", "f", "--journal", "j", "--no-journal"},
     "Ключи --journal и --no-journal исключают друг друга."},
    {"RestoreUnconfirmed", {"restore", "p", "1", "f"},
     "restore восстанавливает и калибровку прибора: подтвердите это ключом --include-calibration.\n"
     "pmctl: Для переноса только настроек служит команда load."},
    {"EntryZero", {"journal", "show", "0"}, "Номер записи журнала - целое число больше 0: 0"},
    {"ListAndPdf", {"verify", "--list", "--pdf", "x"}, "verify --list или verify ID --pdf ФАЙЛ"},
    {"ScanPastTheLastAddress", {"scan", "p", "--to", "33"}, "--to: адрес от 1 до 32"},
    {"DayThatDoesNotExist", {"journal", "--since", "2026-02-30"},
     "--since: время в виде ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTЧЧ:ММ[:СС]: 2026-02-30"},
    {"TooManyReadings", {"verify", "p", "1", "--tolerance", "2C", "--readings", "51"},
     "--readings: число отсчётов от 1 до 50"},
    {"OptionOfAnotherCommand", {"read", "p", "1", "--settings"}, "Ключ --settings не относится к команде read."},
    {"NoCommand", {}, "Не задана команда."},
};

class CommandLine : public testing::TestWithParam<LineCase> {};

TEST_P(CommandLine, IsTakenOrRefusedWithItsFirstFault) {
  const LineCase& c = GetParam();
  QStringList arguments{QStringLiteral("pmctl")};
  for (const char* a : c.args) arguments << QString::fromUtf8(a);
  std::ostringstream out, err;
  const auto parsed = pmcli::ParseCommandLine(arguments, out, err);
  EXPECT_TRUE(out.str().empty());
  if (c.fault.empty()) {
    ASSERT_TRUE(std::holds_alternative<pmcli::Invocation>(parsed)) << err.str();
    EXPECT_EQ(std::get<pmcli::Invocation>(parsed).command, c.args[0]);
    c.check(std::get<pmcli::Invocation>(parsed));
  } else {
    ASSERT_TRUE(std::holds_alternative<int>(parsed));
    EXPECT_EQ(std::get<int>(parsed), pmcli::kUsage);
    EXPECT_EQ(err.str().substr(0, err.str().find("\npmctl: Справка")), "pmctl: " + c.fault);
  }
}

INSTANTIATE_TEST_SUITE_P(Pmctl, CommandLine, testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
