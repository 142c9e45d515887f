// Non-standard range programming from the main window: the check box, the
// "Программирование" button with the range dialog driven by a scripted
// runner, and the write of the programmed range to a simulated instrument.

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <string>

#include "Instrument.h"
#include "ModalRunner.h"
#include "SimWindow.h"
#include "obrAppr.h"

namespace {

const std::string kRefused = "Недопустим нестандартный диапазон";

// Parameter block offsets as function 68 sends them (image byte - 1).
constexpr std::size_t kTipD = 9, kRangeNo = 10, kRangeMin = 18, kRangeMax = 20, kNodes = 22;

int Field16(const sim::Bytes& b, std::size_t at) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)));
}
void Put16(sim::Bytes& b, std::size_t at, int v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

// An instrument at address 1 with the given sensor and range number (and,
// for the long blocks, the non-standard limits).
sim::Instrument& AddInstrument(testsupport::SimWindow& w, int model, int version, int tipD, int rangeNo,
                               int rangeMin = 0, int rangeMax = 150) {
  sim::Instrument& in = w.Add(1, model, version);
  sim::Bytes b = in.Block();
  b[kTipD] = static_cast<std::uint8_t>(tipD);
  b[kRangeNo] = static_cast<std::uint8_t>(rangeNo);
  if (b.size() >= 40) {
    Put16(b, kRangeMin, rangeMin);
    Put16(b, kRangeMax, rangeMax);
  }
  in.SetBlock(b);
  return in;
}

QString EditText(const QLineEdit* e) { return e->text(); }

}  // namespace

class TestNonStandard : public QObject {
  Q_OBJECT

  std::unique_ptr<testsupport::SimWindow> w;
  int dialogRuns = 0;

  TForm1& F() { return *w->form; }

  // Installs what the operator does in the dialog; counts its showings.
  void OnDialog(std::function<int(TFormNewRange&)> act) {
    ui::SetDialogRunner([this, act](QDialog& d) {
      ++dialogRuns;
      return act(static_cast<TFormNewRange&>(d));
    });
  }

  // The operator's F9; the test cannot go on without a complete read.
  bool Read() {
    F().InPortClick();
    return F().Pm.DataRead == 1;
  }

  bool FunctionSent(int function) const {
    for (const sim::Bytes& f : w->line.Frames(sim::Dir::In))
      if (f.size() > 1 && f[1] == function) return true;
    return false;
  }

 private slots:
  void init() {
    w = std::make_unique<testsupport::SimWindow>();
    dialogRuns = 0;
  }
  void cleanup() {
    ui::SetDialogRunner({});
    w.reset();
  }

  // Ticking stops polling and swaps the range boxes for the button;
  // unticking after a read that found a non-standard range selects the
  // sensor's first standard range. The read itself sets the box without
  // running the handler.
  void tickAndUntick() {
    AddInstrument(*w, sim::model::ZetTs, 5, /*"100П"*/ 0, 47, -10, 90);
    QVERIFY(w->OpenPort());
    QVERIFY(Read());
    QVERIFY(F().ui.ChBoxNonStand->isChecked());
    QCOMPARE(F().Pm.Changed, 0);
    QCOMPARE(F().Pm.SavedRange, 0);
    QCOMPARE(F().Pm.TMin, -10.0f);

    F().BtnPuskTimerClick();  // polling on
    QVERIFY(F().TimerRunning());
    F().ui.ChBoxNonStand->setChecked(false);
    QVERIFY(!F().TimerRunning());
    QCOMPARE(F().ReportErrors, 1);
    QCOMPARE(F().Pm.Changed, 1);
    QCOMPARE(F().Pm.GetRangeNo(), 0);
    QCOMPARE(F().ui.CBoxMin->currentText(), QString("-200"));
    QCOMPARE(F().ui.CBoxMax->currentText(), QString("-150"));
    QCOMPARE(F().Pm.TMin, -200.0f);
    QCOMPARE(F().Pm.TMax, -150.0f);
    QVERIFY(F().ui.StMin->text().isEmpty());
    QVERIFY(F().ui.StMax->text().isEmpty());
    QVERIFY(!F().ui.CBoxMin->isHidden());
    QVERIFY(!F().ui.ButNonStand->isEnabled());
    // Codes 1500 and 7000 on -200..-150.
    QCOMPARE(F().ui.UstProc1->text(), QString("-191"));
    QCOMPARE(F().ui.UstProc2->text(), QString("-157"));
    QCOMPARE(F().Pm.GetUstKod1(), 1500);

    F().ui.ChBoxNonStand->setChecked(true);
    QVERIFY(F().ui.ButNonStand->isEnabled());
    QVERIFY(F().ui.CBoxMin->isHidden());
    QVERIFY(F().ui.CBoxMax->isHidden());
    QCOMPARE(F().Pm.GetRangeNo(), 0);  // nothing programmed yet
  }

