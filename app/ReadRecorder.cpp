#include "ReadRecorder.h"

#include <QFileInfo>

ReadRecorder::ReadRecorder(ui::MessageService& messages, QObject* parent, pmtrend::PortColumn port)
    : QObject(parent), m_messages(messages), m_port(port) {}

bool ReadRecorder::Start(const QString& path) {
  if (auto error = m_file.Start(path.toStdString(), m_port)) {
    m_messages.Error(*error, "Ошибка");
    emit StatusChanged(StatusText());
    return false;
  }
  emit StatusChanged(StatusText());
  return true;
}

void ReadRecorder::Stop() {
  if (!m_file.Recording()) return;
  m_file.Stop();
  emit StatusChanged(StatusText());
  emit Stopped();
}

void ReadRecorder::Take(const pmtrend::ReadOutcome& o) {
  if (!m_file.Recording()) return;
  const std::string line = o.ok ? pmtrend::CsvRow(o.reading, m_port) : pmtrend::CsvFailureRow(o.source, o.time, m_port);
  if (auto error = m_file.Append(line)) {
    emit StatusChanged(StatusText());
    emit Stopped();
    m_messages.Error(*error + "\nЗаписано строк: " + std::to_string(m_file.Lines()), "Ошибка");
    return;
  }
  emit StatusChanged(StatusText());
}

QString ReadRecorder::StatusText() const {
  if (!m_file.Recording()) return {};
  return QStringLiteral("Запись: %1, строк: %2")
      .arg(QFileInfo(QString::fromStdString(m_file.Path())).fileName())
      .arg(m_file.Lines());
}
