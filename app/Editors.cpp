// Alarm, sensor and range editors of the main window, and the change
// tracking of the edited parameter image. None of them talks to the
// instrument: they change the program's copy, which F10 sends.

#include <QComboBox>
#include <QLineEdit>
#include <QPalette>
#include <optional>
#include <span>
#include <string>

#include "DisplayFormat.h"
#include "NumericEntry.h"
#include "Obr_pm.h"
#include "RangeLists.h"
#include "Scaling.h"
#include "SensorLists.h"
#include "obrAppr.h"

namespace {

constexpr int kZetTs = 101;
constexpr int kZetTp = 102;
constexpr int kLunt = 103;

bool IsZet(int devType) { return devType == kZetTs || devType == kZetTp; }

// The range kind a setpoint is checked with.
int SetpointKind(int devType) {
  if (IsZet(devType)) return pmdev::kRangeTMinTMax;
  if (devType == kLunt) return pmdev::kRangeMilliamp;
  return pmdev::kRangePercent;
}

QString Qs(const std::string& s) { return QString::fromStdString(s); }

// The hidden trace field: the record's text and the window's copy of it.
void SetTrace(TForm1& f, const std::string& text) {
  f.Pm.Contr = text;
  f.ui.Contr->setText(Qs(text));
}

void TraceRange(TForm1& f, const char* handler) {
  SetTrace(f, std::string(handler) + " " + std::to_string(f.Pm.GetRangeNo()));
}

// A setpoint code as the setpoint field shows it: percent of the 16383 scale
// for КАРД and ЛУНТ, whole °C of the scale TMin..TMax for the ЗЕТ models.
std::string SetpointText(const TProgPMClass& pm, int code) {
  if (IsZet(pm.DevType)) return pmdev::Format(pm.CodeToDegC(code), pmdev::kFmtSetpointDegC);
  return pmdev::Format(pmdev::CodeToPercent16383(code), pmdev::kFmtSetpointPercent);
}

// Both setpoint fields again from their codes (after the scale changed).
void ShowSetpoints(TForm1& f) {
  f.ui.UstProc1->setText(Qs(SetpointText(f.Pm, f.Pm.GetUstKod1())));
  f.ui.UstProc2->setText(Qs(SetpointText(f.Pm, f.Pm.GetUstKod2())));
}

// Puts a built scale list into its combo box; returns the selected value.
std::optional<float> PutScaleList(QComboBox* box, const pmdev::ScaleList& list) {
  box->clear();
  for (const std::string& item : list.items) box->addItem(Qs(item));
  box->setCurrentIndex(list.selected);
  return list.value;
}

std::optional<float> ComboValue(const QComboBox* box) {
  return pmdev::ParseItemText(box->currentText().toStdString());
}

std::span<const pmdev::RangeRow> SensorTable(const TProgPMClass& pm) {
  return pmdev::RangeTableFor(pm.DevType, pm.Version, pm.GetTipD());
}

// The next (or previous) control in tab order from `from` that can take the
// focus now; nullptr when there is none.
QWidget* TabNeighbour(QWidget* from, bool forward) {
  for (QWidget* w = forward ? from->nextInFocusChain() : from->previousInFocusChain(); w && w != from;
       w = forward ? w->nextInFocusChain() : w->previousInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() &&
        w->window() == from->window())
      return w;
  }
  return nullptr;
}

void MoveFocus(QWidget* from, bool forward) {
  if (QWidget* to = TabNeighbour(from, forward))
    to->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void SetBase(QLineEdit* field, const QColor& colour) {
  QPalette p = field->palette();
  p.setColor(QPalette::Base, colour);
  field->setPalette(p);
}

}  // namespace

// ---------------------------------------------------------------------------
// Validated entry

void TForm1::InputError(QLineEdit* field) {
  SetBase(field, Qt::red);
  m_messages.Beep();
  m_messages.Plain(std::string(pmdev::kInputErrorText));
  SetBase(field, Qt::white);
  field->clear();
}

bool TForm1::CheckEntry(QLineEdit* field, int kind) {
  if (Pm.CheckNumber(field->text().toStdString(), kind) == 0) return true;
  InputError(field);
  return false;
}

// ---------------------------------------------------------------------------
// Alarm settings and connection scheme

void TForm1::CBoxTipSignClick() {
  SetComboRef(ui.CBoxTipSign);
  if (TimerRunning()) BtnPuskTimerClick();
  Pm.SetTipSign(ui.CBoxTipSign->currentIndex());
}

void TForm1::CBoxTipKClick() {
  SetComboRef(ui.CBoxTipK);
  if (TimerRunning()) BtnPuskTimerClick();
  Pm.SetTipK(ui.CBoxTipK->currentIndex());
}

void TForm1::CBoxBreakClick() {
  SetComboRef(ui.CBoxBreak);
  if (TimerRunning()) BtnPuskTimerClick();
  Pm.SetBreak(ui.CBoxBreak->currentIndex());
}

void TForm1::CBoxConnectClick() {
  SetComboRef(ui.CBoxConnect);
  if (TimerRunning()) BtnPuskTimerClick();
  Pm.SetConnect(ui.CBoxConnect->currentIndex() + 1);
}

// ---------------------------------------------------------------------------
// Sensor and scale

