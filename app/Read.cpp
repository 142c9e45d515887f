// The read of the selected instrument (F9, the polling timer, and the
// commands that change an instrument and show it again).
//
// Everything the read puts into the window is put inside a FillScope, so no
// change or click handler runs for it: a read is not an edit.
//
// The requests and what they bring into the device record are the read
// operation's (ops/Read.h); here the window shows its outcome.

#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "DisplayFormat.h"
#include "Identification.h"
#include "Obr_pm.h"
#include "SettingsFile.h"
#include "Read.h"
#include "RangeLists.h"
#include "Scaling.h"
#include "SensorLists.h"

namespace {

using pmdev::kModelKard;
using pmdev::kModelLunt;
using pmdev::kModelZetTP;
using pmdev::kModelZetTS;

QString Qs(const std::string& s) { return QString::fromStdString(s); }
QColor Qc(pmdev::Rgb c) { return QColor(c.r, c.g, c.b); }

void SetTextColour(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, colour);
  w->setPalette(p);
}

void SetBackground(QWidget* w, const QColor& colour) {
  w->setAutoFillBackground(true);
  QPalette p = w->palette();
  p.setColor(QPalette::Window, colour);
  w->setPalette(p);
}

void SetVisible(std::initializer_list<QWidget*> widgets, bool visible) {
  for (QWidget* w : widgets) w->setVisible(visible);
}

void PutItems(QComboBox* box, const std::vector<std::string>& items) {
  box->clear();
  for (const std::string& item : items) box->addItem(Qs(item));
}

void PutScaleList(QComboBox* box, const pmdev::ScaleList& list) {
  PutItems(box, list.items);
  box->setCurrentIndex(list.selected);
}

// The identification text in Panel1 at its left edge and width in the
// window's coordinates (the full line at 170 with width 300, the short form
// at 272 with width 73). The selector row is laid out by a layout, so the
// panel's column is indented by the distance between where the layout puts
// it and the left edge the text asks for.
void PlacePanel1(TForm1& f, const pmdev::IdentificationLine& line) {
  f.ui.Panel1->setText(Qs(line.text));
  f.ui.Panel1->setFixedWidth(line.width);
  QLayout* column = f.ui.TypeColumn;
  const QMargins m = column->contentsMargins();
  f.ui.centralwidget->layout()->activate();
  const int unindented = f.ui.Panel1->mapTo(&f, QPoint(0, 0)).x() - m.left();
  column->setContentsMargins(std::max(0, line.left - unindented), m.top(), m.right(), m.bottom());
  f.ui.centralwidget->layout()->activate();
}

}  // namespace

void TForm1::InPortClick() {
  const ReadNotice notice(*this);
  FillScope filling(*this);
  // Every read of the window completes or fails here.
  const pmops::ReadOutcome read = pmops::Read(Link, Pm, Serv);
  if (read.Complete()) {
    // The "before" of the next write; what an earlier edit meant to write is gone.
    ReadBlock = pmset::BlockOf(Pm);
    ReadBlockAtMs = pmjournal::NowMs();
    PendingOperation.clear();
    PendingDetail.clear();
  }
  ShowRead(read);
}

