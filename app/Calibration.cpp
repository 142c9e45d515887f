// Calibration of the measuring and cold-junction channels, output-current
// correction and the ЛУНТ output-control mode. Unlike the editors, these
// commands act on the instrument at once.

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <string>

#include "NumericEntry.h"
#include "Journalling.h"
#include "Obr_pm.h"
#include "Scaling.h"
#include "Switches.h"

namespace {

constexpr int kZetTs = 101;
constexpr int kZetTp = 102;

// The pause that lets the instrument's output settle before it is read back.
constexpr int kOutputSettleMs = 1000;

// What distinguishes the four calibration commands.
struct Calibration {
  QAbstractButton* button;
  QLabel* indicator;
  const char* question;
  const char* caption;
  int (TProgPMClass::*measured)() const;  // the ADC code the read brings
  QLabel* source;                         // where the read shows it
  QLabel* target;                         // where the stored code is shown
  void (TProgPMClass::*store)(int);
  const char* operation;  // the journal's name of the step
};

// Reports a failed exchange while failures are being reported (the polling
// timer stopped); true when the exchange succeeded.
bool SentOrReported(TForm1& f, int result) {
  if (result == rc::Ok) return true;
  if (f.ReportErrors == 1) f.Link.ReportError(f.Serv.DeviceIndex, result);
  return false;
}

// Leaves calibration mode; the indicator goes when the instrument confirms.
void CalibrationOff(TForm1& f, QLabel* indicator) {
  if (SentOrReported(f, pmops::SetCalibrationMode(f.Link, f.Serv.DeviceIndex, false))) indicator->hide();
}

// Runs the read and tells whether it completed: only a completed read marks
// its data as read, so the flag is lowered first.
bool ReadCompleted(TForm1& f) {
  f.Pm.DataRead = 0;
  f.InPortClick();
  return f.Pm.DataRead == 1;
}

void Calibrate(TForm1& f, const Calibration& c) {
  f.SetButtonRef(c.button);
  c.indicator->show();
  if (!SentOrReported(f, pmops::SetCalibrationMode(f.Link, f.Serv.DeviceIndex, true))) return;

  const ui::Answer answer =
      f.Messages().Show({c.question, c.caption, ui::Icon::Question, ui::Buttons::YesNo, ui::Answer::No});
  if (answer != ui::Answer::Yes) {
    CalibrationOff(f, c.indicator);
    return;
  }

  // The reference signal's code comes with a fresh read. When that read does
  // not complete, the display still holds an earlier code: nothing is stored
  // or written, and the instrument leaves calibration mode.
  if (!ReadCompleted(f)) {
    f.Messages().Warning("устройство " + std::to_string(f.Serv.DeviceIndex + 1) +
                         " - данные не считаны,\nкалибровка не выполнена");
    CalibrationOff(f, c.indicator);
    return;
  }
  const int code = (f.Pm.*c.measured)();
  c.target->setText(c.source->text());
  (f.Pm.*c.store)(code);
  f.PendingOperation = c.operation;
  f.PendingDetail = "код " + std::to_string(code);
  f.OutPortClick();
  c.indicator->hide();
}

// Stores a picked correction and writes the block at once; a running polling
// timer is paused meanwhile.
template <typename Store>
void CorrectCurrent(TForm1& f, QComboBox* box, const char* operation, Store store) {
  f.SetComboRef(box);
  const bool timerRan = f.TimerRunning();
  if (timerRan) f.BtnPuskTimerClick();
  store(box->currentIndex());
  f.PendingOperation = operation;
  f.PendingDetail = "код " + std::to_string(box->currentIndex());
  f.OutPortClick();
  if (timerRan && !f.TimerRunning()) f.BtnPuskTimerClick();
}

}  // namespace

// ---------------------------------------------------------------------------
// Calibration

void TForm1::Button1Click() {
  Calibrate(*this, {ui.Button1, ui.LabRegKalibr,
                    "Внимание! Сейчас будет произведена калибровка\nначала шкалы измерения \n"
                    "Убедитесь, подан ли на вход сигнал,\nсоответствующий началу шкалы?",
                    "Подтвердите готовность к калибровке шкалы", &TProgPMClass::GetKodACP,
                    ui.StKodACP, ui.StKBegSk, &TProgPMClass::SetKBegSk, pmops::operation::kCalibrationStart});
}

