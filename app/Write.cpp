// The write of the parameter block to the selected instrument (F10, the save
// prompts, calibration and output-current correction) and the three save
// prompts for changed data.
//
// The requests are the write operation's (ops/Write.h), which sends only a
// block that a completed read filled.
//
// The port command's save prompt answered Yes writes through the old port,
// reopened with its old settings when the port dialog had found it open,
// before the new settings are applied. Nothing edited for the old line
// reaches the new one: the command forgets the instrument, so F10 there
// refuses until a read.

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QAbstractButton>
#include <cstdint>
#include <string>

#include "Journalling.h"
#include "Obr_pm.h"
#include "Write.h"
#include "obrport.h"

namespace {

// The first control of the window in tab order that can take the focus.
QWidget* FirstInTabOrder(QWidget* window) {
  for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() &&
        w->window() == window)
      return w;
  }
  return nullptr;
}

void Trace(TForm1& f, const char* what) {
  f.Pm.Contr = std::string(what) + " " + std::to_string(f.Pm.GetRangeNo());
  f.ui.Contr->setText(QString::fromStdString(f.Pm.Contr));
}

}  // namespace

void TForm1::OutPortClick() {
  // 1. Leave an edit field that holds the focus: its exit check stores a
  // typed value (and makes the field the control reference) first.
  if (QWidget* first = FirstInTabOrder(this)) first->setFocus(Qt::TabFocusReason);

  // 2.
  Trace(*this, "OutPortClick");

  // 3. Only a block that a completed read filled is ever sent.
  if (!pmops::HasBlock(Pm)) {
    Messages().Warning(pmops::kNoDataText);
    return;
  }

  // The block as last read goes on record before anything is sent; without
  // a record only when the operator says so.
  const bool renumber = Serv.NewDeviceIndex != Serv.DeviceIndex;
  pmjournal::Entry entry = pmops::EntryBefore(
      Pm, ReadBlock, Link.Port, Serv.DeviceIndex + 1,
      !PendingOperation.empty() ? PendingOperation
                                : (renumber ? pmops::operation::kDeviceNumber : pmops::operation::kWrite),
      ReadBlockAtMs);
  entry.detail = PendingDetail;
  if (renumber)
    entry.detail += (entry.detail.empty() ? "" : "; ") + std::string("номер устройства ") +
                    std::to_string(Serv.DeviceIndex + 1) + " -> " + std::to_string(Serv.NewDeviceIndex + 1);
  PendingOperation.clear();
  PendingDetail.clear();
  const std::optional<std::int64_t> journalled = JournalBegin(entry);
  if (!journalled) return;

  // 4. The progress bar, repainted at once although the GUI thread is busy.
  QProgressBar* bar = ui.ProgressBar1;
  constexpr int kStep = 25;
  auto advance = [bar] {
    bar->setValue(std::min(bar->value() + kStep, bar->maximum()));
    bar->repaint();
  };
  bar->setMaximum(100);
  bar->setValue(0);
  bar->show();
  advance();

  // 5 - 11. The write; the instrument answers at its new number once the
  // block has gone out.
  const pmops::WriteOutcome written = pmops::Write(Link, Pm, Serv, [&](pmops::WriteStep step) {
    if (step == pmops::WriteStep::BlockSent) {
      FillScope filling(*this);
      ui.CBoxUstr->setCurrentIndex(Serv.DeviceIndex);
    }
    advance();
  });
  switch (written.stop) {
    case pmops::WriteStop::Identify:
      if (TimerRunning()) BtnPuskTimerClick();
      if (ReportErrors == 1) Link.ReportError(Serv.DeviceIndex, written.result);
      break;
    case pmops::WriteStop::OtherModel:
    case pmops::WriteStop::OtherVersion:
      Messages().Warning(pmops::RefusalText(written.stop));
      break;
    case pmops::WriteStop::Block:
    case pmops::WriteStop::Confirm:
      Link.ReportError(Serv.DeviceIndex, written.result);
      break;
    case pmops::WriteStop::Written:
      // 12. Show what the instrument now holds; that read is the entry's "after".
      InPortClick();
      Trace(*this, "OutPortClick");
      break;
    case pmops::WriteStop::NoData:
      break;
  }

  if (written.Written())
    JournalFinish(*journalled, written.sent, Pm.DataRead == 1 ? ReadBlock : std::vector<std::uint8_t>(),
                  Pm.DataRead == 1 ? pmops::WriteEnd{}
                                   : pmops::WriteEnd{pmjournal::Outcome::Done, "обратное чтение не выполнено", 0});
  else
    JournalFinish(*journalled, written.sent, {}, pmops::EndOf(written));

  // 13.
  advance();
  bar->hide();

  // 14. The focus back to the control the operator last used.
  if (EditRef)
    EditRef->setFocus(Qt::OtherFocusReason);
  else if (ButtonRef)
    ButtonRef->setFocus(Qt::OtherFocusReason);
  else if (ComboRef)
    ComboRef->setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------------------
// Save prompts

namespace {

ui::Answer AskSave(ui::MessageService& messages, int deviceIndex) {
  return messages.Show({"устройство " + std::to_string(deviceIndex + 1) +
                            " - база данных была изменена,\nСохранить?",
                        "Предупреждение", ui::Icon::Question, ui::Buttons::YesNoCancel,
                        ui::Answer::No});
}

}  // namespace

bool TForm1::SaveBeforeDeviceChange(int picked) {
  if (Pm.Changed != 1) return true;
  switch (AskSave(Messages(), Serv.DeviceIndex)) {
    case ui::Answer::Cancel: {
      FillScope filling(*this);
      ui.CBoxUstr->setCurrentIndex(ui.CBoxUstrZ->currentIndex());
      return false;
    }
    case ui::Answer::Yes: {
      Pm.Changed = 1;
      OutPortClick();
      FillScope filling(*this);
      ui.CBoxUstr->setCurrentIndex(picked - 1);
      ui.CBoxUstrZ->setCurrentIndex(picked - 1);
      return true;
    }
    default: {
      FillScope filling(*this);
      ui.CBoxUstrZ->setCurrentIndex(picked - 1);
      Pm.Changed = 0;
      return true;
    }
  }
}

bool TForm1::SaveBeforePortChange() {
  if (Pm.Changed != 1) return true;
  switch (AskSave(Messages(), Serv.DeviceIndex)) {
    case ui::Answer::Cancel:
      return false;
    case ui::Answer::Yes:
      Pm.Changed = 1;
      // The port dialog closed the old port; the link still holds its
      // settings, so it is opened again for this write. An old port that
      // will not open (often why the port is being changed) ends neither the
      // program nor the command: the write then fails on the closed port
      // and Changed stays 1.
      if (!Link.IsOpen() && FormPort().WasOpen() && Link.ConfigureQuietly() != 0) {
        const std::string cause = Link.LastOpenFailureCause();
        Messages().Warning(Link.ErrorText(Serv.DeviceIndex, rc::CannotOpen) +
                           (cause.empty() ? "" : "\n" + cause));
      }
      OutPortClick();
      return true;
    default:
      Pm.Changed = 0;
      return true;
  }
}

void TForm1::SaveBeforeClose() {
  if (Pm.Changed != 1) return;
  if (Messages().Show({"Данные были изменены. Передать?", "Подтвердите передачу данных",
                       ui::Icon::Question, ui::Buttons::YesNo, ui::Answer::No}) == ui::Answer::Yes)
    OutPortClick();
}
