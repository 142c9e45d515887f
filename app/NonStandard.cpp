// The main window's side of a non-standard range: the check box that moves
// between the standard ranges and a non-standard one, and "Программирование",
// which fills the range dialog, shows it and takes a fresh calculation into
// the program's copy of the parameter image (F10 sends it).

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "DisplayFormat.h"
#include "Identification.h"
#include "ModalRunner.h"
#include "NumericEntry.h"
#include "Journalling.h"
#include "Obr_pm.h"
#include "RangeLists.h"
#include "SensorLists.h"
#include "obrAppr.h"

namespace {

QString Qs(const std::string& s) { return QString::fromStdString(s); }

bool IsZet(int devType) { return devType == pmdev::kModelZetTS || devType == pmdev::kModelZetTP; }

std::span<const pmdev::RangeRow> SensorTable(const TProgPMClass& pm) {
  return pmdev::RangeTableFor(pm.DevType, pm.Version, pm.GetTipD());
}

// The setpoint codes stay; their fields show what they mean on the scale
// TMin..TMax, in whole °C.
void ShowSetpointsDegC(TForm1& f) {
  f.ui.UstProc1->setText(Qs(pmdev::Format(f.Pm.CodeToDegC(f.Pm.GetUstKod1()), pmdev::kFmtSetpointDegC)));
  f.ui.UstProc2->setText(Qs(pmdev::Format(f.Pm.CodeToDegC(f.Pm.GetUstKod2()), pmdev::kFmtSetpointDegC)));
}

void PutScaleList(QComboBox* box, const pmdev::ScaleList& list) {
  box->clear();
  for (const std::string& item : list.items) box->addItem(Qs(item));
  box->setCurrentIndex(list.selected);
}

// What a closed dialog with a fresh calculation holds, as the image stores
// it: whole degrees and whole codes, truncated toward zero.
struct ProgrammedRange {
  int rangeMin = 0;
  int rangeMax = 0;
  std::array<int, TProgPMClass::NodeCount> nodes{};
};

int TruncatedNumber(const QLineEdit* edit) {
  const std::optional<double> v = pmdev::ParseTypedNumber(edit->text().toStdString());
  if (!v || !std::isfinite(*v) || std::fabs(*v) > 32767.0)
    throw std::runtime_error("Нестандартный диапазон не записан: \"" + edit->text().toStdString() +
                             "\" не является числом");
  return static_cast<int>(std::trunc(*v));
}

// Reads all texts before anything is stored, so that a text that is not a
// number leaves the image as it was.
ProgrammedRange TakeFromDialog(const TFormNewRange& dlg) {
  ProgrammedRange r;
  r.rangeMin = TruncatedNumber(dlg.EditTN);
  r.rangeMax = TruncatedNumber(dlg.EditTK);
  for (int m = 0; m < TProgPMClass::NodeCount; ++m) r.nodes[m] = TruncatedNumber(dlg.ResultEdits[m + 1]);
  return r;
}

// The dialog as the instrument's own range fills it, or blank after an
// unwritten sensor change that no calculation has followed yet.
void FillDialog(TFormNewRange& dlg, const TProgPMClass& pm, std::span<const pmdev::RangeRow> table) {
  if (pm.TipDChanged == 1) {
    // With NeedRecalc 0 the dialog still holds the last calculation for the
    // new sensor and is left as it is.
    if (dlg.NeedRecalc == 1) {
      dlg.SetRange(0, 0);
      dlg.SetNodeCodes({});
    }
  } else {
    dlg.SetRange(pm.GetRangeMin(), pm.GetRangeMax());
    std::array<double, TProgPMClass::NodeCount> nodes{};
    for (int m = 0; m < TProgPMClass::NodeCount; ++m) nodes[m] = pm.GetNode(m);
    dlg.SetNodeCodes(nodes);
  }
  dlg.SetStdRanges(table);
}

}  // namespace

void TForm1::ChBoxNonStandClick() {
  Pm.Changed = 1;
  if (TimerRunning()) BtnPuskTimerClick();
  // Only the ЗЕТ models have a scale in °C to change.
  if (!IsZet(Pm.DevType)) return;

  if (ui.ChBoxNonStand->isChecked()) {
    // The range itself changes only when it is programmed.
    ui.ButNonStand->setEnabled(true);
    ui.CBoxMin->hide();
    ui.CBoxMax->hide();
    return;
  }

  // Back to the standard range found at the last read (row 0 when that read
  // found a non-standard one).
  ui.ButNonStand->setEnabled(false);
  ui.CBoxMin->show();
  ui.CBoxMax->show();
  Pm.SetRangeNo(Pm.SavedRange);
  const auto table = SensorTable(Pm);
  const pmdev::ScaleList starts = pmdev::FillStartList(table, Pm.SavedRange);
  PutScaleList(ui.CBoxMin, starts);
  if (starts.value) {
    Pm.TMin = *starts.value;
    const pmdev::ScaleList ends = pmdev::FillEndList(table, *starts.value, Pm.SavedRange);
    PutScaleList(ui.CBoxMax, ends);
    if (ends.value) Pm.TMax = *ends.value;
  } else {
    ui.CBoxMax->clear();
  }
  ui.StMin->clear();
  ui.StMax->clear();
  ShowSetpointsDegC(*this);
}

void TForm1::ButNonStandClick() {
  SetButtonRef(ui.ButNonStand);
  if (TimerRunning()) BtnPuskTimerClick();

  TFormNewRange& dlg = FormNewRange();
  const QString sensor = ui.CBoxTipD->currentText();
  dlg.SetSensorText(sensor);
  if (Pm.Version < 3 || !pmdev::AdmitsNonStandard(sensor.toStdString())) {
    m_messages.Plain("Недопустим нестандартный диапазон");
    ui.ChBoxNonStand->setChecked(false);  // restores the standard range
    return;
  }

  const auto table = SensorTable(Pm);
  FillDialog(dlg, Pm, table);

  if (ui::ExecModal(dlg) == TFormNewRange::kResultNothing) {
    // Nothing to program: the window shows the instrument's own range again.
    ui.StMin->clear();
    ui.StMax->clear();
    InPortClick();
    return;
  }

  const ProgrammedRange r = TakeFromDialog(dlg);
  // A range number equal to the table's row count marks a non-standard range.
  PendingOperation = pmops::operation::kNonStandardRange;
  Pm.SetRangeNo(static_cast<int>(table.size()));
  Pm.SetRangeMin(r.rangeMin);
  Pm.SetRangeMax(r.rangeMax);
  Pm.TMin = static_cast<float>(Pm.GetRangeMin());
  Pm.TMax = static_cast<float>(Pm.GetRangeMax());
  ui.StMin->setText(QString::number(Pm.GetRangeMin()));
  ui.StMax->setText(QString::number(Pm.GetRangeMax()));
  // The setpoint codes stay; the new texts raise Changed through their
  // change handler.
  ShowSetpointsDegC(*this);
  for (int m = 0; m < TProgPMClass::NodeCount; ++m) Pm.SetNode(m, r.nodes[m]);
}
