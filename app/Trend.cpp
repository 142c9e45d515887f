// The main window's side of the trend and the recording: the two menu
// commands, the recording's status at the end of the toolbar, and the
// notice every read gives as it ends.

#include <QFileDialog>
#include <QLabel>
#include <QStyle>
#include <QToolBar>
#include <exception>

#include "Obr_pm.h"
#include "ReadRecorder.h"
#include "TrendView.h"

TForm1::ReadNotice::~ReadNotice() {
  TForm1& f = m_form;
  pmtrend::ReadOutcome o;
  o.ok = f.Pm.DataRead == 1;
  o.time = f.ReadClock ? f.ReadClock() : pmtrend::NowMillis();
  o.source = {f.Link.Port, f.Serv.DeviceIndex + 1, f.Pm.DevType};
  if (o.ok) o.reading = pmtrend::ReadingFromImage(f.Pm, f.Link.Port, f.Serv.DeviceIndex + 1, o.time);
  // The listeners report their own failures; nothing may leave a destructor.
  try {
    emit f.ReadFinished(o);
  } catch (const std::exception&) {
  }
}

void TForm1::CreateTrend() {
  ui.AGraph->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
  m_recorder = std::make_unique<ReadRecorder>(m_messages, this);
  m_trendView = std::make_unique<TrendView>(this);
  m_trendView->Guard = [this](const std::function<void()>& handler) { Guarded(handler); };
  m_trendView->ReportError = [this](const std::string& text) { m_messages.Error(text, "Ошибка"); };
  m_trendView->Listen = [this](bool on) {
    disconnect(m_trendConnection);
    if (on)
      m_trendConnection = connect(this, &TForm1::ReadFinished, m_trendView.get(), &TrendView::Take);
  };

  AskRecordPath = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Запись в файл"), QStringLiteral("pokazaniya.csv"),
                                        QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)"));
  };
  connect(this, &TForm1::ReadFinished, m_recorder.get(), &ReadRecorder::Take);

  auto* status = new QLabel(this);
  status->setObjectName(QStringLiteral("StRecord"));
  status->setContentsMargins(8, 0, 8, 0);
  ui.ToolBar1->addWidget(status);
  auto showStatus = [this, status](const QString& text) {
    status->setText(text);
    m_trendView->SetRecordText(text);
    m_trendView->ui.ButRecord->setChecked(m_recorder->Recording());
    ui.ARecord->setChecked(m_recorder->Recording());
  };
  connect(m_recorder.get(), &ReadRecorder::StatusChanged, this, showStatus);

  connect(ui.AGraph, &QAction::triggered, this, [this] { Guarded([this] { GraphClick(); }); });
  connect(ui.ARecord, &QAction::triggered, this, [this] { Guarded([this] { RecordClick(); }); });
  connect(m_trendView->ui.ButRecord, &QPushButton::clicked, this, [this] { Guarded([this] { RecordClick(); }); });
}

void TForm1::GraphClick() {
  m_trendView->show();
  m_trendView->raise();
  m_trendView->activateWindow();
}

void TForm1::RecordClick() {
  if (m_recorder->Recording()) {
    m_recorder->Stop();
    return;
  }
  const QString path = AskRecordPath ? AskRecordPath() : QString();
  if (!path.isEmpty()) m_recorder->Start(path);
  // The check marks follow the recording, also after a cancelled choice.
  const bool on = m_recorder->Recording();
  ui.ARecord->setChecked(on);
  m_trendView->ui.ButRecord->setChecked(on);
}
