#pragma once
// pmctl's command line taken apart and checked, without running anything:
// no port, file, journal or server is opened, and nothing is read but the
// arguments. What is wrong with the line is reported on `err` (exit code
// kUsage); --help and --version print on `out` (kDone). Otherwise the
// result is the command with every value it needs, checked, in the order
// pmctl has always checked them, so the first fault named is the same.

#include <QStringList>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "CheckStore.h"
#include "Journal.h"
#include "Verify.h"
#include "Watch.h"

namespace pmcli {

struct Invocation {
  std::string command;            // "ports", "scan", ... "verify"
  std::vector<std::string> args;  // the positional arguments, the command first

  // --journal, --journal-server: for this command instead of the configured ones.
  std::optional<std::string> journal;
  std::optional<std::string> server;
  bool noJournal = false;

  // journal [show ID | export FILE | sync]
  std::string journalVerb;  // "", "show", "export", "sync"
  pmjournal::Filter filter;
  std::optional<std::int64_t> entry;  // journal show ID
  bool fromServer = false;            // --server

  // verify --list, verify ID --pdf FILE
  bool checkList = false;
  std::optional<std::string> pdf;
  std::int64_t check = 0;  // the ID of --pdf
  pmverify::CheckFilter checkFilter;
  std::optional<std::string> csv;  // verify --list, watch

  // The commands on an instrument.
  int address = 1;
  WatchOptions watch;
  int last = 32;     // scan --to
  int txDelay = 25;  // ms
  int tries = 0;     // 0: the command's own
  int timeout = 0;   // ms; 0: the link's own
  std::string baud, parity, stopBits;  // as the link takes them ("9600", "N", "2")
  bool json = false;
  bool settingsOnly = false;  // diff --settings
  VerifyOptions verify;       // without its table folders
};

// The arguments as QCoreApplication::arguments() gives them, the program's
// name first.
std::variant<Invocation, int> ParseCommandLine(const QStringList& arguments, std::ostream& out, std::ostream& err);

// Reports a fault of the command line with the pointer to the help; kUsage.
int UsageFault(std::ostream& err, const std::string& text);

// "2026-12-09" or "2026-12-09T10:30[:15]" (local time) as milliseconds
// since 1970; nothing for any other text.
std::optional<std::int64_t> ParseLocalTime(const std::string& text);

}  // namespace pmcli
