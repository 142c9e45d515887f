// The window's change journal: each kind of write leaves its entry with the
// block as read before and as read back after; a journal that cannot be
// written asks before anything is sent (default No); the journal window
// shows an entry's fields before and after, puts the before back as edits,
// saves it as a settings file, exports CSV and prints the change record.

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>

#include <fstream>
#include <functional>
#include <sstream>

#include "FileDialogs.h"
#include "JournalView.h"
#include "Journalling.h"
#include "ModalRunner.h"
#include "SettingsFile.h"
#include "SimWindow.h"

namespace {

constexpr int kZetTp = 102, kLunt = 103;
constexpr int kUst1 = 5, kKBegSk = 0;

struct Rig : testsupport::SimWindow {
  std::string dir = QDir::tempPath().toStdString() + "/pm_change_journal_" + std::to_string(QCoreApplication::applicationPid());
  std::string file = dir + "/chosen";
  Rig() {
    QDir().mkpath(QString::fromStdString(dir));
    form->JournalPath = dir + "/journal.sqlite";
    ui::SetFileDialogRunner([this](ui::FileDialogKind, const std::string&) { return file; });
  }
  ~Rig() {
    ui::SetFileDialogRunner({});
    ui::SetDialogRunner({});
    QDir(QString::fromStdString(dir)).removeRecursively();
  }
  std::vector<pmjournal::Entry> Entries() { return form->OpenJournal().Query({}); }
  std::string Text(const std::string& path) const {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

}  // namespace

class TestChangeJournal : public QObject {
  Q_OBJECT

 private slots:
  void everyWriteLeavesItsBeforeAndAfter_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("step");
    QTest::newRow("F10") << "Запись (F10)" << 0;
    QTest::newRow("номер") << "Смена номера устройства" << 1;
    QTest::newRow("калибровка") << "Калибровка начала шкалы" << 2;
    QTest::newRow("коррекция тока") << "Коррекция тока начала шкалы" << 3;
    QTest::newRow("файл") << "Загрузка настроек из файла" << 4;
  }
  void everyWriteLeavesItsBeforeAndAfter() {
    QFETCH(QString, operation);
    QFETCH(int, step);
    Rig r;
    sim::Instrument& in = r.Add(1, kZetTp, 6);
    QVERIFY(r.OpenPort());
    TForm1& f = *r.form;
    f.InPortClick();
    if (step == 4) {
      f.SaveFileClick();
      sim::Bytes b = in.Block();
      b[kUst1] ^= 0x40;
      in.SetBlock(b);
      f.InPortClick();
    }
    if (step == 2) in.SetCalibrationReference(3210, 1234);  // a reference signal unlike the stored codes
    const sim::Bytes before = in.Block();
    const std::function<void()> acts[] = {
        [&] {
          f.ui.CBoxTipSign->setCurrentIndex((f.ui.CBoxTipSign->currentIndex() + 1) % 3);
          f.CBoxTipSignClick();
          f.OutPortClick();
        },
        [&] {
          f.ui.CBoxUstrZ->setCurrentIndex(4);
          f.CBoxUstrZClick();
          f.OutPortClick();
        },
        [&] {
          r.messages.answers = {ui::Answer::Yes};
          f.Button1Click();
        },
        [&] {
          f.ui.CBoxCurrent->setCurrentIndex((f.ui.CBoxCurrent->currentIndex() + 3) % f.ui.CBoxCurrent->count());
          f.CBoxCurrentClick();
        },
        [&] {
          f.LoadFileClick();
          f.OutPortClick();
        },
    };
    acts[step]();
    const auto entries = r.Entries();
    QCOMPARE(entries.size(), std::size_t{1});
    const pmjournal::Entry& e = entries[0];
    QCOMPARE(QString::fromStdString(e.operation), operation);
    QVERIFY(e.outcome == pmjournal::Outcome::Done);
    QCOMPARE(e.address, 1);
    QCOMPARE(e.model, kZetTp);
    QVERIFY(e.before == before);
    QVERIFY(e.after == in.Block());
    QVERIFY(e.before != e.after);
    QVERIFY(e.program.rfind("pmservice ", 0) == 0);
  }

