#include "JournalView.h"

#include <QDateTime>
#include <QHeaderView>

#include "CompareDialog.h"
#include "EntryText.h"
#include "FileAccess.h"
#include "FileDialogs.h"
#include "Identification.h"
#include "Journalling.h"
#include "ModalRunner.h"
#include "Obr_pm.h"
#include "Protocol.h"
#include "ProtocolPdf.h"
#include "SettingsFile.h"

namespace {

QString Qs(const std::string& s) { return QString::fromStdString(s); }

// The model filter's items after "все", in list order.
constexpr int kModels[] = {pmdev::kModelKard, pmdev::kModelZetTS, pmdev::kModelZetTP, pmdev::kModelLunt};

const char* const kOperations[] = {
    pmops::operation::kWrite,           pmops::operation::kDeviceNumber,       pmops::operation::kCalibrationStart,
    pmops::operation::kCalibrationEnd,  pmops::operation::kColdJunctionStart,  pmops::operation::kColdJunctionEnd,
    pmops::operation::kCurrentStart,    pmops::operation::kCurrentEnd,         pmops::operation::kNonStandardRange,
    pmops::operation::kLoadSettings,    pmops::operation::kRestoreAll,         pmops::operation::kRevertSettings,
    pmops::operation::kRevertAll,       pmops::operation::kOutputControl};

}  // namespace

JournalView::JournalView(TForm1& form, pmjournal::Journal& journal) : QDialog(&form), m_form(form), m_journal(journal) {
  ui.setupUi(this);
  ui.CBoxJOperation->addItem("все");
  for (const char* op : kOperations) ui.CBoxJOperation->addItem(QString::fromUtf8(op));
  const QDateTime now = QDateTime::currentDateTime();
  ui.DateJSince->setDateTime(now.addDays(-30));
  ui.DateJUntil->setDateTime(now);
  ui.TableJournal->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  const auto wire = [this](QAbstractButton* b, void (JournalView::*handler)()) {
    connect(b, &QAbstractButton::clicked, this, [this, handler] { m_form.Guarded([this, handler] { (this->*handler)(); }); });
  };
  wire(ui.ButJFilter, &JournalView::ButJFilterClick);
  wire(ui.ChBoxJServer, &JournalView::ButJFilterClick);
  wire(ui.ButJOlder, &JournalView::ButJOlderClick);
  wire(ui.ButJNewer, &JournalView::ButJNewerClick);
  wire(ui.ButJOpen, &JournalView::ButJOpenClick);
  wire(ui.ButJRevert, &JournalView::ButJRevertClick);
  wire(ui.ButJSave, &JournalView::ButJSaveClick);
  wire(ui.ButJExport, &JournalView::ButJExportClick);
  wire(ui.ButJProtocol, &JournalView::ButJProtocolClick);
  connect(ui.TableJournal, &QTableWidget::cellDoubleClicked, this,
          [this] { m_form.Guarded([this] { ButJOpenClick(); }); });
  // The instrument shown is the natural first filter.
  if (m_form.Pm.DataRead == 1) {
    ui.EditJPort->setText(Qs(m_form.Link.Port));
    ui.SpinJAddress->setValue(m_form.Serv.DeviceIndex + 1);
  }
  ButJFilterClick();
}

pmjournal::Filter JournalView::FilterOf() const {
  pmjournal::Filter f;
  if (!ui.EditJPort->text().trimmed().isEmpty()) f.port = ui.EditJPort->text().trimmed().toStdString();
  if (ui.SpinJAddress->value() > 0) f.address = ui.SpinJAddress->value();
  if (const int m = ui.CBoxJModel->currentIndex(); m > 0) f.model = kModels[m - 1];
  if (const int o = ui.CBoxJOperation->currentIndex(); o > 0) f.operation = kOperations[o - 1];
  if (ui.ChBoxJSince->isChecked()) f.sinceMs = ui.DateJSince->dateTime().toMSecsSinceEpoch();
  if (ui.ChBoxJUntil->isChecked()) f.untilMs = ui.DateJUntil->dateTime().toMSecsSinceEpoch() + 60'000;
  return f;
}

const pmjournal::History& JournalView::Source() const {
  if (m_server) return *m_server;
  return m_journal;
}

bool JournalView::UseServer() {
  if (!ui.ChBoxJServer->isChecked()) {
    m_server.reset();
    return true;
  }
  if (m_server) return true;
  std::string why;
  if (m_form.JournalServer.empty()) {
    why = "Сервер журнала изменений не задан: «Файл» → «Сервер журнала изменений…».";
  } else {
    auto parsed = pmjournal::ParseServerAddress(m_form.JournalServer);
    if (const auto* refused = std::get_if<std::string>(&parsed)) {
      why = *refused;
    } else {
      try {
        m_server = std::make_unique<pmjournal::TeamServer>(std::get<pmjournal::ServerAddress>(parsed));
        return true;
      } catch (const pmjournal::ServerError& e) {
        why = e.what();
      }
    }
  }
  ui.ChBoxJServer->setChecked(false);
  m_form.Messages().Warning(why);
  return false;
}

