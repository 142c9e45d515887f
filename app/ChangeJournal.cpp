// The window's side of the change journal: the file is opened on the first
// write and kept open; every write's entry is begun before anything is sent.
// When the journal cannot be written the operator is told why and asked
// whether to write without a record (default No).

#include "FileDialogs.h"
#include "JournalSetting.h"
#include "Journalling.h"
#include "Obr_pm.h"

namespace {

constexpr const char* kCaption = "Журнал изменений";

// The operator's choice when the journal cannot take an entry.
bool WriteWithoutRecord(ui::MessageService& messages, const std::string& why) {
  return messages.Show({why + "\n\nЗаписать в прибор без записи в журнал?", kCaption, ui::Icon::Warning,
                        ui::Buttons::YesNo, ui::Answer::No}) == ui::Answer::Yes;
}

}  // namespace

std::string TForm1::RememberedJournalPath() { return pmjournal::ConfiguredPath(); }

pmjournal::Journal& TForm1::OpenJournal() {
  if (m_journal && m_journal->Path() == JournalPath) return *m_journal;
  m_journal.reset();
  auto opened = pmjournal::Journal::Open(JournalPath);
  m_journal = std::move(opened.journal);
  if (!opened.notice.empty()) Messages().Warning(opened.notice);
  return *m_journal;
}

std::optional<std::int64_t> TForm1::JournalBegin(const pmjournal::Entry& entry) {
  std::string why;
  try {
    const std::int64_t id = OpenJournal().Begin(entry);
    ShowJournalNotice();
    if (m_sync) m_sync->Wake();
    return id;
  } catch (const pmjournal::JournalError& e) {
    why = e.what();
  }
  if (WriteWithoutRecord(Messages(), why)) return 0;
  return std::nullopt;
}

void TForm1::JournalFinish(std::int64_t id, const std::vector<std::uint8_t>& sent,
                           const std::vector<std::uint8_t>& after, const pmops::WriteEnd& end) {
  if (id == 0) return;
  try {
    OpenJournal().Finish(id, sent, after, end.outcome, end.step, end.result);
    ShowJournalNotice();
    if (m_sync) m_sync->Wake();
  } catch (const pmjournal::JournalError& e) {
    Messages().Warning(std::string(e.what()) + "\n" +
                       (sent.empty() ? "В прибор ничего не передано; в журнале запись осталась незавершённой."
                                     : "Запись в прибор выполнена; в журнале она осталась незавершённой."));
  }
}

std::optional<std::int64_t> TForm1::JournalCommand(const std::string& detail) {
  pmjournal::Entry entry = pmops::EntryBefore(Pm, ReadBlock, Link.Port, Serv.DeviceIndex + 1,
                                              pmops::operation::kOutputControl, ReadBlockAtMs);
  entry.detail = detail;
  return JournalBegin(entry);
}

void TForm1::ShowJournalNotice() {
  if (!m_journal) return;
  const std::string notice = m_journal->TakeNotice();
  if (!notice.empty()) Messages().Warning(notice);
}

void TForm1::JournalFileClick() {
  const std::string path = AskJournalPath ? AskJournalPath()
                                          : ui::AskFileName(this, ui::FileDialogKind::Save, "Файл журнала изменений");
  if (path.empty() || path == JournalPath) return;
  const std::string previous = JournalPath;
  // The entries so far come along when the new file is a new journal.
  std::unique_ptr<pmjournal::Journal> old;
  try {
    old = pmjournal::Journal::Open(previous, pmjournal::Journal::Mode::Read).journal;
  } catch (const pmjournal::JournalError&) {
    // Nothing to bring along (never written, or unreadable: it stays as it is).
  }
  JournalPath = path;
  pmjournal::Journal* now = nullptr;
  try {
    now = &OpenJournal();
  } catch (const pmjournal::JournalError& e) {
    JournalPath = previous;
    Messages().Warning(std::string(e.what()) + "\nЖурнал ведётся по-прежнему в " + previous);
    return;
  }
  pmjournal::RememberChosenPath(path);
  StartJournalSync();  // the new file's entries go to the server from now on
  if (!old) return;
  std::string outcome;
  try {
    const std::size_t waiting = old->Count({});
    if (waiting == 0) return;
    if (now->Count({}) != 0) {
      outcome = "Журнал изменений ведётся в " + path + ".\nЗаписи прежнего журнала (записей: " +
                std::to_string(waiting) + ") в него не перенесены: в новом файле уже есть записи. Они остаются в " +
                previous + ".";
    } else {
      const std::size_t moved = now->Append(*old);
      outcome = "Журнал изменений перенесён в " + path + " (записей: " + std::to_string(moved) + ") из " + previous +
                ".\nПрежний файл оставлен как есть.";
    }
  } catch (const pmjournal::JournalError& e) {
    outcome = std::string(e.what()) + "\nЗаписи прежнего журнала не перенесены; они остаются в " + previous + ".";
  }
  Messages().Information(outcome, kCaption);
}
