#include "TrafficView.h"

#include <QFileDialog>
#include <QFontDatabase>
#include <QHeaderView>
#include <QHideEvent>
#include <QSaveFile>
#include <QScrollBar>
#include <QShowEvent>

#include "HandlerGuard.h"

TrafficView::TrafficView(TComPortClass& link, ui::MessageService& messages, QWidget* parent)
    : QDialog(parent), m_link(link), m_messages(messages) {
  ui.setupUi(this);
  // Open next to the main window while the operator goes on working there.
  setModal(false);

  QHeaderView* header = ui.TableFrames->horizontalHeader();
  header->setSectionResizeMode(ColTime, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(ColDirection, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(ColBytes, QHeaderView::Stretch);
  header->setSectionResizeMode(ColResult, QHeaderView::ResizeToContents);
  ui.TableFrames->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

  AskSavePath = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить обмен по линии"),
                                        QStringLiteral("obmen.txt"),
                                        QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*)"));
  };

  ui::ConnectGuarded(ui.ButClear, &QPushButton::clicked, this, m_messages, [this] { ClearClick(); });
  ui::ConnectGuarded(ui.ButSave, &QPushButton::clicked, this, m_messages, [this] { SaveClick(); });
  ui::ConnectGuarded(ui.ButClose, &QPushButton::clicked, this, m_messages, [this] { close(); });

  m_log.SetListener([this](const pmlink::TrafficFrame& frame) { Append(frame); });
  ShowCount();
}

TrafficView::~TrafficView() { Attach(false); }

void TrafficView::Attach(bool on) {
  if (on == m_attached) return;
  m_link.SetFrameObserver(on ? &m_log : nullptr);
  m_attached = on;
}

void TrafficView::showEvent(QShowEvent* event) {
  Attach(true);
  QDialog::showEvent(event);
}

void TrafficView::hideEvent(QHideEvent* event) {
  // A spontaneous hide is the window system minimising it: the view is
  // still open and keeps collecting.
  if (!event->spontaneous()) Attach(false);
  QDialog::hideEvent(event);
}

void TrafficView::Append(const pmlink::TrafficFrame& frame) {
  QTableWidget* table = ui.TableFrames;
  const QScrollBar* bar = table->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();

  const int row = table->rowCount();
  table->insertRow(row);
  const QString texts[] = {
      QString::fromStdString(pmlink::TrafficLog::TimeText(frame.ms)),
      QString::fromStdString(pmlink::TrafficLog::DirectionText(frame.kind)),
      QString::fromStdString(pmlink::TrafficLog::BytesText(frame)),
      QString::fromStdString(pmlink::TrafficLog::ResultText(frame))};
  static const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  for (int col = ColTime; col <= ColResult; ++col) {
    auto* item = new QTableWidgetItem(texts[col]);
    if (col != ColBytes) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    else item->setFont(fixed);
    // A failed exchange stands out.
    if (frame.result && *frame.result != rc::Ok) item->setForeground(Qt::darkRed);
    table->setItem(row, col, item);
  }
  // The list keeps what the collector keeps.
  while (table->rowCount() > static_cast<int>(m_log.Frames().size())) table->removeRow(0);

  if (atEnd) table->scrollToBottom();
  ShowCount();
}

void TrafficView::ShowCount() {
  QString text = QStringLiteral("Кадров: %1").arg(m_log.Frames().size());
  if (m_log.Dropped() > 0)
    text += QStringLiteral(" (старые кадры удалены: %1)").arg(m_log.Dropped());
  ui.StCount->setText(text);
}

void TrafficView::ClearClick() {
  m_log.Clear();
  ui.TableFrames->setRowCount(0);
  ShowCount();
}

void TrafficView::SaveClick() {
  const QString path = AskSavePath ? AskSavePath() : QString();
  if (path.isEmpty()) return;
  SaveTo(path);
}

bool TrafficView::SaveTo(const QString& path) {
  QSaveFile file(path);
  const QByteArray text = QByteArray::fromStdString(m_log.Text());
  if (file.open(QIODevice::WriteOnly | QIODevice::Text) && file.write(text) == text.size() &&
      file.commit())
    return true;
  m_messages.Error("Не удалось сохранить файл " + path.toStdString() + "\n" +
                       file.errorString().toStdString(),
                   "Ошибка");
  return false;
}
