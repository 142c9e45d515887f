// The whole service visit in the window against the simulator: an
// instrument out of calibration fails as found, the window's calibration
// commands adjust the scale start and end, it passes as left; the signals
// asked for are those of the characteristic with the instrument's own
// cold junction, a point whose readings spread is refused and taken again,
// the visit is stored with the adjustment's journal entries, listed,
// exported, and its printed record holds every point and the verdicts.

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>
#include <fstream>
#include <sstream>

#include "CheckStore.h"
#include "DisplayFormat.h"
#include "FileDialogs.h"
#include "Sensor.h"
#include "SimWindow.h"
#include "VerifyView.h"

namespace {

constexpr int kZetTp = 102;
constexpr double kTerminals = 23.0;

struct Rig : testsupport::SimWindow {
  std::string dir = QDir::tempPath().toStdString() + "/pm_verify_window_" +
                    std::to_string(QCoreApplication::applicationPid());
  std::string file;
  sim::Instrument* in = nullptr;
  Rig() {
    QDir().mkpath(QString::fromStdString(dir));
    form->JournalPath = dir + "/journal.sqlite";
    ui::SetFileDialogRunner([this](ui::FileDialogKind, const std::string&) { return file; });
    // ЗЕТ-ТП, XA(K) over 0…300 °C, the scale end's code 3 % of the span high.
    in = &Add(1, kZetTp, 6);
    sim::Bytes block = in->Block();
    block[9] = 2;
    block[10] = 2;
    in->SetBlock(block);
    in->Tune(3);
    in->SetTerminalTemperature(kTerminals);
    in->SetNoise(1);
    form->Verify().TableDirs = {PM_TEST_TABLES};
  }
  ~Rig() {
    ui::SetFileDialogRunner({});
    QDir(QString::fromStdString(dir)).removeRecursively();
  }
  VerifyView& v() { return form->Verify(); }
  // The calibrator: the value the prompt asks for, applied to the input.
  double Apply() {
    const QString prompt = v().ui.StPrompt->text();
    const QRegularExpressionMatch m = QRegularExpression("Подайте (-?[0-9]+,[0-9]+) мВ").match(prompt);
    if (!m.hasMatch()) return std::nan("");
    const double mV = m.captured(1).replace(',', '.').toDouble();
    in->SetInput(mV);
    return mV;
  }
  void RunPoints() {
    for (int n = 0; n < 5 && v().ui.ButTake->isEnabled(); ++n) {
      Apply();
      v().ButTakeClick();
    }
  }
  std::string Text(const std::string& path) const {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

}  // namespace

class TestVerifyWindow : public QObject {
  Q_OBJECT

