// "Обзор линии" against four simulated models and a silent address on a
// pseudo-terminal, through the handlers the operator's actions run: the
// rows and their states, the silent instrument marked and backed off and
// back when it answers, double-click, the main window's commands while the
// overview polls, the recording, the trend of chosen instruments, closing;
// the window answering while the line is silent, "Стоп" and a command at
// once, a port change and an unplugged line.

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

#include "LineOverview.h"
#include "ReadRecorder.h"
#include "SimWindow.h"
#include "TrendPlot.h"
#include "TrendView.h"
#include "obrListDevice.h"

namespace {

struct Rig : testsupport::SimWindow {
  QTemporaryDir dir;
  Rig() {
    sim::Instrument& kard = Add(1, 100, 5);
    kard.SetMeasurement({.rez = 16383, .status = 0x01, .kodAcp = 100});  // in alarm
    Add(2, 101, 6);
    Add(3, 102, 6).SetMeasurement({.rez = 100, .status = 0x80, .kodAcp = 100});  // overflow
    Add(4, 103, 4);
    port.SetReplyTimeout(100);  // address 5 is silent: keep its time-outs short
  }
  LineOverview& o() { return form->Overview(); }
  const pmline::LinePoller& poller() { return *o().Poller(); }
  QString Cell(int row, int col) { return o().ui.TableLine->item(row, col)->text(); }
  bool Start(const QString& addresses) {
    if (!OpenPort(1, 1)) return false;
    form->ui.AOverview->trigger();
    o().ui.EditAddr->setText(addresses);
    o().ButStartClick();
    return o().Polling();
  }
  // Lets the polling run until n more cycles are complete; it pauses there.
  void Cycles(int n) {
    const long end = poller().Cycles() + n;
    o().CycleLimit = end;
    if (!o().PollUnderWay()) o().StepTimerTimeout();
    QTRY_VERIFY_WITH_TIMEOUT(poller().Cycles() == end && poller().AtCycleEnd() && !o().PollUnderWay(), 20000);
  }
  // Requests to an address in the simulator's log.
  long FramesTo(int address) {
    long n = 0;
    for (const sim::Bytes& f : line.Frames(sim::Dir::In)) n += f[0] == address;
    return n;
  }
  QString csv() const { return dir.filePath("line.csv"); }
};

QColor Colour(pmdev::Rgb c) { return QColor(c.r, c.g, c.b); }

}  // namespace

class TestOverview : public QObject {
  Q_OBJECT

