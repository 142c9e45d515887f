// The alarm, sensor and range editors of the main window, after a read of a
// simulated instrument: what each editor stores in the parameter image, what
// the window shows, and how typed values and keys are refused.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "SimWindow.h"
#include "obrAppr.h"

namespace {

constexpr int kKard = 100, kZetTs = 101, kZetTp = 102;
const std::string kInputError = " Ошибка ввода ";

struct Rig : testsupport::SimWindow {
  TForm1& f() { return *form; }

  // One instrument at address 1 whose block has the given image bytes
  // changed (image byte k is block byte k - 1), read into the window.
  void ReadInstrument(int model, int version, const std::vector<std::pair<int, int>>& imageBytes = {}) {
    sim::Instrument& in = Add(1, model, version);
    sim::Bytes block = sim::Instrument::DefaultBlock(model, version, 1);
    for (auto [at, value] : imageBytes) block.at(at - 1) = static_cast<std::uint8_t>(value);
    in.SetBlock(block);
    QVERIFY(OpenPort());
    f().ui.AInPort->trigger();
    QCOMPARE(f().Pm.DataRead, 1);
    messages.Clear();
  }

  void Type(QLineEdit* field, const QString& text) {
    field->setText(text);
    f().UstProc1Exit(field);
  }

  void ShowActive() {
    f().show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
  }
};

// The operator picks an item: the box's pick and change handlers run.
void Pick(QComboBox* box, int index) {
  box->setCurrentIndex(index);
  emit box->activated(index);
}

void Pick(QComboBox* box, const QString& text) {
  const int index = box->findText(text);
  QVERIFY2(index >= 0, qPrintable(text));
  Pick(box, index);
}

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

// A key as a real keyboard delivers it: with scan 0 as QTest types it,
// otherwise with that X11 key code and the character the layout gives.
void PressKey(QLineEdit* edit, int key, bool shift, int scan, const QString& text) {
  const Qt::KeyboardModifiers mods = shift ? Qt::ShiftModifier : Qt::NoModifier;
  if (scan == 0) return QTest::keyClick(edit, Qt::Key(key), mods);
  QKeyEvent press(QEvent::KeyPress, key, mods, quint32(scan), 0, 0, text);
  QApplication::sendEvent(edit, &press);
}

bool OnlyInputError(const ui::ScriptedMessageService& m) {
  return m.shown.size() == 1 && m.shown[0].text == kInputError && m.shown[0].caption.empty() &&
         m.shown[0].icon == ui::Icon::None && m.beeps == 1;
}

}  // namespace

class TestEditors : public QObject {
  Q_OBJECT

 private slots:
  // --- setpoints ------------------------------------------------------------

