// pmctl: reads, saves, loads, restores and compares instrument settings
// from the command line. It never asks: what the window asks is an option
// here, or the command is refused. Every way it ends has its exit code and
// a message starting "pmctl: "; nothing escapes main. The command line is
// taken apart and checked first (CommandLine.h); only then does anything
// open.

#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <memory>
#include <csignal>
#include <variant>
#include <iostream>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "CsvRecorder.h"
#include "ConsoleMessages.h"
#include "FileAccess.h"
#include "Journal.h"
#include "JournalCommands.h"
#include "JournalSetting.h"
#include "NamedPort.h"
#include "Output.h"
#include "RangeCalc.h"
#include "RememberedSetup.h"
#include "Verify.h"
#include "ParserTexts.h"
#include "Report.h"
#include "Scan.h"
#include "SettingsFile.h"
#include "TeamServer.h"
#include "Watch.h"

namespace {

pmlink::StopSignal g_stop;

// Ctrl+C and SIGTERM end pmctl watch at once: the request under way ends
// inside its read or pause, the file ends with a whole row.
void StopOnSignals() {
  struct sigaction action {};
  action.sa_handler = [](int) { g_stop.Raise(); };
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// The line dropped while the link cleared it; the link has said so in the
// window's words, without the system's cause.
struct LineLost {
  std::string port;
};

// The journal commands: nothing is opened but the journal file, or the
// team server.
int RunJournal(std::ostream& out, std::ostream& err, const pmcli::Invocation& c, const std::string& file,
               const std::string& serverText) {
  if (c.journalVerb == "sync") return pmcli::JournalSync(out, err, file, serverText);
  try {
    std::unique_ptr<pmjournal::History> history;
    if (c.fromServer) {
      const auto where = pmcli::ServerOf(err, serverText);
      if (const int* code = std::get_if<int>(&where)) return *code;
      try {
        history = std::make_unique<pmjournal::TeamServer>(std::get<pmjournal::ServerAddress>(where));
      } catch (const pmjournal::ServerError& e) {
        pmcli::Report(err, e.what());
        return pmcli::kServerUnreached;
      }
    } else {
      // Listing and exporting never create or change a journal.
      history = std::move(pmjournal::Journal::Open(file, pmjournal::Journal::Mode::Read).journal);
    }
    if (c.journalVerb == "show") return pmcli::JournalShow(out, err, *history, *c.entry);
    if (c.journalVerb == "export") return pmcli::JournalExport(err, *history, c.filter, c.args[2]);
    return pmcli::JournalList(out, *history, c.filter, c.json);
  } catch (const pmjournal::JournalError& e) {
    pmcli::Report(err, e.what());
    return pmcli::kJournalRefused;
  }
}

// The stored checks: nothing is opened but the journal file.
int RunCheckRecords(std::ostream& out, std::ostream& err, const pmcli::Invocation& c) {
  const std::string file = c.journal ? *c.journal : pmjournal::ConfiguredPath();
  try {
    auto opened = pmjournal::Journal::Open(file, pmjournal::Journal::Mode::Read);
    if (c.pdf) return pmcli::VerifyPdf(err, *opened.journal, c.check, *c.pdf);
    return pmcli::VerifyList(out, err, *opened.journal, c.checkFilter, c.csv.value_or(""));
  } catch (const pmjournal::JournalError& e) {
    pmcli::Report(err, e.what());
    return pmcli::kJournalRefused;
  }
}

int Execute(const pmcli::Invocation& c, std::ostream& out, std::ostream& err) {
  const std::string& command = c.command;
  if (c.checkList || c.pdf) return RunCheckRecords(out, err, c);
  if (command == "ports") return pmcli::Ports(out);
  const std::string journalFile = c.journal ? *c.journal : pmjournal::ConfiguredPath();
  const std::string serverText = c.server ? *c.server : pmjournal::ConfiguredServer();
  if (command == "journal") return RunJournal(out, err, c, journalFile, serverText);

  pmcli::VerifyOptions verify = c.verify;
  if (command == "verify") {
    verify.tableDirs = pmrange::DefaultTableDirs();
    if (!verify.script && !isatty(STDIN_FILENO))
      return pmcli::UsageFault(err, "verify ждёт оператора у терминала; строки от программы - с ключом --script");
  }

  // A file is read and checked before the port is opened: a refused file
  // sends nothing.
  pmset::Snapshot file;
  if (c.args.size() > 3 && command != "save")
    if (const int code = pmcli::ReadFile(err, c.args[3], file)) return code;

  // Every write goes on record: a journal that cannot be opened refuses the
  // write before the port is opened.
  std::unique_ptr<pmjournal::Journal> journal;
  if ((command == "load" || command == "restore" || command == "verify") && !c.noJournal) {
    try {
      auto opened = pmjournal::Journal::Open(journalFile);
      if (!opened.notice.empty()) pmcli::Report(err, opened.notice);
      journal = std::move(opened.journal);
    } catch (const pmjournal::JournalError& e) {
      pmcli::Report(err, std::string(e.what()) + (command == "verify" ? "\nПроверка не выполнена: её негде сохранить."
                                                                     : "\nВ прибор ничего не записано. Записать без журнала: ключ --no-journal."));
      return pmcli::kJournalRefused;
    }
  }

  // The CSV file of watch is created before the port is opened.
  pmtrend::CsvRecorder csvFile;
  if (c.csv) {
    if (auto error = csvFile.Start(*c.csv, pmtrend::PortColumn::Yes)) {
      pmcli::Report(err, *error);
      return pmcli::kFileRefused;
    }
  }

  // The one serial port of the program: a device, or a line behind a gateway.
  pmlink::NamedPort port;
  if (c.timeout) port.SetReplyTimeout(c.timeout);
  pmcli::ConsoleMessages messages(err);
  // What would close the window ends pmctl: the line is gone.
  TComPortClass link(port, messages, [name = c.args[1]] { throw LineLost{name}; });
  link.Port = c.args[1];
  link.Baud = c.baud;
  link.Parity = c.parity;
  link.StopBits = c.stopBits;
  link.SetTxDelay(c.txDelay);
  if (c.tries) {
    link.SetRetries1(c.tries);
    link.SetRetries2(c.tries);
  }
  if (link.ConfigureQuietly() != 0) {
    if (link.LastOpenError().empty())
      return pmcli::UsageFault(err, "Неверное имя порта: " + c.args[1] +
                                   " (нужно устройство /dev/..., COMn, tcp://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ)");
    pmcli::Report(err, "Невозможно открыть последовательный порт.\n" + link.LastOpenFailureCause());
    return pmcli::kLinkFailure;
  }

  pmcli::Target target{link, out, err, c.address};
  target.journal = journal.get();
  int code = pmcli::kUsage;
  if (command == "scan") code = pmcli::Scan(link, out, err, c.last, c.tries ? c.tries : pmops::kScanRetries1);
  else if (command == "read") code = pmcli::Read(target, c.json);
  else if (command == "save") code = pmcli::Save(target, c.args[3]);
  else if (command == "load") code = pmcli::Load(target, file, false);
  else if (command == "restore") code = pmcli::Load(target, file, true);
  else if (command == "verify") {
    code = pmcli::Verify(target, *journal, pmverify::RememberedSetup, verify, std::cin);
  }
  else if (command == "watch") {
    StopOnSignals();
    code = pmcli::Watch(link, out, err, c.watch, c.csv ? &csvFile : nullptr, g_stop);
  } else if (command == "diff")
    code = pmcli::Diff(target, file, c.settingsOnly ? pmset::Part::Settings : pmset::Part::Whole);
  link.ClosePort();
  return code;
}

int Run(std::ostream& out, std::ostream& err) {
  const auto parsed = pmcli::ParseCommandLine(QCoreApplication::arguments(), out, err);
  if (const int* code = std::get_if<int>(&parsed)) return *code;
  return Execute(std::get<pmcli::Invocation>(parsed), out, err);
}

}  // namespace

int main(int argc, char* argv[]) {
  // A file-size limit makes a write fail with its reason instead of killing
  // the program half-way through.
  std::signal(SIGXFSZ, SIG_IGN);
  // Printing a record needs the fonts of QtGui, on no screen.
  bool printing = false;
  for (int i = 1; i < argc; ++i) printing = printing || std::string(argv[i]).rfind("--pdf", 0) == 0;
  if (printing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::unique_ptr<QCoreApplication> application =
      printing ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication::setApplicationName("pmctl");
  QCoreApplication::setApplicationVersion(QString::fromStdString(pmset::ProgramVersion()));
  pmcli::ParserTexts parserTexts;
  QCoreApplication::installTranslator(&parserTexts);

  pmcli::FdOutput outBuffer(STDOUT_FILENO);
  std::ostream out(&outBuffer);
  int code = pmcli::kLinkFailure;
  try {
    code = Run(out, std::cerr);
  } catch (const LineLost& e) {
    pmcli::Report(std::cerr, "Порт " + e.port + ": соединение разорвано или устройство отключено");
    code = pmcli::kLinkFailure;
  } catch (const pmlink::SerialPortError& e) {
    pmcli::Report(std::cerr, e.what());
    code = pmcli::kLinkFailure;
  } catch (const std::exception& e) {
    pmcli::Report(std::cerr, std::string("внутренняя ошибка: ") + e.what());
    code = pmcli::kLinkFailure;
  }
  out.flush();
  if (outBuffer.Error() != 0) {
    pmcli::Report(std::cerr, "Не удалось вывести результат: " + pmset::FileErrorCause(outBuffer.Error()));
    if (code == pmcli::kDone || code == pmcli::kDifference) code = pmcli::kFileRefused;
  }
  return code;
}
