// Calibration, output-current correction and the ЛУНТ output-control mode,
// asserted through the requests the simulated instrument receives.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SimWindow.h"

namespace {

constexpr int kKard = 100, kZetTs = 101, kZetTp = 102, kLunt = 103;

using Bytes = sim::Bytes;

struct Rig : testsupport::SimWindow {
  sim::Instrument* in = nullptr;
  // Every pause with the number of requests sent before it.
  std::vector<std::pair<int, std::size_t>> pauses;

  TForm1& f() { return *form; }

  void ReadInstrument(int model, int version, const std::vector<std::pair<int, int>>& imageBytes = {}) {
    in = &Add(1, model, version);
    Bytes block = sim::Instrument::DefaultBlock(model, version, 1);
    for (auto [at, value] : imageBytes)
      if (at <= int(block.size())) block.at(at - 1) = static_cast<std::uint8_t>(value);
    in->SetBlock(block);
    QVERIFY(OpenPort());
    // The pauses are kept short as the fixture keeps them, and recorded.
    f().Link.SetDelayFunction([this](int ms) {
      pauses.emplace_back(ms, Requests().size());
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, maxDelayMs)));
    });
    f().ui.AInPort->trigger();
    QCOMPARE(f().Pm.DataRead, 1);
    messages.Clear();
    line.ClearLog();
    pauses.clear();
  }

  std::vector<Bytes> Requests() const { return line.Frames(sim::Dir::In); }
  std::vector<int> Functions() const {
    std::vector<int> fns;
    for (const Bytes& b : Requests()) fns.push_back(b.at(1));
    return fns;
  }
  // Data bytes of the requests with that function code, in order.
  std::vector<Bytes> DataOf(int function) const {
    std::vector<Bytes> out;
    for (const Bytes& b : Requests())
      if (b.at(1) == function) out.emplace_back(b.begin() + 2, b.end() - 2);
    return out;
  }
  int Stored16(int imageByte) const {
    const Bytes b = in->Block();
    return static_cast<std::int16_t>(b.at(imageByte - 1) | (b.at(imageByte) << 8));
  }
};

const Bytes kCalibrationOn{0x10, 0x01, 0xFF, 0x00};
const Bytes kCalibrationOff{0x10, 0x01, 0x00, 0x00};

struct CalibrationCase {
  int model;
  QPushButton* Ui::TForm1::*button;
  QLabel* Ui::TForm1::*indicator;
  QLabel* Ui::TForm1::*target;
  int imageByte;  // low byte of the stored code
  std::string question;
  std::string caption;
};

const std::string kScale = "Подтвердите готовность к калибровке шкалы";
const std::string kScaleTxc = "Подтвердите готовность к калибровке шкалы Тхс";

const CalibrationCase kCalibrations[] = {
    {kKard, &Ui::TForm1::Button1, &Ui::TForm1::LabRegKalibr, &Ui::TForm1::StKBegSk, 1,
     "Внимание! Сейчас будет произведена калибровка\nначала шкалы измерения \nУбедитесь, подан ли на "
     "вход сигнал,\nсоответствующий началу шкалы?",
     kScale},
    {kZetTs, &Ui::TForm1::Button2, &Ui::TForm1::LabRegKalibr, &Ui::TForm1::StKEndSk, 3,
     "Внимание! Сейчас будет произведена калибровка\nконца шкалы измерения \nУбедитесь, подан ли на "
     "вход сигнал,\nсоответствующий концу шкалы?",
     kScale},
    {kZetTp, &Ui::TForm1::KalibrBegSk, &Ui::TForm1::LabRegKalibrTXC, &Ui::TForm1::StBegSkTxc, 13,
     "Внимание! Сейчас будет произведена калибровка\nначала шкалы измерения Тхс\nПодан ли на вход Тхс "
     "сигнал 100 Ом?",
     kScaleTxc},
    {kZetTp, &Ui::TForm1::KalibrEndSk, &Ui::TForm1::LabRegKalibrTXC, &Ui::TForm1::StEndSkTxc, 15,
     "Внимание! Сейчас будет произведена калибровка\nконца шкалы измерения Тхс\nПодан ли на вход Тхс "
     "сигнал, соответствующий 100°С?",
     kScaleTxc},
};