void JournalView::ButJFilterClick() {
  m_shown = FilterOf();
  UseServer();
  try {
    m_total = Source().Count(m_shown);
  } catch (const pmjournal::JournalError& e) {
    m_total = 0;
    m_server.reset();  // a connection that failed is made again next time
    m_form.Messages().Warning(e.what());
  }
  ShowPage(0);
}

void JournalView::ButJOlderClick() {
  if (m_shown.offset + kPage < m_total) ShowPage(m_shown.offset + kPage);
}

void JournalView::ButJNewerClick() {
  if (m_shown.offset > 0) ShowPage(m_shown.offset - std::min(m_shown.offset, kPage));
}

void JournalView::ShowPage(std::size_t offset) {
  m_shown.offset = offset;
  m_shown.limit = kPage;
  m_entries.clear();
  try {
    if (m_total > 0) m_entries = Source().Query(m_shown);
  } catch (const pmjournal::JournalError& e) {
    m_entries.clear();
    m_server.reset();
    m_form.Messages().Warning(e.what());
  }
  ui.ButJNewer->setEnabled(offset > 0);
  ui.ButJOlder->setEnabled(offset + m_entries.size() < m_total);
  ui.LabJournalFile->setText((m_server ? "Сервер журнала: " : "Файл журнала: ") + Qs(Source().Where()) +
                             (m_total > m_entries.size()
                                  ? "\nЗаписи " + QString::number(offset + (m_entries.empty() ? 0 : 1)) + "-" +
                                        QString::number(offset + m_entries.size()) + " из " + QString::number(m_total)
                                  : QString()));
  QTableWidget* t = ui.TableJournal;
  t->setRowCount(static_cast<int>(m_entries.size()));
  for (int r = 0; r < t->rowCount(); ++r) {
    const pmjournal::Entry& e = m_entries[static_cast<std::size_t>(r)];
    const std::string cells[] = {std::to_string(e.id), e.at,          e.port,
                                 std::to_string(e.address), e.identification, e.operation,
                                 pmjournal::OutcomeLine(e), e.user};
    for (int c = 0; c < 8; ++c) t->setItem(r, c, new QTableWidgetItem(Qs(cells[c])));
  }
}

const pmjournal::Entry* JournalView::Selected() {
  const int row = ui.TableJournal->currentRow();
  if (row < 0 || row >= static_cast<int>(m_entries.size())) {
    m_form.Messages().Warning("Выберите запись журнала");
    return nullptr;
  }
  return &m_entries[static_cast<std::size_t>(row)];
}

void JournalView::ButJOpenClick() {
  const pmjournal::Entry* e = Selected();
  if (!e) return;
  const std::string read = pmjournal::BeforeReadText(*e);
  const std::string caption = "Запись " + std::to_string(e->id) + ": " + e->operation + ", " +
                              pmjournal::OutcomeLine(*e) + "\n" + e->at + ", " + e->identification + ", порт " +
                              e->port + ", устройство " + std::to_string(e->address) + "\n" + e->user + "@" +
                              e->host + ", " + e->program + (e->detail.empty() ? "" : "\n" + e->detail) +
                              (read.empty() ? "" : "\nЗначения «до»: " + read);
  ShowCompare(this, "Запись журнала изменений", caption, pmjournal::Compare(*e),
              read.empty() ? QString("До") : Qs("До (" + read + ")"), Qs(pmjournal::SecondColumn(*e)));
}

