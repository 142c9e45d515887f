// The Help menu: its place and shortcut, the guide opened from the build's
// layout or reported missing, and the "about" box; the button texts of the
// message boxes the guide names.

#include <QAction>
#include <QDir>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "Obr_pm.h"
#include "PmVersion.h"
#include "QtMessageService.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"

class TestHelp : public QObject {
  Q_OBJECT

 private slots:
  void menuAtTheEnd();
  void guide_data();
  void guide();
  void about_data();
  void about();
  void russianButtons();
};

void TestHelp::menuAtTheEnd() {
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  const QList<QAction*> menus = form.ui.MainMenu1->actions();
  QCOMPARE(menus.last()->text(), QStringLiteral("Справка"));
  QCOMPARE(form.ui.AHelpGuide->shortcut(), QKeySequence(Qt::Key_F1));
  QCOMPARE(form.ui.AHelpAbout->text(), QStringLiteral("О программе"));
  for (QAction* a : form.findChildren<QAction*>())
    if (a != form.ui.AHelpGuide) QVERIFY2(a->shortcut() != QKeySequence(Qt::Key_F1), qPrintable(a->objectName()));
}

void TestHelp::guide_data() {
  QTest::addColumn<bool>("fromBuild");
  QTest::addColumn<bool>("viewerStarts");
  QTest::addColumn<QString>("message");
  QTest::newRow("from the build") << true << true << QString();
  QTest::newRow("no viewer") << true << false
                             << QStringLiteral("Не удалось открыть руководство пользователя в программе просмотра.");
  QTest::newRow("not found") << false << true << QStringLiteral("Руководство пользователя не найдено.");
}

void TestHelp::guide() {
  QFETCH(bool, fromBuild);
  QFETCH(bool, viewerStarts);
  QFETCH(QString, message);
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  QTemporaryDir empty;
  // The program in the build folder looks where an installed one looks.
  const QString programDir = fromBuild ? QStringLiteral(PM_PROGRAM_DIR) : empty.path() + QStringLiteral("/bin");
  form.HelpPlaces.guides = pmhelp::GuideCandidates(programDir, QString());
  QStringList opened;
  form.HelpPlaces.open = [&](const QString& path) {
    opened << path;
    return viewerStarts;
  };

  form.ui.AHelpGuide->trigger();

  const QString expected = QDir::cleanPath(programDir + QStringLiteral("/../share/doc/pmservice/guide.ru.html"));
  QCOMPARE(opened, fromBuild ? QStringList{expected} : QStringList{});
  if (message.isEmpty()) {
    QVERIFY(msg.shown.empty());
    return;
  }
  QCOMPARE(msg.shown.size(), std::size_t{1});
  const QString text = QString::fromStdString(msg.Last().text);
  QVERIFY2(text.startsWith(message) && text.contains(expected), qPrintable(text));
  QCOMPARE(msg.Last().icon, ui::Icon::Warning);
}

void TestHelp::about_data() {
  QTest::addColumn<bool>("tablesThere");
  QTest::newRow("tables found") << true;
  QTest::newRow("tables missing") << false;
}

void TestHelp::about() {
  QFETCH(bool, tablesThere);
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form(msg, port);
  QTemporaryDir empty;
  const std::string data = PM_SOURCE_DATA_DIR;
  form.HelpPlaces.tableDirs = {empty.path().toStdString(), tablesThere ? data : empty.path().toStdString() + "/x"};

  form.ui.AHelpAbout->trigger();

  QCOMPARE(msg.shown.size(), std::size_t{1});
  QCOMPARE(msg.Last().caption, std::string("О программе"));
  const QStringList lines = QString::fromStdString(msg.Last().text).split(QLatin1Char('\n'));
  QCOMPARE(lines.value(0), QStringLiteral("pmservice — сервисная программа для приборов КАРД, ЗЕТ-ТС, ЗЕТ-ТП и ЛУНТ"));
  QCOMPARE(lines.value(1), QStringLiteral("Версия " PM_VERSION));
  QCOMPARE(lines.value(2), QStringLiteral("Qt ") + QString::fromLatin1(qVersion()));
  QVERIFY(lines.value(3).startsWith(QStringLiteral("Лицензия: ")));
  QCOMPARE(lines.value(4), tablesThere ? QStringLiteral("Таблицы датчиков: ") + QDir::cleanPath(QString::fromStdString(data))
                                       : QStringLiteral("Таблицы датчиков: не найдены; искались в папках:"));
  if (!tablesThere) QCOMPARE(lines.value(5), empty.path());
}

void TestHelp::russianButtons() {
  QMessageBox box;
  ui::QtMessageService::Prepare(box, {"?", "", ui::Icon::Question, ui::Buttons::YesNoCancel, ui::Answer::No});
  QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("Да"));
  QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("Нет"));
  QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Отмена"));
  QCOMPARE(box.defaultButton(), box.button(QMessageBox::No));
}

QTEST_MAIN(TestHelp)
#include "test_help.moc"
