// The port command and its dialog: refused and accepted combinations, the
// settings reaching the port, reopening on Cancel, failures to open, and the
// port list with the simulator's published lines.

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.h"
#include "Obr_pm.h"
#include "PortEnumeration.h"
#include "ScriptedMessageService.h"
#include "obrNastr.h"
#include "obrport.h"

using apptest::DialogScript;
using pmlink::ParityKind;
using ui::Answer;
using ui::Icon;

namespace {

const char* const kRefused = "Ошибочные данные ";
const char* const kCannotOpen = " невозможно открыть последовательный порт ";
const char* const kDisconnected = "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

// One showing of the port dialog: choose the port text and the three list
// positions, then press OK.
DialogScript::Step Confirm(const std::string& port, int speed, int parity, int stopBits) {
  return [=](QDialog& d) {
    auto& p = dynamic_cast<TFormPort&>(d);
    p.ui.CBoxPort->setEditText(QString::fromStdString(port));
    p.ui.Skor->setCurrentIndex(speed);
    p.ui.Parit->setCurrentIndex(parity);
    p.ui.StBit->setCurrentIndex(stopBits);
    p.OKClick();
    return p.result();
  };
}

// The close box.
DialogScript::Step CloseBox() {
  return [](QDialog& d) {
    d.reject();
    return d.result();
  };
}

struct Window {
  ui::ScriptedMessageService msg;
  apptest::RecordingPort port;
  TForm1 form{msg, port};
  Window() { form.Link.SetDelayFunction([](int) {}); }
};

}  // namespace

class TestPortDialog : public QObject {
  Q_OBJECT

 private slots:
  void combinations_data();
  void combinations();
  void refusedThenRetried();
  void speedChangeAloneReconfigures();
  void cancelReopens_data();
  void cancelReopens();
  void portDoesNotOpen_data();
  void portDoesNotOpen();
  void listsSimulatorLines();
  void networkNames();
};

void TestPortDialog::combinations_data() {
  QTest::addColumn<int>("speed");
  QTest::addColumn<int>("parity");
  QTest::addColumn<int>("stopBits");
  QTest::addColumn<bool>("refused");
  QTest::addColumn<QString>("baudText");
  QTest::addColumn<QString>("parityText");
  QTest::addColumn<QString>("stopText");
  QTest::addColumn<int>("parityKind");
  QTest::newRow("even, two stop bits") << 0 << 2 << 1 << true << "9600" << "N" << "2" << 0;
  QTest::newRow("odd, two stop bits") << 1 << 1 << 1 << false << "19200" << "O" << "2" << int(ParityKind::Odd);
  QTest::newRow("none, two stop bits") << 2 << 0 << 1 << false << "57600" << "N" << "2" << int(ParityKind::None);
  QTest::newRow("even, one stop bit") << 3 << 2 << 0 << false << "115200" << "E" << "1" << int(ParityKind::Even);
  QTest::newRow("none, one stop bit") << 0 << 0 << 0 << false << "9600" << "N" << "1" << int(ParityKind::None);
}