void JournalView::ButJRevertClick() {
  const pmjournal::Entry* e = Selected();
  if (!e) return;
  const char* const caption = "Вернуть прежние настройки";
  const std::string number = std::to_string(e->id);
  bool everything = false;
  if (m_form.Pm.DataRead == 1 && (e->model != m_form.Pm.DevType || e->version != m_form.Pm.Version ||
                                  e->identification !=
                                      pmdev::IdentificationText(m_form.Pm.DevType, m_form.Pm.Version).text)) {
    m_form.Messages().Warning("Запись " + number + " сделана для другого прибора (" + e->identification +
                              ").\nВ окно она не возвращается.");
    return;
  }
  if (m_form.Pm.DataRead == 1 && (e->port != m_form.Link.Port || e->address != m_form.Serv.DeviceIndex + 1)) {
    // Maybe another instrument of the same model: its calibration codes
    // must never reach this one.
    if (m_form.Messages().Show({"Запись " + number + " сделана для прибора на порту " + e->port + ", устройство " +
                                    std::to_string(e->address) + ", а в окне - порт " + m_form.Link.Port +
                                    ", устройство " + std::to_string(m_form.Serv.DeviceIndex + 1) +
                                    ".\nВернуть в окно только её настройки (без калибровки и коррекции тока)?\n"
                                    "В прибор они уйдут по F10.",
                                caption, ui::Icon::Question, ui::Buttons::YesNo, ui::Answer::No}) != ui::Answer::Yes)
      return;
  } else {
    const ui::Answer answer = m_form.Messages().Show(
        {"Вернуть в окно прежние настройки прибора (запись " + number + ")?\n"
         "Да - все прежние данные, включая калибровку и коррекцию тока\n(только для этого же прибора);\n"
         "Нет - только настройки.\nАдрес прибора не меняется. В прибор они уйдут по F10.",
         caption, ui::Icon::Question, ui::Buttons::YesNoCancel, ui::Answer::No});
    if (answer == ui::Answer::Cancel) return;
    everything = answer == ui::Answer::Yes;
  }
  const pmjournal::Entry entry = *e;
  if (!m_form.PutIntoImage(pmjournal::BeforeAsSettings(entry),
                           everything ? pmset::Scope::Everything : pmset::Scope::Settings))
    return;
  m_form.PendingOperation = everything ? pmops::operation::kRevertAll : pmops::operation::kRevertSettings;
  m_form.PendingDetail = "запись журнала " + std::to_string(entry.id) + " от " + entry.at;
}

void JournalView::ButJSaveClick() {
  const pmjournal::Entry* e = Selected();
  if (!e) return;
  const pmjournal::Entry entry = *e;
  const std::string path = ui::AskFileName(this, ui::FileDialogKind::Save, "Сохранить прежние настройки в файл");
  if (path.empty()) return;
  const std::string failure = pmset::WriteFileAtomically(path, pmset::Encode(pmjournal::BeforeAsSettings(entry)));
  if (!failure.empty()) m_form.Messages().Warning("Не удалось записать файл\n" + failure + "\nСохранение отменено");
}

void JournalView::ButJExportClick() {
  const std::string path = ui::AskFileName(this, ui::FileDialogKind::Save, "Экспорт журнала в CSV");
  if (path.empty()) return;
  std::string failure;
  try {
    failure = pmjournal::ExportCsv(Source(), FilterOf(), path);
  } catch (const pmjournal::JournalError& e) {
    failure = e.what();
  }
  if (!failure.empty()) m_form.Messages().Warning("Не удалось записать файл\n" + failure + "\nЭкспорт отменён");
}

void JournalView::ButJProtocolClick() {
  // One instrument: the one the filter names, or the selected entry's.
  pmjournal::Filter filter = FilterOf();
  if (!filter.port || !filter.address) {
    const pmjournal::Entry* e = Selected();
    if (!e) return;
    filter.port = e->port;
    filter.address = e->address;
  }
  filter.model.reset();
  filter.operation.reset();
  pmjournal::ProtocolHeader h;
  h.port = *filter.port;
  h.address = *filter.address;
  if (filter.sinceMs || filter.untilMs)
    h.period = (filter.sinceMs ? "с " + ui.DateJSince->dateTime().toString("yyyy-MM-dd HH:mm").toStdString() : "") +
               (filter.sinceMs && filter.untilMs ? " " : "") +
               (filter.untilMs ? "по " + ui.DateJUntil->dateTime().toString("yyyy-MM-dd HH:mm").toStdString() : "");
  h.date = QDate::currentDate().toString("yyyy-MM-dd").toStdString();
  h.engineer = pmjournal::UserFullName();
  h.program = "pmservice " + pmset::ProgramVersion();
  std::vector<pmjournal::Entry> entries;
  try {
    entries = Source().Query(filter);
  } catch (const pmjournal::JournalError& e) {
    m_form.Messages().Warning(e.what());
    return;
  }
  const std::string path = ui::AskFileName(this, ui::FileDialogKind::Save, "Протокол изменений (PDF)");
  if (path.empty()) return;
  const std::string failure = WriteProtocolPdf(path, pmjournal::ProtocolHtml(h, entries), h.program);
  if (!failure.empty()) m_form.Messages().Warning("Не удалось записать файл\n" + failure);
}

void TForm1::JournalClick() {
  pmjournal::Journal* journal = nullptr;
  try {
    journal = &OpenJournal();
  } catch (const pmjournal::JournalError& e) {
    Messages().Warning(e.what());
    return;
  }
  JournalView view(*this, *journal);
  ui::ExecModal(view);
}