void TForm1::Button2Click() {
  Calibrate(*this, {ui.Button2, ui.LabRegKalibr,
                    "Внимание! Сейчас будет произведена калибровка\nконца шкалы измерения \n"
                    "Убедитесь, подан ли на вход сигнал,\nсоответствующий концу шкалы?",
                    "Подтвердите готовность к калибровке шкалы", &TProgPMClass::GetKodACP,
                    ui.StKodACP, ui.StKEndSk, &TProgPMClass::SetKEndSk, pmops::operation::kCalibrationEnd});
}

void TForm1::KalibrBegSkClick() {
  Calibrate(*this, {ui.KalibrBegSk, ui.LabRegKalibrTXC,
                    "Внимание! Сейчас будет произведена калибровка\nначала шкалы измерения Тхс\n"
                    "Подан ли на вход Тхс сигнал 100 Ом?",
                    "Подтвердите готовность к калибровке шкалы Тхс", &TProgPMClass::GetKodTxc,
                    ui.StKodTxc, ui.StBegSkTxc, &TProgPMClass::SetBegSkTxc, pmops::operation::kColdJunctionStart});
}

void TForm1::KalibrEndSkClick() {
  Calibrate(*this, {ui.KalibrEndSk, ui.LabRegKalibrTXC,
                    "Внимание! Сейчас будет произведена калибровка\nконца шкалы измерения Тхс\n"
                    "Подан ли на вход Тхс сигнал, соответствующий 100°С?",
                    "Подтвердите готовность к калибровке шкалы Тхс", &TProgPMClass::GetKodTxc,
                    ui.StKodTxc, ui.StEndSkTxc, &TProgPMClass::SetEndSkTxc, pmops::operation::kColdJunctionEnd});
}

// ---------------------------------------------------------------------------
// Output-current correction

void TForm1::CBoxCurrentClick() {
  CorrectCurrent(*this, ui.CBoxCurrent, pmops::operation::kCurrentStart, [this](int code) { Pm.SetCurrent(code); });
}

void TForm1::CBoxCurrentEndClick() {
  CorrectCurrent(*this, ui.CBoxCurrentEnd, pmops::operation::kCurrentEnd, [this](int code) {
    if (Pm.DevType == kZetTs || Pm.DevType == kZetTp)
      Pm.SetCurrentEndZ(code);
    else
      Pm.SetCurrentEndKA(code);
  });
}

// ---------------------------------------------------------------------------
// ЛУНТ output control

void TForm1::ButSwitchClick() {
  const bool on = ui.ButSwitch->isChecked();
  const std::optional<std::int64_t> journalled = JournalCommand(on ? "включено" : "выключено");
  if (!journalled) {
    const QSignalBlocker quiet(ui.ButSwitch);
    ui.ButSwitch->setChecked(!on);
    return;
  }
  if (on) ui.Edit1->clear();
  ui.Edit1->setEnabled(on);
  ui.Label25->setEnabled(on);
  const int result = pmops::SetOutputControl(Link, Serv.DeviceIndex, on);
  JournalFinish(*journalled, {}, {}, pmops::EndOfCommand(result));
  SentOrReported(*this, result);
}

void TForm1::Edit1Exit() {
  // A field disabled by switching the mode off is not confirmed.
  if (!ui.Edit1->isEnabled()) return;
  SetEditRef(ui.Edit1);
  if (CheckEntry(ui.Edit1, pmdev::kRangeMilliamp)) {
    const double mA = *pmdev::ParseTypedNumber(ui.Edit1->text().toStdString());
    const std::optional<std::int64_t> journalled = JournalCommand("ток " + ui.Edit1->text().toStdString() + " мА");
    if (!journalled) return;
    const int result = pmops::SendOutputValue(Link, Serv.DeviceIndex, mA);
    JournalFinish(*journalled, {}, {}, pmops::EndOfCommand(result));
    if (result != rc::Ok) {
      Link.ReportError(Serv.DeviceIndex, result);
      return;
    }
  }
  // The window shows the instrument's new output (also after a refused text).
  Link.Delay(kOutputSettleMs);
  InPortClick();
}