void TestPortDialog::combinations() {
  QFETCH(int, speed);
  QFETCH(int, parity);
  QFETCH(int, stopBits);
  QFETCH(bool, refused);
  QFETCH(QString, baudText);
  QFETCH(QString, parityText);
  QFETCH(QString, stopText);
  QFETCH(int, parityKind);
  apptest::Pty pty;
  Window w;
  DialogScript script;
  script.then(Confirm(pty.path(), speed, parity, stopBits));
  w.msg.answers.push_back(Answer::Cancel);

  w.form.ui.APort->trigger();

  QCOMPARE(script.shown, 1);
  QCOMPARE(w.form.Link.Baud, baudText.toStdString());
  QCOMPARE(w.form.Link.Parity, parityText.toStdString());
  QCOMPARE(w.form.Link.StopBits, stopText.toStdString());
  if (refused) {
    QCOMPARE(w.msg.shown.size(), size_t{1});
    QCOMPARE(w.msg.Last().text, std::string(kRefused));
    QCOMPARE(w.msg.Last().caption, std::string("Ошибка"));
    QCOMPARE(w.msg.Last().icon, Icon::Error);
    QCOMPARE(w.msg.Last().buttons, ui::Buttons::RetryCancel);
    QVERIFY(!w.form.Link.IsOpen());
    QVERIFY(w.port.opens.empty());
    QCOMPARE(w.form.Link.Port, std::string("COM1"));
  } else {
    QVERIFY(w.msg.shown.empty());
    QVERIFY(w.form.Link.IsOpen());
    QCOMPARE(w.port.opens.size(), size_t{1});
    QCOMPARE(w.port.opens[0].name, pty.path());
    QCOMPARE(w.port.opens[0].baud, baudText.toInt());
    QCOMPARE(int(w.port.opens[0].parity), parityKind);
    QCOMPARE(w.port.opens[0].stopBits, stopText.toInt());
  }
}

void TestPortDialog::refusedThenRetried() {
  apptest::Pty pty;
  Window w;
  DialogScript script;
  // A confirmed choice first: 19200, odd, one stop bit.
  script.then(Confirm(pty.path(), 1, 1, 0));
  w.form.ui.APort->trigger();
  QVERIFY(w.form.Link.IsOpen());

  // Even parity with two stop bits is refused; Retry shows the dialog again
  // with a fresh port list and the last confirmed choice.
  int listedAgain = -1, speed = -1, parity = -1, stopBits = -1;
  QString firstPort;
  script.then(Confirm(pty.path(), 0, 2, 1)).then([&](QDialog& d) {
    auto& p = dynamic_cast<TFormPort&>(d);
    listedAgain = p.ui.CBoxPort->count();
    firstPort = p.ui.CBoxPort->count() ? p.ui.CBoxPort->itemText(0) : QString();
    speed = p.ui.Skor->currentIndex();
    parity = p.ui.Parit->currentIndex();
    stopBits = p.ui.StBit->currentIndex();
    return Confirm(pty.path(), 2, 1, 1)(d);
  });
  w.msg.answers.push_back(Answer::Retry);

  w.form.ui.APort->trigger();

  QCOMPARE(script.shown, 3);
  QCOMPARE(w.msg.Texts(), std::vector<std::string>{kRefused});
  QCOMPARE(speed, 1);
  QCOMPARE(parity, 1);
  QCOMPARE(stopBits, 0);
  if (listedAgain > 0)
    QCOMPARE(firstPort, QString::fromStdString(pmlink::EnumeratePorts().front().name));
  QVERIFY(w.form.Link.IsOpen());
  QCOMPARE(w.port.opens.size(), size_t{2});
  QCOMPARE(w.port.opens.back().baud, 57600);
  QCOMPARE(w.port.opens.back().parity, ParityKind::Odd);
  QCOMPARE(w.port.opens.back().stopBits, 2);
}

void TestPortDialog::speedChangeAloneReconfigures() {
  apptest::Pty first, second;
  Window w;
  DialogScript script;
  script.then(Confirm(first.path(), 0, 0, 1));
  w.form.ui.APort->trigger();
  QVERIFY(w.form.Link.IsOpen());

  // Same port, new speed: reopened at the speed, the instrument still shown.
  w.form.Pm.DevType = 102;
  w.form.Pm.DataRead = 1;
  w.form.ui.GBoxKanal->show();
  script.then(Confirm(first.path(), 3, 0, 1));
  w.form.ui.APort->trigger();
  QCOMPARE(w.port.opens.size(), size_t{2});
  QCOMPARE(w.port.opens[1].name, first.path());
  QCOMPARE(w.port.opens[1].baud, 115200);
  QVERIFY(w.form.Link.IsOpen());
  QCOMPARE(w.form.Pm.DevType, 102);
  QVERIFY(!w.form.ui.GBoxKanal->isHidden());

  // Another port: the instrument shown is forgotten, the polling stopped.
  w.form.BtnPuskTimerClick();
  script.then(Confirm(second.path(), 3, 0, 1));
  w.form.ui.APort->trigger();
  QCOMPARE(w.port.opens.back().name, second.path());
  QCOMPARE(w.form.Pm.DevType, 0);
  QCOMPARE(w.form.Pm.DataRead, 0);
  QVERIFY(w.form.ui.GBoxKanal->isHidden());
  QVERIFY(!w.form.Timer1.isActive());
  QCOMPARE(w.form.ReportErrors, 1);
  QVERIFY(w.msg.shown.empty());
}