 private slots:
  void rowsAndStatesOfFourModelsAndASilentAddress() {
    Rig w;
    QVERIFY(w.form->ui.N1Port->actions().contains(w.form->ui.AOverview));
    QVERIFY(w.form->ui.ToolBar1->actions().contains(w.form->ui.AOverview));
    QVERIFY(w.OpenPort(1, 1));
    // The set from the device list's last scan.
    w.form->FormDevice().CBoxUstr->setCurrentIndex(5);
    w.form->FormDevice().Button1Click();
    w.form->ui.AOverview->trigger();
    QCOMPARE(w.o().windowTitle(), QStringLiteral("Обзор линии"));
    QVERIFY(w.o().isVisible() && !w.o().isModal());
    w.o().ButFromListClick();
    QCOMPARE(w.o().ui.EditAddr->text(), QStringLiteral("1-4"));
    w.o().ui.EditAddr->setText("1-5");
    w.o().ButStartClick();
    w.Cycles(1);

    using C = LineOverview;
    const pmdev::Rgb teal = pmdev::kTeal, red = pmdev::kRed;
    struct Row {
      const char *model, *result, *percent, *state;
      pmdev::Rgb stateColour;
      const char* alarm;
    } rows[] = {{"КАРД", "20,000 мА", "100,000", "Норма", teal, "Нарушение"},
                {"ЗЕТ-ТС", nullptr, nullptr, "Норма", teal, "Норма"},
                {"ЗЕТ-ТП", nullptr, "1,221", "Переполнение", red, "Норма"},
                {"ЛУНТ", nullptr, nullptr, "Норма", teal, ""},
                {"", "", "", "нет ответа", red, ""}};
    for (int r = 0; r < 5; ++r) {
      const Row& e = rows[r];
      QCOMPARE(w.Cell(r, C::ColAddress), QString::number(r + 1));
      QCOMPARE(w.Cell(r, C::ColModel), QString(e.model));
      if (e.result) QCOMPARE(w.Cell(r, C::ColResult), QString(e.result));
      if (e.percent) QCOMPARE(w.Cell(r, C::ColPercent), QString(e.percent));
      QCOMPARE(w.Cell(r, C::ColState), QString(e.state));
      QCOMPARE(w.o().ui.TableLine->item(r, C::ColState)->foreground().color(), Colour(e.stateColour));
      QCOMPARE(w.Cell(r, C::ColAlarm), QString(e.alarm));
      QCOMPARE(w.Cell(r, C::ColFailures), QString(r == 4 ? "1" : "0"));
      QCOMPARE(w.Cell(r, C::ColLastGood).isEmpty(), r == 4);
    }
    // Units of the window, the ЗЕТ's range and setpoints, none for ЛУНТ.
    QVERIFY(w.Cell(1, C::ColResult).endsWith(" °C"));
    QVERIFY(w.Cell(2, C::ColRange).contains(" .. "));
    QVERIFY(w.Cell(2, C::ColSetpoint2).endsWith(" °С") && w.Cell(2, C::ColSetpoint1).endsWith(" °С"));
    QVERIFY(w.Cell(0, C::ColSetpoint2).endsWith(" %"));
    QCOMPARE(w.Cell(3, C::ColSetpoint2), QString());
    QCOMPARE(w.Cell(3, C::ColRange), QStringLiteral("4 .. 20 мА"));
    QVERIFY(w.messages.shown.empty());

    // A typed set that is not one is refused with its reason.
    w.o().StopPolling();
    w.o().ui.EditAddr->setText("0-3");
    w.o().ButStartClick();
    QCOMPARE(w.messages.Texts(), std::vector<std::string>{"Неверный диапазон 0-3: адреса от 1 до 32"});
    QVERIFY(!w.o().Polling());
  }

  void silentInstrumentIsBackedOffAndComesBackWhenItAnswers() {
    Rig w;
    QVERIFY(w.Start("1-5"));
    w.Cycles(1);
    QCOMPARE(w.FramesTo(5), 1L);  // one attempt, as the exchange settings say
    // Cycles 2 to 4 pass it by; cycle 5 tries it once.
    w.Cycles(3);
    QCOMPARE(w.FramesTo(5), 1L);
    w.Cycles(1);
    QCOMPARE(w.FramesTo(5), 2L);
    QCOMPARE(w.Cell(4, LineOverview::ColFailures), QStringLiteral("2"));
    // It is plugged in: tried at cycle 9, polled every cycle from then on.
    w.Add(5, 101, 6);
    w.Cycles(4);
    QCOMPARE(w.Cell(4, LineOverview::ColModel), QStringLiteral("ЗЕТ-ТС"));
    QCOMPARE(w.Cell(4, LineOverview::ColState), QStringLiteral("Норма"));
    const long before = w.FramesTo(5);
    w.Cycles(1);
    QCOMPARE(w.FramesTo(5), before + 3);  // 17, 68, 71
    QVERIFY(w.messages.shown.empty());
  }

  void doubleClickReadsTheInstrumentInTheMainWindow() {
    Rig w;
    QVERIFY(w.Start("1-4"));
    w.Cycles(1);
    w.o().TableLineDoubleClick(2);
    QCOMPARE(w.form->Serv.DeviceIndex, 2);
    QCOMPARE(w.form->ui.CBoxUstr->currentIndex(), 2);
    QCOMPARE(w.form->Pm.DevType, 102);
    QCOMPARE(w.form->Pm.DataRead, 1);
    QVERIFY(w.messages.shown.empty());
  }