void AddCalibrationRows() {
  QTest::addColumn<int>("which");
  const char* names[] = {"Button1", "Button2", "KalibrBegSk", "KalibrEndSk"};
  for (int i = 0; i < 4; ++i) QTest::newRow(names[i]) << i;
}

void Pick(QComboBox* box, int index) {
  box->setCurrentIndex(index);
  emit box->activated(index);
}

}  // namespace

class TestCalibration : public QObject {
  Q_OBJECT

 private slots:
  // --- calibration ----------------------------------------------------------------

  void answeredNoLeavesCalibrationMode_data() { AddCalibrationRows(); }
  void answeredNoLeavesCalibrationMode() {
    QFETCH(int, which);
    const CalibrationCase& c = kCalibrations[which];
    Rig r;
    r.ReadInstrument(c.model, 5);
    TForm1& f = r.f();
    QPushButton* button = f.ui.*c.button;
    QLabel* indicator = f.ui.*c.indicator;
    bool indicatorShown = false, modeOn = false;
    r.messages.onShow = [&](const ui::Message&) {
      indicatorShown = !indicator->isHidden();
      modeOn = r.in->CalibrationMode();
    };
    r.messages.answers = {ui::Answer::No};

    button->click();
    QCOMPARE(r.messages.shown.size(), size_t(1));
    const ui::Message& q = r.messages.Last();
    QCOMPARE(q.text, c.question);
    QCOMPARE(q.caption, c.caption);
    QCOMPARE(q.icon, ui::Icon::Question);
    QCOMPARE(q.buttons, ui::Buttons::YesNo);
    QCOMPARE(q.defaultAnswer, ui::Answer::No);  // Enter must not store the code on the input
    QVERIFY(indicatorShown);
    QVERIFY(modeOn);

    QCOMPARE(r.Functions(), (std::vector<int>{5, 5}));
    QCOMPARE(r.DataOf(5), (std::vector<Bytes>{kCalibrationOn, kCalibrationOff}));
    QVERIFY(!r.in->CalibrationMode());
    QVERIFY(indicator->isHidden());
    QCOMPARE(f.ButtonRef.data(), static_cast<QAbstractButton*>(button));
  }

  void answeredYesStoresTheReferenceCode_data() { AddCalibrationRows(); }
  void answeredYesStoresTheReferenceCode() {
    QFETCH(int, which);
    const CalibrationCase& c = kCalibrations[which];
    Rig r;
    r.ReadInstrument(c.model, 5);
    TForm1& f = r.f();
    const int code = c.imageByte >= 13 ? 1234 : 3210 + which;
    r.in->SetCalibrationReference(static_cast<std::int16_t>(code), static_cast<std::int16_t>(code));
    r.messages.answers = {ui::Answer::Yes};

    (f.ui.*c.button)->click();
    // Switch on, the read that brings the code, the write and its re-read.
    const std::vector<int> fns = r.Functions();
    QVERIFY(fns.size() > 6);
    QCOMPARE(fns.front(), 5);
    QCOMPARE(r.DataOf(5), std::vector<Bytes>{kCalibrationOn});
    const auto write = std::find(fns.begin(), fns.end(), 69);
    QVERIFY(write != fns.end());
    QVERIFY(std::find(fns.begin(), write, 71) != write);  // read before the write
    QCOMPARE(*(write + 1), 14);
    QVERIFY(std::find(write, fns.end(), 68) != fns.end());  // read back

    const Bytes written = r.DataOf(69).front();
    QCOMPARE(int(written.at(c.imageByte - 1)), code & 0xFF);
    QCOMPARE(int(written.at(c.imageByte)), code >> 8);
    QCOMPARE(r.Stored16(c.imageByte), code);
    QCOMPARE((f.ui.*c.target)->text(), QString::number(code));
    QVERIFY((f.ui.*c.indicator)->isHidden());
    QCOMPARE(f.Pm.Changed, 0);
  }

