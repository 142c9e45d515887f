// The read (F9, polling), the write (F10), the three save prompts and the
// sound behaviour around them, against simulated instruments on a
// pseudo-terminal, with the window in-process and scripted message boxes.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "DisplayFormat.h"
#include "Identification.h"
#include "ModalRunner.h"
#include "RangeLists.h"
#include "Scaling.h"
#include "SensorLists.h"
#include "SimWindow.h"
#include "TermiosPort.h"
#include "obrport.h"

namespace {

constexpr int kKard = 100, kZetTs = 101, kZetTp = 102, kLunt = 103;
const std::string kNoData = "Нет данных о приборе,\nпроизведите ввод информации с СОМ порта";
const std::string kSavePrompt1 = "устройство 1 - база данных была изменена,\nСохранить?";

QString Qs(const std::string& s) { return QString::fromStdString(s); }

struct Rig : testsupport::SimWindow {
  TForm1& f() { return *form; }

  sim::Instrument& AddFrozen(int address, int model, int version, bool privileged = true,
                             sim::Measurement m = {4096, 0, 9000, 1802, 3700}) {
    sim::Instrument& in = Add(address, model, version, privileged);
    in.SetMeasurement(m);
    return in;
  }

  void Read() { f().ui.AInPort->trigger(); }
  void Write() { f().ui.AOutPort->trigger(); }

  // Function codes of the frames the master sent, oldest first.
  std::vector<int> Functions() const {
    std::vector<int> out;
    for (const auto& fr : line.Frames(sim::Dir::In)) out.push_back(fr.size() > 1 ? fr[1] : -1);
    return out;
  }
  std::vector<sim::Bytes> FramesOf(int function) const {
    std::vector<sim::Bytes> out;
    for (const auto& fr : line.Frames(sim::Dir::In))
      if (fr.size() > 1 && fr[1] == function) out.push_back(fr);
    return out;
  }

  // From the next request on, the instrument answers the request after the
  // reply with function `after` by an exception (once).
  void FailAfter(sim::Instrument& in, int after) {
    auto armed = std::make_shared<std::atomic<bool>>(true);
    line.SetLogSink([&in, after, armed](const sim::LogEntry& e) {
      if (e.dir == sim::Dir::Out && e.bytes.size() > 1 && e.bytes[1] == after && armed->exchange(false))
        in.InjectFault(sim::Fault{.kind = sim::FaultKind::Exception, .times = 1, .exceptionCode = 4});
    });
  }

