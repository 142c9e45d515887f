// The password command: every way to reach it gives the refusal and changes
// nothing; the password window exists but is never shown.

#include <QLineEdit>
#include <QTest>

#include "AppTestSupport.h"
#include "Obr_pm.h"
#include "ScriptedMessageService.h"
#include "obrpar_mb.h"

class TestAccess : public QObject {
  Q_OBJECT

 private slots:
  void refusal_data();
  void refusal();
};

void TestAccess::refusal_data() {
  QTest::addColumn<QString>("way");
  QTest::addColumn<bool>("afterRead");
  QTest::newRow("F8") << "F8" << false;
  QTest::newRow("F8, instrument shown") << "F8" << true;
  QTest::newRow("hidden menu item") << "N4" << false;
  QTest::newRow("hidden tool button") << "ToolButton6" << false;
}

void TestAccess::refusal() {
  QFETCH(QString, way);
  QFETCH(bool, afterRead);
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  apptest::DialogScript dialogs;
  TForm1 form(msg, port);
  form.show();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  if (afterRead) {
    form.Pm.DevType = 101;
    form.Pm.DataRead = 1;
    form.Pm.Changed = 1;
  }
  const auto imageBefore = form.Pm.Image;

  if (way == "F8")
    QTest::keyClick(&form, Qt::Key_F8);
  else
    form.findChild<QAction*>(way)->trigger();

  QCOMPARE(msg.shown.size(), size_t{1});
  QCOMPARE(msg.Last().text, std::string("Ваш уровень доступа не позволяет\nменять пароль"));
  QCOMPARE(msg.Last().caption, std::string("Предупреждение"));
  QCOMPARE(msg.Last().icon, ui::Icon::Warning);
  QCOMPARE(msg.Last().buttons, ui::Buttons::Ok);
  QCOMPARE(form.Pm.Access, 0);
  QVERIFY(form.Pm.Image == imageBefore);
  QCOMPARE(form.Pm.Changed, afterRead ? 1 : 0);
  QCOMPARE(dialogs.shown, 0);
  QVERIFY(!form.FPSW().isVisible());
  QVERIFY(form.FPSW().ui.EditPsw->text().isEmpty());
}

QTEST_MAIN(TestAccess)
#include "test_app_access.moc"
