// pmctl: reads, saves, loads, restores and compares instrument settings
// from the command line. It never asks: what the window asks is an option
// here, or the command is refused.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <iostream>
#include <map>

#include "Commands.h"
#include "ConsoleMessages.h"
#include "SettingsFile.h"
#include "NamedPort.h"

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
    "  diff PORT ADDR FILE              сравнить прибор с файлом (* - различие)\n"
    "\n"
    "PORT: устройство (/dev/ttyUSB0, COM1) или линия за шлюзом: tcp://УЗЕЛ:ПОРТ,\n"
    "rfc2217://УЗЕЛ:ПОРТ.\n"
    "\n"
    "Коды завершения:\n"
    "  0  выполнено\n"
    "  1  ошибка в командной строке\n"
    "  2  порт не открывается, ошибка обмена или прибор не отвечает\n"
    "  3  файл не читается, не записывается или отвергнут\n"
    "  4  после записи прочитано не то, что записано; diff: есть различия\n"
    "  5  прибор не обслуживается программой или отказ записи";

int Usage(const QString& text) {
  std::cerr << text.toStdString() << "\nСправка: pmctl --help\n";
  return pmcli::kUsage;
}

std::string ParityLetter(const QString& text) {
  static const std::map<QString, std::string> known = {
      {"N", "N"}, {"none", "N"}, {"нет", "N"},   {"O", "O"}, {"odd", "O"},
      {"нечет", "O"}, {"E", "E"}, {"even", "E"}, {"чет", "E"}};
  const auto it = known.find(text);
  return it == known.end() ? std::string() : it->second;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("pmctl");
  QCoreApplication::setApplicationVersion(QString::fromStdString(pmset::ProgramVersion()));

  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(kDescription));
  parser.addPositionalArgument("command", "ports, scan, read, save, load, restore, diff");
  const QCommandLineOption help({"h", "help"}, "Показать эту справку.");
  const QCommandLineOption version({"v", "version"}, "Показать версию программы.");
  const QCommandLineOption baud("baud", "Скорость, бит/с (по умолчанию 9600).", "bit/s", "9600");
  const QCommandLineOption parity("parity", "Четность: none|odd|even (по умолчанию none).", "kind", "none");
  const QCommandLineOption stopBits("stop-bits", "Стоповые биты: 1|2 (по умолчанию 2).", "n", "2");
  const QCommandLineOption txDelay("tx-delay", "Пауза перед передачей, мс (по умолчанию 25).", "ms", "25");
  const QCommandLineOption to("to", "scan: последний опрашиваемый адрес, 1..32 (по умолчанию 32).", "n", "32");
  const QCommandLineOption json("json", "read: вывести в формате файла настроек.");
  const QCommandLineOption calibration("include-calibration",
                                       "restore: восстановить и калибровку (только для резервной копии этого же прибора).");
  parser.addOptions({help, version, baud, parity, stopBits, txDelay, to, json, calibration});
  if (!parser.parse(QCoreApplication::arguments())) return Usage(parser.errorText());
  if (parser.isSet(help)) {
    std::cout << parser.helpText().toStdString();
    return pmcli::kDone;
  }
  if (parser.isSet(version)) {
    std::cout << "pmctl " << pmset::ProgramVersion() << '\n';
    return pmcli::kDone;
  }

  const QStringList args = parser.positionalArguments();
  if (args.isEmpty()) return Usage("Не задана команда.");
  const QString command = args[0];
  static const std::map<QString, int> arity = {{"ports", 1}, {"scan", 2}, {"read", 3}, {"save", 4},
                                                {"load", 4},  {"restore", 4}, {"diff", 4}};
  const auto known = arity.find(command);
  if (known == arity.end()) return Usage("Неизвестная команда: " + command);
  if (args.size() != known->second) return Usage("Неверное число аргументов команды " + command);
  if (command == "ports") return pmcli::Ports(std::cout);

  bool ok = false;
  int address = 1;
  if (args.size() > 2) {
    address = args[2].toInt(&ok);
    if (!ok || address < 1 || address > 32) return Usage("Номер устройства должен быть от 1 до 32: " + args[2]);
  }
  const int last = parser.value(to).toInt(&ok);
  if (!ok || last < 1 || last > 32) return Usage("--to: адрес от 1 до 32");
  const int delay = parser.value(txDelay).toInt(&ok);
  if (!ok || delay < 0) return Usage("--tx-delay: число миллисекунд");
  const std::string parityLetter = ParityLetter(parser.value(parity));
  if (parityLetter.empty()) return Usage("--parity: none, odd или even");
  if (command == "restore" && !parser.isSet(calibration))
    return Usage("restore восстанавливает и калибровку прибора: подтвердите это ключом --include-calibration.\n"
                 "Для переноса только настроек служит команда load.");

  // The one serial port of the program: a device, or a line behind a gateway.
  pmlink::NamedPort port;
  pmcli::ConsoleMessages messages;
  TComPortClass link(port, messages, [] {});
  link.Port = args[1].toStdString();
  link.Baud = parser.value(baud).toStdString();
  link.Parity = parityLetter;
  link.StopBits = parser.value(stopBits).toStdString();
  link.SetTxDelay(delay);
  if (link.Configure() != 0) {
    // The link has said why; a refused setting leaves no cause.
    std::cerr << link.ErrorText(address - 1, rc::CannotOpen) << '\n';
    return link.LastOpenError().empty() ? pmcli::kUsage : pmcli::kLinkFailure;
  }

  const pmcli::Target target{link, std::cout, std::cerr, address};
  int code = pmcli::kUsage;
  if (command == "scan") code = pmcli::Scan(link, std::cout, std::cerr, last);
  else if (command == "read") code = pmcli::Read(target, parser.isSet(json));
  else if (command == "save") code = pmcli::Save(target, args[3].toStdString());
  else if (command == "load") code = pmcli::Load(target, args[3].toStdString(), false);
  else if (command == "restore") code = pmcli::Load(target, args[3].toStdString(), true);
  else if (command == "diff") code = pmcli::Diff(target, args[3].toStdString());
  link.ClosePort();
  return code;
}
