// The exchange settings dialog, reached from the port dialog: the values it
// shows, what OK and the close box do to the link, and the arrow limits.

#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include "AppTestSupport.h"
#include "Obr_pm.h"
#include "ScriptedMessageService.h"
#include "obrNastr.h"
#include "obrport.h"

using apptest::DialogScript;

namespace {

struct Window {
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form{msg, port};
};

// One showing: note the delay shown, set a new one with the arrows, and end
// with OK or the close box.
DialogScript::Step SetDelay(QString& shown, int steps, bool ok) {
  return [&shown, steps, ok](QDialog& d) {
    auto& n = dynamic_cast<TFormNastr&>(d);
    shown = n.Edit1->text();
    n.ui.UpDown1->stepBy(steps);
    if (ok)
      n.OKClick();
    else
      n.reject();
    return n.result();
  };
}

}  // namespace

class TestExchangeDialog : public QObject {
  Q_OBJECT

 private slots:
  void firstShowing();
  void okApplies();
  void closeBoxForgets();
  void arrowLimits_data();
  void arrowLimits();
  void numberNotTyped();
};

void TestExchangeDialog::firstShowing() {
  Window w;
  const TFormNastr& n = w.form.FormNastr();
  QCOMPARE(n.windowTitle(), QStringLiteral("Настройка параметров обмена"));
  QCOMPARE(n.size(), QSize(343, 290));
  QCOMPARE(n.Edit1->text(), QStringLiteral("25"));
  // The retry counts and the receive delay ride along hidden.
  QCOMPARE(n.ui.CBoxPovt1->currentText(), QStringLiteral("5"));
  QCOMPARE(n.ui.CBoxPovt2->currentText(), QStringLiteral("10"));
  QCOMPARE(n.Edit2->text(), QStringLiteral("20"));
  for (const QWidget* hidden : {static_cast<const QWidget*>(n.ui.CBoxPovt1), static_cast<const QWidget*>(n.ui.CBoxPovt2),
                                static_cast<const QWidget*>(n.ui.UpDown2), static_cast<const QWidget*>(n.ui.Label1),
                                static_cast<const QWidget*>(n.ui.Label2), static_cast<const QWidget*>(n.ui.Label11)})
    QVERIFY2(hidden->isHidden(), qPrintable(hidden->objectName()));
}

void TestExchangeDialog::okApplies() {
  apptest::Pty pty;
  Window w;
  w.form.Link.SetRetries1(1);
  w.form.Link.SetRetries2(1);
  w.form.Link.SetRxDelay(7);
  DialogScript script;
  QString shown;
  script.then(SetDelay(shown, 15, true));

  w.form.FormPort().Button1Click();

  QCOMPARE(shown, QStringLiteral("25"));
  QCOMPARE(w.form.Link.GetTxDelay(), 40);
  // The hidden controls carry their own values into the link.
  QCOMPARE(w.form.Link.GetRetries1(), 5);
  QCOMPARE(w.form.Link.Retries2, 10);
  QCOMPARE(w.form.Link.GetRxDelay(), 20);

  // The next request waits 40 ms before it transmits.
  std::vector<int> pauses;
  w.form.Link.SetDelayFunction([&](int ms) { pauses.push_back(ms); });
  w.form.Link.Port = pty.path();
  QCOMPARE(w.form.Link.Configure(), 0);
  w.form.Link.SetRetries1(1);  // one silent attempt is enough
  std::uint8_t data[4] = {}, reply[100] = {};
  w.form.Link.Request(0, 17, 0, data, reply, sizeof reply);
  QVERIFY(!pauses.empty());
  QCOMPARE(pauses.front(), 40);

  // The next showing shows the confirmed number.
  script.then(SetDelay(shown, 0, false));
  w.form.FormPort().Button1Click();
  QCOMPARE(shown, QStringLiteral("40"));
}

void TestExchangeDialog::closeBoxForgets() {
  Window w;
  DialogScript script;
  QString first, second;
  script.then(SetDelay(first, 15, false)).then(SetDelay(second, 0, false));

  w.form.FormPort().Button1Click();
  QCOMPARE(w.form.Link.GetTxDelay(), 25);
  QCOMPARE(w.form.FormNastr().Edit1->text(), QStringLiteral("25"));

  w.form.FormPort().Button1Click();
  QCOMPARE(first, QStringLiteral("25"));
  QCOMPARE(second, QStringLiteral("25"));
  QCOMPARE(w.form.Link.GetTxDelay(), 25);
  QCOMPARE(script.unexpected, 0);
}

void TestExchangeDialog::arrowLimits_data() {
  QTest::addColumn<int>("start");
  QTest::addColumn<int>("presses");
  QTest::addColumn<Qt::Key>("key");
  QTest::addColumn<QString>("shown");
  QTest::newRow("up to 100") << 97 << 6 << Qt::Key_Up << "100";
  QTest::newRow("down to 1") << 3 << 6 << Qt::Key_Down << "1";
  QTest::newRow("page up") << 90 << 3 << Qt::Key_PageUp << "100";
  QTest::newRow("page down") << 8 << 3 << Qt::Key_PageDown << "1";
}

void TestExchangeDialog::arrowLimits() {
  QFETCH(int, start);
  QFETCH(int, presses);
  QFETCH(Qt::Key, key);
  QFETCH(QString, shown);
  Window w;
  TFormNastr& n = w.form.FormNastr();
  n.show();
  n.ui.UpDown1->setValue(start);
  for (int i = 0; i < presses; ++i) QTest::keyClick(n.ui.UpDown1, key);
  QCOMPARE(n.Edit1->text(), shown);
  n.OKClick();
  n.ApplyTo(w.form.Link);
  QCOMPARE(w.form.Link.GetTxDelay(), shown.toInt());
}

void TestExchangeDialog::numberNotTyped() {
  // The number changes only by the arrows.
  Window w;
  TFormNastr& n = w.form.FormNastr();
  n.show();
  n.Edit1->setFocus();
  QTest::keyClicks(n.Edit1, "7");
  QTest::keyClick(n.Edit1, Qt::Key_Backspace);
  QCOMPARE(n.Edit1->text(), QStringLiteral("25"));
}

QTEST_MAIN(TestExchangeDialog)
#include "test_app_exchangedialog.moc"
