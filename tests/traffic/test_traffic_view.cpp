// The traffic view opened from the main window, against simulated
// instruments on a pseudo-terminal: it lists exactly the frames the
// simulator's log holds, in order, with the result codes; clearing, saving,
// and closing it (after which it hears nothing).

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <string>
#include <vector>

#include "SimWindow.h"
#include "TrafficView.h"

namespace {

struct Row {
  QString dir;
  QString bytes;
  QString result;
  bool operator==(const Row&) const = default;
};

// The rows of the view without the time column.
std::vector<Row> Rows(const TrafficView& v) {
  std::vector<Row> out;
  const QTableWidget* t = v.ui.TableFrames;
  for (int r = 0; r < t->rowCount(); ++r)
    out.push_back({t->item(r, TrafficView::ColDirection)->text(),
                   t->item(r, TrafficView::ColBytes)->text(),
                   t->item(r, TrafficView::ColResult)->text()});
  return out;
}

// The simulator's log as the view should show it: what the instrument
// received is our request, marked [..]; what it sent is our reply, <..>.
std::vector<Row> Expected(const std::vector<sim::LogEntry>& log) {
  std::vector<Row> out;
  for (const sim::LogEntry& e : log)
    out.push_back({e.dir == sim::Dir::In ? "TX" : "RX",
                   QString::fromStdString(sim::Marked(e.bytes, e.dir == sim::Dir::In)), ""});
  return out;
}

std::vector<Row> WithoutResults(std::vector<Row> rows) {
  for (Row& r : rows) r.result.clear();
  return rows;
}

QString Describe(const std::vector<Row>& rows) {
  QString s;
  for (const Row& r : rows) s += r.dir + ' ' + r.bytes + ' ' + r.result + '\n';
  return s;
}

struct Rig : testsupport::SimWindow {
  TForm1& f() { return *form; }
  TrafficView& view() { return form->Traffic(); }
  void OpenView() { f().ui.ATraffic->trigger(); }
  void Read() { f().ui.AInPort->trigger(); }
};

}  // namespace

class TestTrafficView : public QObject {
  Q_OBJECT

 private slots:
  void openedFromThePortMenu() {
    Rig w;
    QVERIFY(w.f().ui.N1Port->actions().contains(w.f().ui.ATraffic));
    QCOMPARE(w.f().ui.ATraffic->text(), QStringLiteral("Обмен по линии"));
    QVERIFY(!w.view().isVisible());
    QVERIFY(!w.view().Attached());
    w.OpenView();
    QVERIFY(w.view().isVisible());
    QVERIFY(!w.view().isModal());
    QVERIFY(w.view().Attached());
    QCOMPARE(w.view().windowTitle(), QStringLiteral("Обмен по линии"));
  }

  // A read is several exchanges; each ends with one reply carrying 0.
  void readListsTheSimulatorsFramesInOrder() {
    Rig w;
    w.Add(1, 100, 5);
    QVERIFY(w.OpenPort());
    w.OpenView();
    w.Read();
    QCOMPARE(w.f().Pm.DataRead, 1);

    const std::vector<Row> rows = Rows(w.view());
    const std::vector<Row> expected = Expected(w.line.Log());
    QVERIFY(expected.size() >= 4);
    QVERIFY2(WithoutResults(rows) == expected, qPrintable(Describe(rows) + "--\n" + Describe(expected)));
    for (const Row& r : rows) QCOMPARE(r.result, r.dir == "RX" ? QString("0") : QString());

    // The same split by direction, as the simulator files them.
    std::size_t tx = 0, rx = 0;
    for (const Row& r : rows) (r.dir == "TX" ? tx : rx)++;
    QCOMPARE(tx, w.line.Frames(sim::Dir::In).size());
    QCOMPARE(rx, w.line.Frames(sim::Dir::Out).size());

    // Times count up from the start of the log, with a decimal comma.
    const QTableWidget* t = w.view().ui.TableFrames;
    double last = 0;
    for (int r = 0; r < t->rowCount(); ++r) {
      bool ok = false;
      QString text = t->item(r, TrafficView::ColTime)->text();
      QVERIFY2(text.contains(QLatin1Char(',')), qPrintable(text));
      const double ms = text.replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
      QVERIFY(ok);
      QVERIFY(ms >= last);
      last = ms;
    }
  }

