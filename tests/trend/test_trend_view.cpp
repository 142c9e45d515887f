// The trend window and the recording against simulated instruments on a
// pseudo-terminal: a polling session with its setpoint lines and its CSV
// read back as a spreadsheet splits it, a pulled line, another instrument,
// a closed view, a failing file, pause and the PNG.

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

#include "ReadRecorder.h"
#include "SimWindow.h"
#include "TrendView.h"

namespace {

struct Rig : testsupport::SimWindow {
  QTemporaryDir dir;
  TForm1& f() { return *form; }
  TrendView& view() { return form->Trend(); }
  QString csv() const { return dir.filePath("session.csv"); }
  void Record() {
    f().AskRecordPath = [this] { return csv(); };
    f().ui.ARecord->trigger();
  }
  QString RecordStatus() { return f().findChild<QLabel*>("StRecord")->text(); }
  void Tick(int n) {
    for (int i = 0; i < n; ++i) f().Timer1Timer();
  }
};

// The file as a spreadsheet with Russian settings splits it: UTF-8 after
// the byte-order mark, CRLF lines, semicolon fields.
QList<QStringList> Cells(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QByteArray bytes = file.readAll();
  if (!bytes.startsWith("\xEF\xBB\xBF") || !bytes.endsWith("\r\n")) return {};
  bytes.remove(0, 3);
  bytes.chop(1);
  QList<QStringList> rows;
  for (const QByteArray& line : bytes.split('\n')) {
    if (!line.endsWith('\r')) return {};
    rows << QString::fromUtf8(line.chopped(1)).split(';');
  }
  return rows;
}

double Number(const QString& cell) {
  bool ok = false;
  const double v = QLocale(QLocale::Russian).toDouble(cell, &ok);
  return ok ? v : NAN;
}

}  // namespace

class TestTrendView : public QObject {
  Q_OBJECT

 private slots:
  void menuAndToolbar() {
    Rig w;
    QVERIFY(w.f().ui.N1Port->actions().contains(w.f().ui.AGraph));
    QVERIFY(w.f().ui.N1Port->actions().contains(w.f().ui.ARecord));
    QVERIFY(w.f().ui.ToolBar1->actions().contains(w.f().ui.AGraph));
    QCOMPARE(w.f().ui.AGraph->text(), QStringLiteral("График"));
    QCOMPARE(w.f().ui.ARecord->text(), QStringLiteral("Запись в файл…"));
    QVERIFY(!w.view().Listening());
    w.f().ui.AGraph->trigger();
    QVERIFY(w.view().isVisible());
    QVERIFY(!w.view().isModal());
    QVERIFY(w.view().Listening());
  }

  void pollingSessionWithAPulledLine() {
    Rig w;
    sim::Instrument& kard = w.Add(1, 100, 5);
    QVERIFY(w.OpenPort(1, 1));
    w.f().ui.AGraph->trigger();
    w.Record();
    QVERIFY(w.f().ui.ARecord->isChecked());
    QVERIFY(w.view().ui.ButRecord->isChecked());

    // Twenty ticks, the timer stopped and started again halfway.
    w.f().BtnPuskTimerClick();
    w.Tick(10);
    w.f().BtnPuskTimerClick();
    w.f().BtnPuskTimerClick();
    w.Tick(10);
    QVERIFY(w.f().TimerRunning());
    const pmtrend::Series* s = w.view().Shown();
    QVERIFY(s);
    QCOMPARE(s->samples.size(), std::size_t{20});
    QCOMPARE(s->unit, std::string("мА"));
    QCOMPARE(w.view().ui.CBoxSeries->currentText(), QString("1: КАРД, ") + QString::fromStdString(w.f().Link.Port));
    // The setpoint lines where the window's setpoints in % put them.
    const double pct1 = Number(w.f().ui.UstProc1->text()), pct2 = Number(w.f().ui.UstProc2->text());
    QVERIFY(s->setpoint1 && s->setpoint2);
    QVERIFY(std::fabs(*s->setpoint1 - (4 + 0.16 * pct1)) < 0.002);
    QVERIFY(std::fabs(*s->setpoint2 - (4 + 0.16 * pct2)) < 0.002);
    QVERIFY(std::fabs(s->samples.back().value - Number(w.f().ui.StRezGrMA->text())) <= 0.0005);
    QCOMPARE(w.RecordStatus(), QStringLiteral("Запись: session.csv, строк: 20"));

    // The line goes dead: the read fails, the timer stops, a gap follows.
    kard.InjectFault(sim::Fault::Persistent(sim::FaultKind::Silence));
    w.Tick(1);
    QVERIFY(!w.f().TimerRunning());
    QCOMPARE(w.messages.shown.size(), std::size_t{1});
    kard.ClearFault();
    w.f().InPortClick();
    QCOMPARE(s->samples.size(), std::size_t{22});
    QVERIFY(s->samples[20].Gap());
    QVERIFY(!s->samples[21].Gap());

    const QList<QStringList> rows = Cells(w.csv());
    QCOMPARE(rows.size(), 23);
    QCOMPARE(rows[0].join(';'), QString::fromStdString(pmtrend::CsvHeader()));
    for (const QStringList& r : rows) QCOMPARE(r.size(), 12);
    for (int i = 1; i <= 22; ++i) {
      QCOMPARE(rows[i][1], QString("1"));
      QCOMPARE(rows[i][2], QString("КАРД"));
      QVERIFY(QDateTime::fromString(rows[i][0], "yyyy-MM-dd HH:mm:ss,zzz").isValid());
      if (i == 21) {
        QVERIFY(rows[i][3].isEmpty());
        continue;
      }
      QVERIFY(std::fabs(Number(rows[i][3]) - s->samples[std::size_t(i - 1)].value) <= 0.0005);
      QCOMPARE(rows[i][4], QString("мА"));
      QVERIFY(Number(rows[i][5]) >= 0 && Number(rows[i][5]) <= 100);
    }
  }

