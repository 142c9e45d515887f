// The window's side of the change journal: the file is opened on the first
// write and kept open; every write's entry is begun before anything is sent.
// When the journal cannot be written the operator is told why and asked
// whether to write without a record (default No).

#include <QSettings>

#include "FileDialogs.h"
#include "Journalling.h"
#include "Obr_pm.h"

namespace {

constexpr const char* kCaption = "Журнал изменений";

// The window's remembered choices: ~/.config/pmservice/pmservice.conf.
QSettings Remembered() { return QSettings(QStringLiteral("pmservice"), QStringLiteral("pmservice")); }
const QString kJournalKey = QStringLiteral("journal/path");

// The operator's choice when the journal cannot take an entry.
bool WriteWithoutRecord(ui::MessageService& messages, const std::string& why) {
  return messages.Show({why + "\n\nЗаписать в прибор без записи в журнал?", kCaption, ui::Icon::Warning,
                        ui::Buttons::YesNo, ui::Answer::No}) == ui::Answer::Yes;
}

}  // namespace

std::string TForm1::RememberedJournalPath() {
  const QString path = Remembered().value(kJournalKey).toString();
  return path.isEmpty() ? pmjournal::DefaultPath() : path.toStdString();
}

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
    return OpenJournal().Begin(entry);
  } catch (const pmjournal::JournalError& e) {
    why = e.what();
  }
  if (WriteWithoutRecord(Messages(), why)) return 0;
  return std::nullopt;
}

void TForm1::JournalFinish(std::int64_t id, const std::vector<std::uint8_t>& after, const pmops::WriteEnd& end) {
  if (id == 0) return;
  try {
    OpenJournal().Finish(id, after, end.outcome, end.step, end.result);
  } catch (const pmjournal::JournalError& e) {
    Messages().Warning(std::string(e.what()) + "\nЗапись в прибор выполнена, журнал её не завершил.");
  }
}

bool TForm1::JournalEvent(const std::string& detail) {
  pmjournal::Entry entry =
      pmops::EntryBefore(Pm, ReadBlock, Link.Port, Serv.DeviceIndex + 1, pmops::operation::kOutputControl);
  entry.outcome = pmjournal::Outcome::Event;
  entry.detail = detail;
  try {
    OpenJournal().Record(entry);
    return true;
  } catch (const pmjournal::JournalError& e) {
    return WriteWithoutRecord(Messages(), e.what());
  }
}

void TForm1::JournalFileClick() {
  const std::string path = AskJournalPath ? AskJournalPath()
                                          : ui::AskFileName(this, ui::FileDialogKind::Save, "Файл журнала изменений");
  if (path.empty()) return;
  const std::string previous = JournalPath;
  JournalPath = path;
  try {
    OpenJournal();
    Remembered().setValue(kJournalKey, QString::fromStdString(path));
  } catch (const pmjournal::JournalError& e) {
    JournalPath = previous;
    Messages().Warning(std::string(e.what()) + "\nЖурнал ведётся по-прежнему в " + previous);
  }
}