  // A fresh calculation is taken into the image and the window, nothing goes
  // to the instrument until F10, which stores it there.
  void programThenWrite() {
    sim::Instrument& in = AddInstrument(*w, sim::model::ZetTs, 5, /*"100П"*/ 0, /*0..100*/ 30);
    QVERIFY(w->OpenPort());
    QVERIFY(Read());
    F().ui.ChBoxNonStand->setChecked(true);

    QString shownStart, shownEnd, shownNode2;
    std::array<double, 8> calculated{};
    OnDialog([&](TFormNewRange& d) {
      shownStart = EditText(d.EditTN);
      shownEnd = EditText(d.EditTK);
      shownNode2 = EditText(d.Edit3);
      // 0..650 is a standard range of this sensor and would be refused.
      d.SetRange(0, 640);
      d.Button1Click();
      calculated = d.NodeCodes;
      return d.CloseResult();
    });
    w->line.ClearLog();
    F().ButNonStandClick();
    QCOMPARE(dialogRuns, 1);
    QVERIFY2(w->messages.shown.empty(), w->messages.shown.empty() ? "" : w->messages.Last().text.c_str());
    QCOMPARE(F().FormNewRange().StTipD->text(), QString("100П"));
    // The instrument's own non-standard fields filled the dialog.
    QCOMPARE(shownStart, QString("0"));
    QCOMPARE(shownEnd, QString("150"));
    QCOMPARE(shownNode2, QString("1170"));

    QVERIFY(w->line.Log().empty());
    QCOMPARE(F().Pm.GetRangeNo(), 47);
    QCOMPARE(int(F().Pm.Image[19]), 0);
    QCOMPARE(int(F().Pm.Image[20]), 0);
    QCOMPARE(int(F().Pm.Image[21]), 640 & 0xFF);
    QCOMPARE(int(F().Pm.Image[22]), 640 >> 8);
    QCOMPARE(F().Pm.TMin, 0.0f);
    QCOMPARE(F().Pm.TMax, 640.0f);
    QCOMPARE(F().ui.StMin->text(), QString("0"));
    QCOMPARE(F().ui.StMax->text(), QString("640"));
    // Codes 1500 and 7000 on 0..640.
    QCOMPARE(F().ui.UstProc1->text(), QString("117"));
    QCOMPARE(F().ui.UstProc2->text(), QString("547"));
    QCOMPARE(F().Pm.Changed, 1);
    for (int m = 0; m < 8; ++m) {
      QCOMPARE(F().Pm.GetNode(m), int(std::lround(calculated[m])));
      if (m > 0) QVERIFY(F().Pm.GetNode(m) > F().Pm.GetNode(m - 1));
    }
    QVERIFY(F().ButtonRef == F().ui.ButNonStand);

    F().OutPortClick();
    QVERIFY(FunctionSent(69));
    const sim::Bytes stored = in.Block();
    QCOMPARE(int(stored[kRangeNo]), 47);
    QCOMPARE(Field16(stored, kRangeMin), 0);
    QCOMPARE(Field16(stored, kRangeMax), 640);
    for (int m = 0; m < 8; ++m) QCOMPARE(Field16(stored, kNodes + 2 * std::size_t(m)), F().Pm.GetNode(m));
    // The read after the write shows the instrument's new range.
    QVERIFY(F().ui.ChBoxNonStand->isChecked());
    QCOMPARE(F().ui.StMax->text(), QString("640"));
    QCOMPARE(F().Pm.Changed, 0);
  }

