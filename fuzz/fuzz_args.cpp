// pmctl's command line, taken apart and checked as pmctl does before it
// runs anything: either a command with every value in its range, or one
// fault reported with the pointer to the help (exit code 1), or the help
// or version printed (exit code 0).
//
// Input: the arguments after the program's name, separated by zero bytes.

#include <QCoreApplication>
#include <QStringList>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>

#include "CommandLine.h"
#include "Commands.h"
#include "FuzzInput.h"

namespace {

bool EveryLineOurs(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("pmctl: ", 0) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int argc = 1;
  static char name[] = "pmctl";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);

  QStringList arguments{QStringLiteral("pmctl")};
  std::string current;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      arguments << QString::fromUtf8(current.data(), static_cast<qsizetype>(current.size()));
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }

  std::ostringstream out, err;
  const auto parsed = pmcli::ParseCommandLine(arguments, out, err);
  if (const int* code = std::get_if<int>(&parsed)) {
    PM_FUZZ_CHECK(*code == pmcli::kDone || *code == pmcli::kUsage);
    if (*code == pmcli::kDone) {
      PM_FUZZ_CHECK(!out.str().empty() && err.str().empty());
    } else {
      PM_FUZZ_CHECK(out.str().empty());
      PM_FUZZ_CHECK(EveryLineOurs(err.str()));
      PM_FUZZ_CHECK(std::string_view(err.str()).ends_with("\npmctl: Справка: pmctl --help\n"));
    }
    return 0;
  }
  PM_FUZZ_CHECK(out.str().empty() && err.str().empty());
  const pmcli::Invocation& c = std::get<pmcli::Invocation>(parsed);
  static const std::set<std::string> kCommands = {"ports", "scan",  "read",  "save",    "load",
                                                  "restore", "diff", "watch", "journal", "verify"};
  PM_FUZZ_CHECK(kCommands.count(c.command) == 1);
  PM_FUZZ_CHECK(!c.args.empty() && c.args[0] == c.command);
  PM_FUZZ_CHECK(c.address >= 1 && c.address <= 32);
  PM_FUZZ_CHECK(c.last >= 1 && c.last <= 32);
  PM_FUZZ_CHECK(c.txDelay >= 0 && c.txDelay <= 10000);
  PM_FUZZ_CHECK(c.tries >= 0 && c.tries <= 100);
  PM_FUZZ_CHECK(c.timeout == 0 || (c.timeout >= 10 && c.timeout <= 60000));
  PM_FUZZ_CHECK(!(c.journal && c.noJournal));
  if (c.command == "watch") {
    PM_FUZZ_CHECK(c.args.size() == 3 && !c.watch.addresses.empty());
    PM_FUZZ_CHECK(c.watch.intervalS >= 0 && c.watch.intervalS <= 86400);
  }
  if (c.command == "journal" && c.journalVerb == "show") PM_FUZZ_CHECK(c.entry && *c.entry > 0);
  if (c.command == "restore" || c.command == "load" || c.command == "diff" || c.command == "save")
    PM_FUZZ_CHECK(c.args.size() == 4);
  if (c.pdf) PM_FUZZ_CHECK(c.check > 0 && !c.checkList);
  if (c.filter.address) PM_FUZZ_CHECK(*c.filter.address >= 1 && *c.filter.address <= 32);
  if (c.verify.readings) PM_FUZZ_CHECK(*c.verify.readings >= 1 && *c.verify.readings <= 50);
  return 0;
}