// Puts a read's outcome into the window; false when the read did not
// complete (its failure has then been reported).
bool TForm1::ShowRead(const pmops::ReadOutcome& read) {
  using pmops::ReadStop;

  // A failed request of 17, 68, 71 (or a block too long to be one): stop a
  // running timer (which turns ReportErrors back on), then report.
  auto failed = [this, &read] {
    if (TimerRunning()) BtnPuskTimerClick();
    if (read.stop == ReadStop::BlockTooLong)
      Messages().Warning(pmops::BlockTooLongText(Serv.DeviceIndex + 1, read.blockCount));
    else if (ReportErrors == 1)
      Link.ReportError(Serv.DeviceIndex, read.result);
    return false;
  };

  if (read.stop == ReadStop::Identify) return failed();
  // A new model or version: the window is arranged anew from defaults.
  if (read.identityChanged)
    for (QComboBox* box : {ui.CBoxTipD, ui.CBoxMin, ui.CBoxMax, ui.CBoxTipK, ui.CBoxBreak})
      box->setCurrentIndex(0);
  if (read.stop == ReadStop::Block || read.stop == ReadStop::BlockTooLong) return failed();

  // The block is in: the instrument's own number is the one shown.
  if (Pm.GetNu() < 32) {
    ui.CBoxUstr->setCurrentIndex(Serv.DeviceIndex);
    ui.CBoxUstrZ->setCurrentIndex(Serv.NewDeviceIndex);
  }
  Pm.Contr = "InPortClick " + std::to_string(Pm.GetRangeNo());
  ui.Contr->setText(Qs(Pm.Contr));
  if (read.stop == ReadStop::Measure) return failed();

  const int model = read.identity.model;
  const int version = read.identity.version;
  const pmdev::Identity id = read.identity;

  // The model check.
  if (read.stop == ReadStop::Undetermined) {
    Messages().Warning(pmdev::UndeterminedTypeWarning(Serv.DeviceIndex + 1));
    return false;
  }
  if (read.stop == ReadStop::Foreign) {
    Messages().Warning(pmdev::ForeignDeviceWarning(Serv.DeviceIndex + 1));
    return false;
  }
  const bool kard = model == kModelKard, lunt = model == kModelLunt;
  const bool ts = model == kModelZetTS, tp = model == kModelZetTP, zet = ts || tp;

  // 9. The arrangement for model and version.
  if (Pm.LayoutDone == 0) {
    // 9.1
    SetVisible({ui.LabReg, ui.GBoxKanal, ui.GBoxSign, ui.Label7, ui.Label8, ui.Label9, ui.Label10,
                ui.Label11, ui.Label19, ui.Label22, ui.CBoxTipSign, ui.StUstKod1, ui.StUstKod2,
                ui.StNar, ui.UstProc1, ui.UstProc2},
               true);
    SetVisible({ui.LabTipKont, ui.CBoxTipK, ui.Label28, ui.StRt}, false);
    // 9.2
    if (version <= 1) SetVisible({ui.LabBreak, ui.CBoxBreak, ui.LabCurrent, ui.CBoxCurrent}, false);
    if (version < 4) SetVisible({ui.LabCurrentEnd, ui.CBoxCurrentEnd}, false);
    if (version >= 2) {
      SetVisible({ui.LabBreak, ui.CBoxBreak, ui.LabCurrent, ui.CBoxCurrent}, true);
      if (version >= 4) SetVisible({ui.LabCurrentEnd, ui.CBoxCurrentEnd}, true);
    }
    if (version >= 3 && !lunt) SetVisible({ui.LabTipKont, ui.CBoxTipK}, true);
    // 9.3
    if (kard || lunt) {
      SetVisible({ui.GBoxZETTP, ui.Label5, ui.Label21, ui.Label22, ui.CBoxMin, ui.CBoxMax,
                  ui.GBoxNonStand},
                 false);
      ui.Label23->show();
    }
    // 9.4
    if (kard) {
      PlacePanel1(*this, pmdev::IdentificationText(model, version));
      SetVisible({ui.Label4, ui.CBoxTipD}, true);
      PutItems(ui.CBoxTipD, pmdev::SensorList(model, version));
      SetVisible({ui.Label24, ui.ButSwitch, ui.Label25, ui.Edit1, ui.Label26, ui.CBoxConnect},
                 false);
    }
    // 9.5
    if (lunt) {
      PlacePanel1(*this, pmdev::IdentificationText(model, version));
      SetVisible({ui.CBoxTipD, ui.Label4}, false);
      SetVisible({ui.Label24, ui.ButSwitch, ui.Label25, ui.Edit1}, true);
      ui.ButSwitch->setChecked(false);
      ui.Label25->setEnabled(false);
      ui.Edit1->setEnabled(false);
      SetVisible({ui.GBoxSign, ui.Label26, ui.CBoxConnect, ui.Label7, ui.Label8, ui.Label9, ui.Label10,
                  ui.Label11, ui.Label19, ui.Label22, ui.CBoxTipSign, ui.StUstKod1, ui.StUstKod2,
                  ui.StNar, ui.UstProc1, ui.UstProc2},
                 false);
      // The read has switched the output-control mode off; when that
      // failed, the window stays unarranged and the next read repeats it.
      if (read.outputControlResult != rc::Ok && ReportErrors == 1)
        Link.ReportError(Serv.DeviceIndex, read.outputControlResult);
    }
    // 9.6
    if (ts) {
      PlacePanel1(*this, pmdev::IdentificationText(model, version));
      SetVisible({ui.GBoxZETTP, ui.Label23, ui.Label24, ui.ButSwitch, ui.Label25, ui.Edit1}, false);
      SetVisible({ui.Label5, ui.Label21, ui.Label22, ui.CBoxMin, ui.CBoxMax, ui.GBoxNonStand,
                  ui.Label4, ui.CBoxTipD},
                 true);
      // Below version 3 the connection scheme is not offered (feature
      // table), so it is hidden there rather than left as it was.
      SetVisible({ui.Label26, ui.CBoxConnect}, version >= 3);
      if (version <= 5) {
        PutItems(ui.CBoxTipD, pmdev::SensorList(model, version));
        SetVisible({ui.Label28, ui.StRt}, false);
      } else if (version == 6) {
        PutItems(ui.CBoxTipD, pmdev::SensorList(model, version));
        ui.Label28->setText(QStringLiteral("Rt, Ом"));
        SetVisible({ui.Label28, ui.StRt}, true);
      } else {
        // Versions above 6 list no sensors.
        PutItems(ui.CBoxTipD, pmdev::SensorList(model, version));
      }
      ui.CBoxMin->clear();
      ui.CBoxMax->clear();
    }
    // 9.7
    if (tp) {
      PlacePanel1(*this, pmdev::IdentificationText(model, version));
      SetVisible({ui.GBoxZETTP, ui.Label5, ui.Label21, ui.Label22, ui.CBoxMin, ui.CBoxMax,
                  ui.GBoxNonStand, ui.Label4, ui.CBoxTipD},
                 true);
      SetVisible({ui.Label23, ui.Label24, ui.ButSwitch, ui.Label25, ui.Edit1, ui.Label26,
                  ui.CBoxConnect},
                 false);
      PutItems(ui.CBoxTipD, pmdev::SensorList(model, version));
      if (version == 6) {
        ui.Label28->setText(QStringLiteral("Et, mV"));
        SetVisible({ui.Label28, ui.StRt}, true);
      } else {
        SetVisible({ui.Label28, ui.StRt}, false);
      }
      ui.CBoxMin->clear();
      ui.CBoxMax->clear();
    }
    // 9.8
    Pm.LayoutDone = read.outputControlSent && read.outputControlResult != rc::Ok ? 0 : 1;
  }

  // 10. Access mode.
  ui.Label27->setText(Qs(pmdev::AccessModeText(Pm.NonPriv)));
  SetTextColour(ui.Label27, Qc(pmdev::AccessModeColour(Pm.NonPriv)));
  for (const std::string& name : pmdev::PrivilegedControls())
    if (QWidget* w = findChild<QWidget*>(Qs(name))) w->setEnabled(Pm.NonPriv == 0);

  // 11. Break state, output-current corrections, contact type.
  if (version >= 2) {
    ui.CBoxBreak->setCurrentIndex(Pm.GetBreak());
    ui.CBoxCurrent->setCurrentIndex(id.correction);
  }
  if (version >= 4)
    ui.CBoxCurrentEnd->setCurrentIndex(kard || lunt ? Pm.GetCurrentEndKA() : Pm.GetCurrentEndZ());
  if (version >= 3 && !lunt) ui.CBoxTipK->setCurrentIndex(Pm.GetTipK());

  // 12. Sensor, range, alarms, cold junction.
  if (!lunt) {
    ui.CBoxTipD->setCurrentIndex(Pm.GetTipD());
    const auto table = pmdev::RangeTableFor(model, version, Pm.GetTipD());
    ui.ChBoxNonStand->setEnabled(true);
    if (!pmdev::NonStandardEnabled(version, ui.CBoxTipD->currentText().toStdString()))
      ui.ChBoxNonStand->setEnabled(false);
    const pmdev::ScaleSetup scale =
        pmdev::ScaleFromImage(table, Pm.GetRangeNo(), Pm.GetRangeMin(), Pm.GetRangeMax());
    if (scale.standard) {
      ui.ChBoxNonStand->setChecked(false);
      ui.ButNonStand->setEnabled(false);
      SetVisible({ui.CBoxMin, ui.CBoxMax}, !kard);  // КАРД has no range boxes (9.3)
      ui.StMin->clear();
      ui.StMax->clear();
      PutScaleList(ui.CBoxMin, scale.starts);
      PutScaleList(ui.CBoxMax, scale.ends);
    } else {
      ui.StMin->setText(QString::number(Pm.GetRangeMin()));
      ui.StMax->setText(QString::number(Pm.GetRangeMax()));
      ui.ChBoxNonStand->setChecked(true);
      ui.ButNonStand->setEnabled(true);
      SetVisible({ui.CBoxMin, ui.CBoxMax}, false);
    }
    Pm.TMin = scale.tmin;
    Pm.TMax = scale.tmax;
    Pm.SavedRange = scale.savedRange;

    ui.CBoxTipSign->setCurrentIndex(Pm.GetTipSign());
    ui.StUstKod1->setText(QString::number(Pm.GetUstKod1()));
    ui.StUstKod2->setText(QString::number(Pm.GetUstKod2()));

    const pmdev::StatusDisplay alarm = pmdev::AlarmState(Pm.GetStatus());
    ui.StNar->setText(Qs(alarm.digits));
    SetBackground(ui.StNar, Qc(alarm.colour));
    ui.Label19->setText(Qs(alarm.text));
    SetTextColour(ui.Label19, Qc(alarm.colour));

    if (tp) {
      ui.StBegSkTxc->setText(QString::number(Pm.GetBegSkTxc()));
      ui.StEndSkTxc->setText(QString::number(Pm.GetEndSkTxc()));
      ui.KTxc->setText(QString::number(Pm.GetKTxc()));
      ui.StTxc->setText(QString::number(Pm.GetTxc()));
      ui.StKodTxc->setText(QString::number(Pm.GetKodTxc()));
      if (pmdev::ColdJunctionValid(Pm.GetKodTxc(), Pm.GetTxc())) {
        SetBackground(ui.StTxcGrad, QToolTip::palette().color(QPalette::ToolTipBase));
        ui.StTxcGrad->setText(
            Qs(pmdev::Format(pmdev::TxcToDegC(Pm.GetTxc()), pmdev::kFmtColdJunction)));
      } else {
        SetBackground(ui.StTxcGrad, Qc(pmdev::kRed));
        ui.StTxcGrad->clear();
      }
    }
  }

  // 13. Codes and the measurement state.
  ui.StKBegSk->setText(QString::number(Pm.GetKBegSk()));
  ui.StKEndSk->setText(QString::number(Pm.GetKEndSk()));
  ui.StRez->setText(QString::number(Pm.GetRez()));
  ui.StKodACP->setText(QString::number(Pm.GetKodACP()));
  const pmdev::StatusDisplay meas = pmdev::MeasurementState(Pm.GetStatus());
  ui.StSost->setText(Qs(meas.digits));
  SetBackground(ui.StSost, Qc(meas.colour));
  ui.Label18->setText(Qs(meas.text));
  SetTextColour(ui.Label18, Qc(meas.colour));

  // 14. КАРД and ЛУНТ in mA and %.
  if (kard || lunt) {
    ui.StRezGrMA->setText(Qs(pmdev::Format(pmdev::CodeToMA(Pm.GetRez()), pmdev::kFmtResultMA)));
    ui.StRezProc->setText(
        Qs(pmdev::Format(pmdev::CodeToPercent16383(Pm.GetRez()), pmdev::kFmtResultPercent)));
  }
  if (kard) {
    ui.UstProc1->setText(Qs(pmdev::Format(pmdev::CodeToPercent16383(Pm.GetUstKod1()),
                                          pmdev::kFmtSetpointPercent)));
    ui.UstProc2->setText(Qs(pmdev::Format(pmdev::CodeToPercent16383(Pm.GetUstKod2()),
                                          pmdev::kFmtSetpointPercent)));
  }

  // 15. Sensor resistance / e.m.f. at version 6.
  if (read.sensorValue) {
    ui.StRt->setText(Qs(pmdev::Format(*read.sensorValue, pmdev::kFmtRtEt)));
  } else if (read.sensorSent && ReportErrors == 1) {
    Link.ReportError(Serv.DeviceIndex, read.sensorResult);
  }

  // 16. ЗЕТ models in % and °C.
  if (zet) {
    ui.StRezProc->setText(
        Qs(pmdev::Format(pmdev::CodeToPercent8191(Pm.GetRez()), pmdev::kFmtResultPercent)));
    ui.StRezGrMA->setText(Qs(pmdev::Format(Pm.CodeToDegC(Pm.GetRez()), pmdev::kFmtResultDegC)));
    ui.UstProc1->setText(Qs(pmdev::Format(Pm.CodeToDegC(Pm.GetUstKod1()), pmdev::kFmtSetpointDegC)));
    ui.UstProc2->setText(Qs(pmdev::Format(Pm.CodeToDegC(Pm.GetUstKod2()), pmdev::kFmtSetpointDegC)));
    if (ts && version >= 3) ui.CBoxConnect->setCurrentIndex(Pm.GetConnect() - 1);
  }

  return true;
}
