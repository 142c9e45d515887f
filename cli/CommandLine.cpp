#include "CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <ctime>
#include <map>
#include <ostream>

#include "Addresses.h"
#include "Check.h"
#include "Comportclass.h"
#include "Commands.h"
#include "Report.h"
#include "SettingsFile.h"

namespace pmcli {

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

// A decimal number of seconds in 0..86400 (comma or point).
std::optional<double> Seconds(QString text) {
  bool ok = false;
  const double v = text.replace(',', '.').toDouble(&ok);
  if (!ok || !(v >= 0 && v <= 86400)) return std::nullopt;
  return v;
}

int Usage(std::ostream& err, const QString& text) { return UsageFault(err, text.toStdString()); }

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

}  // namespace

int UsageFault(std::ostream& err, const std::string& text) {
  Report(err, text + "\nСправка: pmctl --help");
  return kUsage;
}

std::variant<Invocation, int> ParseCommandLine(const QStringList& given, std::ostream& out, std::ostream& err) {
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
  QStringList arguments = given;
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
    return kDone;
  }
  if (parser.isSet(version)) {
    out << "pmctl " << pmset::ProgramVersion() << '\n';
    return kDone;
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
  Invocation c;
  c.command = command.toStdString();
  for (const QString& a : args) c.args.push_back(a.toStdString());
  const auto take = [&parser](const QCommandLineOption& option, std::optional<std::string>& field) {
    if (parser.isSet(option)) field = parser.value(option).toStdString();
  };
  // --port, --address and --since of a listing, into a journal's or a
  // check store's filter; the fault's text, if any.
  const auto readFilter = [&](auto& filter) -> std::optional<QString> {
    if (parser.isSet(portFilter)) filter.port = parser.value(portFilter).toStdString();
    if (parser.isSet(addressFilter)) {
      const auto n = Number(parser.value(addressFilter), 1, 32);
      if (!n) return QString("--address: адрес от 1 до 32");
      filter.address = *n;
    }
    if (parser.isSet(since)) {
      const auto ms = ParseLocalTime(parser.value(since).toStdString());
      if (!ms) return "--since: время в виде ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTЧЧ:ММ[:СС]: " + parser.value(since);
      filter.sinceMs = *ms;
    }
    return std::nullopt;
  };
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
    if (const auto fault = readFilter(c.checkFilter)) return Usage(err, *fault);
    if (parser.isSet(pdf)) {
      bool ok = false;
      c.check = args[1].toLongLong(&ok);
      if (!ok || c.check <= 0) return Usage(err, "Номер проверки - целое число больше 0: " + args[1]);
    }
    c.checkList = parser.isSet(list);
    take(pdf, c.pdf);
    take(csv, c.csv);
    take(journalPath, c.journal);
    return c;
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
  if (command == "ports") return c;
  if (parser.isSet(journalPath) && parser.isSet(noJournal))
    return Usage(err, "Ключи --journal и --no-journal исключают друг друга.");
  take(journalPath, c.journal);
  take(journalServer, c.server);
  c.noJournal = parser.isSet(noJournal);
  c.json = parser.isSet(json);
  if (journalCommand) {
    c.journalVerb = journalVerb.toStdString();
    if (journalVerb == "sync") {
      if (parser.isSet(portFilter) || parser.isSet(addressFilter) || parser.isSet(since) || parser.isSet(json) ||
          parser.isSet(server))
        return Usage(err, "journal sync принимает только ключи --journal и --journal-server.");
      return c;
    }
    if (const auto fault = readFilter(c.filter)) return Usage(err, *fault);
    if (journalVerb == "show") {
      bool ok = false;
      const QString argument = args[2];
      c.entry = argument.toLongLong(&ok);
      if (!ok || *c.entry <= 0) return Usage(err, "Номер записи журнала - целое число больше 0: " + argument);
      if (parser.isSet(portFilter) || parser.isSet(addressFilter) || parser.isSet(since) || parser.isSet(json))
        return Usage(err, "journal show принимает только номер записи.");
    }
    if (journalVerb == "export" && parser.isSet(json)) return Usage(err, "Ключ --json не относится к journal export.");
    c.fromServer = parser.isSet(server);
    return c;
  }

  if (command == "watch") {
    const auto parsed = pmline::ParseAddresses(args[2].toStdString());
    if (const auto* why = std::get_if<std::string>(&parsed)) return Usage(err, QString::fromStdString(*why));
    c.watch.addresses = std::get<std::vector<int>>(parsed);
    const auto s = Seconds(parser.value(interval));
    if (!s) return Usage(err, "--interval: число секунд от 0 до 86400");
    c.watch.intervalS = *s;
    if (parser.isSet(count)) {
      const auto n = Number(parser.value(count), 1, 100'000'000);
      if (!n) return Usage(err, "--count: число циклов от 1 до 100000000");
      c.watch.count = *n;
    }
  } else if (args.size() > 2) {
    const auto n = Number(args[2], 1, 32);
    if (!n) return Usage(err, "Номер устройства должен быть от 1 до 32: " + args[2]);
    c.address = *n;
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
  c.last = *last;
  c.txDelay = *delay;
  c.tries = *attempts;
  c.timeout = *wait;
  c.parity = parityLetter;
  c.baud = parser.value(baud).toStdString();
  c.stopBits = parser.value(stopBits).toStdString();
  c.settingsOnly = parser.isSet(settings);
  take(csv, c.csv);
  if (command == "verify") {
    VerifyOptions& verify = c.verify;
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
    take(equipment, verify.equipment);
    take(serial, verify.serial);
    take(certificate, verify.certificate);
    take(validUntil, verify.validUntil);
    take(ambient, verify.ambient);
    take(humidity, verify.humidity);
  }
  if (command == "restore" && !parser.isSet(calibration))
    return Usage(err, "restore восстанавливает и калибровку прибора: подтвердите это ключом --include-calibration.\n"
                      "Для переноса только настроек служит команда load.");
  return c;
}

std::optional<std::int64_t> ParseLocalTime(const std::string& text) {
  // Digits where the pattern has 'd' and its separators elsewhere, nothing
  // else (no signs, no spaces).
  constexpr const char* kPattern = "dddd-dd-ddTdd:dd:dd";
  if (text.size() != 10 && text.size() != 16 && text.size() != 19) return {};
  for (std::size_t i = 0; i < text.size(); ++i)
    if (kPattern[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != kPattern[i]) return {};
  const auto number = [&text](std::size_t at, std::size_t digits) {
    int n = 0;
    for (std::size_t i = at; i < at + digits; ++i) n = n * 10 + (text[i] - '0');
    return n;
  };
  const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const bool withTime = text.size() > 10;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  if (withTime) {
    tm.tm_hour = number(11, 2);
    tm.tm_min = number(14, 2);
    tm.tm_sec = text.size() > 16 ? number(17, 2) : 0;
  }
  // The day must be one of its month's: mktime would take 31 November for
  // 1 December.
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap) || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 59)
    return {};
  const std::tm asked = tm;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return {};
  // A time the clocks skip when they go forward comes back moved past the
  // gap: there is no such moment. A day that begins in such a gap begins
  // when the clocks go on.
  if (tm.tm_year != asked.tm_year || tm.tm_mon != asked.tm_mon || tm.tm_mday != asked.tm_mday) return {};
  if (withTime && (tm.tm_hour != asked.tm_hour || tm.tm_min != asked.tm_min || tm.tm_sec != asked.tm_sec)) return {};
  return static_cast<std::int64_t>(t) * 1000;
}

}  // namespace pmcli
