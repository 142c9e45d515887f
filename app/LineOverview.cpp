#include "LineOverview.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QHideEvent>
#include <QTableWidgetItem>
#include <algorithm>

#include "Addresses.h"
#include "ReadRecorder.h"
#include "RowText.h"

namespace {

QString Qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

LineOverview::LineOverview(pmline::LineOwner& line, TComPortClass& link, ui::MessageService& messages,
                           Actions actions, QWidget* parent)
    : QDialog(parent),
      m_line(line),
      m_link(link),
      m_messages(messages),
      m_actions(std::move(actions)),
      m_frames(*this, [this] { return m_link.Observer(); }) {
  ui.setupUi(this);
  setModal(false);
  ui.TableLine->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_step.setSingleShot(true);
  m_step.setInterval(0);
  m_recorder = std::make_unique<ReadRecorder>(messages, this, pmtrend::PortColumn::Yes);
  m_worker = std::make_unique<pmline::PollWorker>(m_link, m_line, [this](pmline::PollWorker::Result r) {
    QMetaObject::invokeMethod(this, [this, r = std::move(r)]() mutable { Polled(std::move(r)); },
                              Qt::QueuedConnection);
  });
  m_line.SetPollerStop([this](pmline::LineOwner::Why why) { LineStops(why); });

  AskRecordPath = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Запись в файл"), QStringLiteral("obzor.csv"),
                                        QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)"));
  };
  connect(&m_step, &QTimer::timeout, this, &LineOverview::StepTimerTimeout);
  connect(ui.ButFromList, &QPushButton::clicked, this, [this] { Run([this] { ButFromListClick(); }); });
  connect(ui.ButStart, &QPushButton::clicked, this, [this] { Run([this] { ButStartClick(); }); });
  connect(ui.ButRecord, &QPushButton::clicked, this, [this] { Run([this] { ButRecordClick(); }); });
  connect(ui.ButGraph, &QPushButton::clicked, this, [this] { Run([this] { ButGraphClick(); }); });
  connect(ui.ButClose, &QPushButton::clicked, this, &QDialog::close);
  connect(ui.TableLine, &QTableWidget::cellDoubleClicked, this,
          [this](int row, int) { Run([this, row] { TableLineDoubleClick(row); }); });
  connect(m_recorder.get(), &ReadRecorder::StatusChanged, this, [this] { ShowStatus(); });
  connect(m_recorder.get(), &ReadRecorder::Stopped, this, [this] { ui.ButRecord->setChecked(false); });
}

LineOverview::~LineOverview() {
  m_line.SetPollerStop(nullptr);
  m_step.stop();
  m_worker.reset();
}

void LineOverview::Run(const std::function<void()>& handler) {
  if (m_actions.guard) m_actions.guard(handler);
  else handler();
}

void LineOverview::closeEvent(QCloseEvent* event) {
  StopPolling();
  QDialog::closeEvent(event);
}

void LineOverview::hideEvent(QHideEvent* event) {
  // Minimised by the window system: still open, still polling.
  if (!event->spontaneous()) StopPolling();
  QDialog::hideEvent(event);
}

void LineOverview::ButFromListClick() {
  const std::vector<int> found = m_actions.listedAddresses ? m_actions.listedAddresses() : std::vector<int>{};
  if (found.empty()) {
    m_messages.Warning("Список устройств пуст: найдите приборы кнопкой \"Обновить\" в списке устройств "
                       "или введите адреса");
    return;
  }
  ui.EditAddr->setText(Qs(pmline::AddressesText(found)));
}