  void outputControlIsDoneOnlyWhenSent() {
    Rig r;
    sim::Instrument& in = r.Add(1, kLunt, 4);
    QVERIFY(r.OpenPort(1, 1));
    TForm1& f = *r.form;
    f.InPortClick();
    f.ui.ButSwitch->click();
    in.InjectFault(sim::Fault::Persistent(sim::FaultKind::Silence));
    f.ui.ButSwitch->click();
    const auto entries = r.Entries();
    QCOMPARE(entries.size(), std::size_t{2});
    QVERIFY(entries[1].outcome == pmjournal::Outcome::Done);
    QCOMPARE(QString::fromStdString(entries[1].detail), QString("включено"));
    QVERIFY(entries[0].outcome == pmjournal::Outcome::Failed);
    QCOMPARE(QString::fromStdString(entries[0].detail), QString("выключено"));
    QVERIFY(entries[0].result != 0);
    // The block shown was read before: the entry says when.
    QVERIFY(entries[0].beforeReadMs > 0 && entries[0].beforeReadMs <= entries[0].atMs);
  }

  // F10 records the block as last read with the time of that read; a write
  // cut off once its block is on the way records the block that was sent.
  void aWriteCutOffAtTheBlockRecordsWhatWasSent() {
    Rig r;
    sim::Instrument& in = r.Add(1, kZetTp, 6);
    QVERIFY(r.OpenPort(1, 1));
    TForm1& f = *r.form;
    f.InPortClick();
    const std::int64_t readAt = f.ReadBlockAtMs;
    const sim::Bytes before = in.Block();
    f.ui.UstProc1->setText("66");
    f.UstProc1Exit(f.ui.UstProc1);
    const std::vector<std::uint8_t> edited = pmset::BlockOf(f.Pm);
    r.line.SetLogSink([&in](const sim::LogEntry& e) {
      if (e.dir == sim::Dir::Out && e.bytes.size() > 1 && e.bytes[1] == 17)
        in.InjectFault(sim::Fault::Persistent(sim::FaultKind::Silence));
    });
    f.OutPortClick();
    r.line.SetLogSink({});
    const auto entries = r.Entries();
    QCOMPARE(entries.size(), std::size_t{1});
    const pmjournal::Entry& e = entries[0];
    QVERIFY(e.outcome == pmjournal::Outcome::Failed);
    // Cut off at the block or at the store after it: the block went out either way.
    QVERIFY(e.step == "передача блока (функция 69)" || e.step == "подтверждение (функция 14)");
    QVERIFY(e.sent == edited);
    QVERIFY(e.before == before);
    QVERIFY(e.after.empty());
    QCOMPARE(e.beforeReadMs, readAt);
  }

  void aJournalThatCannotBeWrittenAsksFirst() {
    Rig r;
    sim::Instrument& in = r.Add(1, kZetTp, 6);
    QVERIFY(r.OpenPort());
    TForm1& f = *r.form;
    f.InPortClick();
    f.JournalPath = "/dev/null/journal.sqlite";
    const sim::Bytes before = in.Block();
    f.ui.CBoxTipSign->setCurrentIndex((f.ui.CBoxTipSign->currentIndex() + 1) % 3);
    f.CBoxTipSignClick();
    r.line.ClearLog();
    f.OutPortClick();  // the question's default: No
    QCOMPARE(r.messages.shown.size(), std::size_t{1});
    QVERIFY(r.messages.shown[0].defaultAnswer == ui::Answer::No);
    QVERIFY(r.messages.shown[0].text.find("/dev/null/journal.sqlite") != std::string::npos);
    QVERIFY(r.line.Frames(sim::Dir::In).empty());
    QVERIFY(in.Block() == before);
    r.messages.answers = {ui::Answer::Yes};
    f.OutPortClick();
    QVERIFY(in.Block() != before);
  }

