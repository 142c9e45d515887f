#pragma once
// "Запись в файл…": every read of the instrument shown, completed or failed,
// as one line of a CSV file, written as the read ends. Recording goes on
// while the polling timer is stopped and started, until the operator stops
// it or a write fails; a failure is reported once and what was written
// stays.

#include <QObject>
#include <QString>

#include "CsvRecorder.h"
#include "MessageService.h"
#include "Reading.h"

class ReadRecorder : public QObject {
  Q_OBJECT

 public:
  ReadRecorder(ui::MessageService& messages, QObject* parent = nullptr,
               pmtrend::PortColumn port = pmtrend::PortColumn::No);

  // Starts a new file; a failure is reported and gives false.
  bool Start(const QString& path);
  void Stop();
  bool Recording() const { return m_file.Recording(); }
  const pmtrend::CsvRecorder& File() const { return m_file; }

  // One line for the read.
  void Take(const pmtrend::ReadOutcome& outcome);

  // "Запись: trend.csv, строк: 12", or "" while not recording.
  QString StatusText() const;

 signals:
  void StatusChanged(const QString& text);
  void Stopped();

 private:
  ui::MessageService& m_messages;
  pmtrend::CsvRecorder m_file;
  pmtrend::PortColumn m_port;
};
