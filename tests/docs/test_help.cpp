// The Help menu: its place and shortcut; the guide in the help window as
// the build lays it out (title, pictures, contents, one window), or reported
// missing; finding text and following links in it; handing a page to the
// desktop; the "about" box; the button texts of the message boxes the guide
// names.

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTreeWidgetItemIterator>

#include "HelpWindow.h"
#include "Obr_pm.h"
#include "PmVersion.h"
#include "QtMessageService.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"

namespace {

const QString kBuildGuide =
    QDir::cleanPath(QStringLiteral(PM_PROGRAM_DIR "/../share/doc/pmservice/guide.ru.html"));

// A main window whose F1 looks for the guide in `guides` and whose openers
// only record what they were given.
struct Form {
  ui::ScriptedMessageService msg;
  pmlink::TermiosPort port;
  TForm1 form{msg, port};
  QStringList opened;
  QList<QUrl> links;
  bool viewerStarts = true;

  explicit Form(const QStringList& guides) {
    form.HelpPlaces.guides = guides;
    form.HelpPlaces.open = [this](const QString& path) { return opened << path, viewerStarts; };
    form.HelpPlaces.openLink = [this](const QUrl& link) { return links << link, viewerStarts; };
  }
  HelpWindow& F1() {
    form.ui.AHelpGuide->trigger();
    return *form.Help();
  }
  std::string Said() const { return msg.shown.empty() ? std::string() : msg.Last().text; }
};

// A page of the guide in a test's own folder.
void Write(const QString& path, const QString& body) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(("<html><head><meta charset=\"utf-8\"></head><body>" + body + "</body></html>").toUtf8());
}

}  // namespace

class TestHelp : public QObject {
  Q_OBJECT