void TForm1::CBoxTipDClick() {
  SetComboRef(ui.CBoxTipD);
  if (TimerRunning()) BtnPuskTimerClick();

  const int picked = ui.CBoxTipD->currentIndex();
  if (picked < 0 || picked == Pm.GetTipD()) return;
  Pm.SetTipD(picked);
  TraceRange(*this, "CBoxTipDClick");
  if (!IsZet(Pm.DevType)) return;  // КАРД: the characteristic only

  // Back to a standard range: the first one of the new sensor.
  ui.ChBoxNonStand->setChecked(false);
  const auto table = SensorTable(Pm);
  Pm.SetRangeNo(0);
  if (auto start = PutScaleList(ui.CBoxMin, pmdev::FillStartList(table, 0))) {
    Pm.TMin = *start;
    if (auto end = PutScaleList(ui.CBoxMax, pmdev::FillEndList(table, *start, 0))) Pm.TMax = *end;
  } else {
    ui.CBoxMax->clear();
  }
  // The setpoint codes stay; their fields show what they mean on the new scale.
  ShowSetpoints(*this);

  // A range calculated for the old sensor no longer stands.
  FormNewRange().NeedRecalc = 1;
  ui.ChBoxNonStand->setEnabled(
      pmdev::NonStandardEnabled(Pm.Version, ui.CBoxTipD->currentText().toStdString()));
}

void TForm1::CBoxMinClick() {
  SetComboRef(ui.CBoxMin);
  if (TimerRunning()) BtnPuskTimerClick();
  if (!IsZet(Pm.DevType)) return;

  ui.CBoxMax->clear();
  const auto table = SensorTable(Pm);
  const auto start = ComboValue(ui.CBoxMin);
  if (!start) return;
  // A start with several ends selects the end of its first row.
  const int row = pmdev::FirstRowWithStart(table, *start);
  if (auto end = PutScaleList(ui.CBoxMax, pmdev::FillEndList(table, *start, row))) Pm.TMax = *end;
  const auto end = ComboValue(ui.CBoxMax);
  Pm.SetRangeNo(end ? pmdev::FindRow(table, *start, *end, row) : row);
  TraceRange(*this, "CBoxMinClick");
  Pm.TMin = *start;
  ShowSetpoints(*this);
}

void TForm1::CBoxMaxClick() {
  SetComboRef(ui.CBoxMax);
  if (TimerRunning()) BtnPuskTimerClick();
  if (!IsZet(Pm.DevType)) return;

  const auto table = SensorTable(Pm);
  const auto start = ComboValue(ui.CBoxMin);
  const auto end = ComboValue(ui.CBoxMax);
  if (!start || !end) return;
  Pm.SetRangeNo(pmdev::FindRow(table, *start, *end, 0));
  TraceRange(*this, "CBoxMaxClick");
  Pm.TMax = *end;
  ShowSetpoints(*this);
}

// ---------------------------------------------------------------------------
// Device number and change tracking

void TForm1::CBoxUstrZClick() {
  SetComboRef(ui.CBoxUstrZ);
  Serv.NewDeviceIndex = ui.CBoxUstrZ->currentIndex();
  Pm.SetNu(Serv.NewDeviceIndex);
  ui.Contr->setText(Qs(Pm.Contr));
}

void TForm1::UstKod1Change() { Pm.Changed = 1; }

void TForm1::CBoxTipDChange() {
  Pm.Changed = 1;
  Pm.TipDChanged = 1;
}

// ---------------------------------------------------------------------------
// Typed values

void TForm1::UstProc1Exit(QLineEdit* sender) {
  if (sender == ui.Edit1) {
    Edit1Exit();
    return;
  }
  SetEditRef(sender);

  if (sender == ui.KTxc) {
    if (Pm.TipDChanged == 1) {
      // The coefficient belongs to the sensor the instrument holds.
      m_messages.Warning("Был изменен тип датчика,\nпроизведите запись в прибор");
      return;
    }
    // The coefficient is a whole number: a decimal comma is an input error.
    bool ok = CheckEntry(sender, pmdev::kRangeKTxc);
    if (ok && sender->text().contains(QLatin1Char(','))) {
      InputError(sender);
      ok = false;
    }
    if (!ok) {
      sender->setText(QString::number(Pm.GetKTxc()));
      return;
    }
    Pm.SetKTxc(static_cast<int>(*pmdev::ParseTypedNumber(sender->text().toStdString())));
    MoveFocus(sender, false);
    return;
  }

  const bool first = sender == ui.UstProc1;
  if (!first && sender != ui.UstProc2) return;
  const int stored = first ? Pm.GetUstKod1() : Pm.GetUstKod2();
  if (!CheckEntry(sender, SetpointKind(Pm.DevType))) {
    sender->setText(Qs(SetpointText(Pm, stored)));
    return;
  }
  const double typed = *pmdev::ParseTypedNumber(sender->text().toStdString());
  const int code = IsZet(Pm.DevType) ? pmdev::DegCToCode(typed, Pm.TMin, Pm.TMax)
                                     : pmdev::PercentToCode(typed);
  (first ? ui.StUstKod1 : ui.StUstKod2)->setText(QString::number(code));
  if (first)
    Pm.SetUstKod1(code);
  else
    Pm.SetUstKod2(code);
}

bool TForm1::UstProc1KeyDown(QLineEdit* sender, int key, bool shift) {
  if (TimerRunning()) BtnPuskTimerClick();
  switch (pmdev::DecKeyFilter(sender->text().isEmpty(), key, shift)) {
    case pmdev::kKeyAccepted:
      return false;
    case pmdev::kKeyEnter:
      MoveFocus(sender, true);  // leaving the field runs its exit check
      return true;
    default:
      InputError(sender);
      return true;  // the rejected character never reaches the field
  }
}

bool TForm1::KTxcKeyDown(int key, bool /*shift*/) {
  if (TimerRunning()) BtnPuskTimerClick();
  switch (pmdev::IntKeyFilter(ui.KTxc->text().isEmpty(), key)) {
    case pmdev::kKeyAccepted:
      return false;
    case pmdev::kKeyEnter:
      MoveFocus(ui.KTxc, false);
      return true;
    default:
      InputError(ui.KTxc);
      return true;
  }
}