  // A calibration whose read fails keeps the earlier code out of the image,
  // writes nothing and switches the instrument back to normal measuring.
  void failedReadStopsTheCalibration() {
    Rig r;
    r.ReadInstrument(kKard, 5);
    TForm1& f = r.f();
    const QString before = f.ui.StKBegSk->text();
    const int stale = f.Pm.GetKodACP();
    r.in->SetCalibrationReference(3210, 0);
    r.messages.answers = {ui::Answer::Yes};
    r.messages.onShow = [&](const ui::Message& m) {
      if (m.icon == ui::Icon::Question)
        r.in->InjectFault({.kind = sim::FaultKind::Exception, .times = 1, .exceptionCode = 4});
    };

    f.ui.Button1->click();
    const std::vector<int> fns = r.Functions();
    QVERIFY(std::find(fns.begin(), fns.end(), 69) == fns.end());
    QCOMPARE(r.DataOf(5), (std::vector<Bytes>{kCalibrationOn, kCalibrationOff}));
    QCOMPARE(fns.back(), 5);
    QVERIFY(!r.in->CalibrationMode());
    QVERIFY(f.ui.LabRegKalibr->isHidden());
    QCOMPARE(f.ui.StKBegSk->text(), before);
    QVERIFY(f.Pm.GetKBegSk() != stale && f.Pm.GetKBegSk() != 3210);
    QCOMPARE(r.Stored16(1), 820);

    const std::vector<std::string> texts = r.messages.Texts();
    QCOMPARE(texts.size(), size_t(3));  // question, the read's failure, the outcome
    QCOMPARE(texts.back(), std::string("устройство 1 - данные не считаны,\nкалибровка не выполнена"));
  }

  // --- output-current correction ------------------------------------------------

  void correctionListsAsWritten() {
    Rig r;
    const QStringList start{"0 мкА",   "+4 мкА",  "+ 8 мкА", "+12 мкА", "+16 мкА", "+20 мкА",
                            "+24 мкА", "+28 мкА", "- 4 мкА", "- 8 мкА", "-12 мкА", "-16 мкА",
                            "-20 мкА", "-24 мкА", "-28 мкА", "-32 мкА"};
    const QStringList end{"0 мкА",   "+4 мкА",  "+ 8 мкА", "+12 мкА", "+16 мкА", "+20 мкА",
                          "- 4 мкА", "- 8 мкА", "-12 мкА", "-16 мкА", "-20 мкА", "-24 мкА",
                          "-28 мкА", "-32 мкА", "-36 мкА", "-40 мкА"};
    for (auto [box, items] : {std::pair{r.f().ui.CBoxCurrent, start}, {r.f().ui.CBoxCurrentEnd, end}}) {
      QStringList shown;
      for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
      QCOMPARE(shown, items);
    }
  }

  void correctionAtScaleStartIsWrittenAtOnce_data() {
    QTest::addColumn<bool>("polling");
    QTest::newRow("polling stopped") << false;
    QTest::newRow("polling running") << true;
  }
  void correctionAtScaleStartIsWrittenAtOnce() {
    QFETCH(bool, polling);
    Rig r;
    r.ReadInstrument(kKard, 5, {{5, 0x05}});
    TForm1& f = r.f();
    if (polling) f.BtnPuskTimerClick();
    const int index = f.ui.CBoxCurrent->findText("- 8 мкА");
    QCOMPARE(index, 9);
    Pick(f.ui.CBoxCurrent, index);

    QCOMPARE(r.DataOf(69).size(), size_t(1));
    QCOMPARE(int(r.DataOf(69).front().at(4)), 0x95);  // bits 0-3 kept
    QCOMPARE(int(r.in->Block().at(4) & 0x0F), 0x05);
    QCOMPARE(f.TimerRunning(), polling);
    QCOMPARE(f.ReportErrors, polling ? 0 : 1);
    QCOMPARE(f.Pm.Changed, 1);
    QCOMPARE(f.ComboRef.data(), f.ui.CBoxCurrent);
  }