 private slots:
  void asFoundFailsCalibrationAdjustsAsLeftPasses() {
    Rig r;
    QVERIFY(r.OpenPort());
    r.form->InPortClick();
    QCOMPARE(r.form->Pm.DataRead, 1);
    r.form->VerifyClick();
    VerifyView& v = r.v();
    QCOMPARE(v.ui.EdPoints->text(), QString("0; 75; 150; 225; 300"));
    QVERIFY(v.ui.CBoxColdJunction->isEnabled());
    v.ui.EdTolerance->setText("0,5");
    v.ui.CBoxTolKind->setCurrentIndex(0);
    v.ui.SpinReadings->setValue(3);
    v.ui.EdInterval->setText("0");
    v.ui.CBoxColdJunction->setCurrentIndex(1);  // copper wires
    v.ui.EdEquipment->setText("");
    r.messages.Clear();
    v.ButStartClick();
    QCOMPARE(r.messages.Texts(), std::vector<std::string>{"Укажите эталон: наименование и заводской номер."});
    v.ui.EdEquipment->setText("Калибратор КИСС-03");
    v.ui.EdSerial->setText("1234");
    v.ui.EdCertificate->setText("С-ВЯ/01-02-2026/100");
    v.ui.EdValidUntil->setText("2027-02-01");
    v.ui.EdAmbient->setText("22");
    v.ui.EdHumidity->setText("45");
    r.messages.Clear();
    v.ButStartClick();
    QVERIFY(v.ui.ButTake->isEnabled());
    // E(75) − E(tхс) of type K with the instrument's terminals at 23 °C.
    const double zero = sim::SignalOf(sim::Sensor::K, 0) - sim::SignalOf(sim::Sensor::K, kTerminals);
    QCOMPARE(v.ui.StPrompt->text().left(19), QString("Точка 1 из 5: Подай"));
    QVERIFY2(std::fabs(r.Apply() - zero) < 0.0015, qPrintable(v.ui.StPrompt->text()));
    QVERIFY2(v.ui.StPrompt->text().contains(QRegularExpression("\\(0 °C, Тхс 2[23],[0-9]{2} °C\\)$")),
             qPrintable(v.ui.StPrompt->text()));

    // Readings that spread are refused with the question, and taken again.
    r.in->SetNoise(200);
    r.messages.answers = {ui::Answer::No};
    v.ButTakeClick();
    QCOMPARE(r.messages.Texts(), std::vector<std::string>{
        "сигнал не установился: показания разошлись больше чем на четверть допускаемой погрешности.\n"
        "Повторить измерение в этой точке?"});
    QCOMPARE(r.messages.Last().buttons, ui::Buttons::YesNo);
    QCOMPARE(v.ui.GridPoints->item(0, 7)->text(), QString());
    r.in->SetNoise(1);
    r.messages.Clear();
    v.ui.EdCurrent->setText("4,010");
    v.ButTakeClick();
    QCOMPARE(v.ui.GridPoints->item(0, 7)->text(), QString("годен"));
    QCOMPARE(v.ui.GridPoints->item(0, 6)->text(), QString("4,010"));
    r.RunPoints();
    QVERIFY(r.messages.shown.empty());
    QVERIFY(v.AsFound());
    const pmverify::CheckRecord found = *v.AsFound();
    QVERIFY(found.id > 0);
    QVERIFY(!found.verdict.pass);
    QVERIFY(found.verdict.maxError < -5);  // about 3 % of 300 °C low at the end
    QVERIFY(!found.points.back().result.pass);
    QVERIFY(v.ui.StVerdict->text().startsWith("Проверка как найдено: не годен, наибольшая погрешность -"));

    // The adjustment: scale start and end with the window's commands, the
    // calibrator giving E(0) and E(300) against 0 °C.
    r.in->SetInput(sim::SignalOf(sim::Sensor::K, 0));
    r.messages.answers = {ui::Answer::Yes};
    r.form->Button1Click();
    r.in->SetInput(sim::SignalOf(sim::Sensor::K, 300));
    r.messages.answers = {ui::Answer::Yes};
    r.form->Button2Click();
    r.messages.Clear();

    v.ButAsLeftClick();
    r.RunPoints();
    QVERIFY(r.messages.shown.empty());
    QVERIFY(v.AsLeft());
    const pmverify::CheckRecord left = *v.AsLeft();
    QVERIFY2(left.verdict.pass, qPrintable(QString::number(left.verdict.maxError)));
    QCOMPARE(left.visit, found.id);
    QCOMPARE(left.adjustments.size(), std::size_t{2});
    const auto entries = r.form->OpenJournal().Query({});
    for (std::int64_t id : left.adjustments)
      QVERIFY(std::any_of(entries.begin(), entries.end(), [id](const pmjournal::Entry& e) {
        return e.id == id && e.operation.rfind("Калибровка", 0) == 0;
      }));

    // The stored visit, listed and exported.
    v.ButCFilterClick();
    QCOMPARE(v.Listed().size(), std::size_t{2});
    QCOMPARE(v.ui.GridChecks->item(0, 5)->text(), QString("как оставлено"));
    r.file = r.dir + "/checks.csv";
    v.ButCExportClick();
    const std::string csv = r.Text(r.file);
    QCOMPARE(std::count(csv.begin(), csv.end(), '\n'), 11L);
    QVERIFY(csv.find("Калибратор КИСС-03") != std::string::npos);

    // The record of the visit.
    r.file = r.dir + "/record.pdf";
    v.ButProtocolClick();
    QVERIFY(QFile::exists(QString::fromStdString(r.file)));
    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
      QSKIP("pdftotext is not installed (Debian package poppler-utils)");
    QProcess pdf;
    pdf.start("pdftotext", {QString::fromStdString(r.file), "-"});
    QVERIFY(pdf.waitForFinished(20000));
    const QString text = QString::fromUtf8(pdf.readAllStandardOutput()).simplified();
    QStringList expected = {"Протокол калибровки", "Калибратор КИСС-03", "1234", "С-ВЯ/01-02-2026/100", "не годен",
                            "Заключение: годен", "не является свидетельством о поверке"};
    for (const auto* check : {&found, &left})
      for (const pmverify::PointRecord& p : check->points)
        expected << QString::fromStdString(pmdev::FormatFixed(p.result.mean, 15, 2)) + " °C"
                 << QString::fromStdString(p.signal.text.substr(0, p.signal.text.find(' ')));
    // Compared without blanks: the table's narrow cells break lines anywhere.
    QString packed = text;
    packed.remove(' ');
    for (QString e : expected) QVERIFY2(packed.contains(e.remove(' ')), qPrintable(e + " not in: " + text));
  }
};

QTEST_MAIN(TestVerifyWindow)
#include "test_verify_window.moc"