  // A chosen journal file is used at once and by the next start, but only
  // once it has opened: a file that cannot be a journal changes nothing.
  void aChosenJournalFileIsRememberedOnceItOpens() {
    Rig r;
    TForm1& f = *r.form;
    QSettings remembered("pmservice", "pmservice");
    remembered.remove("journal/path");
    const std::string own = TForm1::RememberedJournalPath(), team = r.dir + "/team/journal.sqlite";
    const std::string settings = r.dir + "/settings.json";
    std::ofstream(settings) << "{}\n";
    for (const std::string& chosen : {std::string("/dev/null/journal.sqlite"), settings, team}) {
      f.AskJournalPath = [&] { return chosen; };
      f.JournalFileClick();
    }
    QCOMPARE(r.messages.shown.size(), std::size_t{2});
    for (const auto& shown : r.messages.shown)
      QVERIFY(shown.text.find("Журнал ведётся по-прежнему в " + r.dir + "/journal.sqlite") != std::string::npos);
    QVERIFY(r.messages.shown[1].text.find("не является журналом изменений") != std::string::npos);
    QCOMPARE(r.Text(settings), std::string("{}\n"));
    QCOMPARE(f.OpenJournal().Path(), team);
    QCOMPARE(TForm1::RememberedJournalPath(), team);
    remembered.remove("journal/path");
    QCOMPARE(TForm1::RememberedJournalPath(), own);
  }

  // Choosing another file moves the journal when the new file is new; an
  // entry of another instrument never brings its calibration into the window.
  void movingTheJournalAndRevertingAnotherInstrument() {
    Rig r;
    sim::Instrument& in = r.Add(1, kZetTp, 6);
    sim::Instrument& other = r.Add(2, kZetTp, 6);
    sim::Bytes otherBlock = other.Block();
    otherBlock[kKBegSk] ^= 0x11;  // its own calibration
    otherBlock[kUst1] ^= 0x20;
    other.SetBlock(otherBlock);
    QVERIFY(r.OpenPort());
    TForm1& f = *r.form;
    r.PickDevice(2);
    f.InPortClick();
    const std::vector<std::uint8_t> otherRead = f.ReadBlock;
    r.PickDevice(1);
    f.InPortClick();
    f.OutPortClick();  // one entry in the first journal
    pmjournal::Entry foreign = pmops::EntryBefore(f.Pm, f.ReadBlock, f.Link.Port, 1, "Запись (F10)");
    foreign.model = kLunt;
    foreign.identification = "ЛУНТ";
    f.OpenJournal().Record(foreign);
    pmjournal::Entry second = pmops::EntryBefore(f.Pm, otherRead, f.Link.Port, 2, "Запись (F10)");
    f.OpenJournal().Record(second);

    const std::string moved = r.dir + "/moved/journal.sqlite";
    f.AskJournalPath = [&] { return moved; };
    f.JournalFileClick();
    QSettings("pmservice", "pmservice").remove("journal/path");  // the choice is the test's alone
    QCOMPARE(r.messages.shown.size(), std::size_t{1});
    QVERIFY(r.messages.Last().text.find("перенесён в " + moved + " (записей: 3)") != std::string::npos);
    QCOMPARE(f.OpenJournal().Count({}), std::size_t{3});

    const std::vector<std::uint8_t> shown = pmset::BlockOf(f.Pm);
    ui::SetDialogRunner([&](QDialog& d) {
      auto* v = qobject_cast<JournalView*>(&d);
      if (!v) return 0;
      v->ui.SpinJAddress->setValue(0);
      v->ButJFilterClick();
      if (v->Entries().size() != 3) return 0;
      v->ui.TableJournal->selectRow(1);  // the other model: refused
      v->ButJRevertClick();
      v->ui.TableJournal->selectRow(0);  // another address: settings only, and only when asked
      r.messages.answers = {ui::Answer::Yes};
      v->ButJRevertClick();
      return 0;
    });
    r.messages.shown.clear();
    f.JournalClick();
    QCOMPARE(r.messages.shown.size(), std::size_t{2});
    QVERIFY(r.messages.shown[0].text.find("сделана для другого прибора (ЛУНТ)") != std::string::npos);
    QVERIFY(r.messages.shown[1].defaultAnswer == ui::Answer::No);
    QVERIFY(r.messages.shown[1].text.find("только её настройки") != std::string::npos);
    const std::vector<std::uint8_t> now = pmset::BlockOf(f.Pm);
    QCOMPARE(now[kKBegSk], shown[kKBegSk]);
    QCOMPARE(now[kUst1], otherBlock[kUst1]);
    Q_UNUSED(in);
  }

