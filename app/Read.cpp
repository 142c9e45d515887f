// The read of the selected instrument (F9, the polling timer, and the
// commands that change an instrument and show it again).
//
// Everything the read puts into the window is put inside a FillScope, so no
// change or click handler runs for it: a read is not an edit.
//
// Safeguards:
//  - DataRead is cleared as the read starts and set again only when the read
//    completes, so a write never sends a block that no successful read
//    filled.
//  - A function 68 reply whose byte count exceeds 40 is a failed read: it is
//    reported (and stops the polling timer) like a failed function 68 and
//    never reaches the measurement bytes of the image.

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

// The whole frame of a reply as a span over the local reply buffer.
std::span<const std::uint8_t> Frame(const std::uint8_t (&reply)[100]) { return {reply, sizeof reply}; }

}  // namespace

void TForm1::InPortClick() {
  FillScope filling(*this);
  std::uint8_t data[40] = {};
  std::uint8_t reply[100] = {};

  // A failed request of steps 2, 4, 6: stop a running timer (which turns
  // ReportErrors back on), then report while ReportErrors is 1.
  auto failed = [this](int result) {
    if (TimerRunning()) BtnPuskTimerClick();
    if (ReportErrors == 1) Link.ReportError(Serv.DeviceIndex, result);
  };

  // 1. No block of this instrument is known until the read has completed
  // again. The image itself is cleared only once a new block has arrived, so
  // a read that fails on a silent or unplugged line leaves the edited image
  // (and Changed) as they were.
  Pm.DataRead = 0;

  // 2. Identification.
  int result = Link.Request(Serv.DeviceIndex, pmdev::kFuncIdentify, 0, data, reply, sizeof reply);
  if (result != rc::Ok) return failed(result);

  // 3. Identity against the record.
  const pmdev::Identity id = *pmdev::ParseIdentity(Frame(reply));
  if (id.model != Pm.DevType || id.version != Pm.Version) {
    Pm.LayoutDone = 0;
    for (QComboBox* box : {ui.CBoxTipD, ui.CBoxMin, ui.CBoxMax, ui.CBoxTipK, ui.CBoxBreak})
      box->setCurrentIndex(0);
  }
  Pm.DevType = id.model;
  Pm.Version = id.version;
  const int model = id.model;
  const int version = id.version;

  // 4. The parameter block.
  std::fill(std::begin(reply), std::end(reply), 0);
  result = Link.Request(Serv.DeviceIndex, 68, 0, data, reply, sizeof reply);
  if (result != rc::Ok) return failed(result);

  // 5. Into the image.
  Pm.ClearImage();
  if (reply[2] > TProgPMClass::MaxBlockLen || !Pm.TakeBlockReply(Frame(reply), id.correction)) {
    const int count = reply[2];
    if (TimerRunning()) BtnPuskTimerClick();
    Messages().Warning("устройство " + std::to_string(Serv.DeviceIndex + 1) +
                       " - блок параметров длиной " + std::to_string(count) +
                       " байт, больше 40\nДанные не считаны");
    return;
  }
  if (Pm.GetNu() < 32) {
    Serv.DeviceIndex = Pm.GetNu();
    Serv.NewDeviceIndex = Pm.GetNu();
    ui.CBoxUstr->setCurrentIndex(Serv.DeviceIndex);
    ui.CBoxUstrZ->setCurrentIndex(Serv.NewDeviceIndex);
  }
  Pm.Contr = "InPortClick " + std::to_string(Pm.GetRangeNo());
  ui.Contr->setText(Qs(Pm.Contr));

  // 6, 7. The measurement.
  std::fill(std::begin(reply), std::end(reply), 0);
  data[0] = 0x00;
  data[1] = 0x01;
  result = Link.Request(Serv.DeviceIndex, 71, 2, data, reply, sizeof reply);
  if (result != rc::Ok) return failed(result);
  Pm.TakeMeasReply(Frame(reply));

  // 8. The model check.
  const pmdev::ModelClass cls = pmdev::ClassifyModel(model);
  if (cls == pmdev::ModelClass::Undetermined) {
    Messages().Warning(pmdev::UndeterminedTypeWarning(Serv.DeviceIndex + 1));
    return;
  }
  if (cls == pmdev::ModelClass::Foreign) {
    Messages().Warning(pmdev::ForeignDeviceWarning(Serv.DeviceIndex + 1));
    return;
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
    if (version == 1) SetVisible({ui.LabBreak, ui.CBoxBreak, ui.LabCurrent, ui.CBoxCurrent}, false);
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
      SetVisible({ui.Label26, ui.CBoxConnect, ui.Label7, ui.Label8, ui.Label9, ui.Label10,
                  ui.Label11, ui.Label19, ui.Label22, ui.CBoxTipSign, ui.StUstKod1, ui.StUstKod2,
                  ui.StNar, ui.UstProc1, ui.UstProc2},
                 false);
      // The output-control mode off.
      std::uint8_t off[4] = {0x10, 0x02, 0x00, 0x00};
      std::uint8_t echo[100] = {};
      result = Link.Request(Serv.DeviceIndex, 5, 4, off, echo, sizeof echo);
      if (result != rc::Ok) {
        if (ReportErrors == 1) Link.ReportError(Serv.DeviceIndex, result);
        return;  // unarranged: the next read repeats this step
      }
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
      }
      // Versions above 6: the list stays as it was.
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
    Pm.LayoutDone = 1;
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
  if (zet && version == 6) {
    std::fill(reply, reply + 8, 0);
    std::uint8_t regs[4] = {0x00, 0x00, 0x00, 0x04};
    result = Link.Request(Serv.DeviceIndex, 4, 4, regs, reply, sizeof reply);
    if (result != rc::Ok) {
      if (ReportErrors == 1) Link.ReportError(Serv.DeviceIndex, result);
      return;
    }
    ui.StRt->setText(
        Qs(pmdev::Format(pmdev::BigEndianFloat(std::span<const std::uint8_t>(reply + 7, 4)),
                         pmdev::kFmtRtEt)));
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

  // 17. Complete.
  Pm.DataRead = 1;
  Pm.Changed = 0;
  Pm.TipDChanged = 0;
}
