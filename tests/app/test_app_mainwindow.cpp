// The main window shell: start state, commands with the port closed, the
// polling timer toggle and its busy guard, the instrument selector, the close
// sequence and the application's error box.

#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QTest>

#include "AppTestSupport.h"
#include "Identification.h"
#include "Obr_pm.h"
#include "ScriptedMessageService.h"
#include "obrNastr.h"
#include "obrpar_mb.h"
#include "obrport.h"

using ui::Answer;
using ui::Icon;

namespace {

const char* const kPortClosed = "Не выбран COM-порт.";

// Puts the window into the state a read leaves behind, so that forgetting
// the instrument can be seen.
void PretendRead(TForm1& form) {
  form.Pm.DevType = 100;
  form.Pm.Version = 4;
  form.Pm.DataRead = 1;
  form.Pm.LayoutDone = 1;
  form.ui.Panel1->setText(QStringLiteral("КАРД"));
  form.ui.GBoxKanal->show();
  form.ui.GBoxSign->show();
  form.ui.GBoxZETTP->show();
}

bool Forgotten(const TForm1& form) {
  return form.Pm.DevType == 0 && form.Pm.Version == 0 && form.Pm.DataRead == 0 &&
         form.Pm.LayoutDone == 0 && form.ui.Panel1->text().isEmpty() && form.ui.GBoxKanal->isHidden() &&
         form.ui.GBoxSign->isHidden() && form.ui.GBoxZETTP->isHidden();
}

void Pick(QComboBox* box, const QString& text) {
  const int i = box->findText(text);
  QVERIFY(i >= 0);
  box->setCurrentIndex(i);
  emit box->activated(i);
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void startState();
  void layoutFits();
  void actions_data();
  void actions();
  void readWithPortClosed_data();
  void readWithPortClosed();
  void timerButtonTwice();
  void tickWithPortClosedStopsPolling();
  void tickSkippedWhileBusy();
  void selector_data();
  void selector();
  void closeSequence();
  void exceptionInHandler();
};

void TestMainWindow::startState() {
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  form.show();

  QCOMPARE(form.windowTitle(), QStringLiteral("Сервисная программа КАРД, ЗЕТ-ТП, ЗЕТ-ТС, ЛУНТ"));
  QCOMPARE(form.size(), QSize(834, 713));
  QVERIFY(!form.ui.GBoxKanal->isVisible());
  QVERIFY(!form.ui.GBoxSign->isVisible());
  QVERIFY(!form.ui.GBoxZETTP->isVisible());
  for (QWidget* w : {static_cast<QWidget*>(form.ui.LabTimer), static_cast<QWidget*>(form.ui.LabReg),
                     static_cast<QWidget*>(form.ui.ProgressBar1), static_cast<QWidget*>(form.ui.Contr),
                     static_cast<QWidget*>(form.ui.LabRegKalibr), static_cast<QWidget*>(form.ui.LabRegKalibrTXC)})
    QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
  QVERIFY(form.ui.BtnPuskTimer->isVisible());
  QCOMPARE(form.ui.CBoxUstr->currentText(), QStringLiteral("1"));
  QCOMPARE(form.ui.CBoxUstrZ->currentText(), QStringLiteral("1"));
  QCOMPARE(form.ui.CBoxUstr->count(), 32);
  QCOMPARE(form.ui.CBoxUstrZ->itemText(31), QStringLiteral("32"));
  QCOMPARE(form.Serv.DeviceIndex, 0);
  QCOMPARE(form.Serv.NewDeviceIndex, 0);
  QCOMPARE(form.ReportErrors, 1);
  QVERIFY(!form.Timer1.isActive());
  QCOMPARE(form.Timer1.interval(), 3000);
  QVERIFY(!form.Link.IsOpen());
  QVERIFY(!form.ui.ButSwitch->isChecked());
  QVERIFY(form.ui.Label27->text().isEmpty());
  QCOMPARE(form.ui.LabTxc->text(), QStringLiteral("Тхс в единицах кода"));
  QCOMPARE(form.ui.ProgressBar1->maximum(), 250);
  // The dialogs exist from the start but only the main window is shown.
  QVERIFY(!form.FPSW().isVisible());
  QVERIFY(!form.FormPort().isVisible());
  QVERIFY(!form.FormNastr().isVisible());
  QVERIFY(msg.shown.empty());
}

void TestMainWindow::layoutFits() {
  // With every control of a panel shown, the three panels still fit the
  // window at its design size.
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  form.show();
  for (QWidget* w : form.ui.centralwidget->findChildren<QWidget*>()) w->show();
  form.ui.ProgressBar1->show();
  // The panel as a read leaves it: the longest full identification line at
  // its fixed width.
  const pmdev::IdentificationLine id = pmdev::IdentificationText(101, 5);
  form.ui.Panel1->setText(QString::fromStdString(id.text));
  form.ui.Panel1->setFixedWidth(id.width);
  const QSize needed = form.minimumSizeHint();
  QVERIFY2(needed.width() <= 834 && needed.height() <= 713,
           qPrintable(QStringLiteral("%1 x %2").arg(needed.width()).arg(needed.height())));
}

void TestMainWindow::actions_data() {
  QTest::addColumn<QString>("action");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("shortcut");
  QTest::addColumn<bool>("onToolBar");
  QTest::addColumn<bool>("inPortMenu");
  QTest::newRow("read") << "AInPort" << "Ввод с СОМ-порта" << "F9" << true << true;
  QTest::newRow("write") << "AOutPort" << "Вывод на СОМ-порт" << "F10" << true << true;
  QTest::newRow("port") << "APort" << "Настройка СОМ порта" << "" << true << true;
  QTest::newRow("device list") << "AListDevice" << "Список устройств" << "" << true << true;
  QTest::newRow("password") << "AParol" << "Замена пароля" << "F8" << false << false;
}

void TestMainWindow::actions() {
  QFETCH(QString, action);
  QFETCH(QString, text);
  QFETCH(QString, shortcut);
  QFETCH(bool, onToolBar);
  QFETCH(bool, inPortMenu);
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  form.show();

  auto* a = form.findChild<QAction*>(action);
  QVERIFY(a);
  QCOMPARE(a->text(), text);
  QCOMPARE(a->toolTip(), text);
  QCOMPARE(a->shortcut(), QKeySequence(shortcut));
  QVERIFY(a->isVisible() && a->isEnabled());  // a hidden action loses its shortcut
  QCOMPARE(form.ui.ToolBar1->actions().contains(a), onToolBar);
  QCOMPARE(form.ui.N1Port->actions().contains(a), inPortMenu);
  if (onToolBar) {
    auto* button = qobject_cast<QToolButton*>(form.ui.ToolBar1->widgetForAction(a));
    QVERIFY(button && button->isVisible());
  }
  // The menus keep the blanks of their captions; the password menu and its
  // tool button are hidden.
  QCOMPARE(form.ui.N1Port->title(), QStringLiteral("Порт        "));
  QCOMPARE(form.ui.Parol->title(), QStringLiteral("                Пароль"));
  QVERIFY(!form.ui.Parol->menuAction()->isVisible());
  QVERIFY(!form.ui.ToolButton6->isVisible());
}

void TestMainWindow::readWithPortClosed_data() {
  QTest::addColumn<bool>("byKey");
  QTest::newRow("F9") << true;
  QTest::newRow("menu item") << false;
}

void TestMainWindow::readWithPortClosed() {
  QFETCH(bool, byKey);
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  form.show();
  QVERIFY(QTest::qWaitForWindowActive(&form));

  if (byKey)
    QTest::keyClick(&form, Qt::Key_F9);
  else
    form.ui.AInPort->trigger();

  QCOMPARE(msg.shown.size(), size_t{1});
  QCOMPARE(msg.Last().text, std::string(kPortClosed));
  QCOMPARE(msg.Last().caption, std::string("Ошибка"));
  QCOMPARE(msg.Last().icon, Icon::Error);
  QVERIFY(!form.Busy());
}

void TestMainWindow::timerButtonTwice() {
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  form.show();

  QTest::mouseClick(form.ui.BtnPuskTimer, Qt::LeftButton);
  QVERIFY(form.Timer1.isActive());
  QCOMPARE(form.ReportErrors, 0);
  QVERIFY(form.ui.LabTimer->isVisible());
  QCOMPARE(form.ui.LabTimer->text(), QStringLiteral("запущен таймер"));

  QTest::mouseClick(form.ui.BtnPuskTimer, Qt::LeftButton);
  QVERIFY(!form.Timer1.isActive());
  QCOMPARE(form.ReportErrors, 1);
  QVERIFY(!form.ui.LabTimer->isVisible());
  QVERIFY(msg.shown.empty());
}

void TestMainWindow::tickWithPortClosedStopsPolling() {
  // A failed identification while polling stops the timer first, so that
  // the failure is reported.
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  form.show();
  form.BtnPuskTimerClick();
  QVERIFY(form.Timer1.isActive());

  form.Timer1Timer();

  QVERIFY(!form.Timer1.isActive());
  QCOMPARE(form.ReportErrors, 1);
  QVERIFY(form.ui.LabTimer->isHidden());
  QCOMPARE(msg.Texts(), std::vector<std::string>{kPortClosed});
}

void TestMainWindow::tickSkippedWhileBusy() {
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  form.show();
  form.BtnPuskTimerClick();

  // A tick that arrives while a command's message box is open starts nothing.
  int ticks = 0;
  msg.onShow = [&](const ui::Message&) {
    if (ticks++ == 0) form.Timer1Timer();
  };
  form.ui.AParol->trigger();

  QCOMPARE(ticks, 1);
  QCOMPARE(msg.Texts(), std::vector<std::string>{"Ваш уровень доступа не позволяет\nменять пароль"});
  QVERIFY(form.Timer1.isActive());
  QVERIFY(!form.Busy());
}

void TestMainWindow::selector_data() {
  QTest::addColumn<QString>("picked");
  QTest::addColumn<bool>("timerRunning");
  QTest::addColumn<bool>("forgets");
  QTest::addColumn<int>("index");
  QTest::newRow("same number") << "1" << false << false << 0;
  QTest::newRow("same number, polling") << "1" << true << false << 0;
  QTest::newRow("another number") << "5" << false << true << 4;
  QTest::newRow("another number, polling") << "32" << true << true << 31;
}

void TestMainWindow::selector() {
  QFETCH(QString, picked);
  QFETCH(bool, timerRunning);
  QFETCH(bool, forgets);
  QFETCH(int, index);
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  form.show();
  PretendRead(form);
  if (timerRunning) form.BtnPuskTimerClick();

  Pick(form.ui.CBoxUstr, picked);

  QCOMPARE(Forgotten(form), forgets);
  QCOMPARE(form.Serv.DeviceIndex, index);
  QCOMPARE(form.Serv.NewDeviceIndex, index);
  // Another instrument stops the polling; the same one leaves it alone.
  QCOMPARE(form.Timer1.isActive(), timerRunning && !forgets);
  QCOMPARE(form.ReportErrors, form.Timer1.isActive() ? 0 : 1);
  QVERIFY(msg.shown.empty());  // nothing is read
}

void TestMainWindow::closeSequence() {
  apptest::Pty pty;
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  form.show();
  form.Link.Port = pty.path();
  QCOMPARE(form.Link.Configure(), 0);

  bool openDuringBox = false;
  msg.onShow = [&](const ui::Message&) { openDuringBox = form.Link.IsOpen(); };
  QVERIFY(form.close());

  QCOMPARE(msg.shown.size(), size_t{1});
  QCOMPARE(msg.Last().text, std::string("Работа закончена"));
  QCOMPARE(msg.Last().caption, std::string("Подтверждение"));
  QCOMPARE(msg.Last().icon, Icon::Information);
  QCOMPARE(msg.Last().buttons, ui::Buttons::Ok);
  QVERIFY(openDuringBox);  // the port is closed last
  QVERIFY(!form.Link.IsOpen());
  QVERIFY(!form.isVisible());

  // A second request to close (the link after a port failure) asks nothing.
  form.FormClose();
  QCOMPARE(msg.shown.size(), size_t{1});
}

void TestMainWindow::exceptionInHandler() {
  ui::ScriptedMessageService msg;
  apptest::FailingWritePort port;
  TForm1 form(msg, port);
  form.show();
  form.Link.SetDelayFunction([](int) {});
  form.Link.Port = "/dev/ttyFAKE0";
  QCOMPARE(form.Link.Configure(), 0);

  form.ui.AInPort->trigger();

  QCOMPARE(msg.shown.size(), size_t{1});
  QCOMPARE(msg.Last().text, port.writeError);
  QCOMPARE(msg.Last().icon, Icon::Error);
  QCOMPARE(msg.Last().buttons, ui::Buttons::Ok);
  QVERIFY(!form.Busy());
  QVERIFY(form.isVisible());

  // The program goes on: the next command runs normally.
  form.ui.AParol->trigger();
  QCOMPARE(msg.shown.size(), size_t{2});
  QCOMPARE(msg.Last().icon, Icon::Warning);
}

QTEST_MAIN(TestMainWindow)
#include "test_app_mainwindow.moc"
