// The device list window against simulated instruments on a pseudo-terminal,
// through the real termios port and link.

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <memory>
#include <numeric>
#include <optional>
#include <vector>

#include "Comportclass.h"
#include "FrameObserver.h"
#include "Line.h"
#include "PtyServer.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"
#include "obrListDevice.h"

namespace {

// Records, at the end of every exchange, where the progress bar stands and
// whether it is shown; runs on the GUI thread inside Request.
class ProgressProbe : public pmlink::FrameObserver {
 public:
  explicit ProgressProbe(const QProgressBar& bar) : m_bar(bar) {}
  void OnBytes(std::chrono::steady_clock::time_point, pmlink::Direction, std::span<const std::uint8_t>) override {}
  void OnResult(std::chrono::steady_clock::time_point, int deviceIndex, int, int) override {
    indexes.push_back(deviceIndex);
    values.push_back(m_bar.value());
    shown.push_back(!m_bar.isHidden());
  }
  std::vector<int> indexes;
  std::vector<int> values;
  std::vector<bool> shown;

 private:
  const QProgressBar& m_bar;
};

// A line with the window wired to it: the simulator served on a pty, the
// real port opened on its slave, short port time-outs and no pauses so that
// a silent address costs two short header time-outs only.
struct Rig {
  sim::Line line;
  std::unique_ptr<sim::PtyServer> server;
  pmlink::TermiosPort port;
  ui::ScriptedMessageService messages;
  TComPortClass link{port, messages, [this] { ++closeRequests; }};
  std::unique_ptr<TFormDevice> form;
  int closeRequests = 0;

  explicit Rig(bool open = true) {
    server = std::make_unique<sim::PtyServer>(line);
    port.totalBaseMs = 100;
    port.totalPerByteMs = 20;
    link.SetDelayFunction([](int) {});
    link.TxDelay = 1;
    link.Port = server->SlavePath();
    if (open && link.Configure() != 0) qFatal("cannot open %s", server->SlavePath().c_str());
    form = std::make_unique<TFormDevice>(link, messages);
    form->show();
  }
  ~Rig() {
    link.ClosePort();
    server->Stop();
  }

  void Add(int address, int model) { line.Add({.address = address, .model = model}); }

  void Scan(int n) {
    form->CBoxUstr->setCurrentIndex(n - 1);
    QTest::mouseClick(form->Button1, Qt::LeftButton);
  }

  // The list as (address, type) texts, rows 1 .. 32.
  QList<QStringList> Rows() const {
    QList<QStringList> rows;
    for (int r = 1; r <= 32; ++r) rows.append({form->Cell(0, r), form->Cell(1, r)});
    return rows;
  }

  // How often function 17 was sent to each address 1 .. 32.
  std::vector<int> IdentifyCounts() const {
    std::vector<int> counts(33, 0);
    for (const auto& f : line.Frames(sim::Dir::In))
      if (f.size() == 4 && f[1] == 17 && f[0] >= 1 && f[0] <= 32) ++counts[f[0]];
    return counts;
  }
};

// Rows 1 .. 32 with the given ones at the top and the rest empty.
QList<QStringList> Expected(const QList<QStringList>& top) {
  QList<QStringList> rows = top;
  while (rows.size() < 32) rows.append({QString(), QString()});
  return rows;
}

}  // namespace

class TestDeviceList : public QObject {
  Q_OBJECT

 private slots:
  void windowAsCreated();
  void scanListsAnsweringAddressesWithoutGaps();
  void modelNames_data();
  void modelNames();
  void secondScanReplacesList();
  void noChoiceNoScan();
  void exceptionCodes_data();
  void exceptionCodes();
  void closedPortListsNothingSilently();
  void portFailureStillRestoresRetries();
};

void TestDeviceList::windowAsCreated() {
  Rig rig(false);
  TFormDevice& f = *rig.form;
  QCOMPARE(f.windowTitle(), QStringLiteral("Список подключенных устройств"));
  QCOMPARE(f.size(), QSize(281, 440));
  QCOMPARE(f.LabelNu->text(), QStringLiteral("Макс. № устр. "));
  QVERIFY(f.LabelNu->font().bold());
  QCOMPARE(f.Button1->text(), QStringLiteral("Обновить"));

  QCOMPARE(f.CBoxUstr->count(), 32);
  for (int i = 0; i < 32; ++i) QCOMPARE(f.CBoxUstr->itemText(i), QString::number(i + 1));
  QVERIFY(!f.CBoxUstr->isEditable());
  QCOMPARE(f.CBoxUstr->currentIndex(), -1);
  QVERIFY(f.CBoxUstr->currentText().isEmpty());
  QVERIFY(!(f.CBoxUstr->focusPolicy() & Qt::TabFocus));

  QCOMPARE(f.Cell(0, 0), QStringLiteral(" № устройства"));
  QCOMPARE(f.Cell(1, 0), QStringLiteral("Тип устройства"));
  QCOMPARE(f.StringGrid1->columnCount(), 2);
  QCOMPARE(f.StringGrid1->rowCount(), 32);
  QVERIFY(f.StringGrid1->columnWidth(0) >= 87);
  QVERIFY(f.StringGrid1->columnWidth(1) >= 100);
  // The headers are shown in full, and both columns fit the grid.
  const QHeaderView* header = f.StringGrid1->horizontalHeader();
  for (int c = 0; c < 2; ++c)
    QVERIFY(header->sectionSize(c) >= header->fontMetrics().horizontalAdvance(f.Cell(c, 0)) + 4);
  QVERIFY(header->length() <= f.StringGrid1->viewport()->width());
  QCOMPARE(f.StringGrid1->rowHeight(0), 20);
  QCOMPARE(f.StringGrid1->rowHeight(31), 20);
  QCOMPARE(f.StringGrid1->horizontalHeader()->height(), 20);
  QVERIFY(f.StringGrid1->font().bold());
  QCOMPARE(rig.Rows(), Expected({}));

  QVERIFY(f.ProgressBar1->isHidden());
}