  void correctionAtScaleEndByModel_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("imageByte");
    QTest::newRow("КАРД") << kKard << 13;
    QTest::newRow("ЛУНТ") << kLunt << 13;
    QTest::newRow("ЗЕТ-ТС") << kZetTs << 39;
    QTest::newRow("ЗЕТ-ТП") << kZetTp << 39;
  }
  void correctionAtScaleEndByModel() {
    QFETCH(int, model);
    QFETCH(int, imageByte);
    Rig r;
    // High nibbles of both candidate bytes set, to see that they stay.
    r.ReadInstrument(model, 4, {{13, 0xA1}, {39, 0xB3}});
    Pick(r.f().ui.CBoxCurrentEnd, 13);  // "-32 мкА"

    const Bytes written = r.DataOf(69).at(0);
    const int other = imageByte == 13 ? 39 : 13;
    QCOMPARE(int(written.at(imageByte - 1)), (imageByte == 13 ? 0xA0 : 0xB0) | 13);
    if (other <= int(written.size())) QCOMPARE(int(written.at(other - 1)), other == 13 ? 0xA1 : 0xB3);
    QCOMPARE(r.f().Pm.Changed, 1);
  }

  // --- ЛУНТ output control --------------------------------------------------------

  void outputControlSwitch() {
    Rig r;
    r.ReadInstrument(kLunt, 4);
    TForm1& f = r.f();
    QVERIFY(!f.ui.Edit1->isEnabled());
    f.ui.Edit1->setText("7");
    f.ui.ButSwitch->click();
    QVERIFY(f.ui.ButSwitch->isChecked());
    QVERIFY(f.ui.Edit1->isEnabled() && f.ui.Label25->isEnabled());
    QCOMPARE(f.ui.Edit1->text(), QString());
    QVERIFY(r.in->OutputControlMode());
    f.ui.ButSwitch->click();
    QVERIFY(!f.ui.Edit1->isEnabled() && !f.ui.Label25->isEnabled());
    QVERIFY(!r.in->OutputControlMode());
    QCOMPARE(r.DataOf(5), (std::vector<Bytes>{{0x10, 0x02, 0xFF, 0x00}, {0x10, 0x02, 0x00, 0x00}}));
    QCOMPARE(r.Functions(), (std::vector<int>{5, 5}));
  }

  // Switching the mode off while the cursor is in Edit1 does not send the
  // value typed there.
  void switchingOffDoesNotConfirmTheValue() {
    Rig r;
    r.ReadInstrument(kLunt, 4);
    TForm1& f = r.f();
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    f.ui.ButSwitch->click();
    f.ui.Edit1->setFocus();
    f.ui.Edit1->setText("12");
    f.ui.ButSwitch->click();
    QVERIFY(!f.ui.Edit1->hasFocus());
    QCOMPARE(r.Functions(), (std::vector<int>{5, 5}));
    QVERIFY(r.messages.shown.empty());
  }

  void outputValue_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("code");
    QTest::newRow("12 mA") << "12" << false << 0x1FFF;
    QTest::newRow("4 mA") << "4" << false << 0;
    QTest::newRow("20 mA") << "20" << false << 16383;
    QTest::newRow("3 mA") << "3" << false << -1023;
    QTest::newRow("0 mA") << "0" << false << -4095;
    QTest::newRow("25 mA") << "25" << true << 0;
    QTest::newRow("empty") << "" << true << 0;
  }
  void outputValue() {
    QFETCH(QString, typed);
    QFETCH(bool, refused);
    QFETCH(int, code);
    Rig r;
    r.ReadInstrument(kLunt, 4);
    TForm1& f = r.f();
    f.ui.ButSwitch->click();
    r.line.ClearLog();
    r.pauses.clear();
    f.ui.Edit1->setText(typed);
    f.UstProc1Exit(f.ui.Edit1);

    const auto sent = r.DataOf(6);
    if (refused) {
      QVERIFY(sent.empty());
      QCOMPARE(r.messages.Texts(), std::vector<std::string>{" Ошибка ввода "});
    } else {
      const auto word = static_cast<std::uint16_t>(code);
      QCOMPARE(sent, (std::vector<Bytes>{{0x00, 0x01, std::uint8_t(word >> 8), std::uint8_t(word & 0xFF)}}));
      QCOMPARE(int(*r.in->OutputCode()), code);
      QVERIFY(r.messages.shown.empty());
    }
    // The pause comes after the value (or instead of it) and before the read.
    const std::size_t before = refused ? 0 : 1;
    QVERIFY(std::find(r.pauses.begin(), r.pauses.end(), std::pair{1000, before}) != r.pauses.end());
    const std::vector<int> fns = r.Functions();
    QVERIFY(fns.size() > before);
    QCOMPARE(fns.at(before), 17);
    QCOMPARE(f.EditRef.data(), f.ui.Edit1);
  }
};

QTEST_MAIN(TestCalibration)
#include "test_calibration.moc"