  void mainWindowCommandsTakeTurnsWithThePolling() {
    Rig w;
    QVERIFY(w.Start("1-4"));
    QTRY_VERIFY_WITH_TIMEOUT(w.poller().PollsDone() >= 4, 10000);
    // While a command of the main window runs, a turn sends nothing.
    w.form->Guarded([&] {
      const auto frames = w.line.Log().size();
      const long polls = w.poller().PollsDone();
      w.o().StepTimerTimeout();
      QCOMPARE(w.line.Log().size(), frames);
      QCOMPARE(w.poller().PollsDone(), polls);
    });
    // F9 and F10 asked for while the overview polls run between two polls.
    w.PickDevice(2);
    QTimer::singleShot(0, w.form.get(), [&] { w.form->ui.AInPort->trigger(); });
    QTRY_VERIFY_WITH_TIMEOUT(w.form->Pm.DataRead == 1, 10000);
    QTimer::singleShot(0, w.form.get(), [&] { w.form->ui.AOutPort->trigger(); });
    QTRY_VERIFY_WITH_TIMEOUT(!w.line.Frames(sim::Dir::In).empty() && w.FramesTo(2) > 0 &&
                                 std::ranges::any_of(w.line.Frames(sim::Dir::In),
                                                     [](const sim::Bytes& f) { return f[1] == 14; }),
                             10000);
    const long polls = w.poller().PollsDone();
    QTRY_VERIFY_WITH_TIMEOUT(w.poller().PollsDone() > polls + 4, 10000);
    // No request inside another: every reply follows its own request.
    const auto log = w.line.Log();
    for (std::size_t i = 0; i < log.size(); ++i)
      if (log[i].dir == sim::Dir::Out) {
        QVERIFY(i > 0 && log[i - 1].dir == sim::Dir::In);
        QCOMPARE(log[i].bytes[0], log[i - 1].bytes[0]);
      }
    QVERIFY(w.messages.shown.empty());

    // Closing the overview stops its polling; closing the program too.
    w.o().close();
    QVERIFY(!w.o().Polling());
    const auto frames = w.line.Log().size();
    QTest::qWait(100);
    QCOMPARE(w.line.Log().size(), frames);
    w.o().show();
    w.o().ButStartClick();
    QVERIFY(w.o().Polling());
    w.form->close();
    QVERIFY(!w.o().Polling());
  }

  void recordingEveryPollAndAFileThatGoesAway() {
    Rig w;
    QVERIFY(w.Start("1-5"));
    w.o().AskRecordPath = [&] { return w.csv(); };
    w.o().ButRecordClick();
    QVERIFY(w.o().ui.ButRecord->isChecked());
    w.Cycles(1);
    QFile file(w.csv());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 7);  // header, five rows, nothing after the last CRLF
    QCOMPARE(lines[0], QByteArray("\xEF\xBB\xBF") + QByteArray::fromStdString(pmtrend::CsvHeader(pmtrend::PortColumn::Yes)) + "\r");
    QVERIFY(lines[1].contains(";1;КАРД;20,000;мА;100,000;16383;100;1;1;0;\r"));
    QVERIFY(lines[5].endsWith(";5;0;;;;;;;;;\r"));
    QCOMPARE(w.o().ui.StStatus->text().contains(QStringLiteral("Запись: line.csv, строк: 5")), true);