  // The dialog names the table file under the results: a copy in the
  // working folder is taken before the installed one. A refused calculation
  // names none.
  void namesTheTableFile_data() {
    QTest::addColumn<bool>("copyInWorkingFolder");
    QTest::newRow("installed") << false;
    QTest::newRow("working folder") << true;
  }
  void namesTheTableFile() {
    QFETCH(bool, copyInWorkingFolder);
    const QDir tables = QDir::current();  // the build tree's tables
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString home = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    const auto back = qScopeGuard([&] { QDir::setCurrent(home); });
    if (copyInWorkingFolder) QVERIFY(QFile::copy(tables.filePath("100P.txt"), work.filePath("100P.txt")));
    const QString expected =
        QStringLiteral("Таблица НСХ: ") +
        QDir::cleanPath(copyInWorkingFolder ? QDir(work.path()).absoluteFilePath("100P.txt")
                                            : tables.absoluteFilePath("100P.txt"));

    AddInstrument(*w, sim::model::ZetTs, 5, /*"100П"*/ 0, 30);
    QVERIFY(w->OpenPort());
    QVERIFY(Read());
    F().ui.ChBoxNonStand->setChecked(true);
    F().FormNewRange().Calculator().tableDirs = {"", tables.absolutePath().toStdString()};
    QString before, named, tip, refused;
    OnDialog([&](TFormNewRange& d) {
      before = d.StTable->text();
      d.SetRange(0, 640);
      d.Button1Click();
      named = d.StTable->text();
      tip = d.StTable->toolTip();
      d.SetRange(0, 10);  // narrower than the sensor allows
      d.Button1Click();
      refused = d.StTable->text();
      return TFormNewRange::kResultNothing;
    });
    F().ButNonStandClick();
    QCOMPARE(before, QString());
    QCOMPARE(named, expected);
    QCOMPARE(tip, expected);
    QCOMPARE(refused, QString());
  }

