// Link settings (Configure) and the operator messages for result codes.

#include <gtest/gtest.h>

#include <utility>

#include <cerrno>
#include <string>

#include "Comportclass.h"
#include "FakePort.h"
#include "ScriptedMessageService.h"

using linktest::FakePort;

namespace {

struct Link {
  FakePort port;
  ui::ScriptedMessageService messages;
  int closeRequests = 0;
  TComPortClass link{port, messages, [this] { ++closeRequests; }};
};

const char* const kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

TEST(Settings, Defaults) {
  Link t;
  EXPECT_EQ(t.link.Baud, "9600");
  EXPECT_EQ(t.link.Parity, "N");
  EXPECT_EQ(t.link.StopBits, "2");
  EXPECT_EQ(t.link.Port, "COM1");
  EXPECT_EQ(t.link.GetRetries1(), 5);
  EXPECT_EQ(t.link.Retries2, 10);
  EXPECT_EQ(t.link.GetTxDelay(), 25);
  EXPECT_EQ(t.link.GetRxDelay(), 20);
  EXPECT_EQ(t.link.FrameLen + t.link.DataLen + t.link.ReplyLen, 0);
  EXPECT_EQ(t.port.opens + t.port.closes, 0) << "construction leaves the port alone";
}

// ------------------------------------------------------------ Configure

struct ConfigureCase {
  std::string name;
  std::string baud, parity, stopBits, port;
  int result;
  int appliedBaud;  // 0: not applied
};

class Configure : public ::testing::TestWithParam<ConfigureCase> {};

TEST_P(Configure, AcceptsExactlyTheSettings) {
  const auto& c = GetParam();
  Link t;
  t.port.open = true;
  t.link.Baud = c.baud;
  t.link.Parity = c.parity;
  t.link.StopBits = c.stopBits;
  t.link.Port = c.port;
  EXPECT_EQ(t.link.Configure(), c.result);
  EXPECT_EQ(t.port.closes, 1) << "closed first";
  EXPECT_EQ(t.port.baud, c.appliedBaud);
  EXPECT_EQ(t.port.open, c.result == 0);
  EXPECT_EQ(t.port.opens, c.result == 0 ? 1 : 0);
  if (c.result == 0) {
    EXPECT_EQ(t.port.name, c.port);
    const auto parity = c.parity[0] == 'E'   ? pmlink::ParityKind::Even
                        : c.parity[0] == 'O' ? pmlink::ParityKind::Odd
                                             : pmlink::ParityKind::None;
    EXPECT_EQ(t.port.parity, parity);
    EXPECT_EQ(t.port.stopBits, c.stopBits[0] - '0');
  }
  EXPECT_TRUE(t.messages.shown.empty()) << "a refused setting has no message of its own";
  EXPECT_EQ(t.closeRequests, 0);
}

std::vector<ConfigureCase> ConfigureCases() {
  std::vector<ConfigureCase> cases;
  for (const char* b : {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                        "38400", "56000", "57600", "115200"})
    cases.push_back({std::string("baud") + b, b, "N", "2", "COM1", 0, std::stoi(b)});
  const std::vector<ConfigureCase> more = {
      {"baud28800", "28800", "N", "2", "COM1", -1, 0},
      {"baudEmpty", "", "N", "2", "COM1", -1, 0},
      {"baud0", "0", "N", "2", "COM1", -1, 0},
      {"baud230400", "230400", "N", "2", "COM1", -1, 0},
      {"baudLeadingBlanks", "  9600", "N", "2", "COM1", 0, 9600},
      {"baudSign", "+19200", "N", "2", "COM1", 0, 19200},
      {"baudTrailingText", "9600bps", "N", "2", "COM1", 0, 9600},
      {"baudNegative", "-9600", "N", "2", "COM1", -1, 0},
      {"parityEven", "9600", "E", "1", "COM1", 0, 9600},
      {"parityOdd", "9600", "O", "2", "COM1", 0, 9600},
      {"parityLowerCase", "9600", "n", "2", "COM1", -1, 9600},
      {"parityEmpty", "9600", "", "2", "COM1", -1, 9600},
      {"parityMark", "9600", "M", "2", "COM1", -1, 9600},
      {"stop1", "9600", "N", "1", "COM1", 0, 9600},
      {"stop0", "9600", "N", "0", "COM1", -1, 9600},
      {"stop3", "9600", "N", "3", "COM1", -1, 9600},
      {"stopEmpty", "9600", "N", "", "COM1", -1, 9600},
      {"portLowerCom", "9600", "N", "2", "com3", 0, 9600},
      {"portUpperCom", "9600", "N", "2", "COM3", 0, 9600},
      {"portMixedCase", "9600", "N", "2", "Com3", -1, 9600},
      {"portEmpty", "9600", "N", "2", "", -1, 9600},
      {"portRelative", "9600", "N", "2", "ttyUSB0", -1, 9600},
      {"portDevice", "9600", "N", "2", "/dev/ttyUSB0", 0, 9600},
      {"portById", "9600", "N", "2", "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0", 0, 9600},
      {"portSimulator", "9600", "N", "2", "/tmp/pmsim-1000/line1", 0, 9600},
      {"portLongCom", "9600", "N", "2", "COM12", 0, 9600},
  };
  cases.insert(cases.end(), more.begin(), more.end());
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Link, Configure, ::testing::ValuesIn(ConfigureCases()),
                         [](const auto& info) { return info.param.name; });

TEST(Configure, RefusalKeepsEarlierSettingsAndPortClosed) {
  Link t;
  t.link.Baud = "19200";
  t.link.Parity = "E";
  t.link.StopBits = "1";
  t.link.Port = "Com3";
  EXPECT_EQ(t.link.Configure(), -1);
  EXPECT_EQ(t.port.baud, 19200);
  EXPECT_EQ(t.port.parity, pmlink::ParityKind::Even);
  EXPECT_EQ(t.port.stopBits, 1);
  EXPECT_EQ(t.port.name, "");
  EXPECT_FALSE(t.link.IsOpen());
}

TEST(Configure, PortThatDoesNotOpen) {
  // The program's message, then a line naming the cause the system gave.
  const std::pair<int, std::string> cases[] = {
      {ENOENT, "такого порта нет"},
      {EBUSY, "порт занят другой программой"},
      {EACCES, "нет прав на доступ к порту (добавьте пользователя в группу dialout и войдите в систему заново)"},
  };
  for (const auto& [err, cause] : cases) {
    Link t;
    t.port.openErrno = err;
    t.link.Port = "/dev/ttyUSB7";
    EXPECT_EQ(t.link.Configure(), -1);
    ASSERT_EQ(t.messages.shown.size(), 1u);
    EXPECT_EQ(t.messages.Last().text, std::string(kDisconnected) + "\nПорт /dev/ttyUSB7: " + cause);
    EXPECT_EQ(t.messages.Last().caption, "Ошибка");
    EXPECT_EQ(t.messages.Last().icon, ui::Icon::Error);
    EXPECT_EQ(t.messages.Last().buttons, ui::Buttons::Ok);
    EXPECT_EQ(t.closeRequests, 1);
    EXPECT_EQ(t.link.LastOpenErrno(), err);
    EXPECT_NE(t.link.LastOpenError(), "");
  }
}

TEST(Configure, CloseErrorReportedThenOpens) {
  struct BadClose : FakePort {
    void Close() override {
      FakePort::Close();
      throw pmlink::SerialPortError("close failed", EIO);
    }
  };
  BadClose port;
  ui::ScriptedMessageService messages;
  int closeRequests = 0;
  TComPortClass link(port, messages, [&] { ++closeRequests; });
  EXPECT_EQ(link.Configure(), 0);
  EXPECT_EQ(messages.Texts(), (std::vector<std::string>{kDisconnected}));
  EXPECT_EQ(closeRequests, 1);

  link.ClosePort();  // errors of ClosePort are silent
  EXPECT_EQ(messages.shown.size(), 1u);
}

// ---------------------------------------------------------- ReportError

struct ReportCase {
  int code;
  const char* text;
  const char* caption;
  ui::Icon icon;
};

class Report : public ::testing::TestWithParam<ReportCase> {};

TEST_P(Report, TextCaptionIcon) {
  const auto& c = GetParam();
  Link t;
  t.port.open = true;
  t.link.ReportError(2, c.code);
  ASSERT_EQ(t.messages.shown.size(), 1u);
  EXPECT_EQ(t.messages.Last().text, c.text);
  EXPECT_EQ(t.messages.Last().caption, c.caption);
  EXPECT_EQ(t.messages.Last().icon, c.icon);
  EXPECT_EQ(t.messages.Last().buttons, ui::Buttons::Ok);
  EXPECT_EQ(t.link.ErrorText(2, c.code), c.text);
  EXPECT_EQ(t.port.open, c.code != rc::PortClosed);
}

constexpr auto W = ui::Icon::Warning;
constexpr auto E = ui::Icon::Error;

INSTANTIATE_TEST_SUITE_P(
    Link, Report,
    ::testing::Values(
        ReportCase{6, "устройство 3 COM1 Идет запись базы данных. Ждите.", "Предупреждение", W},
        ReportCase{128, "устройство 3 COM1 ошибка приема данных ", "Предупреждение", W},
        ReportCase{129, "устройство 3 COM1 тайм-аут приема данных", "Предупреждение", W},
        ReportCase{130, "устройство 3 COM1 не отвечает на запрос", "Предупреждение", W},
        ReportCase{131, "устройство 3 COM1 ошибка контрольной суммы", "Предупреждение", W},
        ReportCase{132, " невозможно открыть последовательный порт ", "Предупреждение", W},
        ReportCase{133, "вероятно, порт не настроен", "Ошибка", E},
        ReportCase{134, "сбой настройки порта при выключении прибора", "Ошибка", E},
        ReportCase{135, "ошибка настройки порта", "Ошибка", E},
        ReportCase{256, "Не выбран COM-порт.", "Ошибка", E},
        ReportCase{1, "устройство 3 COM1 ошибка обмена 01", "Предупреждение", W},
        ReportCase{2, "устройство 3 COM1 ошибка обмена 02", "Предупреждение", W},
        ReportCase{0x1F, "устройство 3 COM1 ошибка обмена 1F", "Предупреждение", W},
        ReportCase{0xAB, "устройство 3 COM1 ошибка обмена AB", "Предупреждение", W},
        ReportCase{127, "устройство 3 COM1 ошибка обмена 7F", "Предупреждение", W},
        ReportCase{255, "устройство 3 COM1 ошибка обмена FF", "Предупреждение", W},
        ReportCase{257, "устройство 3 COM1 ошибка обмена 101", "Предупреждение", W},
        ReportCase{136,
                   "устройство 3 COM1 принят собственный запрос (эхо адаптера RS-485).\n"
                   "Отключите эхо в настройках адаптера или используйте другой адаптер.",
                   "Предупреждение", W}),
    [](const auto& info) { return "code" + std::to_string(info.param.code); });

TEST(Report, NothingForSuccessAndPortTextAsHeld) {
  Link t;
  t.link.ReportError(0, 0);
  EXPECT_TRUE(t.messages.shown.empty());
  EXPECT_EQ(t.link.ErrorText(0, 0), "");
  t.link.Port = "/dev/ttyUSB0";
  t.link.ReportError(31, 130);
  EXPECT_EQ(t.messages.Last().text, "устройство 32 /dev/ttyUSB0 не отвечает на запрос");
}

}  // namespace