  void anotherInstrumentAndAClosedView() {
    Rig w;
    w.Add(1, 100, 5);
    w.Add(2, 101, 5);
    QVERIFY(w.OpenPort());
    w.f().ui.AGraph->trigger();
    w.Record();
    w.f().InPortClick();
    w.PickDevice(2);
    w.f().InPortClick();
    const auto& all = w.view().Model().AllSeries();
    QCOMPARE(all.size(), std::size_t{2});
    QCOMPARE(all.back().unit, std::string("°C"));
    QVERIFY(all.back().legend.starts_with("2: ЗЕТ-ТС, "));
    QCOMPARE(w.view().ui.CBoxSeries->count(), 2);
    QVERIFY(std::fabs(all.back().samples.back().value - Number(w.f().ui.StRezGrMA->text())) <= 0.005);
    QVERIFY(std::fabs(*all.back().setpoint1 - Number(w.f().ui.UstProc1->text())) <= 0.5);

    // The older series stays viewable.
    w.view().ui.CBoxSeries->activated(0);
    QCOMPARE(w.view().Shown(), &all.front());

    // Closed, the view hears nothing; the recording goes on.
    w.view().close();
    QVERIFY(!w.view().Listening());
    w.f().InPortClick();
    QCOMPARE(all.back().samples.size(), std::size_t{1});
    QCOMPARE(w.f().Recorder().File().Lines(), 3);
  }

  void aFailingFileStopsTheRecording() {
    Rig w;
    w.Add(1, 100, 5);
    QVERIFY(w.OpenPort());
    w.Record();
    w.f().InPortClick();
    QVERIFY(std::filesystem::remove(w.csv().toStdString()));
    w.f().InPortClick();
    QCOMPARE(w.messages.Texts(), std::vector<std::string>{"Запись в файл " + w.csv().toStdString() +
                                                          " остановлена: файл удален\nЗаписано строк: 1"});
    QCOMPARE(w.messages.Last().caption, std::string("Ошибка"));
    QVERIFY(!w.f().ui.ARecord->isChecked());
    QVERIFY(w.RecordStatus().isEmpty());

    // Choosing a file that cannot be made.
    w.messages.Clear();
    w.f().AskRecordPath = [] { return QStringLiteral("/nonexistent-folder/a.csv"); };
    w.f().ui.ARecord->trigger();
    QCOMPARE(w.messages.Texts(),
             std::vector<std::string>{"Не удалось открыть файл /nonexistent-folder/a.csv: папка не найдена"});
    QVERIFY(!w.f().ui.ARecord->isChecked());
  }

  void pauseFixedScaleAndPng() {
    Rig w;
    w.Add(1, 100, 5);
    QVERIFY(w.OpenPort());
    w.f().ui.AGraph->trigger();
    w.f().InPortClick();
    w.view().ui.ChBoxPause->setChecked(true);
    const pmtrend::ViewBox before = w.view().ui.Plot->Box();
    w.f().OutPortClick();  // the read after the write
    QCOMPARE(w.messages.shown.size(), std::size_t{0});
    QCOMPARE(w.view().Shown()->samples.size(), std::size_t{2});  // points keep arriving
    QCOMPARE(w.view().ui.Plot->Box().time.hi, before.time.hi);
    w.view().ui.ChBoxPause->setChecked(false);

    w.view().ui.ChBoxFixed->setChecked(true);
    w.view().ui.SpinMin->setValue(0);
    w.view().ui.SpinMax->setValue(25);
    QCOMPARE(w.view().ui.Plot->Box().value.hi, 25.0);
    w.view().ui.CBoxWindow->setCurrentIndex(1);
    const ui::Span t = w.view().ui.Plot->Box().time;
    QCOMPARE(t.hi - t.lo, 600000.0);

    const QString png = w.dir.filePath("trend.png");
    w.view().AskSavePath = [png] { return png; };
    w.view().ui.ButSavePng->click();
    QCOMPARE(QImage(png).size(), w.view().ui.Plot->size());
  }
};

QTEST_MAIN(TestTrendView)
#include "test_trend_view.moc"