void TestPortDialog::cancelReopens_data() {
  QTest::addColumn<bool>("wasOpen");
  QTest::newRow("port was open") << true;
  QTest::newRow("port was closed") << false;
}

void TestPortDialog::cancelReopens() {
  QFETCH(bool, wasOpen);
  apptest::Pty pty;
  Window w;
  DialogScript script;
  if (wasOpen) {
    script.then(Confirm(pty.path(), 1, 1, 0));
    w.form.ui.APort->trigger();
    QVERIFY(w.form.Link.IsOpen());
  }
  const std::size_t opensBefore = w.port.opens.size();

  // While the dialog is up the port is closed; the close box changes nothing
  // in the settings.
  bool closedWhileShown = false;
  script.then([&](QDialog& d) {
    closedWhileShown = !w.form.Link.IsOpen();
    auto& p = dynamic_cast<TFormPort&>(d);
    p.ui.Skor->setCurrentIndex(3);
    p.ui.CBoxPort->setEditText(QStringLiteral("/dev/null"));
    return CloseBox()(d);
  });
  w.form.ui.APort->trigger();

  QVERIFY(closedWhileShown);
  QCOMPARE(w.form.Link.IsOpen(), wasOpen);
  QCOMPARE(w.port.opens.size(), opensBefore + (wasOpen ? 1 : 0));
  if (wasOpen) {
    QCOMPARE(w.port.opens.back().name, pty.path());
    QCOMPARE(w.port.opens.back().baud, 19200);
  }
  QVERIFY(w.msg.shown.empty());
}

void TestPortDialog::portDoesNotOpen_data() {
  QTest::addColumn<QString>("portText");
  QTest::addColumn<QStringList>("texts");
  QTest::addColumn<bool>("windowCloses");
  // A name the link refuses (an empty port list gives one).
  QTest::newRow("empty name") << "" << QStringList{kCannotOpen} << false;
  QTest::newRow("relative name") << "ttyUSB0" << QStringList{kCannotOpen} << false;
  // A device that does not open: the link's message, and the window closes.
  QTest::newRow("absent device") << "/nonexistent/ttyX" << QStringList{kDisconnected, kCannotOpen} << true;
}

void TestPortDialog::portDoesNotOpen() {
  QFETCH(QString, portText);
  QFETCH(QStringList, texts);
  QFETCH(bool, windowCloses);
  Window w;
  w.form.show();
  DialogScript script;
  script.then(Confirm(portText.toStdString(), 0, 0, 1));

  w.form.ui.APort->trigger();

  QCOMPARE(int(w.msg.shown.size()), texts.size());
  for (int i = 0; i < texts.size(); ++i) {
    // The link puts the device number or port in front of some texts.
    QVERIFY2(QString::fromStdString(w.msg.shown[i].text).contains(texts[i]), w.msg.shown[i].text.c_str());
  }
  QCOMPARE(w.msg.Last().caption, std::string("Предупреждение"));
  QCOMPARE(w.msg.Last().icon, Icon::Warning);
  QVERIFY(!w.form.Link.IsOpen());

  // The close the link asked for happens once control is back in the loop.
  QVERIFY(w.form.isVisible());
  QCoreApplication::processEvents();
  QCOMPARE(!w.form.isVisible(), windowCloses);
  if (windowCloses) QCOMPARE(w.msg.Last().text, std::string("Работа закончена"));
}