void LineOverview::ButStartClick() {
  if (m_polling) {
    StopPolling();
    return;
  }
  ui.ButStart->setChecked(false);
  const auto parsed = pmline::ParseAddresses(ui.EditAddr->text().toStdString());
  if (const auto* why = std::get_if<std::string>(&parsed)) {
    m_messages.Error(*why, "Ошибка");
    return;
  }
  if (!m_link.IsOpen()) {
    m_messages.Error("Не выбран COM-порт.", "Ошибка");
    return;
  }
  const auto& addresses = std::get<std::vector<int>>(parsed);
  m_poller = std::make_unique<pmline::LinePoller>(addresses);
  ui.TableLine->setRowCount(static_cast<int>(addresses.size()));
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    for (int col = 0; col < ui.TableLine->columnCount(); ++col)
      ui.TableLine->setItem(static_cast<int>(i), col, new QTableWidgetItem);
    // The address cell chooses the instrument for the trend.
    QTableWidgetItem* address = ui.TableLine->item(static_cast<int>(i), ColAddress);
    address->setFlags(address->flags() | Qt::ItemIsUserCheckable);
    const bool chosen = std::find(m_chosen.begin(), m_chosen.end(), addresses[i]) != m_chosen.end();
    address->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
    ShowRow(i);
  }
  m_polling = true;
  ui.ButStart->setChecked(true);
  ui.ButStart->setText(QStringLiteral("Стоп"));
  ui.EditAddr->setEnabled(false);
  ui.ButFromList->setEnabled(false);
  ShowStatus();
  m_step.start(0);
}

void LineOverview::StopPolling() {
  m_step.stop();
  m_polling = false;
  // The poll under way ends inside its read or pause; its result is dropped.
  m_worker->Stop();
  m_pending.reset();
  ui.ButStart->setChecked(false);
  ui.ButStart->setText(QStringLiteral("Пуск"));
  ui.EditAddr->setEnabled(true);
  ui.ButFromList->setEnabled(true);
  ShowStatus();
}

void LineOverview::LineStops(pmline::LineOwner::Why why) {
  if (m_polling) StopPolling();
  // The rows of the recording belong to the line it started on.
  if (why == pmline::LineOwner::Why::PortChange && m_recorder->Recording()) {
    const std::string text = "Запись в файл " + m_recorder->File().Path() +
                             " остановлена: выбран другой порт\nЗаписано строк: " +
                             std::to_string(m_recorder->File().Lines());
    m_recorder->Stop();
    m_messages.Warning(text);
  }
}