  // Old firmware, and a sensor without a reference table, are refused with
  // the plain message; the box is unticked and the standard range restored.
  void refusals_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("tipD");
    QTest::addColumn<int>("rangeNo");
    QTest::addColumn<QString>("sensor");
    QTest::addColumn<QString>("firstStart");
    QTest::addColumn<QString>("firstEnd");
    // Row 13 is past T2 ("XA(K)", 13 rows): a non-standard range was read.
    QTest::newRow("ЗЕТ-ТП version 2") << sim::model::ZetTp << 2 << 2 << 13 << "XA(K)" << "-50" << "200";
    QTest::newRow("ЗЕТ-ТС sensor 21") << sim::model::ZetTs << 6 << 6 << 47 << "21" << "-200" << "-150";
  }
  void refusals() {
    QFETCH(int, model);
    QFETCH(int, version);
    QFETCH(int, tipD);
    QFETCH(int, rangeNo);
    QFETCH(QString, sensor);
    QFETCH(QString, firstStart);
    QFETCH(QString, firstEnd);
    AddInstrument(*w, model, version, tipD, rangeNo);
    QVERIFY(w->OpenPort());
    QVERIFY(Read());
    QVERIFY(F().ui.ChBoxNonStand->isChecked());
    QVERIFY(!F().ui.ChBoxNonStand->isEnabled());
    QVERIFY(F().ui.ButNonStand->isEnabled());

    OnDialog([](TFormNewRange& d) { return d.CloseResult(); });
    w->line.ClearLog();
    F().ButNonStandClick();
    QCOMPARE(dialogRuns, 0);
    QCOMPARE(F().FormNewRange().StTipD->text(), sensor);
    QCOMPARE(int(w->messages.shown.size()), 1);
    QCOMPARE(w->messages.Last().text, kRefused);
    QCOMPARE(w->messages.Last().icon, ui::Icon::None);
    QVERIFY(!F().ui.ChBoxNonStand->isChecked());
    QVERIFY(!F().ui.ButNonStand->isEnabled());
    QVERIFY(!F().ui.CBoxMin->isHidden());
    QCOMPARE(F().Pm.GetRangeNo(), 0);
    QCOMPARE(F().ui.CBoxMin->currentText(), firstStart);
    QCOMPARE(F().ui.CBoxMax->currentText(), firstEnd);
    QCOMPARE(F().Pm.TMin, firstStart.toFloat());
    QCOMPARE(F().Pm.TMax, firstEnd.toFloat());
    QVERIFY(w->line.Log().empty());
  }

  // Result 6 leaves the image alone and reads the instrument again, which
  // shows its own standard range.
  void nothingToProgramRereads() {
    AddInstrument(*w, sim::model::ZetTs, 5, 0, 30);
    QVERIFY(w->OpenPort());
    QVERIFY(Read());
    F().ui.ChBoxNonStand->setChecked(true);
    QCOMPARE(F().Pm.Changed, 1);

    OnDialog([](TFormNewRange& d) { return d.CloseResult(); });  // no calculation: 6
    w->line.ClearLog();
    F().ButNonStandClick();
    QCOMPARE(dialogRuns, 1);
    QVERIFY(FunctionSent(17));
    QVERIFY(!FunctionSent(69));
    QCOMPARE(F().Pm.DataRead, 1);
    QCOMPARE(F().Pm.Changed, 0);
    QVERIFY(!F().ui.ChBoxNonStand->isChecked());
    QVERIFY(!F().ui.CBoxMin->isHidden());
    QVERIFY(F().ui.StMin->text().isEmpty());
    QCOMPARE(F().Pm.GetRangeNo(), 30);
    QCOMPARE(F().ui.CBoxMax->currentText(), QString("100"));
  }

  // After an unwritten sensor change the dialog starts from zeros; once a
  // calculation for the new sensor stands it is shown again unchanged.
  void afterSensorChange() {
    AddInstrument(*w, sim::model::ZetTs, 5, /*"100П"*/ 0, 47, -50, 150);
    QVERIFY(w->OpenPort());
    QVERIFY(Read());
    TFormNewRange& dlg = F().FormNewRange();

    // A first showing fills the dialog from the instrument.
    OnDialog([](TFormNewRange& d) { return d.CloseResult(); });
    F().ButNonStandClick();
    QCOMPARE(dlg.EditTN->text(), QString("-50"));
    QCOMPARE(dlg.Edit9->text(), QString("8190"));

    F().ui.CBoxTipD->setCurrentIndex(2);  // "Pt100"
    F().CBoxTipDClick();
    F().CBoxTipDChange();
    QCOMPARE(F().Pm.TipDChanged, 1);
    QVERIFY(F().ui.ChBoxNonStand->isEnabled());
    F().ui.ChBoxNonStand->setChecked(true);

    QStringList shown;
    double start = -1, end = -1, nodeSum = -1;
    OnDialog([&](TFormNewRange& d) {
      shown = {d.EditTN->text(), d.EditTK->text()};
      for (int k = 1; k <= 8; ++k) shown << d.ResultEdits[k]->text();
      start = d.RangeStart;
      end = d.RangeEnd;
      nodeSum = 0;
      for (double c : d.NodeCodes) nodeSum += c;
      d.SetRange(0, 310);
      d.Button1Click();
      return d.CloseResult();
    });
    F().ButNonStandClick();
    QCOMPARE(shown, QStringList(10, "0"));
    QCOMPARE(start, 0.0);
    QCOMPARE(end, 0.0);
    QCOMPARE(nodeSum, 0.0);
    QCOMPARE(F().Pm.GetTipD(), 2);
    QCOMPARE(F().Pm.GetRangeNo(), 47);  // row count of the "Pt100" table
    QCOMPARE(F().Pm.GetRangeMax(), 310);
    const int node7 = F().Pm.GetNode(7);

    // Shown again before any write: the calculation for "Pt100" stands.
    OnDialog([&](TFormNewRange& d) {
      shown = {d.EditTN->text(), d.EditTK->text(), d.Edit9->text()};
      return d.CloseResult();
    });
    F().ButNonStandClick();
    QCOMPARE(shown, QStringList({"0", "310", QString::number(node7)}));
    QCOMPARE(F().Pm.GetRangeMax(), 310);
  }
};

QTEST_MAIN(TestNonStandard)
#include "test_nonstandard.moc"
