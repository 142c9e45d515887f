// The non-standard range dialog on the offscreen platform, with scripted
// message boxes.

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ModalRunner.h"
#include "RangeInput.h"
#include "ScriptedMessageService.h"
#include "obrAppr.h"

namespace {
const std::string kInputError = " Ошибка ввода ";
const pmdev::RangeRow kPt100Rows[] = {{-50.0f, 50.0f}, {0.0f, 100.0f}, {0.0f, 300.0f}};
}  // namespace

class TestRangeDialog : public QObject {
  Q_OBJECT

 private:
  ui::ScriptedMessageService msg;
  std::unique_ptr<TFormNewRange> dlg;

  void ExpectInputErrors(int count) {
    QCOMPARE(int(msg.shown.size()), count);
    QCOMPARE(msg.beeps, count);
    for (const auto& m : msg.shown) {
      QCOMPARE(m.text, kInputError);
      QCOMPARE(m.caption, std::string("Ошибка"));
      QCOMPARE(m.icon, ui::Icon::Error);
      QCOMPARE(m.buttons, ui::Buttons::Ok);
    }
  }
  // Types a range end and leaves the edit for the other one.
  void Enter(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->setText(text);
    (edit == dlg->EditTN ? dlg->EditTK : dlg->EditTN)->setFocus();
  }
  void Calculated() {
    QVERIFY(msg.shown.empty());
    QCOMPARE(dlg->NeedRecalc, 0);
  }

 private slots:
  void init() {
    msg.Clear();
    dlg = std::make_unique<TFormNewRange>(msg);
    dlg->Calculator().tableDirs = {PM_TEST_TABLES};
    dlg->SetSensorText("Pt100");
    dlg->SetStdRanges(kPt100Rows);
    dlg->show();
    QApplication::setActiveWindow(dlg.get());
    QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
    dlg->EditTN->setFocus();
  }
  void cleanup() { dlg.reset(); }

  void windowAndControls() {
    TFormNewRange fresh(msg);
    QCOMPARE(fresh.windowTitle(), QString("Программирование нестандартного диапазона измерения температур"));
    // The controls keep their places; the deviation plot widens the window
    // downwards only.
    QCOMPARE(fresh.size(), QSize(658, 576));
    QCOMPARE(fresh.GroupBox3->geometry(), QRect(336, 8, 305, 321));
    QCOMPARE(fresh.Button1->geometry(), QRect(96, 264, 137, 41));
    QCOMPARE(fresh.GroupBoxDev->y(), 340);
    QCOMPARE(fresh.GroupBox1->title(), QString("Тип датчика"));
    QCOMPARE(fresh.GroupBox2->title(), QString("Выбор диапазона температур"));
    QCOMPARE(fresh.GroupBox3->title(), QString("Результаты"));
    QCOMPARE(fresh.Label11->text(), QString("  Начало диапазона"));
    QCOMPARE(fresh.Label12->text(), QString("   Конец диапазона"));
    QCOMPARE(fresh.Button1->text(), QString("Расчет"));
    QCOMPARE(fresh.Label13->text(), QString("YKOD"));
    QVERIFY(fresh.StTipD->text().isEmpty());
    QVERIFY(fresh.StTipD->font().bold());
    QCOMPARE(fresh.EditTN->text(), QString("00"));
    QCOMPARE(fresh.EditTK->text(), QString("00"));
    QCOMPARE(fresh.NeedRecalc, 1);
    for (int i = 0; i < 10; ++i) {
      QCOMPARE(fresh.ResultEdits[i]->objectName(), QString("Edit%1").arg(i + 1));
      QCOMPARE(fresh.ResultEdits[i]->text(), QString("00"));
      QVERIFY(!fresh.ResultEdits[i]->isEnabled());
      auto* label = fresh.findChild<QLabel*>(QString("Label%1").arg(i + 1));
      QVERIFY(label);
      QCOMPARE(label->text(), QString("Y%1").arg(i + 1));
    }
    QVERIFY(fresh.StTipD->parentWidget() == fresh.GroupBox1);
    QVERIFY(fresh.EditTN->parentWidget() == fresh.GroupBox2);
    QVERIFY(fresh.Edit10->parentWidget() == fresh.GroupBox3);

    // Shown: hidden result list, Edit10 "8191".
    QVERIFY(dlg->StRez->isHidden());
    QVERIFY(dlg->Label13->isHidden());
    QCOMPARE(dlg->Edit10->text(), QString("8191"));
    QCOMPARE(dlg->Edit1->text(), QString("00"));

    // Tab order: EditTN, EditTK, Edit1..Edit10, Button1.
    QList<QWidget*> chain;
    QWidget* w = dlg->EditTN;
    do {
      if (w->focusPolicy() & Qt::TabFocus) chain << w;
      w = w->nextInFocusChain();
    } while (w != dlg->EditTN);
    QList<QWidget*> expected{dlg->EditTN, dlg->EditTK};
    for (auto* e : dlg->ResultEdits) expected << e;
    expected << dlg->Button1;
    QCOMPARE(chain, expected);
  }