  void theJournalWindow() {
    Rig r;
    sim::Instrument& in = r.Add(1, kZetTp, 6);
    QVERIFY(r.OpenPort());
    TForm1& f = *r.form;
    f.InPortClick();
    const sim::Bytes before = in.Block();
    const QString oldUst = f.ui.UstProc1->text();
    f.ui.UstProc1->setText("77");
    f.UstProc1Exit(f.ui.UstProc1);
    f.OutPortClick();
    QVERIFY(in.Block() != before);
    const QString newUst = f.ui.UstProc1->text();

    QStringList compared;
    std::function<void(JournalView&)> inView;
    ui::SetDialogRunner([&](QDialog& d) {
      if (auto* view = qobject_cast<JournalView*>(&d)) {
        inView(*view);
      } else if (auto* table = d.findChild<QTableWidget*>("TableCompare")) {
        for (int row = 0; row < table->rowCount(); ++row)
          compared << table->item(row, 0)->text() + "|" + table->item(row, 1)->text() + "|" + table->item(row, 2)->text();
      }
      return 0;
    });
    inView = [&](JournalView& v) {
      QCOMPARE(v.Entries().size(), std::size_t{1});  // filtered to the instrument shown
      v.ui.SpinJAddress->setValue(2);
      v.ButJFilterClick();
      QCOMPARE(v.ui.TableJournal->rowCount(), 0);
      v.ui.SpinJAddress->setValue(1);
      v.ButJFilterClick();
      v.ui.TableJournal->selectRow(0);
      v.ButJOpenClick();
      v.ButJSaveClick();
      const pmset::Parsed saved = pmset::Decode(r.Text(r.file));
      QVERIFY(saved.file && saved.file->block == before);
      v.ButJExportClick();
      QCOMPARE(r.Text(r.file).rfind("\xEF\xBB\xBF", 0), std::size_t{0});
      r.file = r.dir + "/record.pdf";
      v.ButJProtocolClick();
      r.messages.answers = {ui::Answer::No};  // settings only
      v.ButJRevertClick();
    };
    f.JournalClick();
    QVERIFY(compared.filter(QRegularExpression("^\\* Уставка 2\\|")).size() == 1);
    QCOMPARE(f.Pm.Changed, 1);
    QCOMPARE(f.ui.UstProc1->text(), oldUst);
    f.OutPortClick();
    QVERIFY(in.Block() == before);
    QCOMPARE(QString::fromStdString(r.Entries()[0].operation), QString("Возврат прежних настроек"));

    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
      QSKIP("pdftotext is not installed (Debian package poppler-utils)");
    QProcess pdf;
    pdf.start("pdftotext", {QString::fromStdString(r.dir + "/record.pdf"), "-"});
    QVERIFY(pdf.waitForFinished(20000));
    const QString text = QString::fromUtf8(pdf.readAllStandardOutput()).simplified();
    for (const QString& expected : {QString("Протокол изменений"), QString("ЗЕТ-ТП"), QString("Уставка 2"), oldUst,
                                    newUst, QString("Код АЦП начала шкалы")})
      QVERIFY2(text.contains(expected), qPrintable(expected + " not in: " + text));
  }
};

QTEST_MAIN(TestChangeJournal)
#include "test_change_journal.moc"