    // The file is deleted: the recording stops with its message, the
    // polling goes on.
    QVERIFY(std::filesystem::remove(w.csv().toStdString()));
    w.Cycles(1);
    QCOMPARE(w.messages.Texts(), std::vector<std::string>{"Запись в файл " + w.csv().toStdString() +
                                                          " остановлена: файл удален\nЗаписано строк: 5"});
    QVERIFY(!w.o().ui.ButRecord->isChecked());
    QVERIFY(w.o().Polling());
  }

  void chosenInstrumentsTogetherOnTheTrend() {
    Rig w;
    QVERIFY(w.Start("1-4"));
    w.o().ButGraphClick();
    QCOMPARE(w.messages.Texts(), std::vector<std::string>{"Отметьте приборы для графика в столбце \"Адрес\""});
    for (int row : {0, 2}) w.o().ui.TableLine->item(row, LineOverview::ColAddress)->setCheckState(Qt::Checked);
    w.o().ButGraphClick();
    QVERIFY(w.form->Trend().isVisible());
    QVERIFY(w.form->Trend().TogetherShown());
    w.Cycles(2);
    const auto& series = w.form->Trend().Together().AllSeries();
    QCOMPARE(series.size(), std::size_t{2});
    QCOMPARE(series[0].samples.size(), std::size_t{2});
    QCOMPARE(series[1].unit, std::string("°C"));
    QCOMPARE(w.form->Trend().ui.Plot->SeriesShown(), std::size_t{2});
  }

  // Polls of silent addresses with the real time-outs (1.3 s for a header,
  // five attempts): the event loop never waits for them, "Стоп" and F9 take
  // effect within one attempt. Bounds are generous; bench_stall measures.
  void windowAnswersWhileTheLineIsSilentAndStopsAtOnce() {
    Rig w;
    w.port.SetReplyTimeout(1000);
    QVERIFY(w.OpenPort(5, 10));
    w.form->ui.AOverview->trigger();
    w.o().ui.EditAddr->setText("9-12");
    w.o().ButStartClick();
    QVERIFY(w.o().Polling());

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      longest = std::max(longest, clock.elapsed() - last);
      last = clock.elapsed();
    });
    tick.start(10);
    QTest::qWait(2500);
    QVERIFY2(longest < 500, qPrintable(QString("event loop held %1 ms").arg(longest)));
    QVERIFY(w.FramesTo(9) >= 1);

    // F9 on instrument 1 waits for the attempt under way, not the exchange.
    w.PickDevice(1);
    clock.restart();
    w.form->ui.AInPort->trigger();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString("F9 took %1 ms").arg(clock.elapsed())));
    QCOMPARE(w.form->Pm.DataRead, 1);
    QVERIFY(w.o().Polling());

    QTest::qWait(500);
    clock.restart();
    w.o().ButStartClick();
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString("Стоп took %1 ms").arg(clock.elapsed())));
    QVERIFY(!w.o().Polling() && !w.o().PollUnderWay());
    const auto frames = w.line.Log().size();
    QTest::qWait(300);
    QCOMPARE(w.line.Log().size(), frames);
    QVERIFY(w.messages.shown.empty());
  }

  void portChangeStopsPollingAndRecording() {
    Rig w;
    QVERIFY(w.Start("1-4"));
    w.o().AskRecordPath = [&] { return w.csv(); };
    w.o().ButRecordClick();
    w.Cycles(1);
    w.form->Line().StopPoller(pmline::LineOwner::Why::PortChange);
    QVERIFY(!w.o().Polling());
    QVERIFY(!w.o().Recorder().Recording());
    QVERIFY(!w.o().ui.ButRecord->isChecked());
    QCOMPARE(w.messages.Texts(), std::vector<std::string>{"Запись в файл " + w.csv().toStdString() +
                                                          " остановлена: выбран другой порт\nЗаписано строк: 4"});
    // Closing the program stops the polling without a word about the file.
    QVERIFY(w.Start("1-4"));
    w.form->Line().StopPoller(pmline::LineOwner::Why::Closing);
    QVERIFY(!w.o().Polling());
    QCOMPARE(w.messages.shown.size(), std::size_t{1});
  }

  void unpluggedLineStopsPollingWithOneMessage() {
    Rig w;
    QVERIFY(w.Start("1-4"));
    w.Cycles(1);
    const long polls = w.poller().PollsDone();
    w.server->Unplug();
    w.o().CycleLimit = 0;
    w.o().StepTimerTimeout();
    QTRY_VERIFY_WITH_TIMEOUT(!w.o().Polling(), 10000);
    QCOMPARE(w.messages.shown.size(), std::size_t{1});
    QVERIFY(w.messages.Last().text.ends_with("\nОпрос линии остановлен."));
    QCOMPARE(w.messages.Last().icon, ui::Icon::Error);
    // No row was marked failed for the lost line, and the program goes on.
    QCOMPARE(w.poller().PollsDone(), polls);
    for (int r = 0; r < 4; ++r) QCOMPARE(w.Cell(r, LineOverview::ColFailures), QStringLiteral("0"));
    QTest::qWait(100);
    QCOMPARE(w.messages.shown.size(), std::size_t{1});
  }
};

QTEST_MAIN(TestOverview)
#include "test_overview.moc"