void TestPortDialog::listsSimulatorLines() {
  QTemporaryDir runtime;
  QVERIFY(runtime.isValid());
  const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  const QString folder = QString::fromStdString(pmlink::SimulatorLineFolder());
  QVERIFY(folder.startsWith(runtime.path()));
  QVERIFY(QDir().mkpath(folder));

  apptest::Pty pty;
  // As long as the /dev/serial/by-id names of USB adapters.
  const QString line = folder + "/line1-usb-FTDI_FT232R_USB_UART_A10KZP8Q-if00-port0";
  const QString gone = folder + "/line2";
  QVERIFY(QFile::link(QString::fromStdString(pty.path()), line));
  QVERIFY(QFile::link(runtime.path() + "/no-such-pty", gone));

  Window w;
  DialogScript script;
  QStringList listed;
  QString tip;
  int current = -1;
  bool clipped = false;
  script.then([&](QDialog& d) {
    auto& p = dynamic_cast<TFormPort&>(d);
    for (int i = 0; i < p.ui.CBoxPort->count(); ++i) listed << p.ui.CBoxPort->itemText(i);
    current = p.ui.CBoxPort->currentIndex();
    for (int i = 0; i < p.ui.CBoxPort->count(); ++i)
      clipped |= p.ui.CBoxPort->view()->minimumWidth() <
                 p.ui.CBoxPort->fontMetrics().horizontalAdvance(p.ui.CBoxPort->itemText(i));
    const int at = p.ui.CBoxPort->findText(line);
    if (at >= 0) {
      tip = p.ui.CBoxPort->itemData(at, Qt::ToolTipRole).toString();
      p.ui.CBoxPort->setCurrentIndex(at);
    }
    p.OKClick();
    return p.result();
  });
  w.form.ui.APort->trigger();
  qputenv("XDG_RUNTIME_DIR", oldRuntime);

  QVERIFY2(listed.contains(line), qPrintable(listed.join(", ")));
  QVERIFY(!listed.contains(gone));
  QVERIFY(tip.contains(QString::fromStdString(pty.path())));
  QCOMPARE(current, 0);
  QVERIFY2(!clipped, "the drop-down shows every name in full");
  // The published line opens like any serial device.
  QVERIFY(w.form.Link.IsOpen());
  QCOMPARE(w.form.Link.Port, line.toStdString());
}

// Typed network names: the raw form's note, and the names confirmed in this
// run offered again.
void TestPortDialog::networkNames() {
  Window w;
  TFormNastr nastr(w.form.Link, w.msg);
  TFormPort dialog(w.form.Link, nastr, w.msg);
  const struct {
    QString name;
    bool note;
  } cases[] = {{"tcp://gw.plant:4001", true},
               {"rfc2217://[::1]:2217", false},
               {"/dev/ttyS0", false},
               {"TCP://10.0.0.7:23", true}};
  for (const auto& c : cases) {
    dialog.FormShow();
    dialog.ui.CBoxPort->setEditText(c.name);
    QCOMPARE(!dialog.ui.NetNote->isHidden(), c.note);
    if (c.note) {  // every line of the note fits in the dialog
      dialog.show();
      QCoreApplication::processEvents();
      QVERIFY(dialog.ui.NetNote->height() >= dialog.ui.NetNote->heightForWidth(dialog.ui.NetNote->width()));
      dialog.hide();
    }
    dialog.OKClick();
  }
  dialog.FormShow();
  QStringList listed;
  for (int i = 0; i < dialog.ui.CBoxPort->count(); ++i) listed << dialog.ui.CBoxPort->itemText(i);
  QCOMPARE(listed.mid(listed.size() - 3),
           QStringList({"TCP://10.0.0.7:23", "rfc2217://[::1]:2217", "tcp://gw.plant:4001"}));
}

QTEST_MAIN(TestPortDialog)
#include "test_app_portdialog.moc"