  void ShowActive() {
    f().show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
  }
};

void Pick(QComboBox* box, int index) {
  box->setCurrentIndex(index);
  emit box->activated(index);
}

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

QStringList ToList(const std::vector<std::string>& v) {
  QStringList out;
  for (const auto& s : v) out << Qs(s);
  return out;
}

QColor TextColour(const QWidget* w) { return w->palette().color(QPalette::WindowText); }
QColor Background(const QWidget* w) { return w->palette().color(QPalette::Window); }
QColor Qc(pmdev::Rgb c) { return QColor(c.r, c.g, c.b); }

// Every control whose visibility depends on the model and version.
const std::vector<std::string> kFeatureControls = {
    "StKBegSk",   "StKEndSk",       "StKodACP",  "StRez",     "StRezProc",    "StSost",
    "StRezGrMA",  "CBoxTipSign",    "StUstKod1", "StUstKod2", "UstProc1",     "UstProc2",
    "StNar",      "LabBreak",       "CBoxBreak", "LabCurrent", "CBoxCurrent", "LabTipKont",
    "CBoxTipK",   "LabCurrentEnd",  "CBoxCurrentEnd", "Label4", "CBoxTipD",   "Label5",
    "CBoxMin",    "CBoxMax",        "GBoxNonStand", "Label26", "CBoxConnect", "GBoxZETTP",
    "Label28",    "StRt",           "Label24",   "ButSwitch", "Label25",      "Edit1"};

// The visible controls after a read are those of the feature table, plus
// the unit captions of the model.
void CheckVisible(TForm1& f, int model, int version) {
  const auto expected = pmdev::VisibleControls(pmdev::FeaturesFor(model, version));
  for (const std::string& name : kFeatureControls) {
    QWidget* w = f.findChild<QWidget*>(Qs(name));
    QVERIFY2(w, name.c_str());
    const bool want = std::find(expected.begin(), expected.end(), name) != expected.end();
    QVERIFY2(w->isVisibleTo(&f) == want,
             qPrintable(Qs(name) + (want ? " should be visible" : " should be hidden")));
  }
  const bool zet = model == kZetTs || model == kZetTp;
  QCOMPARE(f.ui.Label23->isVisibleTo(&f), !zet);  // "в мА"
  QCOMPARE(f.ui.Label21->isVisibleTo(&f), zet);   // "в °С"
  QCOMPARE(f.ui.Label22->isVisibleTo(&f), zet);
  for (QWidget* w : {f.ui.Label7, f.ui.Label8, f.ui.Label9, f.ui.Label10, f.ui.Label11, f.ui.Label19})
    QCOMPARE(w->isVisibleTo(&f), model != kLunt);
  QVERIFY(f.ui.GBoxKanal->isVisibleTo(&f));
  QCOMPARE(f.ui.GBoxSign->isVisibleTo(&f), model != kLunt);  // never an empty frame
  QVERIFY(f.ui.LabReg->isVisibleTo(&f));
  if (model == kLunt) {  // "вкл. режима управления      выходом" on two lines
    f.ui.centralwidget->layout()->activate();
    const QLabel* l = f.ui.Label24;
    QVERIFY(l->heightForWidth(l->width()) <= 2 * l->fontMetrics().lineSpacing());
  }
}

// Identification text and the panel's geometry in the window: the full line
// at left 170 with width 300, the short form at left 272 with width 73.
void CheckPanel(TForm1& f, int model, int version) {
  const auto line = pmdev::IdentificationText(model, version);
  QCOMPARE(f.ui.Panel1->text(), Qs(line.text));
  f.ui.centralwidget->layout()->activate();
  QCOMPARE(f.ui.Panel1->width(), line.width);
  QCOMPARE(f.ui.Panel1->mapTo(&f, QPoint(0, 0)).x(), line.left);
}

// Values shown for the instrument's block and the frozen measurement.
void CheckValues(TForm1& f, const sim::Bytes& block, const sim::Measurement& m, int model,
                 int version) {
  auto le = [&](int at) { return static_cast<std::int16_t>(block[at] | (block[at + 1] << 8)); };
  QCOMPARE(f.ui.StKBegSk->text(), QString::number(le(0)));
  QCOMPARE(f.ui.StKEndSk->text(), QString::number(le(2)));
  QCOMPARE(f.ui.StRez->text(), QString::number(m.rez));
  QCOMPARE(f.ui.StKodACP->text(), QString::number(m.kodAcp));
  const auto meas = pmdev::MeasurementState(m.status);
  QCOMPARE(f.ui.StSost->text(), Qs(meas.digits));
  QCOMPARE(f.ui.Label18->text(), Qs(meas.text));
  QCOMPARE(TextColour(f.ui.Label18), Qc(meas.colour));
  QCOMPARE(Background(f.ui.StSost), Qc(meas.colour));

  const bool zet = model == kZetTs || model == kZetTp;
  if (model != kLunt) {
    const int tipD = block[9];
    QCOMPARE(Items(f.ui.CBoxTipD), ToList(pmdev::SensorList(model, version)));
    QCOMPARE(f.ui.CBoxTipD->currentIndex(), tipD);
    QCOMPARE(f.ui.CBoxTipSign->currentIndex(), block[4] & 3);
    QCOMPARE(f.ui.StUstKod1->text(), QString::number(le(5)));
    QCOMPARE(f.ui.StUstKod2->text(), QString::number(le(7)));
    const auto alarm = pmdev::AlarmState(m.status);
    QCOMPARE(f.ui.StNar->text(), Qs(alarm.digits));
    QCOMPARE(f.ui.Label19->text(), Qs(alarm.text));
    QCOMPARE(TextColour(f.ui.Label19), Qc(alarm.colour));
    QCOMPARE(Background(f.ui.StNar), Qc(alarm.colour));
  }
  if (!zet) {
    QCOMPARE(f.ui.StRezGrMA->text(), Qs(pmdev::Format(pmdev::CodeToMA(m.rez), pmdev::kFmtResultMA)));
    QCOMPARE(f.ui.StRezProc->text(),
             Qs(pmdev::Format(pmdev::CodeToPercent16383(m.rez), pmdev::kFmtResultPercent)));
  }
  if (model == kKard) {
    QCOMPARE(f.ui.UstProc1->text(),
             Qs(pmdev::Format(pmdev::CodeToPercent16383(le(5)), pmdev::kFmtSetpointPercent)));
    QCOMPARE(f.ui.UstProc2->text(),
             Qs(pmdev::Format(pmdev::CodeToPercent16383(le(7)), pmdev::kFmtSetpointPercent)));
  }
  if (zet) {
    const int tipD = block[9], rangeNo = block[10];
    const auto table = pmdev::RangeTableFor(model, version, tipD);
    QVERIFY(rangeNo < static_cast<int>(table.size()));
    const auto starts = pmdev::FillStartList(table, rangeNo);
    const auto ends = pmdev::FillEndList(table, *starts.value, rangeNo);
    QCOMPARE(Items(f.ui.CBoxMin), ToList(starts.items));
    QCOMPARE(f.ui.CBoxMin->currentIndex(), starts.selected);
    QCOMPARE(Items(f.ui.CBoxMax), ToList(ends.items));
    QCOMPARE(f.ui.CBoxMax->currentIndex(), ends.selected);
    QCOMPARE(f.Pm.TMin, table[rangeNo].start);
    QCOMPARE(f.Pm.TMax, table[rangeNo].end);
    QCOMPARE(f.Pm.SavedRange, rangeNo);
    QVERIFY(!f.ui.ChBoxNonStand->isChecked());
    QCOMPARE(f.ui.ChBoxNonStand->isEnabled(),
             pmdev::NonStandardEnabled(version, f.ui.CBoxTipD->currentText().toStdString()));
    const float a = f.Pm.TMin, b = f.Pm.TMax;
    QCOMPARE(f.ui.StRezProc->text(),
             Qs(pmdev::Format(pmdev::CodeToPercent8191(m.rez), pmdev::kFmtResultPercent)));
    QCOMPARE(f.ui.StRezGrMA->text(),
             Qs(pmdev::Format(pmdev::CodeToDegC(m.rez, a, b), pmdev::kFmtResultDegC)));
    QCOMPARE(f.ui.UstProc1->text(),
             Qs(pmdev::Format(pmdev::CodeToDegC(le(5), a, b), pmdev::kFmtSetpointDegC)));
    QCOMPARE(f.ui.UstProc2->text(),
             Qs(pmdev::Format(pmdev::CodeToDegC(le(7), a, b), pmdev::kFmtSetpointDegC)));
    if (model == kZetTs && version >= 3) QCOMPARE(f.ui.CBoxConnect->currentIndex(), block[12] - 1);
  }
  if (model == kZetTp) {
    QCOMPARE(f.ui.StBegSkTxc->text(), QString::number(le(12)));
    QCOMPARE(f.ui.StEndSkTxc->text(), QString::number(le(14)));
    QCOMPARE(f.ui.KTxc->text(), QString::number(le(16)));
    QCOMPARE(f.ui.StTxc->text(), QString::number(m.txc));
    QCOMPARE(f.ui.StKodTxc->text(), QString::number(m.kodTxc));
    QCOMPARE(f.ui.StTxcGrad->text(),
             Qs(pmdev::Format(pmdev::TxcToDegC(m.txc), pmdev::kFmtColdJunction)));
  }
  if (version >= 2) {
    QCOMPARE(f.ui.CBoxBreak->currentIndex(), (block[4] >> 2) & 1);
    QCOMPARE(f.ui.CBoxCurrent->currentIndex(), block[4] >> 4);
  }
  if (version >= 4)
    QCOMPARE(f.ui.CBoxCurrentEnd->currentIndex(), zet ? (block[38] & 15) : (block[12] & 15));
  if (version >= 3 && model != kLunt) QCOMPARE(f.ui.CBoxTipK->currentIndex(), (block[4] >> 3) & 1);
}

}  // namespace

class TestReadWrite : public QObject {
  Q_OBJECT

