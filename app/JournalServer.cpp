// The window's side of the team's journal server: its address, chosen in
// "Сервер журнала изменений…" and remembered; a thread that sends the
// journal's entries to it after every write and at intervals, never on the
// write's path; and the status bar's line of what waits and when the server
// last answered.

#include <QDateTime>
#include <QInputDialog>
#include <QLabel>
#include <QStatusBar>

#include "JournalSetting.h"
#include "Obr_pm.h"

namespace {

constexpr const char* kCaption = "Сервер журнала изменений";

QString LastContact(std::int64_t ms) {
  if (ms == 0) return "связи с сервером ещё не было";
  const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
  return "последняя связь: " +
         at.toString(at.date() == QDate::currentDate() ? "HH:mm:ss" : "yyyy-MM-dd HH:mm");
}

}  // namespace

std::string TForm1::RememberedJournalServer() { return pmjournal::ConfiguredServer(); }

void TForm1::StartJournalSync() {
  m_sync.reset();
  if (JournalServer.empty()) {
    if (JournalSyncLabel) JournalSyncLabel->setText({});
    return;
  }
  auto parsed = pmjournal::ParseServerAddress(JournalServer);
  if (!JournalSyncLabel) {
    JournalSyncLabel = new QLabel(this);
    JournalSyncLabel->setObjectName("LabJournalSync");
    statusBar()->addWidget(JournalSyncLabel);
  }
  if (const auto* why = std::get_if<std::string>(&parsed)) {
    JournalSyncLabel->setText("Сервер журнала: адрес не принят");
    JournalSyncLabel->setToolTip(QString::fromStdString(*why));
    return;
  }
  JournalSyncLabel->setText("Сервер журнала: " + LastContact(0));
  // The report comes on the sender's thread; the label is set on the window's.
  m_sync = std::make_unique<pmjournal::SyncLoop>(
      JournalPath, std::get<pmjournal::ServerAddress>(std::move(parsed)), [this](const pmjournal::SyncReport& r) {
        QMetaObject::invokeMethod(this, [this, r] { ShowSyncReport(r); }, Qt::QueuedConnection);
      });
}

void TForm1::ShowSyncReport(const pmjournal::SyncReport& r) {
  if (!JournalSyncLabel) return;
  const QString waiting = r.waiting == 0 ? QString("все записи отправлены")
                                         : "ждут отправки: " + QString::number(r.waiting);
  JournalSyncLabel->setText("Сервер журнала: " + waiting + "; " + LastContact(r.reachedMs));
  JournalSyncLabel->setToolTip(QString::fromStdString(r.error));
}

void TForm1::JournalServerClick() {
  std::optional<std::string> typed;
  if (AskJournalServer) {
    typed = AskJournalServer(JournalServer);
  } else {
    bool ok = false;
    const QString text = QInputDialog::getText(
        this, kCaption,
        "Адрес сервера PostgreSQL, например\npostgresql://инженер@сервер:5432/pmservice?sslmode=verify-full\n"
        "Пароль задаётся в файле ~/.pgpass, не в адресе. Пустой адрес - без сервера.",
        QLineEdit::Normal, QString::fromStdString(JournalServer), &ok);
    if (ok) typed = text.trimmed().toStdString();
  }
  if (!typed || *typed == JournalServer) return;
  if (!typed->empty()) {
    const auto parsed = pmjournal::ParseServerAddress(*typed);
    if (const auto* why = std::get_if<std::string>(&parsed)) {
      Messages().Warning(*why);
      return;
    }
  }
  JournalServer = *typed;
  pmjournal::RememberChosenServer(JournalServer);
  StartJournalSync();
}