void LineOverview::StepTimerTimeout() {
  if (!m_polling || !m_poller || m_pending) return;
  // A command of the main window owns the line until it ends.
  if (m_line.CommandRunning() || m_line.Held()) {
    m_step.start(kBusyRetryMs);
    return;
  }
  const pmline::Clocks now = Clock();
  const pmline::Turn turn = m_poller->Plan(now.steadyMs, 0, CycleLimit);
  if (!turn.step) {
    // A cycle with nothing due waits for its time; a complete last cycle
    // waits for the limit to be raised.
    const std::int64_t wait = turn.Ends() ? kBusyRetryMs : turn.waitUntilMs - now.steadyMs;
    m_step.start(static_cast<int>(std::clamp<std::int64_t>(wait, 1, 60'000)));
    return;
  }
  pmline::PollWorker::Job job;
  job.serial = ++m_serial;
  job.deviceIndex = m_poller->Instruments()[turn.step->index].address - 1;
  job.attempts = turn.step->attempts;
  job.pm = m_poller->Record(*turn.step);
  m_worker->SetObserver(m_link.Observer() ? &m_frames : nullptr);
  if (!m_worker->Post(std::move(job))) {
    m_poller->Again(*turn.step);
    m_step.start(kBusyRetryMs);
    return;
  }
  m_pending = turn.step;
}

void LineOverview::Polled(pmline::PollWorker::Result result) {
  if (!m_pending || result.job.serial != m_serial) return;  // from before a stop
  const pmline::Step step = *m_pending;
  m_pending.reset();
  using End = pmline::PollWorker::End;
  switch (result.end) {
    case End::Stopped:
      return;
    case End::GaveWay:
      m_poller->Again(step);
      if (m_polling) m_step.start(kBusyRetryMs);
      return;
    case End::LineLost:
      // The adapter was unplugged or the connection dropped: one message,
      // the polling stopped, the program goes on.
      StopPolling();
      m_messages.Error(result.lostText + "\nОпрос линии остановлен.", "Ошибка");
      return;
    case End::Polled:
      break;
  }
  // The port was closed under the poll: nothing of it belongs to the row.
  if (result.read.result == rc::PortClosed) {
    StopPolling();
    return;
  }
  m_poller->Record(step) = result.job.pm;
  const pmtrend::ReadOutcome outcome =
      m_poller->Take(step, result.read, m_link.Port, Clock().wallMs, std::move(result.failureText));
  ShowRow(step.index);
  ShowStatus();
  if (std::find(m_chosen.begin(), m_chosen.end(), outcome.source.address) != m_chosen.end() &&
      m_actions.takeTogether)
    m_actions.takeTogether(outcome);
  m_recorder->Take(outcome);
  if (m_polling) m_step.start(0);
}

void LineOverview::ShowRow(std::size_t index) {
  const pmline::RowText row = pmline::Describe(m_poller->Instruments()[index]);
  const int r = static_cast<int>(index);
  const std::pair<Column, const std::string*> cells[] = {
      {ColAddress, &row.address},     {ColModel, &row.model},         {ColSensor, &row.sensor},
      {ColRange, &row.range},         {ColResult, &row.result},       {ColPercent, &row.percent},
      {ColState, &row.state},         {ColSetpoint2, &row.setpoint2}, {ColSetpoint1, &row.setpoint1},
      {ColAlarm, &row.alarm},         {ColLastGood, &row.lastGood},   {ColFailures, &row.failures}};
  for (const auto& [col, text] : cells)
    if (QTableWidgetItem* item = ui.TableLine->item(r, col)) item->setText(Qs(*text));
  auto colour = [](pmdev::Rgb c) { return QColor(c.r, c.g, c.b); };
  // An old reading is greyed beside the time it was taken.
  const QBrush plain = ui.TableLine->palette().text();
  for (const Column col : {ColResult, ColPercent, ColSetpoint2, ColSetpoint1, ColLastGood})
    ui.TableLine->item(r, col)->setForeground(row.old ? QBrush(colour(pmline::kOldColour)) : plain);
  ui.TableLine->item(r, ColState)->setForeground(colour(row.stateColour));
  ui.TableLine->item(r, ColAlarm)->setForeground(colour(row.alarmColour));
}

void LineOverview::ShowStatus() {
  QString text;
  if (m_poller) {
    text = QStringLiteral("Цикл %1").arg(m_poller->Cycles());
    if (const auto ms = m_poller->LastCycleMs())
      text += QStringLiteral(", время цикла %1 с").arg(QLocale(QLocale::Russian).toString(*ms / 1000.0, 'f', 2));
    if (!m_polling) text += QStringLiteral(" (остановлен)");
  }
  const QString record = m_recorder->StatusText();
  if (!record.isEmpty()) text += (text.isEmpty() ? "" : "    ") + record;
  ui.StStatus->setText(text);
}

void LineOverview::TableLineDoubleClick(int row) {
  const QTableWidgetItem* item = ui.TableLine->item(row, ColAddress);
  if (!item) return;
  const int address = item->text().toInt();
  if (address < 1 || address > 32) return;
  if (m_actions.showInstrument) m_actions.showInstrument(address);
}

void LineOverview::ButRecordClick() {
  if (m_recorder->Recording()) {
    m_recorder->Stop();
  } else {
    const QString path = AskRecordPath ? AskRecordPath() : QString();
    if (!path.isEmpty()) m_recorder->Start(path);
  }
  ui.ButRecord->setChecked(m_recorder->Recording());
  ShowStatus();
}

void LineOverview::ButGraphClick() {
  m_chosen.clear();
  std::vector<pmtrend::Source> sources;
  for (int r = 0; r < ui.TableLine->rowCount(); ++r) {
    const QTableWidgetItem* item = ui.TableLine->item(r, ColAddress);
    if (!item || item->checkState() != Qt::Checked) continue;
    const int address = item->text().toInt();
    m_chosen.push_back(address);
    sources.push_back({m_link.Port, address, 0});
  }
  if (m_chosen.empty()) {
    m_messages.Warning("Отметьте приборы для графика в столбце \"Адрес\"");
    return;
  }
  if (m_actions.showTogether) m_actions.showTogether(sources);
}