 private slots:
  void menuAtTheEnd();
  void guide();
  void guideMissing();
  void contents();
  void find_data();
  void find();
  void links_data();
  void links();
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

void TestHelp::guide() {
  // The program in the build folder looks where an installed one looks.
  Form f(pmhelp::GuideCandidates(QStringLiteral(PM_PROGRAM_DIR), QString()));
  HelpWindow& help = f.F1();
  QVERIFY(help.isVisible());
  QCOMPARE(help.windowTitle(), QStringLiteral("Руководство пользователя"));
  QCOMPARE(help.PageShown(), kBuildGuide);
  QFile md(QFileInfo(kBuildGuide).dir().filePath(QStringLiteral("guide.ru.md")));
  QVERIFY(md.open(QIODevice::ReadOnly));
  QCOMPARE(help.ui.Browser->documentTitle(), QString::fromUtf8(md.readLine()).mid(2).trimmed());

  // Every picture is read from the screenshots beside the page.
  QTextDocument& page = *help.ui.Browser->document();
  page.documentLayout()->documentSize();
  int pictures = 0;
  for (QTextBlock b = page.begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QString name = it.fragment().charFormat().toImageFormat().name();
      if (name.isEmpty()) continue;
      QVERIFY2(!page.resource(QTextDocument::ImageResource, QUrl(name)).value<QPixmap>().isNull(), qPrintable(name));
      ++pictures;
    }
  QVERIFY(pictures > 0);

  // F1 again brings up the same window, the page as it was left.
  help.ui.Browser->verticalScrollBar()->setValue(400);
  help.close();
  QCOMPARE(&f.F1(), &help);
  QVERIFY(help.isVisible());
  QCOMPARE(help.ui.Browser->verticalScrollBar()->value(), 400);
  QCOMPARE(f.form.findChildren<HelpWindow*>().size(), 1);

  // The browser of the desktop is still there to choose.
  QVERIFY(f.msg.shown.empty() && f.opened.isEmpty());
  f.viewerStarts = false;
  help.ui.ButBrowser->click();
  QCOMPARE(f.opened, QStringList{kBuildGuide});
  QCOMPARE(f.Said(), "Не удалось открыть руководство пользователя в программе просмотра.\n"
                     "Откройте файл вручную:\n" + kBuildGuide.toStdString());
}

void TestHelp::guideMissing() {
  QTemporaryDir empty;
  const QStringList tried = pmhelp::GuideCandidates(empty.path() + "/bin", empty.path() + "/doc");
  Form f(tried);
  f.form.ui.AHelpGuide->trigger();
  QVERIFY(f.form.findChildren<HelpWindow*>().isEmpty());
  QCOMPARE(f.msg.Last().icon, ui::Icon::Warning);
  QCOMPARE(QString::fromStdString(f.Said()), "Руководство пользователя не найдено. Проверены пути:\n" + tried.join('\n') +
                                                 "\nУстановите программу вместе с документацией (пакет pmservice).");
}

void TestHelp::contents() {
  Form f({kBuildGuide});
  HelpWindow& help = f.F1();
  QTextBrowser& view = *help.ui.Browser;
  // Chapters and their sections, as the page's source has them.
  QFile file(kBuildGuide);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QStringList source, shown;
  static const QRegularExpression heading(QStringLiteral("<h([23])[^>]*>(.*?)</h\\1>"));
  for (auto it = heading.globalMatch(QString::fromUtf8(file.readAll())); it.hasNext();) {
    const auto m = it.next();
    source << m.captured(1) + QTextDocumentFragment::fromHtml(m.captured(2)).toPlainText();
  }
  for (QTreeWidgetItemIterator it(help.ui.TreeContents); *it; ++it)
    shown << ((*it)->parent() ? "3" : "2") + (*it)->text(0);
  QCOMPARE(shown, source);

  // A chapter in the middle and a section of it come to the top of the
  // view; Back returns to the top of the guide.
  QTreeWidget& tree = *help.ui.TreeContents;
  int i = tree.topLevelItemCount() / 2;
  while (i < tree.topLevelItemCount() - 1 && tree.topLevelItem(i)->childCount() == 0) ++i;
  for (QTreeWidgetItem* item : {tree.topLevelItem(i), tree.topLevelItem(i)->child(0)}) {
    QVERIFY(item);
    emit tree.itemClicked(item, 0);
    const QRectF at = view.document()->documentLayout()->blockBoundingRect(view.document()->find(item->text(0)).block());
    const int top = view.verticalScrollBar()->value();
    QVERIFY2(at.bottom() > top && at.top() < top + view.viewport()->height() / 4, qPrintable(item->text(0)));
  }
  help.ui.ButBack->click();
  help.ui.ButBack->click();
  QCOMPARE(view.verticalScrollBar()->value(), 0);
  QVERIFY(!help.ui.ButBack->isEnabled() && help.ui.ButForward->isEnabled());
}

void TestHelp::find_data() {
  // Keys: '+' Enter, '-' Shift+Enter; after each, the paragraph of the
  // match, or "" for «Не найдено».
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("keys");
  QTest::addColumn<QStringList>("found");
  QTest::newRow("onward, round to the first")
      << "альфа" << "++++" << QStringList{"альфа один", "Альфа два", "альфа три", "альфа один"};
  QTest::newRow("back from the top, round") << "альфа" << "--" << QStringList{"альфа три", "Альфа два"};
  QTest::newRow("onward and back") << "альфа" << "++-" << QStringList{"альфа один", "Альфа два", "альфа один"};
  QTest::newRow("the only one") << "бета" << "+-+" << QStringList{"бета", "бета", "бета"};
  QTest::newRow("nowhere") << "гамма" << "+-" << QStringList{"", ""};
}

void TestHelp::find() {
  QFETCH(QString, text);
  QFETCH(QString, keys);
  QFETCH(QStringList, found);
  QTemporaryDir dir;
  Write(dir.filePath("guide.ru.html"), "<h2>Раздел</h2><p>альфа один</p><p>бета</p><p>Альфа два</p><p>альфа три</p>");
  Form f({dir.filePath("guide.ru.html")});
  HelpWindow& help = f.F1();
  help.ui.EdFind->setText(text);
  QStringList shown;
  for (QChar key : keys) {
    QTest::keyClick(help.ui.EdFind, Qt::Key_Return, key == '-' ? Qt::ShiftModifier : Qt::NoModifier);
    const QTextCursor c = help.ui.Browser->textCursor();
    QCOMPARE(help.ui.StFind->text(), c.hasSelection() ? QString() : QStringLiteral("Не найдено"));
    QVERIFY(!c.hasSelection() || c.selectedText().compare(text, Qt::CaseInsensitive) == 0);
    shown << (c.hasSelection() ? c.block().text() : QString());
  }
  QCOMPARE(shown, found);
  QTest::keyClick(help.ui.EdFind, Qt::Key_Backspace);  // typing anew clears the verdict
  QCOMPARE(help.ui.StFind->text(), QString());
}

void TestHelp::links_data() {
  // Where a link of the guide leads: the page then shown ("" the same) and
  // whether it was scrolled down, what went to the desktop, the warning.
  QTest::addColumn<QString>("href");
  QTest::addColumn<QString>("page");
  QTest::addColumn<bool>("scrolled");
  QTest::addColumn<QString>("outside");
  QTest::addColumn<QString>("warning");
  QTest::newRow("a section") << "#второй-раздел" << "guide.ru.html" << true << "" << "";
  QTest::newRow("another page") << "developers.ru.html" << "developers.ru.html" << false << "" << "";
  QTest::newRow("web") << "https://example.org/a?b=1" << "" << false << "https://example.org/a?b=1" << "";
  QTest::newRow("mail") << "mailto:service@example.org" << "" << false << "mailto:service@example.org" << "";
  QTest::newRow("a file") << "guide.ru.md" << "" << false << "guide.ru.md" << "";
  QTest::newRow("page missing") << "gone.ru.html" << "" << false << "" << "Страница руководства не найдена:\n%1/gone.ru.html";
}

void TestHelp::links() {
  QFETCH(QString, href);
  QFETCH(QString, page);
  QFETCH(bool, scrolled);
  QFETCH(QString, outside);
  QFETCH(QString, warning);
  QTemporaryDir dir;
  const QString guide = dir.filePath("guide.ru.html");
  const QString text = QStringLiteral("<p>текст</p>").repeated(300);
  Write(guide, "<h2 id=\"первый-раздел\">Первый раздел</h2>" + text + "<h2 id=\"второй-раздел\">Второй раздел</h2>" + text);
  Write(dir.filePath("developers.ru.html"), "<h2>Сборка</h2><p>cmake</p>");
  Form f({guide});
  HelpWindow& help = f.F1();
  QTextBrowser& view = *help.ui.Browser;

  emit view.anchorClicked(QUrl(href));

  QCOMPARE(help.PageShown(), page.isEmpty() ? guide : dir.filePath(page));
  QCOMPARE(view.verticalScrollBar()->value() > 0, scrolled);
  QCOMPARE(help.ui.TreeContents->topLevelItem(0)->text(0), page.startsWith("dev") ? "Сборка" : "Первый раздел");
  const QUrl sent = outside.contains(':') ? QUrl(outside) : QUrl::fromLocalFile(dir.filePath(outside));
  QCOMPARE(f.links, outside.isEmpty() ? QList<QUrl>{} : QList<QUrl>{sent});
  QCOMPARE(QString::fromStdString(f.Said()), warning.isEmpty() ? warning : warning.arg(dir.path()));
  // Back returns to the top of the guide when the link moved away from it.
  QCOMPARE(help.ui.ButBack->isEnabled(), !page.isEmpty());
  if (page.isEmpty()) return;
  help.ui.ButBack->click();
  QCOMPARE(help.PageShown(), guide);
  QCOMPARE(view.verticalScrollBar()->value(), 0);
  QCOMPARE(help.ui.TreeContents->topLevelItem(0)->text(0), QStringLiteral("Первый раздел"));
  QVERIFY(help.ui.ButForward->isEnabled());
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