  void timeOutShowsEveryAttempt() {
    Rig w;  // nothing answers at address 1
    QVERIFY(w.OpenPort(3, 2));
    w.OpenView();
    w.Read();
    QVERIFY(!w.messages.shown.empty());  // the failed read was reported

    const std::vector<Row> rows = Rows(w.view());
    const auto sent = w.line.Frames(sim::Dir::In);
    QCOMPARE(sent.size(), std::size_t{3});
    QVERIFY(w.line.Frames(sim::Dir::Out).empty());
    const QString request = QString::fromStdString(sim::Marked(sent[0], true));
    const std::vector<Row> expected = {
        {"TX", request, ""}, {"TX", request, ""}, {"TX", request, "130"}};
    QVERIFY2(rows == expected, qPrintable(Describe(rows)));
  }

  void clearEmptiesTheList() {
    Rig w;
    w.Add(1, 100, 5);
    QVERIFY(w.OpenPort());
    w.OpenView();
    w.Read();
    QVERIFY(w.view().ui.TableFrames->rowCount() > 0);

    QTest::mouseClick(w.view().ui.ButClear, Qt::LeftButton);
    QCOMPARE(w.view().ui.TableFrames->rowCount(), 0);
    QVERIFY(w.view().Log().Frames().empty());

    // Collecting goes on after a clear.
    w.line.ClearLog();
    w.Read();
    QVERIFY(WithoutResults(Rows(w.view())) == Expected(w.line.Log()));
  }

  void saveWritesOneLinePerFrame() {
    Rig w;
    w.Add(1, 100, 5);
    QVERIFY(w.OpenPort());
    w.OpenView();
    w.Read();

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("obmen.txt");
    w.view().AskSavePath = [&] { return path; };
    QTest::mouseClick(w.view().ui.ButSave, Qt::LeftButton);
    QVERIFY(w.messages.shown.empty());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    const QTableWidget* t = w.view().ui.TableFrames;
    QCOMPARE(lines.size(), t->rowCount());
    for (int r = 0; r < t->rowCount(); ++r) {
      QStringList cells;
      for (int c = 0; c < t->columnCount(); ++c) cells << t->item(r, c)->text();
      QCOMPARE(lines[r], cells.join('\t'));
    }

    // A cancelled file dialog writes nothing.
    QVERIFY(QFile::remove(path));
    w.view().AskSavePath = [] { return QString(); };
    QTest::mouseClick(w.view().ui.ButSave, Qt::LeftButton);
    QVERIFY(!QFile::exists(path));
  }

  void failedSaveIsReported() {
    Rig w;
    QTemporaryDir dir;
    const QString path = dir.filePath("no-such-folder/obmen.txt");
    QVERIFY(!w.view().SaveTo(path));
    QCOMPARE(w.messages.shown.size(), std::size_t{1});
    const ui::Message& m = w.messages.shown.front();
    QCOMPARE(m.icon, ui::Icon::Error);
    QCOMPARE(m.caption, std::string("Ошибка"));
    QVERIFY(QString::fromStdString(m.text).startsWith("Не удалось сохранить файл " + path));
  }

  void closedViewHearsNothing() {
    Rig w;
    w.Add(1, 100, 5);
    QVERIFY(w.OpenPort());
    w.OpenView();
    w.Read();
    const std::vector<Row> before = Rows(w.view());

    QTest::mouseClick(w.view().ui.ButClose, Qt::LeftButton);
    QVERIFY(!w.view().isVisible());
    QVERIFY(!w.view().Attached());
    const std::size_t logged = w.line.Log().size();
    w.Read();
    QVERIFY(w.line.Log().size() > logged);
    QVERIFY(Rows(w.view()) == before);

    // Opened again, it keeps what it had and collects again.
    w.line.ClearLog();
    w.OpenView();
    QVERIFY(w.view().Attached());
    w.Read();
    std::vector<Row> expected = WithoutResults(before);
    for (const Row& r : Expected(w.line.Log())) expected.push_back(r);
    QVERIFY(WithoutResults(Rows(w.view())) == expected);
  }
};

QTEST_MAIN(TestTrafficView)
#include "test_traffic_view.moc"
