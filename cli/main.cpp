// pmctl: reads, saves, loads, restores and compares instrument settings
// from the command line. It never asks: what the window asks is an option
// here, or the command is refused. Every way it ends has its exit code and
// a message starting "pmctl: "; nothing escapes main.

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <array>
#include <memory>
#include <csignal>
#include <variant>
#include <optional>
#include <iostream>
#include <map>
#include <vector>

#include "Addresses.h"
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

const char* kDescription =
    "Сервисная программа КАРД, ЗЕТ-ТП, ЗЕТ-ТС, ЛУНТ для командной строки.\n"
    "\n"
    "Команды:\n"
    "  ports                            порты, которые предлагает окно настройки порта\n"
    "  scan PORT [--to N]               список устройств на линии (адреса 1..N)\n"
    "  read PORT ADDR [--json]          тип, настройки и измерение прибора\n"
    "  save PORT ADDR FILE              сохранить прибор в файл настроек\n"
    "  load PORT ADDR FILE              загрузить из файла только настройки, записать и проверить\n"
    "  restore PORT ADDR FILE --include-calibration\n"
    "                                   восстановить из файла всё, калибровку тоже\n"
    "  diff PORT ADDR FILE [--settings] сравнить прибор с файлом (* - различие):\n"
    "                                   весь блок или только то, что записывает load\n"
    "  watch PORT ADDRS [--interval S] [--count N] [--csv FILE]\n"
    "                                   опрос приборов линии по очереди (ADDRS: 1-8,12):\n"
    "                                   строка на каждый опрос, CSV как у записи в файл;\n"
    "                                   Ctrl+C завершает опрос сразу\n"
    "  journal [--port P] [--address N] [--since T] [--json]\n"
    "                                   журнал изменений, новые записи сначала\n"
    "  journal show ID                  запись журнала: каждый параметр до и после\n"
    "  journal export FILE.csv [--port P] [--address N] [--since T]\n"
    "                                   выбранные записи журнала в файл CSV\n"
    "  verify PORT ADDR [--points \"0;250;500\"] [--tolerance 0,5%|2C] [--readings N]\n"
    "         [--interval S] [--copper] [--after ID] [--script] [--equipment ...]\n"
    "                                   проверка погрешности: в каждой точке pmctl пишет,\n"
    "                                   что подать (\"Подайте 10,153 мВ (250 °C) и нажмите\n"
    "                                   Enter\"), и читает строку: пустую, или выходной ток\n"
    "                                   в мА, а после \";\" - поданное значение, если сигнал\n"
    "                                   не рассчитан. --script: строки от программы\n"
    "                                   (калибратор под управлением скрипта), без терминала.\n"
    "                                   --after ID: проверка после регулировки к проверке\n"
    "                                   \"как найдено\" ID. Эталон и условия: --equipment,\n"
    "                                   --serial, --certificate, --valid-until, --ambient,\n"
    "                                   --humidity (по умолчанию - последние из окна)\n"
    "  verify --list [--port P] [--address N] [--since T] [--csv FILE]\n"
    "                                   проверки из журнала, новые сначала, или в файл CSV\n"
    "  verify ID --pdf FILE             протокол калибровки визита проверки ID (PDF)\n"
    "  journal ... --server             то же по журналу группы на сервере\n"
    "  journal sync                     отправить на сервер журнала записи, ждущие отправки\n"
    "\n"
    "Каждая запись в прибор (load, restore) заносится в журнал изменений до того,\n"
    "как уходит в прибор. Журнал тот же, что у окна программы: файл, выбранный\n"
    "в окне, иначе $PMSERVICE_JOURNAL, иначе ~/.local/share/pmservice/journal.sqlite;\n"
    "ключ --journal задаёт другой файл для одной команды.\n"
    "Журнал группы ведёт сервер PostgreSQL: адрес, заданный в окне, иначе\n"
    "$PMSERVICE_JOURNAL_SERVER; ключ --journal-server задаёт другой для одной команды.\n"
    "Пароль берётся только из ~/.pgpass или PGPASSWORD. load и restore на сервер\n"
    "не обращаются: записи отправляет окно программы или journal sync.\n"
    "\n"
    "PORT: устройство (/dev/ttyUSB0, COM1) или линия за шлюзом: tcp://УЗЕЛ:ПОРТ,\n"
    "rfc2217://УЗЕЛ:ПОРТ. Ключи порта и обмена (--baud, --parity, --stop-bits,\n"
    "--tx-delay, --tries, --timeout) относятся ко всем командам, кроме ports;\n"
    "остальные - только к своей команде.\n"
    "\n"
    "Коды завершения (сообщения об ошибках начинаются с \"pmctl: \"):\n"
    "  0  выполнено\n"
    "  1  ошибка в командной строке\n"
    "  2  порт не открывается, ошибка обмена, связь прервана или прибор не отвечает\n"
    "     (watch: прибор не ответил на последний опрос)\n"
    "  3  файл не читается, не записывается или отвергнут; не удалось вывести результат\n"
    "  4  после записи прочитано не то, что записано; diff: есть различия\n"
    "  5  прибор не обслуживается программой, отказ записи или прибор принял\n"
    "     не всё (непривилегированный режим)\n"
    "  6  журнал изменений не записывается; в прибор ничего не записано\n"
    "     (записать без журнала: --no-journal)\n"
    "  7  запись в прибор выполнена, но журнал изменений не смог её завершить\n"
    "  verify: 0 - годен, 8 - не годен, 9 - проверка не выполнена (прибор не считан,\n"
    "     сигнал не установился, ввод закончился, проверка не сохранена); 1, 2 и 6 -\n"
    "     как у остальных команд\n"
    "  10 сервер журнала изменений недоступен или отказал в соединении\n"
    "  11 journal sync: сервер доступен, но не все записи отправлены";

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