  void keyFilter() {
    dlg->EditTN->clear();
    QTest::keyClicks(dlg->EditTN, "-12");
    QTest::keyClick(dlg->EditTN, Qt::Key_Comma);
    QTest::keyClick(dlg->EditTN, Qt::Key_5);
    QCOMPARE(dlg->EditTN->text(), QString("-12,5"));
    QVERIFY(msg.shown.empty());
    QTest::keyClick(dlg->EditTN, Qt::Key_Backspace);
    QTest::keyClick(dlg->EditTN, Qt::Key_Period, Qt::KeypadModifier);  // the keypad point types a comma
    QCOMPARE(dlg->EditTN->text(), QString("-12,,"));
    QVERIFY(msg.shown.empty());

    // A rejected key: red while the box is up, then white and "00"; the
    // character itself never arrives.
    QColor during;
    msg.onShow = [&](const ui::Message&) { during = dlg->EditTN->palette().color(QPalette::Base); };
    QTest::keyClick(dlg->EditTN, Qt::Key_A);
    QCOMPARE(during, QColor(Qt::red));
    QCOMPARE(dlg->EditTN->palette().color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(dlg->EditTN->text(), QString("00"));
    ExpectInputErrors(1);
    msg.onShow = nullptr;

    QTest::keyClick(dlg->EditTN, Qt::Key_5, Qt::ShiftModifier);  // Shift with a digit
    QCOMPARE(dlg->EditTN->text(), QString("00"));
    QTest::keyClick(dlg->EditTN, Qt::Key_Period);  // the point key
    QTest::keyClick(dlg->EditTN, Qt::Key_Space);
    ExpectInputErrors(4);

    // Enter: with text the focus moves on, in an empty edit it is an error.
    msg.Clear();
    dlg->EditTN->setText("15");
    QTest::keyClick(dlg->EditTN, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg->EditTK));
    QCOMPARE(dlg->RangeStart, 15.0);  // leaving EditTN accepted it
    QVERIFY(msg.shown.empty());
    dlg->EditTK->clear();
    QTest::keyClick(dlg->EditTK, Qt::Key_Enter);
    ExpectInputErrors(1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg->EditTK));
  }

  // Keys as a keyboard delivers them: Tab and Shift+Tab move along the tab
  // order, Enter on the focused "Расчет" calculates, and a Cyrillic
  // layout's Shift+7 ("?" on the 7 key) is a shifted digit, refused.
  void keysOfTheOperator() {
    dlg->EditTN->setText("0");
    QTest::keyClick(dlg->EditTN, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg->EditTK));
    dlg->EditTK->setText("310");
    QTest::keyClick(dlg->EditTK, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg->EditTN));
    QCOMPARE(dlg->RangeEnd, 310.0);
    QVERIFY(msg.shown.empty());
    dlg->Button1->setFocus();
    QTest::keyClick(dlg->Button1, Qt::Key_Return);
    Calculated();
    QKeyEvent shift7(QEvent::KeyPress, Qt::Key_Question, Qt::ShiftModifier, 16, 0, 0, "?");
    QApplication::sendEvent(dlg->EditTN, &shift7);
    ExpectInputErrors(1);
  }

  void textCheckOnLeaving() {
    Enter(dlg->EditTN, "12,5");
    QCOMPARE(dlg->RangeStart, 12.5);
    QVERIFY(msg.shown.empty());

    // Refused texts restore the last accepted value, not "00".
    for (const char* bad : {"1,2,5", "12,", "5-", "--1", "-", "40000", "-32768", "abc", "12.5", ""}) {
      msg.Clear();
      Enter(dlg->EditTN, bad);
      ExpectInputErrors(1);
      QCOMPARE(dlg->EditTN->text(), QString("12,5"));
      QCOMPARE(dlg->RangeStart, 12.5);
      QCOMPARE(dlg->NeedRecalc, 1);
    }
    msg.Clear();
    Enter(dlg->EditTK, "32767");
    QCOMPARE(dlg->RangeEnd, 32767.0);
    Enter(dlg->EditTN, "-32767");
    QCOMPARE(dlg->RangeStart, -32767.0);
    Enter(dlg->EditTK, "40000");
    ExpectInputErrors(1);
    QCOMPARE(dlg->EditTK->text(), QString("32767"));
    QCOMPARE(dlg->RangeEnd, 32767.0);
  }

  void calculationAndClose() {
    QCOMPARE(dlg->CloseResult(), TFormNewRange::kResultNothing);  // nothing calculated yet

    Enter(dlg->EditTN, "0");
    Enter(dlg->EditTK, "310");
    QTest::mouseClick(dlg->Button1, Qt::LeftButton);
    Calculated();
    QCOMPARE(dlg->Edit1->text(), QString("00"));
    QCOMPARE(dlg->Edit10->text(), QString("8191"));
    QStringList shown;
    int previous = 0;
    for (int k = 0; k < 8; ++k) {
      const QString text = dlg->ResultEdits[k + 1]->text();
      bool whole = false;
      const int code = text.toInt(&whole);
      QVERIFY2(whole, qPrintable(text));
      QVERIFY(code > previous && code < 8191);
      QCOMPARE(code, int(std::lround(dlg->NodeCodes[k])));
      previous = code;
      shown << text;
    }
    QCOMPARE(dlg->StRez->text(), shown.join('\n'));
    // The deviation plot: every table degree of the range, the figures beside it.
    QCOMPARE(dlg->PlotDev->Curve().points.size(), size_t(311));
    QVERIFY2(dlg->StDev->text().startsWith("Наибольшее отклонение 0,0") ||
                 dlg->StDev->text().startsWith("Наибольшее отклонение -0,0"),
             qPrintable(dlg->StDev->text()));
    QCOMPARE(dlg->CloseResult(), TFormNewRange::kResultProgram);
    QCOMPARE(dlg->CloseResult(), TFormNewRange::kResultProgram);

    // An edit afterwards, even back to the same text, asks for a new calculation.
    dlg->EditTN->setFocus();
    dlg->EditTN->end(false);
    QTest::keyClick(dlg->EditTN, Qt::Key_1);
    QTest::keyClick(dlg->EditTN, Qt::Key_Backspace);
    QCOMPARE(dlg->EditTN->text(), QString("0"));
    QCOMPARE(dlg->CloseResult(), TFormNewRange::kResultNothing);

    // A failed calculation keeps the shown values and asks for a new one.
    QTest::mouseClick(dlg->Button1, Qt::LeftButton);
    QCOMPARE(dlg->CloseResult(), TFormNewRange::kResultProgram);
    Enter(dlg->EditTK, "300");  // a standard range
    QTest::mouseClick(dlg->Button1, Qt::LeftButton);
    QCOMPARE(msg.Texts(), std::vector<std::string>{"выбран стандарт. диапазон \n расчет не произведен"});
    QCOMPARE(dlg->Edit2->text(), shown[0]);
    QCOMPARE(dlg->StRez->text(), shown.join('\n'));
    QCOMPARE(dlg->PlotDev->Curve().points.size(), size_t(311));
    QCOMPARE(dlg->NeedRecalc, 1);
    QCOMPARE(dlg->CloseResult(), TFormNewRange::kResultNothing);

    // An empty range text means nothing to program.
    msg.Clear();
    Enter(dlg->EditTK, "301");
    QTest::mouseClick(dlg->Button1, Qt::LeftButton);
    Calculated();
    dlg->EditTK->setText("");
    dlg->NeedRecalc = 0;
    QCOMPARE(dlg->CloseResult(), TFormNewRange::kResultNothing);
  }

  // "Расчет" first takes over the edit that has the focus.
  void calculationTakesTheFocusedEdit() {
    Enter(dlg->EditTN, "0");
    Enter(dlg->EditTK, "310");
    dlg->EditTK->setFocus();
    dlg->EditTK->setText("320");
    dlg->Button1Click();
    Calculated();
    QCOMPARE(dlg->RangeEnd, 320.0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg->EditTN));

    ui::ScriptedMessageService other;
    pmrange::RangeCalculator calc(other);
    calc.tableDirs = {PM_TEST_TABLES};
    QCOMPARE(*calc.CalcNonStandardRange("Pt100", 0, 320, kPt100Rows), dlg->NodeCodes);

    // A refused text is restored before the calculation uses it.
    dlg->EditTK->setFocus();
    dlg->EditTK->setText("1,2,3");
    dlg->Button1Click();
    ExpectInputErrors(1);
    QCOMPARE(dlg->EditTK->text(), QString("320"));
    QCOMPARE(dlg->NeedRecalc, 0);  // the calculation ran on 0..320 again

    // Closing does the same: the new text is taken, and it needs a calculation.
    dlg->EditTK->setFocus();
    dlg->EditTK->setText("330");
    QCOMPARE(dlg->CloseResult(), TFormNewRange::kResultNothing);
    QCOMPARE(dlg->RangeEnd, 330.0);
  }

  void closingTheWindow() {
    Enter(dlg->EditTN, "0");
    Enter(dlg->EditTK, "310");
    dlg->Button1Click();
    Calculated();
    dlg->close();
    QCOMPARE(dlg->result(), TFormNewRange::kResultProgram);

    // Through the modal runner the main window uses.
    ui::SetDialogRunner([](QDialog& d) {
      d.show();
      d.close();
      return d.result();
    });
    QCOMPARE(ui::ExecModal(*dlg), TFormNewRange::kResultProgram);
    dlg->EditTN->setText("1");
    QCOMPARE(ui::ExecModal(*dlg), TFormNewRange::kResultNothing);
    ui::SetDialogRunner({});
  }

  void callerFillsTheDialog() {
    dlg->SetRange(-20, 130.5);
    QCOMPARE(dlg->EditTN->text(), QString("-20"));
    QCOMPARE(dlg->EditTK->text(), QString("130,5"));
    QCOMPARE(dlg->RangeEnd, 130.5);
    dlg->SetNodeCodes({512, 1024, 2048, 3072, 4096, 5120, 6144, 7168.4});
    QCOMPARE(dlg->Edit9->text(), QString("7168"));
    QCOMPARE(dlg->NeedRecalc, 1);
    QVERIFY(dlg->PlotDev->Curve().points.empty());
    QVERIFY(dlg->StDev->text().isEmpty());
  }
};

QTEST_MAIN(TestRangeDialog)
#include "test_range_dialog.moc"
