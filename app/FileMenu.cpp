// The "Файл" menu: the instrument shown saved to a settings file, a file's
// settings (or everything) put into the image as the operator's edits would
// be, and the instrument compared with a file. Nothing here talks to the
// instrument: loaded values go out with F10, behind the usual save prompts.

#include <optional>

#include "Apply.h"
#include "CompareDialog.h"
#include "FileAccess.h"
#include "Fields.h"
#include "FileDialogs.h"
#include "Journalling.h"
#include "Obr_pm.h"
#include "Read.h"
#include "SettingsFile.h"
#include "Write.h"

namespace {

const char* kNoData = pmops::kNoDataText;

// Asks for a file and reads it as a settings file for the instrument shown;
// every refusal is a warning and gives nothing.
std::optional<pmset::Snapshot> OpenFor(TForm1& f, const std::string& caption) {
  const std::string path = ui::AskFileName(&f, ui::FileDialogKind::Open, caption);
  if (path.empty()) return std::nullopt;
  const pmset::FileText text = pmset::ReadSettingsFile(path);
  if (!text.ok) {
    f.Messages().Warning("Не удалось прочитать файл\n" + text.why + pmset::kNothingLoaded);
    return std::nullopt;
  }
  const pmset::Parsed parsed = pmset::Decode(text.text);
  if (!parsed.file) {
    f.Messages().Warning(parsed.refusal);
    return std::nullopt;
  }
  const std::string refusal = pmset::RefusalFor(*parsed.file, f.Pm.DevType, f.Pm.Version, f.Pm.GetLen());
  if (!refusal.empty()) {
    f.Messages().Warning(refusal);
    return std::nullopt;
  }
  return parsed.file;
}

// The file into the image; the window then shows the image, as edited.
void Take(TForm1& f, const pmset::Snapshot& file, pmset::Scope scope) {
  const int tipD = f.Pm.GetTipD();
  const pmset::Applied applied = pmset::Apply(file, f.Pm, scope);
  if (applied.changed) {
    f.Pm.Changed = 1;
    f.PendingOperation = scope == pmset::Scope::Settings ? pmops::operation::kLoadSettings : pmops::operation::kRestoreAll;
    f.PendingDetail = pmops::FileDetail(file);
    if (f.Pm.GetTipD() != tipD) f.Pm.TipDChanged = 1;
  }
  f.ShowImage();
  if (!applied.notApplied.empty()) {
    std::string text = "устройство " + std::to_string(f.Serv.DeviceIndex + 1) +
                       " в непривилегированном режиме,\n" +
                       (scope == pmset::Scope::Settings ? "не загружено:" : "не восстановлено:");
    for (const std::string& label : applied.notApplied) text += "\n" + label;
    f.Messages().Warning(text);
  }
}

// Nothing is loaded into an image no completed read filled; a running
// polling timer would overwrite the edits at its next tick, so it stops.
bool Ready(TForm1& f) {
  if (!pmops::HasBlock(f.Pm)) {
    f.Messages().Warning(kNoData);
    return false;
  }
  if (f.TimerRunning()) f.BtnPuskTimerClick();
  return true;
}

}  // namespace

bool TForm1::PutIntoImage(const pmset::Snapshot& file, pmset::Scope scope) {
  if (!Ready(*this)) return false;
  const std::string refusal = pmset::RefusalFor(file, Pm.DevType, Pm.Version, Pm.GetLen());
  if (!refusal.empty()) {
    Messages().Warning(refusal);
    return false;
  }
  Take(*this, file, scope);
  return true;
}

void TForm1::ShowImage() {
  FillScope filling(*this);
  pmops::ReadOutcome shown;
  shown.stop = pmops::ReadStop::Complete;
  shown.identity = {Pm.Version, Pm.GetCurrent(), Pm.DevType};
  ShowRead(shown);
}

void TForm1::SaveFileClick() {
  if (!pmops::HasBlock(Pm)) {
    Messages().Warning(kNoData);
    return;
  }
  const std::string path = ui::AskFileName(this, ui::FileDialogKind::Save, "Сохранить прибор в файл");
  if (path.empty()) return;
  const std::string failure =
      pmset::WriteFileAtomically(path, pmset::Encode(pmset::TakeSnapshot(Pm, Link.Port, Serv.DeviceIndex + 1)));
  if (!failure.empty()) Messages().Warning("Не удалось записать файл\n" + failure + "\nСохранение отменено");
}

void TForm1::LoadFileClick() {
  if (!Ready(*this)) return;
  if (const auto file = OpenFor(*this, "Загрузить настройки из файла"))
    Take(*this, *file, pmset::Scope::Settings);
}

void TForm1::RestoreFileClick() {
  if (!Ready(*this)) return;
  const auto file = OpenFor(*this, "Восстановить всё из файла");
  if (!file) return;
  if (Messages().Show({"Восстановить из файла все данные прибора,\nвключая калибровку и коррекцию тока?\n"
                       "Это допустимо только для резервной копии этого же прибора.",
                       "Подтверждение", ui::Icon::Question, ui::Buttons::YesNo, ui::Answer::No}) !=
      ui::Answer::Yes)
    return;
  Take(*this, *file, pmset::Scope::Everything);
}

void TForm1::CompareFileClick() {
  if (!pmops::HasBlock(Pm)) {
    Messages().Warning(kNoData);
    return;
  }
  const auto file = OpenFor(*this, "Сравнить с файлом");
  if (!file) return;
  const std::vector<std::uint8_t> block = pmset::BlockOf(Pm);
  const std::vector<pmset::Row> rows =
      pmset::Compare({Pm.DevType, Pm.Version, block, pmset::AccessOf(Pm)}, file->View(), pmset::Part::Whole);

  ShowCompare(this, "Сравнение с файлом", pmops::FileDetail(*file), rows, "Прибор", "Файл");
}