// Instruments at 2 and 5 only, N = 8: two rows in address order, every
// address asked, the silent ones exactly twice (the scan's own attempt
// count), and the link's count back afterwards.
void TestDeviceList::scanListsAnsweringAddressesWithoutGaps() {
  Rig rig;
  rig.Add(2, sim::model::ZetTp);
  rig.Add(5, sim::model::Kard);
  ProgressProbe probe(*rig.form->ProgressBar1);
  rig.link.SetFrameObserver(&probe);
  QCOMPARE(rig.link.GetRetries1(), 5);

  rig.Scan(8);

  QCOMPARE(rig.Rows(), Expected({{"2", "ЗЕТ-ТП"}, {"5", "КАРД"}}));
  QVERIFY(rig.messages.shown.empty());
  QCOMPARE(rig.link.GetRetries1(), 5);
  QVERIFY(rig.form->ProgressBar1->isHidden());

  const std::vector<int> counts = rig.IdentifyCounts();
  const std::vector<int> expected{0, 2, 1, 2, 2, 1, 2, 2, 2};
  QCOMPARE(std::vector<int>(counts.begin(), counts.begin() + 9), expected);
  QCOMPARE(std::accumulate(counts.begin() + 9, counts.end(), 0), 0);

  QCOMPARE(probe.indexes, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  QCOMPARE(probe.values, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80}));
  QVERIFY(std::all_of(probe.shown.begin(), probe.shown.end(), [](bool s) { return s; }));
  rig.link.SetFrameObserver(nullptr);
}

void TestDeviceList::modelNames_data() {
  QTest::addColumn<int>("model");
  QTest::addColumn<QString>("type");
  QTest::newRow("КАРД") << 100 << "КАРД";
  QTest::newRow("ЗЕТ-ТС") << 101 << "ЗЕТ-ТС";
  QTest::newRow("ЗЕТ-ТП") << 102 << "ЗЕТ-ТП";
  QTest::newRow("ЛУНТ") << 103 << "ЛУНТ";
  QTest::newRow("foreign 99") << 99 << "";
  QTest::newRow("foreign 104") << 104 << "";
  QTest::newRow("undetermined") << 255 << "";
}

// Whatever the model code, an answering instrument is listed; only the four
// models get a name.
void TestDeviceList::modelNames() {
  QFETCH(int, model);
  QFETCH(QString, type);
  Rig rig;
  rig.Add(1, model);
  rig.Add(3, sim::model::Lunt);
  rig.Scan(3);
  QCOMPARE(rig.Rows(), Expected({{"1", type}, {"3", "ЛУНТ"}}));
  QVERIFY(rig.messages.shown.empty());
}

// A smaller N drops the rows of the first scan beyond the new findings; the
// list survives closing and reopening the window; the link's count comes
// back to what it was, not to the default.
void TestDeviceList::secondScanReplacesList() {
  Rig rig;
  rig.Add(1, sim::model::Kard);
  rig.Add(2, sim::model::ZetTs);
  rig.Add(3, sim::model::Lunt);
  rig.link.SetRetries1(3);

  rig.Scan(3);
  QCOMPARE(rig.Rows(), Expected({{"1", "КАРД"}, {"2", "ЗЕТ-ТС"}, {"3", "ЛУНТ"}}));

  rig.form->hide();
  rig.form->show();
  QCOMPARE(rig.Rows(), Expected({{"1", "КАРД"}, {"2", "ЗЕТ-ТС"}, {"3", "ЛУНТ"}}));

  rig.Scan(1);
  QCOMPARE(rig.Rows(), Expected({{"1", "КАРД"}}));
  QCOMPARE(rig.link.GetRetries1(), 3);
  QVERIFY(rig.messages.shown.empty());
}

// Without a chosen N the button neither talks to the line nor touches the
// list.
void TestDeviceList::noChoiceNoScan() {
  Rig rig;
  rig.Add(1, sim::model::Kard);
  rig.Scan(1);
  QCOMPARE(rig.Rows(), Expected({{"1", "КАРД"}}));
  rig.line.ClearLog();

  rig.form->CBoxUstr->setCurrentIndex(-1);
  QTest::mouseClick(rig.form->Button1, Qt::LeftButton);

  QVERIFY(rig.line.Log().empty());
  QCOMPARE(rig.Rows(), Expected({{"1", "КАРД"}}));
  QVERIFY(rig.form->ProgressBar1->isHidden());
  QCOMPARE(rig.link.GetRetries1(), 5);
  QVERIFY(rig.messages.shown.empty());
}

