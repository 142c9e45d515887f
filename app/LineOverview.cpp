#include "LineOverview.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QHideEvent>
#include <QTableWidgetItem>
#include <algorithm>

#include "Addresses.h"
#include "Obr_pm.h"
#include "ReadRecorder.h"
#include "RowText.h"
#include "TrendView.h"
#include "obrListDevice.h"

namespace {

QString Qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

LineOverview::LineOverview(TForm1& form, ui::MessageService& messages, QWidget* parent)
    : QDialog(parent), m_form(form), m_messages(messages) {
  ui.setupUi(this);
  setModal(false);
  ui.TableLine->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_step.setSingleShot(true);
  m_step.setInterval(0);
  m_recorder = std::make_unique<ReadRecorder>(messages, this);

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

LineOverview::~LineOverview() { m_step.stop(); }

void LineOverview::Run(const std::function<void()>& handler) { m_form.Guarded(handler); }

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
  std::vector<int> found;
  for (int row = 1; row <= 32; ++row) {
    bool ok = false;
    const int address = m_form.FormDevice().Cell(0, row).toInt(&ok);
    if (ok) found.push_back(address);
  }
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
  if (!m_form.Link.IsOpen()) {
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
  ui.ButStart->setChecked(false);
  ui.ButStart->setText(QStringLiteral("Пуск"));
  ui.EditAddr->setEnabled(true);
  ui.ButFromList->setEnabled(true);
  ShowStatus();
}

void LineOverview::StepTimerTimeout() {
  if (!m_polling || !m_poller) return;
  // A command of the main window owns the line until it ends.
  if (m_form.Busy()) {
    m_step.start(kBusyRetryMs);
    return;
  }
  Run([this] { PollOnce(); });
  if (m_polling) m_step.start(0);
}

void LineOverview::PollOnce() {
  const auto outcome = pmline::PollNext(*m_poller, m_form.Link, Clock);
  if (!outcome) return;
  const auto& all = m_poller->Instruments();
  const auto it = std::find_if(all.begin(), all.end(),
                               [&](const pmline::Instrument& in) { return in.address == outcome->source.address; });
  const std::size_t index = static_cast<std::size_t>(it - all.begin());
  ShowRow(index);
  ShowStatus();
  if (std::find(m_chosen.begin(), m_chosen.end(), outcome->source.address) != m_chosen.end())
    m_form.Trend().TakeTogether(*outcome);
  m_recorder->Take(*outcome);
  // The port went away under the poll: nothing more can be asked.
  if (it->result == rc::PortClosed || !m_form.Link.IsOpen()) StopPolling();
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
  // As the operator's pick in "Устр. №" and F9: the save prompt for edited
  // data may keep the instrument shown, and then nothing is read.
  m_form.ui.CBoxUstr->setCurrentIndex(address - 1);
  m_form.CBoxUstrClick();
  if (m_form.Serv.DeviceIndex == address - 1) m_form.InPortClick();
  else m_form.ui.CBoxUstr->setCurrentIndex(m_form.Serv.DeviceIndex);
  m_form.raise();
  m_form.activateWindow();
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
    sources.push_back({m_form.Link.Port, address, 0});
  }
  if (m_chosen.empty()) {
    m_messages.Warning("Отметьте приборы для графика в столбце \"Адрес\"");
    return;
  }
  m_form.Trend().ShowTogether(sources);
  m_form.GraphClick();
}
