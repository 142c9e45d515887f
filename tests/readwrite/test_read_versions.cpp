// Unlisted firmware versions and the read's optional requests, against the
// simulator: what the window offers after the read, and whether the
// instrument counts as read (F10 writes it).

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <atomic>
#include <memory>

#include "Identification.h"
#include "SensorLists.h"
#include "SimWindow.h"

namespace {

constexpr int kKard = 100, kZetTs = 101, kZetTp = 102, kLunt = 103;

class TestReadVersions : public QObject {
  Q_OBJECT

 private slots:
  void versionsAndOptionalSteps_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("failing");  // function failed once by the instrument, 0 none
    QTest::addRow("ЗЕТ-ТС v7 after a КАРД") << kZetTs << 7 << 0;
    QTest::addRow("КАРД v0 as v1") << kKard << 0 << 0;
    QTest::addRow("ЗЕТ-ТС v0 as v1") << kZetTs << 0 << 0;
    QTest::addRow("ЗЕТ-ТП v6 function 4 fails") << kZetTp << 6 << 4;
    QTest::addRow("ЛУНТ function 5 fails") << kLunt << 4 << 5;
  }
  void versionsAndOptionalSteps() {
    QFETCH(int, model);
    QFETCH(int, version);
    QFETCH(int, failing);
    testsupport::SimWindow r;
    TForm1& f = *r.form;
    sim::Instrument& in = r.Add(1, kKard, 5);
    QVERIFY(r.OpenPort());
    f.InPortClick();  // a КАРД first: its sensor list is in CBoxTipD
    QCOMPARE(f.ui.CBoxTipD->count(), 2);

    in.SetModel(model);
    in.SetVersion(version);
    in.SetBlock(sim::Instrument::DefaultBlock(model, version, 1));
    if (failing) {
      auto armed = std::make_shared<std::atomic<bool>>(true);
      r.line.SetLogSink([&in, armed](const sim::LogEntry& e) {
        if (e.dir == sim::Dir::Out && e.bytes.size() > 1 && e.bytes[1] == 71 && armed->exchange(false))
          in.InjectFault(sim::Fault{.kind = sim::FaultKind::Exception, .times = 1, .exceptionCode = 4});
      });
    }
    r.messages.Clear();
    f.InPortClick();
    r.line.SetLogSink({});

    // The read completed, also when only an optional request failed (it is
    // reported), so F10 writes the instrument.
    QCOMPARE(r.messages.Texts(), failing ? std::vector<std::string>{f.Link.ErrorText(0, 4)}
                                         : std::vector<std::string>{});
    QCOMPARE(f.Pm.DataRead, 1);
    if (model != kLunt)
      QCOMPARE(f.ui.CBoxTipD->count(), static_cast<int>(pmdev::SensorList(model, version).size()));
    const auto shown = pmdev::VisibleControls(pmdev::FeaturesFor(model, version));
    for (const char* name : {"LabBreak", "CBoxBreak", "LabCurrent", "CBoxCurrent", "CBoxTipD"}) {
      const bool want = std::find(shown.begin(), shown.end(), name) != shown.end();
      QVERIFY2(f.findChild<QWidget*>(name)->isVisibleTo(&f) == want, name);
    }
    r.messages.Clear();
    r.line.ClearLog();
    f.Pm.Changed = 1;
    f.OutPortClick();
    const auto sent = r.line.Frames(sim::Dir::In);
    QVERIFY(sent.size() > 2);
    QCOMPARE(int(sent[1][1]), 69);
    QCOMPARE(f.Pm.Changed, 0);
  }
};

}  // namespace

QTEST_MAIN(TestReadVersions)
#include "test_read_versions.moc"