void TestDeviceList::exceptionCodes_data() {
  QTest::addColumn<int>("code");
  QTest::addColumn<QString>("text");     // empty: not reported, the scan goes on
  QTest::addColumn<QString>("caption");
  QTest::addColumn<int>("icon");
  const int warning = int(ui::Icon::Warning);
  const int error = int(ui::Icon::Error);
  QTest::newRow("132") << 132 << " невозможно открыть последовательный порт " << "Предупреждение" << warning;
  QTest::newRow("133") << 133 << "вероятно, порт не настроен" << "Ошибка" << error;
  QTest::newRow("134") << 134 << "сбой настройки порта при выключении прибора" << "Ошибка" << error;
  QTest::newRow("135") << 135 << "ошибка настройки порта" << "Ошибка" << error;
  QTest::newRow("131") << 131 << "" << "" << 0;
  QTest::newRow("136") << 136 << "" << "" << 0;
  QTest::newRow("2") << 2 << "" << "" << 0;
  QTest::newRow("6 busy") << 6 << "" << "" << 0;
}

// An instrument at 2 answers identification with an exception code between
// instruments at 1 and 3: 132 .. 135 are reported and end the scan with the
// rows found so far, the link's count restored; any other code skips the
// address silently.
void TestDeviceList::exceptionCodes() {
  QFETCH(int, code);
  QFETCH(QString, text);
  QFETCH(QString, caption);
  QFETCH(int, icon);
  Rig rig;
  rig.Add(1, sim::model::Kard);
  rig.Add(2, sim::model::Kard);
  rig.Add(3, sim::model::ZetTp);
  sim::Fault fault = sim::Fault::Persistent(sim::FaultKind::Exception);
  fault.exceptionCode = static_cast<std::uint8_t>(code);
  rig.line.Find(2)->InjectFault(fault);

  rig.Scan(3);

  const std::vector<int> counts = rig.IdentifyCounts();
  if (text.isEmpty()) {
    QCOMPARE(rig.Rows(), Expected({{"1", "КАРД"}, {"3", "ЗЕТ-ТП"}}));
    QVERIFY(rig.messages.shown.empty());
    QCOMPARE(counts[3], 1);
  } else {
    QCOMPARE(rig.Rows(), Expected({{"1", "КАРД"}}));
    QCOMPARE(rig.messages.shown.size(), std::size_t(1));
    const ui::Message& m = rig.messages.Last();
    QCOMPARE(QString::fromStdString(m.text), text);
    QCOMPARE(QString::fromStdString(m.caption), caption);
    QCOMPARE(int(m.icon), icon);
    QCOMPARE(counts[3], 0);
  }
  QCOMPARE(counts[2], 1);
  QCOMPARE(rig.link.GetRetries1(), 5);
  QVERIFY(rig.form->ProgressBar1->isHidden());
}

// With the port closed every address fails at once: the list is emptied,
// nothing is said, and the bar still steps through all 32 addresses,
// starting again after every tenth.
void TestDeviceList::closedPortListsNothingSilently() {
  Rig rig;
  rig.Add(1, sim::model::Kard);
  rig.Scan(1);
  QCOMPARE(rig.Rows(), Expected({{"1", "КАРД"}}));
  rig.link.ClosePort();

  ProgressProbe probe(*rig.form->ProgressBar1);
  rig.link.SetFrameObserver(&probe);
  rig.Scan(32);
  rig.link.SetFrameObserver(nullptr);

  QCOMPARE(rig.Rows(), Expected({}));
  QVERIFY(rig.messages.shown.empty());
  QCOMPARE(rig.closeRequests, 0);
  QCOMPARE(probe.indexes.size(), std::size_t(32));
  std::vector<int> expected;
  for (int i = 0; i < 32; ++i) expected.push_back(10 * (i % 10 + 1));
  QCOMPARE(probe.values, expected);
  QVERIFY(std::all_of(probe.shown.begin(), probe.shown.end(), [](bool s) { return s; }));
  QVERIFY(rig.form->ProgressBar1->isHidden());
  QCOMPARE(rig.link.GetRetries1(), 5);
}

// The line goes away in the middle of a scan: whatever the link makes of
// it, the scan leaves the link's count and the bar as it found them.
void TestDeviceList::portFailureStillRestoresRetries() {
  Rig rig;
  rig.Add(1, sim::model::Kard);
  rig.server->Unplug();
  rig.form->CBoxUstr->setCurrentIndex(1);
  try {
    rig.form->Button1Click();
  } catch (const std::exception&) {
  }
  QCOMPARE(rig.link.GetRetries1(), 5);
  QVERIFY(rig.form->ProgressBar1->isHidden());
}

QTEST_MAIN(TestDeviceList)
#include "test_devicelist.moc"