  void acceptedSetpoint_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("code");
    QTest::newRow("КАРД 50 %") << kKard << QByteArray("UstProc1") << "50" << 8191;
    QTest::newRow("КАРД 100 %") << kKard << QByteArray("UstProc1") << "100" << 16383;
    QTest::newRow("КАРД 0,01 %") << kKard << QByteArray("UstProc2") << "0,01" << 1;
    QTest::newRow("КАРД 33,33 %") << kKard << QByteArray("UstProc2") << "33,33" << 5460;
    // ЗЕТ-ТП on XK(L), range row 3: -50..200 °C.
    QTest::newRow("ЗЕТ-ТП 75 °C") << kZetTp << QByteArray("UstProc1") << "75" << 4095;
    QTest::newRow("ЗЕТ-ТП -10 °C") << kZetTp << QByteArray("UstProc2") << "-10" << 1310;
  }
  void acceptedSetpoint() {
    QFETCH(int, model);
    QFETCH(QByteArray, field);
    QFETCH(QString, typed);
    QFETCH(int, code);
    Rig r;
    r.ReadInstrument(model, 5, {{10, 0}, {11, 3}});
    const bool first = field == "UstProc1";
    QLineEdit* edit = first ? r.f().ui.UstProc1 : r.f().ui.UstProc2;
    r.Type(edit, typed);

    QCOMPARE(first ? r.f().Pm.GetUstKod1() : r.f().Pm.GetUstKod2(), code);
    QCOMPARE((first ? r.f().ui.StUstKod1 : r.f().ui.StUstKod2)->text(), QString::number(code));
    QCOMPARE(edit->text(), typed);  // the typed text stays as written
    QCOMPARE(r.f().EditRef.data(), edit);
    QCOMPARE(r.f().Pm.Changed, 1);
    QVERIFY(r.messages.shown.empty());
  }

  void rejectedSetpointRestoresStoredValue_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    // ЗЕТ-ТС on 100П, range row 30: 0..100 °C; UstKod1 1500 is 18,31 °C.
    QTest::newRow("ЗЕТ-ТС above the scale") << kZetTs << "150" << "18";
    QTest::newRow("ЗЕТ-ТС below the scale") << kZetTs << "-1" << "18";
    QTest::newRow("ЗЕТ-ТС point separator") << kZetTs << "12.5" << "18";
    // КАРД with UstKod1 8191: 49,997 % shown with two decimals.
    QTest::newRow("КАРД above 100 %") << kKard << "100,01" << "50,00";
    QTest::newRow("КАРД two commas") << kKard << "1,2,5" << "50,00";
    QTest::newRow("КАРД empty") << kKard << "" << "50,00";
  }
  void rejectedSetpointRestoresStoredValue() {
    QFETCH(int, model);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    Rig r;
    if (model == kZetTs)
      r.ReadInstrument(model, 5, {{10, 0}, {11, 30}});
    else
      r.ReadInstrument(model, 5, {{6, 0xFF}, {7, 0x1F}});
    const auto image = r.f().Pm.Image;
    const QString code = r.f().ui.StUstKod1->text();

    r.Type(r.f().ui.UstProc1, typed);
    QVERIFY(OnlyInputError(r.messages));
    QCOMPARE(r.f().ui.UstProc1->text(), shown);
    QCOMPARE(r.f().ui.StUstKod1->text(), code);
    QVERIFY(r.f().Pm.Image == image);
  }

  // The second setpoint field restores its own code, with two decimals too.
  void secondSetpointRestoresItsOwnCode() {
    Rig r;
    r.ReadInstrument(kKard, 5, {{8, 0xFF}, {9, 0x1F}});
    r.Type(r.f().ui.UstProc2, "abc");
    QCOMPARE(r.f().ui.UstProc2->text(), QString("50,00"));
    QCOMPARE(r.f().Pm.GetUstKod2(), 8191);
  }

  // --- cold-junction coefficient ---------------------------------------------

  void coldJunctionCoefficient_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("whole number") << "123" << true;
    QTest::newRow("upper bound") << "9999" << true;
    QTest::newRow("fraction") << "12,5" << false;
    QTest::newRow("whole with comma") << "12,0" << false;
    QTest::newRow("above the bound") << "10000" << false;
    QTest::newRow("negative") << "-5" << false;
  }
  void coldJunctionCoefficient() {
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    Rig r;
    r.ReadInstrument(kZetTp, 5);
    const int old = r.f().Pm.GetKTxc();
    r.Type(r.f().ui.KTxc, typed);
    if (accepted) {
      QCOMPARE(r.f().Pm.GetKTxc(), typed.toInt());
      QVERIFY(r.messages.shown.empty());
    } else {
      QVERIFY(OnlyInputError(r.messages));
      QCOMPARE(r.f().Pm.GetKTxc(), old);
      QCOMPARE(r.f().ui.KTxc->text(), QString::number(old));
    }
  }

  void coldJunctionCoefficientWaitsForTheSensorWrite() {
    Rig r;
    r.ReadInstrument(kZetTp, 5);
    const int old = r.f().Pm.GetKTxc();
    Pick(r.f().ui.CBoxTipD, 0);
    r.messages.Clear();
    r.Type(r.f().ui.KTxc, "77");

    QCOMPARE(r.messages.shown.size(), size_t(1));
    QCOMPARE(r.messages.Last().text, std::string("Был изменен тип датчика,\nпроизведите запись в прибор"));
    QCOMPARE(r.messages.Last().caption, std::string("Предупреждение"));
    QCOMPARE(r.messages.Last().icon, ui::Icon::Warning);
    QCOMPARE(r.f().ui.KTxc->text(), QString("77"));
    QCOMPARE(r.f().Pm.GetKTxc(), old);
  }

  // --- sensor and scale ---------------------------------------------------------

  void sensorChange_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("fromTipD");
    QTest::addColumn<int>("fromRange");
    QTest::addColumn<QString>("sensor");
    QTest::addColumn<QStringList>("starts");
    QTest::addColumn<QStringList>("ends");
    QTest::addColumn<bool>("nonStandardEnabled");
    QTest::addColumn<QString>("setpoint");  // UstKod1 1500 on the new scale
    QTest::newRow("XK(L) to BP(A1)") << kZetTp << 5 << 0 << 3 << "BP(A1)" << QStringList{"100", "1000"}
                                     << QStringList{"1800"} << false << "411";
    QTest::newRow("non-standard XK(L) to BP(A1)") << kZetTp << 5 << 0 << 13 << "BP(A1)"
                                                  << QStringList{"100", "1000"} << QStringList{"1800"}
                                                  << false << "411";
    QTest::newRow("BP(A1) to XK(L)") << kZetTp << 5 << 7 << 1 << "XK(L)"
                                     << QStringList{"-120", "-50", "0", "50", "150"} << QStringList{"30"}
                                     << true << "-93";
    QTest::newRow("BP(A1) to XK(L), version 2") << kZetTp << 2 << 7 << 1 << "XK(L)"
                                                << QStringList{"-120", "-50", "0", "50", "150"}
                                                << QStringList{"30"} << false << "-93";
    QTest::newRow("100П to Ni") << kZetTs << 5 << 0 << 30 << "Ni" << QStringList{"-50", "-25", "0", "50"}
                                << QStringList{"0", "50", "100", "150", "180"} << true << "-41";
  }
  void sensorChange() {
    QFETCH(int, model);
    QFETCH(int, version);
    QFETCH(int, fromTipD);
    QFETCH(int, fromRange);
    QFETCH(QString, sensor);
    QFETCH(QStringList, starts);
    QFETCH(QStringList, ends);
    QFETCH(bool, nonStandardEnabled);
    QFETCH(QString, setpoint);
    Rig r;
    r.ReadInstrument(model, version, {{10, fromTipD}, {11, fromRange}});
    TForm1& f = r.f();
    f.FormNewRange().NeedRecalc = 0;
    const int ust1 = f.Pm.GetUstKod1();

    Pick(f.ui.CBoxTipD, sensor);
    QCOMPARE(f.Pm.GetTipD(), f.ui.CBoxTipD->currentIndex());
    QCOMPARE(Items(f.ui.CBoxMin), starts);
    QCOMPARE(Items(f.ui.CBoxMax), ends);
    QCOMPARE(f.ui.CBoxMin->currentText(), starts.front());
    QCOMPARE(f.ui.CBoxMax->currentText(), ends.front());
    QCOMPARE(f.Pm.GetRangeNo(), 0);
    QCOMPARE(f.Pm.TMin, starts.front().toFloat());
    QCOMPARE(f.Pm.TMax, ends.front().toFloat());
    QVERIFY(!f.ui.ChBoxNonStand->isChecked());
    QCOMPARE(f.ui.ChBoxNonStand->isEnabled(), nonStandardEnabled);
    QCOMPARE(f.FormNewRange().NeedRecalc, 1);
    QCOMPARE(f.Pm.GetUstKod1(), ust1);
    QCOMPARE(f.ui.UstProc1->text(), setpoint);
    QCOMPARE(f.Pm.TipDChanged, 1);
    QCOMPARE(f.Pm.Changed, 1);
    QCOMPARE(f.ComboRef.data(), f.ui.CBoxTipD);
    // The trace is taken before the range is reset.
    QCOMPARE(f.ui.Contr->text(), QString("CBoxTipDClick %1").arg(fromRange));
  }

  void repickingTheSameSensorChangesNothing() {
    Rig r;
    r.ReadInstrument(kZetTs, 5, {{10, 2}, {11, 24}});
    TForm1& f = r.f();
    const auto image = f.Pm.Image;
    const QStringList starts = Items(f.ui.CBoxMin), ends = Items(f.ui.CBoxMax);
    const float tmin = f.Pm.TMin, tmax = f.Pm.TMax;

    Pick(f.ui.CBoxTipD, "Pt100");
    QVERIFY(f.Pm.Image == image);
    QCOMPARE(Items(f.ui.CBoxMin), starts);
    QCOMPARE(Items(f.ui.CBoxMax), ends);
    QCOMPARE(f.Pm.TMin, tmin);
    QCOMPARE(f.Pm.TMax, tmax);
  }

  // ЗЕТ-ТС on Pt100 (table T6), starting at range 0..100.
  void scaleStartPicksTheFirstRowOfThatStart_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("range");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("setpoint");  // UstKod1 1500 on the new scale
    QTest::newRow("-50 has ten ends") << "-50" << 15 << "0" << "-41";
    QTest::newRow("-200 has ten ends") << "-200" << 0 << "-150" << "-191";
    QTest::newRow("200 has two ends") << "200" << 40 << "300" << "218";
    QTest::newRow("-90 has one end") << "-90" << 13 << "50" << "-64";
  }
  void scaleStartPicksTheFirstRowOfThatStart() {
    QFETCH(QString, start);
    QFETCH(int, range);
    QFETCH(QString, end);
    QFETCH(QString, setpoint);
    Rig r;
    r.ReadInstrument(kZetTs, 5, {{10, 2}, {11, 30}});
    TForm1& f = r.f();
    Pick(f.ui.CBoxMin, start);
    QCOMPARE(f.ui.CBoxMax->currentText(), end);
    QCOMPARE(f.Pm.GetRangeNo(), range);
    QCOMPARE(f.Pm.TMin, start.toFloat());
    QCOMPARE(f.Pm.TMax, end.toFloat());
    QCOMPARE(f.ui.UstProc1->text(), setpoint);
    QCOMPARE(f.ui.Contr->text(), QString("CBoxMinClick %1").arg(range));
    QCOMPARE(f.Pm.Changed, 1);
  }

  void scaleEndFindsItsRow() {
    Rig r;
    r.ReadInstrument(kZetTs, 5, {{10, 2}, {11, 30}});  // 0..100
    TForm1& f = r.f();
    for (auto [end, range] : {std::pair{"650", 36}, {"50", 29}, {"250", 46}}) {
      Pick(f.ui.CBoxMax, QString(end));
      QCOMPARE(f.Pm.GetRangeNo(), range);
      QCOMPARE(f.Pm.TMax, QString(end).toFloat());
      QCOMPARE(f.Pm.TMin, 0.0f);
      QCOMPARE(f.ui.Contr->text(), QString("CBoxMaxClick %1").arg(range));
    }
  }

  // --- alarm settings, connection scheme, device number -----------------------

  void alarmAndConnectionPicks() {
    Rig r;
    r.ReadInstrument(kZetTs, 5);
    TForm1& f = r.f();
    const std::vector<std::tuple<QComboBox*, int, std::function<int()>, int>> cases = {
        {f.ui.CBoxTipSign, 2, [&] { return f.Pm.GetTipSign(); }, 2},
        {f.ui.CBoxTipSign, 1, [&] { return f.Pm.GetTipSign(); }, 1},
        {f.ui.CBoxTipK, 1, [&] { return f.Pm.GetTipK(); }, 1},
        {f.ui.CBoxBreak, 1, [&] { return f.Pm.GetBreak(); }, 1},
        {f.ui.CBoxBreak, 0, [&] { return f.Pm.GetBreak(); }, 0},
        {f.ui.CBoxConnect, 1, [&] { return f.Pm.GetConnect(); }, 2},
    };
    for (const auto& [box, index, field, expected] : cases) {
      f.Pm.Changed = 0;
      f.BtnPuskTimerClick();  // polling on: the pick stops it
      QVERIFY(f.TimerRunning());
      const int others = f.Pm.Image[5] & ~0x0F;
      Pick(box, index);
      QCOMPARE(field(), expected);
      QCOMPARE(f.Pm.Image[5] & ~0x0F, others);
      QCOMPARE(f.ComboRef.data(), box);
      QVERIFY(!f.TimerRunning());
      QCOMPARE(f.ReportErrors, 1);
      QCOMPARE(f.Pm.Changed, 1);
    }
  }

  void newDeviceNumber() {
    Rig r;
    r.ReadInstrument(kZetTs, 5);
    TForm1& f = r.f();
    Pick(f.ui.CBoxUstrZ, 4);
    QCOMPARE(f.Serv.NewDeviceIndex, 4);
    QCOMPARE(f.Serv.DeviceIndex, 0);
    QCOMPARE(f.Pm.GetNu(), 4);
    QCOMPARE(f.ui.Contr->text(), QString("PutNu 2"));
    QCOMPARE(f.Pm.Changed, 1);
    QCOMPARE(f.ComboRef.data(), f.ui.CBoxUstrZ);
  }

  // --- keys ---------------------------------------------------------------------

  void rejectedKeyNeverReachesTheField_data() {
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<int>("scan");
    QTest::addColumn<QString>("typed");
    QTest::newRow("letter") << QByteArray("UstProc1") << int(Qt::Key_A) << false << 0 << "";
    QTest::newRow("shifted digit") << QByteArray("UstProc2") << int(Qt::Key_1) << true << 0 << "";
    QTest::newRow("shifted comma") << QByteArray("UstProc1") << int(Qt::Key_Comma) << true << 0 << "";
    QTest::newRow("point") << QByteArray("UstProc1") << int(Qt::Key_Period) << false << 0 << "";
    QTest::newRow("comma in the coefficient") << QByteArray("KTxc") << int(Qt::Key_Comma) << false << 0 << "";
    QTest::newRow("minus in the coefficient") << QByteArray("KTxc") << int(Qt::Key_Minus) << false << 0 << "";
    QTest::newRow("Latin Shift+7") << QByteArray("UstProc1") << int(Qt::Key_Ampersand) << true << 16 << "&";
    QTest::newRow("Cyrillic Shift+7") << QByteArray("UstProc2") << int(Qt::Key_Question) << true << 16 << "?";
  }
  void rejectedKeyNeverReachesTheField() {
    QFETCH(QByteArray, field);
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(int, scan);
    QFETCH(QString, typed);
    Rig r;
    r.ReadInstrument(kZetTp, 5);
    r.ShowActive();
    auto* edit = r.f().findChild<QLineEdit*>(QString::fromLatin1(field));
    edit->setFocus();
    edit->setText("12");
    QColor whileShown;
    r.messages.onShow = [&](const ui::Message&) { whileShown = edit->palette().color(QPalette::Base); };

    PressKey(edit, key, shift, scan, typed);
    QVERIFY(OnlyInputError(r.messages));
    QCOMPARE(whileShown, QColor(Qt::red));
    QCOMPARE(edit->palette().color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(edit->text(), QString());
  }

  void acceptedKeysReachTheField_data() {
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("scan");
    QTest::addColumn<QString>("typed");
    QTest::newRow("digit") << QByteArray("UstProc1") << int(Qt::Key_5) << false << "125" << 0 << "";
    QTest::newRow("comma") << QByteArray("UstProc2") << int(Qt::Key_Comma) << false << "12," << 0 << "";
    QTest::newRow("minus") << QByteArray("UstProc1") << int(Qt::Key_Minus) << false << "12-" << 0 << "";
    QTest::newRow("shifted digit in the coefficient") << QByteArray("KTxc") << int(Qt::Key_7) << true << "127" << 0 << "";
    // The integer filter takes the digit key whatever it types; leaving the
    // field refuses the text.
    QTest::newRow("Latin Shift+5 in the coefficient") << QByteArray("KTxc") << int(Qt::Key_Percent) << true << "12%" << 14 << "%";
    QTest::newRow("Cyrillic Shift+7 in the coefficient") << QByteArray("KTxc") << int(Qt::Key_Question) << true << "12?" << 16 << "?";
  }
  void acceptedKeysReachTheField() {
    QFETCH(QByteArray, field);
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(QString, text);
    QFETCH(int, scan);
    QFETCH(QString, typed);
    Rig r;
    r.ReadInstrument(kZetTp, 5);
    r.ShowActive();
    auto* edit = r.f().findChild<QLineEdit*>(QString::fromLatin1(field));
    edit->setFocus();
    edit->setText("12");
    PressKey(edit, key, shift, scan, typed);
    QCOMPARE(edit->text(), text);
    QVERIFY(r.messages.shown.empty());
  }

  void enterMovesOnFromASetpoint() {
    Rig r;
    r.ReadInstrument(kKard, 5);
    r.ShowActive();
    TForm1& f = r.f();
    f.BtnPuskTimerClick();
    f.ui.UstProc1->setFocus();
    f.ui.UstProc1->setText("50");
    QTest::keyClick(f.ui.UstProc1, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.ui.UstProc2));
    QCOMPARE(f.ui.StUstKod1->text(), QString("8191"));  // the exit check ran
    QVERIFY(!f.TimerRunning());                          // a key stops polling

    // Enter in an empty field is refused and the focus stays.
    f.ui.UstProc2->clear();
    QTest::keyClick(f.ui.UstProc2, Qt::Key_Return);
    QVERIFY(OnlyInputError(r.messages));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.ui.UstProc2));
  }

  void enterMovesBackFromTheCoefficient() {
    Rig r;
    r.ReadInstrument(kZetTp, 5);
    r.ShowActive();
    TForm1& f = r.f();
    f.ui.KTxc->setFocus();
    f.ui.KTxc->setText("321");
    QTest::keyClick(f.ui.KTxc, Qt::Key_Enter);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.ui.KalibrEndSk));
    QCOMPARE(f.Pm.GetKTxc(), 321);
    QVERIFY(r.messages.shown.empty());
  }
};

QTEST_MAIN(TestEditors)
#include "test_editors.moc"