 private slots:
  void init() { ui::SetDialogRunner(nullptr); }

  // --- the read ------------------------------------------------------------

  void readLayout_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("version");
    for (int v : {1, 2, 3, 4, 5, 6}) QTest::addRow("КАРД v%d", v) << kKard << v;
    for (int v : {1, 2, 3, 4, 5, 6}) QTest::addRow("ЗЕТ-ТС v%d", v) << kZetTs << v;
    for (int v : {1, 2, 3, 4, 5, 6}) QTest::addRow("ЗЕТ-ТП v%d", v) << kZetTp << v;
    for (int v : {1, 2, 3, 4}) QTest::addRow("ЛУНТ v%d", v) << kLunt << v;
  }
  void readLayout() {
    QFETCH(int, model);
    QFETCH(int, version);
    Rig r;
    const sim::Measurement m{4096, 0x01, 9000, 1802, 3700};
    sim::Instrument& in = r.AddFrozen(1, model, version, true, m);
    in.SetSensorValue(109.73f);
    QVERIFY(r.OpenPort());
    r.Read();
    QCOMPARE(r.messages.shown.size(), std::size_t{0});
    QCOMPARE(r.f().Pm.DataRead, 1);
    QCOMPARE(r.f().Pm.Changed, 0);
    QCOMPARE(r.f().Pm.LayoutDone, 1);
    CheckVisible(r.f(), model, version);
    CheckValues(r.f(), in.Block(), m, model, version);
    QCOMPARE(r.f().ui.Label27->text(), QString("привилегированный"));
    QCOMPARE(TextColour(r.f().ui.Label27), QColor(255, 0, 0));
    QCOMPARE(r.f().ui.Contr->text(), QString("InPortClick %1").arg(in.Block()[10]));
    if ((model == kZetTs || model == kZetTp) && version == 6) {
      QCOMPARE(r.f().ui.Label28->text(), Qs(model == kZetTs ? "Rt, Ом" : "Et, mV"));
      QCOMPARE(r.f().ui.StRt->text(), QString("109,730"));
    }
    // The ЛУНТ's output-control mode is switched off at the arrangement.
    const std::vector<int> expected =
        model == kLunt ? std::vector<int>{17, 68, 71, 5}
        : ((model == kZetTs || model == kZetTp) && version == 6) ? std::vector<int>{17, 68, 71, 4}
                                                                  : std::vector<int>{17, 68, 71};
    QCOMPARE(r.Functions(), expected);
    if (model == kLunt) {
      QCOMPARE(r.FramesOf(5)[0], sim::MakeFrame(1, 5, std::vector<std::uint8_t>{0x10, 0x02, 0x00, 0x00}));
      QVERIFY(!r.f().ui.ButSwitch->isChecked());
      QVERIFY(!r.f().ui.Label25->isEnabled());
      QVERIFY(!r.f().ui.Edit1->isEnabled());
    }

    // A second read does not arrange again: a control hidden meanwhile
    // stays hidden, the combo boxes keep their lists, no function 5.
    r.line.ClearLog();
    r.f().ui.LabReg->hide();
    r.Read();
    QCOMPARE(r.f().Pm.DataRead, 1);
    QVERIFY(r.f().ui.LabReg->isHidden());
    CheckValues(r.f(), in.Block(), m, model, version);
    std::vector<int> again = expected;
    if (model == kLunt) again.pop_back();
    QCOMPARE(r.Functions(), again);
  }

  void identificationPanel() {
    Rig r;
    r.AddFrozen(1, kKard, 5);
    sim::Instrument& ts = r.AddFrozen(2, kZetTs, 4);
    sim::Instrument& lunt = r.AddFrozen(3, kLunt, 1);
    QVERIFY(r.OpenPort());
    r.f().show();
    r.Read();
    QCOMPARE(r.f().ui.Panel1->text(), QString("КАРД  700100.003  ПО.V5  0xA1000001"));
    CheckPanel(r.f(), kKard, 5);

    r.PickDevice(2);
    QCOMPARE(r.f().ui.Panel1->text(), QString());
    r.Read();
    QCOMPARE(r.f().ui.Panel1->text(), QString("ЗЕТ-ТС-v4"));
    CheckPanel(r.f(), kZetTs, 4);
    // A version change rearranges the window (and resets the combo boxes).
    ts.SetVersion(5);
    r.Read();
    QCOMPARE(r.f().ui.Panel1->text(), QString("ЗЕТ-ТС ЛВ  700200.002  ПО.V5  0xA1000003"));
    CheckPanel(r.f(), kZetTs, 5);
    CheckVisible(r.f(), kZetTs, 5);

    r.PickDevice(3);
    r.Read();
    QCOMPARE(r.f().ui.Panel1->text(), QString("ЛУНТ-v1"));
    CheckPanel(r.f(), kLunt, 1);
    lunt.SetVersion(2);
    r.line.ClearLog();
    r.Read();
    QCOMPARE(r.f().ui.Panel1->text(), QString("ЛУНТ  700100.005  ПО.V2  0xA1000002"));
    CheckVisible(r.f(), kLunt, 2);
    QCOMPARE(r.Functions(), (std::vector<int>{17, 68, 71, 5}));  // rearranged
  }

  void versionChangeRearranges() {
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kZetTs, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    CheckVisible(r.f(), kZetTs, 5);
    QCOMPARE(r.f().ui.CBoxTipD->count(), 6);
    in.SetVersion(6);
    r.Read();
    CheckVisible(r.f(), kZetTs, 6);
    QCOMPARE(r.f().ui.CBoxTipD->count(), 8);
    QCOMPARE(r.f().ui.Label28->text(), QString("Rt, Ом"));
    // Model change at the same address too.
    in.SetModel(kZetTp);
    r.Read();
    CheckVisible(r.f(), kZetTp, 6);
    QCOMPARE(r.f().ui.Label28->text(), QString("Et, mV"));
  }

  void modelWarnings_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("text");
    QTest::addRow("255") << 255 << "устройство 1 - не определен тип прибора\nДанные не считаны";
    QTest::addRow("104") << 104 << "устройство 1 - не ЗЕТ, не КАРД и не ЛУНТ\nДанные не считаны";
  }
  void modelWarnings() {
    QFETCH(int, model);
    QFETCH(QString, text);
    Rig r;
    r.AddFrozen(1, model, 5);
    QVERIFY(r.OpenPort());
    r.f().BtnPuskTimerClick();  // the timer keeps its state
    r.Read();
    r.f().BtnPuskTimerClick();
    r.Read();
    QCOMPARE(r.messages.shown.size(), std::size_t{2});
    for (const auto& msg : r.messages.shown) {
      QCOMPARE(Qs(msg.text), text);
      QCOMPARE(Qs(msg.caption), QString("Предупреждение"));
      QVERIFY(msg.icon == ui::Icon::Warning);
    }
    QCOMPARE(r.f().Pm.DataRead, 0);
    QVERIFY(r.f().ui.GBoxKanal->isHidden());
    QCOMPARE(r.f().ui.Panel1->text(), QString());
  }

  void failingRequestStopsTimer_data() {
    QTest::addColumn<int>("failing");
    QTest::addRow("17") << 17;
    QTest::addRow("68") << 68;
    QTest::addRow("71") << 71;
  }
  void failingRequestStopsTimer() {
    QFETCH(int, failing);
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    QCOMPARE(r.f().Pm.DataRead, 1);
    r.f().BtnPuskTimerClick();
    QVERIFY(r.f().TimerRunning());
    QCOMPARE(r.f().ReportErrors, 0);
    if (failing == 17)
      in.InjectFault(sim::Fault{.kind = sim::FaultKind::Exception, .times = 1, .exceptionCode = 4});
    else
      r.FailAfter(in, failing == 68 ? 17 : 68);
    r.f().Timer1Timer();
    QVERIFY(!r.f().TimerRunning());
    QCOMPARE(r.f().ReportErrors, 1);
    QVERIFY(r.f().ui.LabTimer->isHidden());
    QCOMPARE(r.messages.Texts(), std::vector<std::string>{r.f().Link.ErrorText(0, 4)});
    // Nothing of the failed read can be written.
    QCOMPARE(r.f().Pm.DataRead, 0);
    r.messages.Clear();
    r.line.ClearLog();
    r.Write();
    QCOMPARE(r.messages.Texts(), std::vector<std::string>{kNoData});
    QVERIFY(r.FramesOf(69).empty());
    QVERIFY(r.line.Frames(sim::Dir::In).empty());
  }

  void pollingSilentFailures_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("after");
    QTest::addRow("ЗЕТ-ТС v6 function 4") << kZetTs << 6 << 71;
    QTest::addRow("ЗЕТ-ТП v6 function 4") << kZetTp << 6 << 71;
    QTest::addRow("ЛУНТ function 5") << kLunt << 4 << 71;
  }
  void pollingSilentFailures() {
    QFETCH(int, model);
    QFETCH(int, version);
    QFETCH(int, after);
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, model, version);
    QVERIFY(r.OpenPort());
    r.f().BtnPuskTimerClick();
    r.FailAfter(in, after);
    r.f().Timer1Timer();
    QVERIFY(r.messages.shown.empty());
    QVERIFY(r.f().TimerRunning());
    QCOMPARE(r.f().Pm.DataRead, 1);  // block and measurement are in
    if (model == kLunt) QCOMPARE(r.f().Pm.LayoutDone, 0);
    // The next tick tries again and completes.
    r.f().Timer1Timer();
    QVERIFY(r.messages.shown.empty());
    QCOMPARE(r.f().Pm.DataRead, 1);
    QCOMPARE(r.f().Pm.LayoutDone, 1);
    // With the timer stopped the same failure is reported.
    r.f().BtnPuskTimerClick();
    if (model == kLunt) {
      r.PickDevice(2);
      r.PickDevice(1);  // forgets the layout, so function 5 is sent again
    }
    r.FailAfter(in, after);
    r.Read();
    QCOMPARE(r.messages.Texts(), std::vector<std::string>{r.f().Link.ErrorText(0, 4)});
    QVERIFY(!r.f().TimerRunning());
  }

  void nonStandardRange() {
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kZetTs, 5);
    sim::Bytes block = sim::Instrument::DefaultBlock(kZetTs, 5, 1);
    block[9] = 2;    // Pt100
    block[10] = 47;  // T6 has 47 rows: non-standard
    block[18] = static_cast<std::uint8_t>(-30 & 0xFF);
    block[19] = static_cast<std::uint8_t>((-30 >> 8) & 0xFF);
    block[20] = 420 & 0xFF;
    block[21] = 420 >> 8;
    in.SetBlock(block);
    QVERIFY(r.OpenPort());
    r.Read();
    QCOMPARE(r.f().Pm.DataRead, 1);
    QCOMPARE(r.f().ui.CBoxTipD->currentText(), QString("Pt100"));
    QCOMPARE(r.f().ui.StMin->text(), QString("-30"));
    QCOMPARE(r.f().ui.StMax->text(), QString("420"));
    QVERIFY(r.f().ui.ChBoxNonStand->isChecked());
    QVERIFY(r.f().ui.ChBoxNonStand->isEnabled());
    QVERIFY(r.f().ui.ButNonStand->isEnabled());
    QVERIFY(r.f().ui.CBoxMin->isHidden());
    QVERIFY(r.f().ui.CBoxMax->isHidden());
    QCOMPARE(r.f().Pm.TMin, -30.0f);
    QCOMPARE(r.f().Pm.TMax, 420.0f);
    QCOMPARE(r.f().Pm.SavedRange, 0);
    QCOMPARE(r.f().Pm.GetRangeNo(), 47);
    QCOMPARE(r.f().Pm.Changed, 0);  // the ticked box is no edit
    // Standard again (row 24: -50 .. 600).
    block[10] = 24;
    in.SetBlock(block);
    r.Read();
    QVERIFY(!r.f().ui.ChBoxNonStand->isChecked());
    QVERIFY(!r.f().ui.ButNonStand->isEnabled());
    QVERIFY(!r.f().ui.CBoxMin->isHidden());
    QVERIFY(!r.f().ui.CBoxMax->isHidden());
    QCOMPARE(r.f().ui.StMin->text(), QString());
    QCOMPARE(r.f().ui.StMax->text(), QString());
    QCOMPARE(r.f().ui.CBoxMin->currentText(), QString("-50"));
    QCOMPARE(r.f().ui.CBoxMax->currentText(), QString("600"));
    QCOMPARE(r.f().Pm.SavedRange, 24);
    QCOMPARE(r.f().Pm.Changed, 0);
  }

  void nonPrivilegedKard() {
    Rig r;
    r.AddFrozen(1, kKard, 5, /*privileged=*/false);
    QVERIFY(r.OpenPort());
    r.Read();
    QCOMPARE(r.f().Pm.NonPriv, 1);
    QCOMPARE(r.f().ui.Label27->text(), QString("непривилегированный"));
    QCOMPARE(TextColour(r.f().ui.Label27), QColor(0, 0, 128));
    for (QWidget* w : {static_cast<QWidget*>(r.f().ui.Button1), static_cast<QWidget*>(r.f().ui.Button2),
                       static_cast<QWidget*>(r.f().ui.CBoxTipD), static_cast<QWidget*>(r.f().ui.CBoxMin),
                       static_cast<QWidget*>(r.f().ui.CBoxMax), static_cast<QWidget*>(r.f().ui.CBoxConnect),
                       static_cast<QWidget*>(r.f().ui.KalibrBegSk), static_cast<QWidget*>(r.f().ui.KalibrEndSk),
                       static_cast<QWidget*>(r.f().ui.CBoxCurrent), static_cast<QWidget*>(r.f().ui.CBoxCurrentEnd)})
      QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    for (QWidget* w : {static_cast<QWidget*>(r.f().ui.CBoxTipSign), static_cast<QWidget*>(r.f().ui.CBoxTipK),
                       static_cast<QWidget*>(r.f().ui.UstProc1), static_cast<QWidget*>(r.f().ui.UstProc2),
                       static_cast<QWidget*>(r.f().ui.CBoxBreak)})
      QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    // The image keeps the correction code in bits 4-7 (bit 7 no longer the mode).
    QCOMPARE(r.f().Pm.GetCurrent(), 2);
  }

  void statusAndColdJunction() {
    Rig r;
    r.AddFrozen(1, kZetTp, 5, true, sim::Measurement{9000, 0x82, 16000, -32768, 3700});
    QVERIFY(r.OpenPort());
    r.Read();
    QCOMPARE(r.f().ui.StNar->text(), QString("10"));
    QCOMPARE(r.f().ui.Label19->text(), QString("Нарушение"));
    QCOMPARE(r.f().ui.StSost->text(), QString("100"));
    QCOMPARE(r.f().ui.Label18->text(), QString("Переполнение"));
    QCOMPARE(Background(r.f().ui.StSost), QColor(255, 0, 0));
    QCOMPARE(r.f().ui.StTxcGrad->text(), QString());
    QCOMPARE(Background(r.f().ui.StTxcGrad), QColor(255, 0, 0));
  }

  void kardValuesOfTheWorkedExample() {
    Rig r;
    r.AddFrozen(1, kKard, 5, true, sim::Measurement{8191, 0, 8000, 0, 0});
    QVERIFY(r.OpenPort());
    r.Read();
    QCOMPARE(r.f().ui.StRezGrMA->text(), QString("12,000"));
    QCOMPARE(r.f().ui.Label18->text(), QString("       Норма"));
    QCOMPARE(r.f().ui.Label19->text(), QString("     Норма"));
    QCOMPARE(TextColour(r.f().ui.Label19), QColor(0, 128, 128));
  }

  void readWithoutPort() {
    Rig r;
    r.Read();
    QCOMPARE(r.messages.Texts(), std::vector<std::string>{"Не выбран COM-порт."});
    QCOMPARE(r.f().Pm.DataRead, 0);
  }

  // A function 68 reply with a byte count above 40: a failed read, reported,
  // the measurement bytes untouched.
  void overlongBlockRefused() {
    struct ScriptPort : pmlink::SerialPort {
      void SetName(const std::string&) override {}
      void SetBaud(int) override {}
      void SetParity(pmlink::ParityKind) override {}
      void SetStopBits(int) override {}
      void Open() override { open = true; }
      void Close() override { open = false; }
      bool IsOpen() const override { return open; }
      void Purge() override {}
      int Read(std::uint8_t* buf, int n) override {
        if (replies.empty()) return 0;
        auto& c = replies.front();
        const int k = std::min<int>(n, static_cast<int>(c.size()));
        std::copy(c.begin(), c.begin() + k, buf);
        c.erase(c.begin(), c.begin() + k);
        if (c.empty()) replies.pop_front();
        return k;
      }
      int Write(const std::uint8_t* buf, int n) override {
        writes.emplace_back(buf, buf + n);
        return n;
      }
      bool open = false;
      std::deque<std::vector<std::uint8_t>> replies;
      std::vector<std::vector<std::uint8_t>> writes;
    } port;
    ui::ScriptedMessageService messages;
    TForm1 form(messages, port);
    form.Link.SetDelayFunction([](int) {});
    form.Link.Port = "/dev/scripted";
    form.Link.Retries1 = 0;
    form.Link.Retries2 = 0;
    QCOMPARE(form.Link.Configure(), 0);
    port.replies.push_back(sim::MakeFrame(1, 17, std::vector<std::uint8_t>{3, 5, 0x20, 100}));
    std::vector<std::uint8_t> data{41};
    for (int i = 0; i < 41; ++i) data.push_back(static_cast<std::uint8_t>(0xA0 + i));
    port.replies.push_back(sim::MakeFrame(1, 68, data));
    form.BtnPuskTimerClick();  // polling: the failure still stops it and is reported
    form.Timer1Timer();
    QVERIFY(!form.TimerRunning());
    QCOMPARE(messages.shown.size(), std::size_t{1});
    QCOMPARE(messages.shown[0].text,
             std::string("устройство 1 - блок параметров длиной 41 байт, больше 40\nДанные не считаны"));
    QVERIFY(messages.shown[0].icon == ui::Icon::Warning);
    QCOMPARE(port.writes.size(), std::size_t{2});  // no function 71 after it
    for (std::size_t i = 41; i < 50; ++i) QCOMPARE(int(form.Pm.Image[i]), 0);
    QCOMPARE(form.Pm.DataRead, 0);
    messages.Clear();
    form.OutPortClick();
    QCOMPARE(messages.Texts(), std::vector<std::string>{kNoData});
    QCOMPARE(port.writes.size(), std::size_t{2});
  }

  // --- polling ---------------------------------------------------------------

  void pollingTicks() {
    Rig r;
    r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    QCOMPARE(r.f().Timer1.interval(), 3000);
    r.f().Timer1.setInterval(30);
    r.f().BtnPuskTimerClick();
    QTRY_COMPARE_WITH_TIMEOUT(r.f().Pm.DataRead, 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(r.FramesOf(17).size() >= 2, 5000);
    r.f().BtnPuskTimerClick();
  }

  void tickSkippedWhileBoxOpen() {
    Rig r;
    r.AddFrozen(1, 255, 5);
    QVERIFY(r.OpenPort());
    r.f().BtnPuskTimerClick();
    int ticks = 0;
    r.messages.onShow = [&](const ui::Message&) {
      ++ticks;
      r.f().Timer1Timer();  // a tick while the read's warning is open
    };
    r.f().Timer1Timer();
    QCOMPARE(ticks, 1);
    QCOMPARE(r.FramesOf(17).size(), std::size_t{1});
    // And while a command (F9) is running.
    r.line.ClearLog();
    r.Read();
    QCOMPARE(ticks, 2);
    QCOMPARE(r.FramesOf(17).size(), std::size_t{1});
    r.f().BtnPuskTimerClick();
  }

  // --- the write ---------------------------------------------------------------

  void writeBeforeRead() {
    Rig r;
    r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    r.Write();
    QCOMPARE(r.messages.Texts(), std::vector<std::string>{kNoData});
    QCOMPARE(Qs(r.messages.Last().caption), QString("Предупреждение"));
    QVERIFY(r.messages.Last().icon == ui::Icon::Warning);
    QVERIFY(r.line.Frames(sim::Dir::In).empty());
    QVERIFY(r.f().ui.ProgressBar1->isHidden());
    QCOMPARE(r.f().ui.Contr->text(), QString("OutPortClick 0"));
  }

  void writeSendsReadBlockPlusEdits() {
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kZetTs, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    sim::Bytes expected = in.Block();
    // Edits through the operator's picks.
    Pick(r.f().ui.CBoxTipSign, 2);
    Pick(r.f().ui.CBoxTipK, 1);
    Pick(r.f().ui.CBoxConnect, 1);
    QCOMPARE(r.f().Pm.Changed, 1);
    expected[4] = static_cast<std::uint8_t>(expected[4] | 2 | 8);
    expected[12] = 2;
    r.line.ClearLog();
    r.delays.clear();
    r.Write();
    QVERIFY(r.messages.shown.empty());
    QCOMPARE(r.Functions(), (std::vector<int>{17, 69, 14, 17, 68, 71}));
    const sim::Bytes frame = r.FramesOf(69)[0];
    QCOMPARE(frame, sim::MakeFrame(1, 69, expected));
    QCOMPARE(frame.size(), expected.size() + 4);  // exactly L bytes
    QCOMPARE(in.Block(), expected);
    QVERIFY(std::find(r.delays.begin(), r.delays.end(), 50) != r.delays.end());
    QVERIFY(std::find(r.delays.begin(), r.delays.end(), 1000) != r.delays.end());
    QCOMPARE(r.f().Pm.Changed, 0);
    QCOMPARE(r.f().Pm.DataRead, 1);
    QVERIFY(r.f().ui.ProgressBar1->isHidden());
    QCOMPARE(r.f().ui.ProgressBar1->maximum(), 100);
    QCOMPARE(r.f().ui.ProgressBar1->value(), 100);
    QCOMPARE(r.f().ui.CBoxTipSign->currentIndex(), 2);
    QCOMPARE(r.f().ui.Contr->text(), QString("OutPortClick 2"));
  }

  void writeProgressRepaints() {
    Rig r;
    r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    std::vector<int> seen;
    r.f().Link.SetDelayFunction([&](int) {
      seen.push_back(r.f().ui.ProgressBar1->isVisible() ? r.f().ui.ProgressBar1->value() : -1);
    });
    r.f().show();
    r.Write();
    // Pauses: TxDelay before 17 at 25, 50 ms at 25, TxDelay before 69 at 50,
    // 1000 ms at 75.
    QVERIFY(std::find(seen.begin(), seen.end(), 75) != seen.end());
    QCOMPARE(seen.front(), 25);
  }

  void pendingSetpointStoredBeforeWrite() {
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    r.ShowActive();
    r.Read();
    r.f().ui.UstProc1->setFocus();
    QVERIFY(r.f().ui.UstProc1->hasFocus());
    r.f().ui.UstProc1->setText("25");  // typed, not yet confirmed
    QCOMPARE(r.f().Pm.Changed, 1);
    r.line.ClearLog();
    r.Write();
    QVERIFY(r.messages.shown.empty());
    const int code = pmdev::PercentToCode(25);  // 4095
    QCOMPARE(code, 4095);
    const sim::Bytes frame = r.FramesOf(69).at(0);
    QCOMPARE(int(frame[2 + 5] | (frame[2 + 6] << 8)), code);
    const sim::Bytes block = in.Block();
    QCOMPARE(int(block[5] | (block[6] << 8)), code);
    QCOMPARE(r.f().ui.StUstKod1->text(), QString::number(code));
    // The focus returns to the field that was left.
    QVERIFY(r.f().ui.UstProc1->hasFocus());
  }

  void addressChange() {
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    Pick(r.f().ui.CBoxUstrZ, 4);  // "5"
    QCOMPARE(r.f().Serv.NewDeviceIndex, 4);
    QCOMPARE(r.f().Pm.GetNu(), 4);
    QCOMPARE(r.f().Pm.Changed, 1);
    r.line.ClearLog();
    r.Write();
    QVERIFY(r.messages.shown.empty());
    const auto frames = r.line.Frames(sim::Dir::In);
    QCOMPARE(r.Functions(), (std::vector<int>{17, 69, 14, 17, 68, 71}));
    QCOMPARE(int(frames[0][0]), 1);
    QCOMPARE(int(frames[1][0]), 1);          // 69 to the old address
    QCOMPARE(int(frames[1][2 + 11]), 4);     // image byte 12 = 4
    for (std::size_t i = 2; i < frames.size(); ++i) QCOMPARE(int(frames[i][0]), 5);
    QCOMPARE(in.Address(), 5);
    QCOMPARE(r.f().ui.CBoxUstr->currentText(), QString("5"));
    QCOMPARE(r.f().ui.CBoxUstrZ->currentText(), QString("5"));
    QCOMPARE(r.f().Serv.DeviceIndex, 4);
    QCOMPARE(r.f().Pm.DataRead, 1);
  }

  void mismatchRefusals_data() {
    QTest::addColumn<bool>("model");
    QTest::addRow("model") << true;
    QTest::addRow("version") << false;
  }
  void mismatchRefusals() {
    QFETCH(bool, model);
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kZetTs, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    Pick(r.f().ui.CBoxTipSign, 1);
    if (model)
      in.SetModel(kZetTp);  // same version, other model
    else
      in.SetVersion(4);
    r.line.ClearLog();
    r.Write();
    QCOMPARE(r.messages.Texts(),
             std::vector<std::string>{model ? "Не совпадает тип прибора \nпри попытке сохранить базу.\nСохранение отменено"
                                            : "Не совпадает версия прибора \nпри попытке сохранить базу.\nСохранение отменено"});
    QVERIFY(r.FramesOf(69).empty());
    QCOMPARE(r.f().Pm.Changed, 1);
    QVERIFY(r.f().ui.ProgressBar1->isHidden());
  }

  void writeIdentificationFails() {
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    Pick(r.f().ui.CBoxTipSign, 1);
    r.f().BtnPuskTimerClick();
    in.InjectFault(sim::Fault{.kind = sim::FaultKind::Exception, .times = 1, .exceptionCode = 4});
    r.Write();
    QVERIFY(!r.f().TimerRunning());  // stopped, so ReportErrors is 1 and it reports
    QCOMPARE(r.messages.Texts(), std::vector<std::string>{r.f().Link.ErrorText(0, 4)});
    QCOMPARE(r.f().Pm.Changed, 1);
    QVERIFY(r.FramesOf(69).empty());
  }

  // --- the save prompts ----------------------------------------------------------

  void devicePrompt_data() {
    QTest::addColumn<int>("answer");
    QTest::addRow("Cancel") << int(ui::Answer::Cancel);
    QTest::addRow("Yes") << int(ui::Answer::Yes);
    QTest::addRow("No") << int(ui::Answer::No);
  }
  void devicePrompt() {
    QFETCH(int, answer);
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kKard, 5);
    r.AddFrozen(3, kKard, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    // The same number: nothing, not even a prompt.
    Pick(r.f().ui.CBoxTipSign, 2);
    r.PickDevice(1);
    QVERIFY(r.messages.shown.empty());
    r.f().BtnPuskTimerClick();
    r.line.ClearLog();
    r.messages.answers.push_back(ui::Answer(answer));
    Pick(r.f().ui.CBoxUstr, 2);  // "3"
    QVERIFY(!r.f().TimerRunning());
    QVERIFY(!r.messages.shown.empty());
    const ui::Message& q = r.messages.shown[0];
    QCOMPARE(q.text, kSavePrompt1);
    QCOMPARE(q.caption, std::string("Предупреждение"));
    QVERIFY(q.icon == ui::Icon::Question);
    QVERIFY(q.buttons == ui::Buttons::YesNoCancel);
    QVERIFY(q.defaultAnswer == ui::Answer::No);
    QCOMPARE(r.messages.shown.size(), std::size_t{1});
    switch (ui::Answer(answer)) {
      case ui::Answer::Cancel:
        QCOMPARE(r.f().ui.CBoxUstr->currentText(), QString("1"));
        QCOMPARE(r.f().Serv.DeviceIndex, 0);
        QCOMPARE(r.f().Pm.Changed, 1);
        QCOMPARE(r.f().Pm.DataRead, 1);
        QCOMPARE(r.f().Pm.GetTipSign(), 2);
        QVERIFY(!r.f().ui.GBoxKanal->isHidden());
        QVERIFY(!r.f().ui.Panel1->text().isEmpty());
        QVERIFY(r.line.Frames(sim::Dir::In).empty());
        // F10 still writes the kept data.
        r.Write();
        QCOMPARE(in.Block()[4] & 3, 2);
        break;
      case ui::Answer::Yes:
        QCOMPARE(r.FramesOf(69).size(), std::size_t{1});
        QCOMPARE(int(r.FramesOf(69)[0][0]), 1);
        QCOMPARE(in.Block()[4] & 3, 2);
        QCOMPARE(r.f().Pm.Changed, 0);
        break;
      default:
        QVERIFY(r.line.Frames(sim::Dir::In).empty());
        QCOMPARE(in.Block()[4] & 3, 0);
        QCOMPARE(r.f().Pm.Changed, 0);
        break;
    }
    if (ui::Answer(answer) != ui::Answer::Cancel) {
      QCOMPARE(r.f().ui.CBoxUstr->currentText(), QString("3"));
      QCOMPARE(r.f().ui.CBoxUstrZ->currentText(), QString("3"));
      QCOMPARE(r.f().Serv.DeviceIndex, 2);
      QCOMPARE(r.f().Serv.NewDeviceIndex, 2);
      QCOMPARE(r.f().Pm.DataRead, 0);
      QCOMPARE(r.f().Pm.DevType, 0);
      QVERIFY(r.f().ui.GBoxKanal->isHidden());
      QCOMPARE(r.f().ui.Panel1->text(), QString());
    }
  }

  void deviceChangeWithoutEdits() {
    Rig r;
    r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    r.PickDevice(2);
    QVERIFY(r.messages.shown.empty());
    QCOMPARE(r.f().Serv.DeviceIndex, 1);
  }

  void portPrompt_data() {
    QTest::addColumn<int>("answer");
    QTest::addRow("Cancel") << int(ui::Answer::Cancel);
    QTest::addRow("Yes") << int(ui::Answer::Yes);
    QTest::addRow("No") << int(ui::Answer::No);
  }
  void portPrompt() {
    QFETCH(int, answer);
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    const std::string oldPort = r.f().Link.Port;
    // A second line on another pseudo-terminal: the new port.
    sim::Line other;
    sim::PtyServer otherServer(other);
    const QString newPort = Qs(otherServer.SlavePath());
    r.Read();
    Pick(r.f().ui.CBoxTipSign, 2);
    QCOMPARE(r.f().Pm.Changed, 1);
    r.f().BtnPuskTimerClick();  // the port command stops it
    ui::SetDialogRunner([&](QDialog& d) {
      auto* port = qobject_cast<TFormPort*>(&d);
      if (!port) return int(QDialog::Rejected);
      port->ui.CBoxPort->addItem(newPort);
      port->ui.CBoxPort->setCurrentIndex(port->ui.CBoxPort->count() - 1);
      return int(QDialog::Accepted);
    });
    r.line.ClearLog();
    r.messages.answers.push_back(ui::Answer(answer));
    r.f().PortClick();
    ui::SetDialogRunner(nullptr);
    QVERIFY(!r.f().TimerRunning());
    QVERIFY(!r.messages.shown.empty());
    QCOMPARE(r.messages.shown[0].text, kSavePrompt1);
    QVERIFY(r.messages.shown[0].buttons == ui::Buttons::YesNoCancel);
    QVERIFY(r.messages.shown[0].defaultAnswer == ui::Answer::No);
    QCOMPARE(r.messages.shown.size(), std::size_t{1});  // no error of any kind
    switch (ui::Answer(answer)) {
      case ui::Answer::Cancel:
        QCOMPARE(r.f().Link.Port, oldPort);
        QVERIFY(!r.f().Link.IsOpen());  // the dialog closed it
        QCOMPARE(r.f().Pm.Changed, 1);
        QCOMPARE(r.f().Pm.DataRead, 1);
        QVERIFY(!r.f().ui.GBoxKanal->isHidden());
        QVERIFY(r.line.Frames(sim::Dir::In).empty());
        return;
      case ui::Answer::Yes:
        // Written through the old port, then the new one applied.
        QCOMPARE(r.FramesOf(69).size(), std::size_t{1});
        QCOMPARE(in.Block()[4] & 3, 2);
        QCOMPARE(r.f().Pm.Changed, 0);
        break;
      default:
        QVERIFY(r.line.Frames(sim::Dir::In).empty());
        QCOMPARE(in.Block()[4] & 3, 0);
        QCOMPARE(r.f().Pm.Changed, 0);
        break;
    }
    QCOMPARE(r.f().Link.Port, newPort.toStdString());
    QVERIFY(r.f().Link.IsOpen());
    QCOMPARE(r.f().Pm.DataRead, 0);
    QVERIFY(r.f().ui.GBoxKanal->isHidden());
    QCOMPARE(r.f().Serv.DeviceIndex, 0);
    otherServer.Stop();
  }

  // The old port will not reopen for the save prompt's write: the write is
  // reported failed, the program and the command go on, and nothing edited
  // for the old line is sent on the new one.
  void portPromptOldPortGone() {
    Rig r;
    r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    sim::Line other;
    other.Add({.address = 1, .model = kKard, .version = 5});
    sim::PtyServer otherServer(other);
    const QString newPort = Qs(otherServer.SlavePath());
    r.Read();
    Pick(r.f().ui.CBoxTipSign, 2);
    ui::SetDialogRunner([&](QDialog& d) {
      auto* port = qobject_cast<TFormPort*>(&d);
      if (!port) return int(QDialog::Rejected);
      port->ui.CBoxPort->addItem(newPort);
      port->ui.CBoxPort->setCurrentIndex(port->ui.CBoxPort->count() - 1);
      return int(QDialog::Accepted);
    });
    r.server->Unplug();
    r.messages.answers.push_back(ui::Answer::Yes);
    r.f().ui.APort->trigger();
    ui::SetDialogRunner(nullptr);
    QCoreApplication::processEvents();
    const std::vector<std::string> expected = {
        kSavePrompt1,
        " невозможно открыть последовательный порт \nПорт " + r.server->SlavePath() + ": " + pmlink::PortErrorCause(ENOENT),
        "Не выбран COM-порт."};
    QCOMPARE(r.messages.Texts(), expected);
    QCOMPARE(r.f().Pm.Changed, 1);
    QCOMPARE(r.f().Link.Port, newPort.toStdString());
    QVERIFY(r.f().Link.IsOpen());  // and the window was not closed
    r.messages.Clear();
    r.Write();
    QCOMPARE(r.messages.Texts(), std::vector<std::string>{kNoData});
    QVERIFY(other.Frames(sim::Dir::In).empty());
    otherServer.Stop();
  }

  void closePrompt_data() {
    QTest::addColumn<bool>("changed");
    QTest::addColumn<int>("answer");
    QTest::addRow("unchanged") << false << int(ui::Answer::Yes);
    QTest::addRow("Yes") << true << int(ui::Answer::Yes);
    QTest::addRow("No") << true << int(ui::Answer::No);
  }
  void closePrompt() {
    QFETCH(bool, changed);
    QFETCH(int, answer);
    Rig r;
    sim::Instrument& in = r.AddFrozen(1, kKard, 5);
    QVERIFY(r.OpenPort());
    r.Read();
    if (changed) Pick(r.f().ui.CBoxTipSign, 2);
    r.line.ClearLog();
    r.messages.answers.push_back(ui::Answer(answer));
    r.f().close();
    std::vector<std::string> expected;
    if (changed) expected.push_back("Данные были изменены. Передать?");
    expected.push_back("Работа закончена");
    QCOMPARE(r.messages.Texts(), expected);
    if (changed) {
      QCOMPARE(r.messages.shown[0].caption, std::string("Подтвердите передачу данных"));
      QVERIFY(r.messages.shown[0].icon == ui::Icon::Question);
      QVERIFY(r.messages.shown[0].buttons == ui::Buttons::YesNo);
    }
    QCOMPARE(r.messages.Last().caption, std::string("Подтверждение"));
    const bool written = changed && ui::Answer(answer) == ui::Answer::Yes;
    QCOMPARE(r.FramesOf(69).size(), std::size_t{written ? 1u : 0u});
    QCOMPARE(in.Block()[4] & 3, written ? 2 : 0);
    QVERIFY(!r.f().Link.IsOpen());
  }
};

QTEST_MAIN(TestReadWrite)
#include "test_readwrite.moc"
