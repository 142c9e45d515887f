// The write of the parameter block to the selected instrument (F10, the save
// prompts, calibration and output-current correction) and the three save
// prompts for changed data.
//
// Safeguards:
//  - The write refuses while no successful read has filled the block
//    (DataRead is cleared by every read that does not complete, and the
//    record's BlockLoaded is checked as well), so an instrument is never
//    given a cleared block.
//  - The port command's save prompt answered Yes writes through the old
//    port, reopened with its old settings when the port dialog had found it
//    open, before the new settings are applied.

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QAbstractButton>
#include <cstdint>
#include <string>

#include "Obr_pm.h"
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
  if (Pm.DataRead == 0 || !Pm.BlockLoaded) {
    Messages().Warning("Нет данных о приборе,\nпроизведите ввод информации с СОМ порта");
    return;
  }

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

  std::uint8_t data[40] = {};
  std::uint8_t reply[100] = {};

  [&] {
    // 5. Identification.
    int result = Link.Request(Serv.DeviceIndex, 17, 0, data, reply, sizeof reply);
    if (result != rc::Ok) {
      if (TimerRunning()) BtnPuskTimerClick();
      if (ReportErrors == 1) Link.ReportError(Serv.DeviceIndex, result);
      return;
    }
    // 6. Model first, then version.
    if (reply[5] != Pm.DevType) {
      Messages().Warning("Не совпадает тип прибора \nпри попытке сохранить базу.\nСохранение отменено");
      return;
    }
    if (reply[3] != Pm.Version) {
      Messages().Warning(
          "Не совпадает версия прибора \nпри попытке сохранить базу.\nСохранение отменено");
      return;
    }
    // 7, 8.
    Link.Delay(50);
    const int length = static_cast<int>(Pm.StoreBlock(data));
    advance();
    // 9. The block, exactly L bytes.
    std::fill(std::begin(reply), std::end(reply), 0);
    result = Link.Request(Serv.DeviceIndex, 69, length, data, reply, sizeof reply);
    if (result != rc::Ok) {
      Link.ReportError(Serv.DeviceIndex, result);
      return;
    }
    // 10. The instrument now answers at its new number.
    Serv.DeviceIndex = Serv.NewDeviceIndex;
    {
      FillScope filling(*this);
      ui.CBoxUstr->setCurrentIndex(Serv.DeviceIndex);
    }
    advance();
    Link.Delay(1000);
    // 11. Confirm.
    std::fill(std::begin(reply), std::end(reply), 0);
    result = Link.Request(Serv.DeviceIndex, 14, 0, data, reply, sizeof reply);
    if (result != rc::Ok) {
      Link.ReportError(Serv.DeviceIndex, result);
      return;
    }
    // 12. Written: show what the instrument now holds.
    Pm.Changed = 0;
    Pm.TipDChanged = 0;
    InPortClick();
    Trace(*this, "OutPortClick");
  }();

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
      // settings, so it is opened again for this write.
      if (!Link.IsOpen() && FormPort().WasOpen() && Link.Configure() != 0) {
        Link.ReportError(Serv.DeviceIndex, rc::CannotOpen);
        return true;
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
                       ui::Icon::Question, ui::Buttons::YesNo, ui::Answer::Yes}) == ui::Answer::Yes)
    OutPortClick();
}