// A decimal number of seconds in 0..86400 (comma or point).
std::optional<double> Seconds(QString text) {
  bool ok = false;
  const double v = text.replace(',', '.').toDouble(&ok);
  if (!ok || !(v >= 0 && v <= 86400)) return std::nullopt;
  return v;
}

// The line dropped while the link cleared it; the link has said so in the
// window's words, without the system's cause.
struct LineLost {
  std::string port;
};

int Usage(std::ostream& err, const QString& text) {
  pmcli::Report(err, text.toStdString() + "\nСправка: pmctl --help");
  return pmcli::kUsage;
}

std::string ParityLetter(const QString& text) {
  static const std::map<QString, std::string> known = {
      {"N", "N"}, {"none", "N"}, {"нет", "N"},   {"O", "O"}, {"odd", "O"},
      {"нечет", "O"}, {"E", "E"}, {"even", "E"}, {"чет", "E"}};
  const auto it = known.find(text);
  return it == known.end() ? std::string() : it->second;
}

// A whole number in lo..hi, or nothing.
std::optional<int> Number(const QString& text, int lo, int hi) {
  bool ok = false;
  const int v = text.toInt(&ok);
  if (!ok || v < lo || v > hi) return std::nullopt;
  return v;
}

// The journal commands: nothing is opened but the journal file, or the
// team server.
int RunJournal(std::ostream& out, std::ostream& err, const std::string& file, const QString& verb,
               const QString& argument, const QCommandLineParser& parser,
               std::array<const QCommandLineOption*, 5> options, const std::string& serverText) {
  const auto& [json, port, address, since, server] = options;
  if (verb == "sync") {
    if (parser.isSet(*port) || parser.isSet(*address) || parser.isSet(*since) || parser.isSet(*json) ||
        parser.isSet(*server))
      return Usage(err, "journal sync принимает только ключи --journal и --journal-server.");
    return pmcli::JournalSync(out, err, file, serverText);
  }
  pmjournal::Filter filter;
  if (parser.isSet(*port)) filter.port = parser.value(*port).toStdString();
  if (parser.isSet(*address)) {
    const auto n = Number(parser.value(*address), 1, 32);
    if (!n) return Usage(err, "--address: адрес от 1 до 32");
    filter.address = *n;
  }
  if (parser.isSet(*since)) {
    const auto ms = pmcli::ParseLocalTime(parser.value(*since).toStdString());
    if (!ms) return Usage(err, "--since: время в виде ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTЧЧ:ММ[:СС]: " + parser.value(*since));
    filter.sinceMs = *ms;
  }
  std::optional<std::int64_t> id;
  if (verb == "show") {
    bool ok = false;
    id = argument.toLongLong(&ok);
    if (!ok || *id <= 0) return Usage(err, "Номер записи журнала - целое число больше 0: " + argument);
    if (parser.isSet(*port) || parser.isSet(*address) || parser.isSet(*since) || parser.isSet(*json))
      return Usage(err, "journal show принимает только номер записи.");
  }
  if (verb == "export" && parser.isSet(*json)) return Usage(err, "Ключ --json не относится к journal export.");
  try {
    std::unique_ptr<pmjournal::History> history;
    if (parser.isSet(*server)) {
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
    if (verb == "show") return pmcli::JournalShow(out, err, *history, *id);
    if (verb == "export") return pmcli::JournalExport(err, *history, filter, argument.toStdString());
    return pmcli::JournalList(out, *history, filter, parser.isSet(*json));
  } catch (const pmjournal::JournalError& e) {
    pmcli::Report(err, e.what());
    return pmcli::kJournalRefused;
  }
}

int Run(std::ostream& out, std::ostream& err) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(kDescription));
  parser.addPositionalArgument("команда", "ports, scan, read, save, load, restore, diff, watch, journal, verify");
  const QCommandLineOption help({"h", "help"}, "Показать эту справку.");
  const QCommandLineOption version({"v", "version"}, "Показать версию программы.");
  const QCommandLineOption baud("baud", "Скорость, бит/с (по умолчанию 9600).", "бит/с", "9600");
  const QCommandLineOption parity("parity", "Четность: none|odd|even (по умолчанию none).", "вид", "none");
  const QCommandLineOption stopBits("stop-bits", "Стоповые биты: 1|2 (по умолчанию 2).", "n", "2");
  const QCommandLineOption txDelay("tx-delay", "Пауза перед передачей, мс (по умолчанию 25).", "мс", "25");
  const QCommandLineOption tries("tries", "Попыток на запрос, 1..100 (по умолчанию 5, scan: 2).", "n");
  const QCommandLineOption timeout(
      "timeout", "Ожидание начала ответа, мс, 10..60000 (по умолчанию 1000; и 100 мс на байт ответа).", "мс");
  const QCommandLineOption to("to", "scan: последний опрашиваемый адрес, 1..32 (по умолчанию 32).", "n", "32");
  const QCommandLineOption json("json", "read: вывести в формате файла настроек.");
  const QCommandLineOption calibration("include-calibration",
                                       "restore: восстановить и калибровку (только для резервной копии этого же прибора).");
  const QCommandLineOption settings("settings", "diff: сравнить только то, что записывает load.");
  const QCommandLineOption journalPath("journal", "load, restore, journal: файл журнала изменений.", "файл");
  const QCommandLineOption journalServer("journal-server",
                                         "journal: адрес сервера журнала изменений (postgresql://...) для одной команды.",
                                         "адрес");
  const QCommandLineOption server("server", "journal: записи журнала группы с сервера.");
  const QCommandLineOption noJournal("no-journal", "load, restore: записать в прибор без записи в журнал.");
  const QCommandLineOption portFilter("port", "journal: только записи этого порта.", "порт");
  const QCommandLineOption addressFilter("address", "journal: только записи этого адреса, 1..32.", "n");
  const QCommandLineOption since("since", "journal: записи начиная с ГГГГ-ММ-ДД[TЧЧ:ММ[:СС]].", "время");
  const QCommandLineOption interval(
      "interval", "watch: наименьшее время от начала цикла опроса до следующего, с; verify: между отсчётами (1 с).", "с", "0");
  const QCommandLineOption count("count", "watch: число циклов опроса (по умолчанию - до Ctrl+C).", "n");
  const QCommandLineOption csv("csv", "watch: записывать каждый опрос в файл CSV; verify --list: проверки в файл CSV.", "файл");
  const QCommandLineOption points("points", "verify: точки проверки, °C или % шкалы (по умолчанию 5 по диапазону).", "точки");
  const QCommandLineOption tolerance("tolerance", "verify: допускаемая погрешность: 0,5% диапазона или 2C.", "допуск");
  const QCommandLineOption readings("readings", "verify: отсчётов в точке, 1..50 (по умолчанию 5).", "n");
  const QCommandLineOption script("script", "verify: строки точек от программы, терминал не нужен.");
  const QCommandLineOption copper("copper", "verify: калибратор термопары подключён медными проводами: E(t) - E(tхс).");
  const QCommandLineOption after("after", "verify: проверка после регулировки к проверке \"как найдено\" с этим номером.", "ID");
  const QCommandLineOption equipment("equipment", "verify: эталон (наименование, тип).", "текст");
  const QCommandLineOption serial("serial", "verify: заводской номер эталона.", "текст");
  const QCommandLineOption certificate("certificate", "verify: свидетельство о калибровке (поверке) эталона.", "текст");
  const QCommandLineOption validUntil("valid-until", "verify: эталон действителен до.", "дата");
  const QCommandLineOption ambient("ambient", "verify: температура окружающего воздуха, °C.", "°C");
  const QCommandLineOption humidity("humidity", "verify: относительная влажность, %.", "%");
  const QCommandLineOption list("list", "verify: проверки из журнала.");
  const QCommandLineOption pdf("pdf", "verify ID: протокол калибровки в файл PDF.", "файл");
  parser.addOptions({help, version, baud, parity, stopBits, txDelay, tries, timeout, to, json, calibration, settings,
                     journalPath, journalServer, server, noJournal, portFilter, addressFilter, since, interval, count, csv, points, tolerance,
                     readings, script, copper, after, equipment, serial, certificate, validUntil, ambient, humidity,
                     list, pdf});
  // An address set that begins with a dash ("-4") is no option: it goes
  // after "--", where the set's own check says what is wrong with it.
  QStringList arguments = QCoreApplication::arguments();
  if (arguments.contains(QStringLiteral("watch"))) {
    QStringList dashed;
    for (qsizetype i = arguments.size() - 1; i > 0; --i) {
      // The value of an option before it ("--interval -1") stays the option's.
      const bool optionValue = arguments[i - 1].startsWith("--") && !arguments[i - 1].contains('=');
      if (!optionValue && arguments[i].size() > 1 && arguments[i][0] == '-' && arguments[i][1].isDigit())
        dashed.prepend(arguments.takeAt(i));
    }
    if (!dashed.isEmpty()) arguments << QStringLiteral("--") << dashed;
  }
  if (!parser.parse(arguments)) return Usage(err, parser.errorText());
  if (parser.isSet(help)) {
    out << parser.helpText().toStdString();
    return pmcli::kDone;
  }
  if (parser.isSet(version)) {
    out << "pmctl " << pmset::ProgramVersion() << '\n';
    return pmcli::kDone;
  }

  const QStringList args = parser.positionalArguments();
  if (args.isEmpty()) return Usage(err, "Не задана команда.");
  const QString command = args[0];
  struct Command {
    int arity;
    std::vector<const QCommandLineOption*> own;  // besides the port's
  };
  const std::map<QString, Command> commands = {
      {"ports", {1, {}}},           {"scan", {2, {&to}}},       {"read", {3, {&json}}},
      {"save", {4, {}}},            {"load", {4, {}}},          {"restore", {4, {&calibration}}},
      {"diff", {4, {&settings}}},   {"watch", {3, {&interval, &count, &csv}}},  {"journal", {1, {&journalPath, &journalServer, &server, &json, &portFilter, &addressFilter, &since}}},
      {"verify", {3, {&journalPath, &points, &tolerance, &readings, &interval, &script, &copper, &after, &equipment,
                      &serial, &certificate, &validUntil, &ambient, &humidity}}}};
  const auto known = commands.find(command);
  if (known == commands.end()) return Usage(err, "Неизвестная команда: " + command);
  const bool journalCommand = command == "journal";
  if (command == "verify" && (parser.isSet(list) || parser.isSet(pdf))) {
    if (parser.isSet(list) == parser.isSet(pdf) || args.size() != (parser.isSet(list) ? 1 : 2))
      return Usage(err, "verify --list или verify ID --pdf ФАЙЛ");
    for (const QCommandLineOption* option : {&baud, &parity, &stopBits, &txDelay, &tries, &timeout, &to, &json,
                                             &calibration, &settings, &noJournal, &interval, &count, &points,
                                             &tolerance, &readings, &script, &copper, &after, &equipment, &serial,
                                             &certificate, &validUntil, &ambient, &humidity})
      if (parser.isSet(*option))
        return Usage(err, "Ключ --" + option->names().constFirst() + " не относится к verify --list и --pdf.");
    if (parser.isSet(pdf) && (parser.isSet(portFilter) || parser.isSet(addressFilter) || parser.isSet(since) || parser.isSet(csv)))
      return Usage(err, "verify ID --pdf принимает только номер проверки и файл.");
    pmverify::CheckFilter filter;
    if (parser.isSet(portFilter)) filter.port = parser.value(portFilter).toStdString();
    if (parser.isSet(addressFilter)) {
      const auto n = Number(parser.value(addressFilter), 1, 32);
      if (!n) return Usage(err, "--address: адрес от 1 до 32");
      filter.address = *n;
    }
    if (parser.isSet(since)) {
      const auto ms = pmcli::ParseLocalTime(parser.value(since).toStdString());
      if (!ms) return Usage(err, "--since: время в виде ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTЧЧ:ММ[:СС]: " + parser.value(since));
      filter.sinceMs = *ms;
    }
    std::int64_t id = 0;
    if (parser.isSet(pdf)) {
      bool ok = false;
      id = args[1].toLongLong(&ok);
      if (!ok || id <= 0) return Usage(err, "Номер проверки - целое число больше 0: " + args[1]);
    }
    const std::string file =
        parser.isSet(journalPath) ? parser.value(journalPath).toStdString() : pmjournal::ConfiguredPath();
    try {
      auto opened = pmjournal::Journal::Open(file, pmjournal::Journal::Mode::Read);
      if (parser.isSet(pdf)) return pmcli::VerifyPdf(err, *opened.journal, id, parser.value(pdf).toStdString());
      return pmcli::VerifyList(out, err, *opened.journal, filter, parser.value(csv).toStdString());
    } catch (const pmjournal::JournalError& e) {
      pmcli::Report(err, e.what());
      return pmcli::kJournalRefused;
    }
  }
  const QString journalVerb = journalCommand && args.size() > 1 ? args[1] : QString();
  const bool arityOk = journalCommand ? (args.size() == 1 || (args.size() == 2 && journalVerb == "sync") ||
                                         (args.size() == 3 && (journalVerb == "show" || journalVerb == "export")))
                                      : args.size() == known->second.arity;
  if (!arityOk) return Usage(err, "Неверное число аргументов команды " + command);
  std::vector<const QCommandLineOption*> allowed = known->second.own;
  if (command != "ports" && !journalCommand)
    allowed.insert(allowed.end(), {&baud, &parity, &stopBits, &txDelay, &tries, &timeout});
  if (command == "load" || command == "restore") allowed.insert(allowed.end(), {&journalPath, &noJournal});
  for (const QCommandLineOption* option : {&baud, &parity, &stopBits, &txDelay, &tries, &timeout, &to, &json,
                                           &calibration, &settings, &journalPath, &journalServer, &server, &noJournal, &portFilter,
                                           &addressFilter, &since, &interval, &count, &csv, &points, &tolerance,
                                           &readings, &script, &copper, &after, &equipment, &serial, &certificate,
                                           &validUntil, &ambient, &humidity, &list, &pdf})
    if (parser.isSet(*option) && std::find(allowed.begin(), allowed.end(), option) == allowed.end())
      return Usage(err, "Ключ --" + option->names().constFirst() + " не относится к команде " + command + ".");
  if (command == "ports") return pmcli::Ports(out);
  if (parser.isSet(journalPath) && parser.isSet(noJournal))
    return Usage(err, "Ключи --journal и --no-journal исключают друг друга.");
  const std::string journalFile =
      parser.isSet(journalPath) ? parser.value(journalPath).toStdString() : pmjournal::ConfiguredPath();
  const std::string serverText = parser.isSet(journalServer) ? parser.value(journalServer).toStdString()
                                                             : pmjournal::ConfiguredServer();
  if (journalCommand)
    return RunJournal(out, err, journalFile, journalVerb, args.size() > 2 ? args[2] : QString(), parser,
                      {&json, &portFilter, &addressFilter, &since, &server}, serverText);

  int address = 1;
  pmcli::WatchOptions watch;
  if (command == "watch") {
    const auto parsed = pmline::ParseAddresses(args[2].toStdString());
    if (const auto* why = std::get_if<std::string>(&parsed)) return Usage(err, QString::fromStdString(*why));
    watch.addresses = std::get<std::vector<int>>(parsed);
    const auto s = Seconds(parser.value(interval));
    if (!s) return Usage(err, "--interval: число секунд от 0 до 86400");
    watch.intervalS = *s;
    if (parser.isSet(count)) {
      const auto n = Number(parser.value(count), 1, 100'000'000);
      if (!n) return Usage(err, "--count: число циклов от 1 до 100000000");
      watch.count = *n;
    }
  } else if (args.size() > 2) {
    const auto n = Number(args[2], 1, 32);
    if (!n) return Usage(err, "Номер устройства должен быть от 1 до 32: " + args[2]);
    address = *n;
  }
  const auto last = Number(parser.value(to), 1, 32);
  if (!last) return Usage(err, "--to: адрес от 1 до 32");
  const auto delay = Number(parser.value(txDelay), 0, 10000);
  if (!delay) return Usage(err, "--tx-delay: число миллисекунд от 0 до 10000");
  const auto attempts = parser.isSet(tries) ? Number(parser.value(tries), 1, 100) : std::optional<int>(0);
  if (!attempts) return Usage(err, "--tries: число попыток от 1 до 100");
  const auto wait = parser.isSet(timeout) ? Number(parser.value(timeout), 10, 60000) : std::optional<int>(0);
  if (!wait) return Usage(err, "--timeout: число миллисекунд от 10 до 60000");
  const std::string parityLetter = ParityLetter(parser.value(parity));
  if (parityLetter.empty()) return Usage(err, "--parity: none, odd или even");
  if (!Number(parser.value(stopBits), 1, 2)) return Usage(err, "--stop-bits: 1 или 2");
  if (!TComPortClass::SupportedBaud(parser.value(baud).toStdString()))
    return Usage(err, "--baud: скорость " + parser.value(baud) + " бит/с не поддерживается");
  pmcli::VerifyOptions verify;
  if (command == "verify") {
    if (parser.isSet(points)) verify.points = parser.value(points).toStdString();
    if (parser.isSet(tolerance)) {
      verify.tolerance = parser.value(tolerance).toStdString();
      if (!pmverify::ParseTolerance(*verify.tolerance)) return Usage(err, "--tolerance: например 0,5% (диапазона) или 2C");
    }
    if (parser.isSet(readings)) {
      verify.readings = Number(parser.value(readings), 1, pmverify::kMaxReadings);
      if (!verify.readings) return Usage(err, "--readings: число отсчётов от 1 до 50");
    }
    if (parser.isSet(interval)) {
      const auto s = Seconds(parser.value(interval));
      if (!s || *s > 60) return Usage(err, "--interval: число секунд от 0 до 60");
      verify.intervalMs = static_cast<int>(*s * 1000 + 0.5);
    }
    if (parser.isSet(after)) {
      bool ok = false;
      verify.after = parser.value(after).toLongLong(&ok);
      if (!ok || *verify.after <= 0) return Usage(err, "--after: номер проверки \"как найдено\"");
    }
    verify.script = parser.isSet(script);
    verify.copper = parser.isSet(copper);
    auto take = [&parser](const QCommandLineOption& option, std::optional<std::string>& field) {
      if (parser.isSet(option)) field = parser.value(option).toStdString();
    };
    take(equipment, verify.equipment);
    take(serial, verify.serial);
    take(certificate, verify.certificate);
    take(validUntil, verify.validUntil);
    take(ambient, verify.ambient);
    take(humidity, verify.humidity);
    verify.tableDirs = pmrange::DefaultTableDirs();
    if (!verify.script && !isatty(STDIN_FILENO))
      return Usage(err, "verify ждёт оператора у терминала; строки от программы - с ключом --script");
  }
  if (command == "restore" && !parser.isSet(calibration))
    return Usage(err, "restore восстанавливает и калибровку прибора: подтвердите это ключом --include-calibration.\n"
                      "Для переноса только настроек служит команда load.");

  // A file is read and checked before the port is opened: a refused file
  // sends nothing.
  pmset::Snapshot file;
  if (args.size() > 3 && command != "save")
    if (const int code = pmcli::ReadFile(err, args[3].toStdString(), file)) return code;

  // Every write goes on record: a journal that cannot be opened refuses the
  // write before the port is opened.
  std::unique_ptr<pmjournal::Journal> journal;
  if ((command == "load" || command == "restore" || command == "verify") && !parser.isSet(noJournal)) {
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
  if (parser.isSet(csv)) {
    if (auto error = csvFile.Start(parser.value(csv).toStdString(), pmtrend::PortColumn::Yes)) {
      pmcli::Report(err, *error);
      return pmcli::kFileRefused;
    }
  }

  // The one serial port of the program: a device, or a line behind a gateway.
  pmlink::NamedPort port;
  if (*wait) port.SetReplyTimeout(*wait);
  pmcli::ConsoleMessages messages(err);
  // What would close the window ends pmctl: the line is gone.
  TComPortClass link(port, messages, [name = args[1].toStdString()] { throw LineLost{name}; });
  link.Port = args[1].toStdString();
  link.Baud = parser.value(baud).toStdString();
  link.Parity = parityLetter;
  link.StopBits = parser.value(stopBits).toStdString();
  link.SetTxDelay(*delay);
  if (*attempts) {
    link.SetRetries1(*attempts);
    link.SetRetries2(*attempts);
  }
  if (link.ConfigureQuietly() != 0) {
    if (link.LastOpenError().empty())
      return Usage(err, "Неверное имя порта: " + args[1] +
                            " (нужно устройство /dev/..., COMn, tcp://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ)");
    pmcli::Report(err, "Невозможно открыть последовательный порт.\n" + link.LastOpenFailureCause());
    return pmcli::kLinkFailure;
  }

  pmcli::Target target{link, out, err, address};
  target.journal = journal.get();
  int code = pmcli::kUsage;
  if (command == "scan") code = pmcli::Scan(link, out, err, *last, *attempts ? *attempts : pmops::kScanRetries1);
  else if (command == "read") code = pmcli::Read(target, parser.isSet(json));
  else if (command == "save") code = pmcli::Save(target, args[3].toStdString());
  else if (command == "load") code = pmcli::Load(target, file, false);
  else if (command == "restore") code = pmcli::Load(target, file, true);
  else if (command == "verify") {
    code = pmcli::Verify(target, *journal, pmverify::RememberedSetup, verify, std::cin);
  }
  else if (command == "watch") {
    StopOnSignals();
    code = pmcli::Watch(link, out, err, watch, parser.isSet(csv) ? &csvFile : nullptr, g_stop);
  } else if (command == "diff")
    code = pmcli::Diff(target, file, parser.isSet(settings) ? pmset::Part::Settings : pmset::Part::Whole);
  link.ClosePort();
  return code;
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
