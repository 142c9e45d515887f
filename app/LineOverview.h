#pragma once
// "Обзор линии": every instrument of the line in one table, polled in turn,
// continuously, through the main window's link with its exchange settings
// (ops/Poll.h, line/). The polling logic is plain C++ (line/LinePoller.h);
// this window starts and stops it, runs one poll per turn of the event loop
// and shows the rows.
//
// The line has one owner at a time. A poll runs as a command of the main
// window (Guarded, so the window counts as busy meanwhile), and a turn in
// which a command of the main window is running (or one of its message
// boxes is open) passes without a poll. Since each command and each poll
// runs to its end on the one thread, an F9, F10, a calibration step or a
// scan asked for during a poll runs right after that poll ends, and no
// request is ever sent inside another.

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "LinePoll.h"
#include "LinePoller.h"
#include "MessageService.h"
#include "ui_LineOverview.h"

class QCloseEvent;
class QHideEvent;
class ReadRecorder;
class TForm1;

class LineOverview : public QDialog {
  Q_OBJECT

 public:
  // Table columns, in the order of the .ui file.
  enum Column { ColAddress, ColModel, ColSensor, ColRange, ColResult, ColPercent, ColState, ColSetpoint2,
                ColSetpoint1, ColAlarm, ColLastGood, ColFailures };
  // A turn that finds the main window busy tries again this much later, ms.
  static constexpr int kBusyRetryMs = 50;

  LineOverview(TForm1& form, ui::MessageService& messages, QWidget* parent = nullptr);
  ~LineOverview() override;

  Ui::LineOverview ui;

  // Handlers.
  // "Из списка устройств": the instruments the device list's last scan found.
  void ButFromListClick();
  // "Пуск" / "Стоп": polls the instruments typed in EditAddr, or stops.
  void ButStartClick();
  // One turn of the polling loop (the step timer).
  void StepTimerTimeout();
  // Double-click on a row: that instrument in the main window, read.
  void TableLineDoubleClick(int row);
  // "Запись в файл…": every poll as a row of a CSV file, or stops it.
  void ButRecordClick();
  // "На график": the instruments checked in the address column together on
  // the main window's "График".
  void ButGraphClick();

  // Stops polling (closing the window, closing the program, a lost port).
  void StopPolling();
  bool Polling() const { return m_polling; }
  // The poller of the last start; null before the first.
  const pmline::LinePoller* Poller() const { return m_poller.get(); }
  ReadRecorder& Recorder() { return *m_recorder; }

  // Asks for the CSV file ("" when cancelled); a file dialog unless a test
  // replaces it.
  std::function<QString()> AskRecordPath;
  // The clocks a poll is timed and stamped with.
  std::function<pmline::Clocks()> Clock = pmline::Now;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void PollOnce();
  void ShowRow(std::size_t index);
  void ShowStatus();
  void Run(const std::function<void()>& handler);

  TForm1& m_form;
  ui::MessageService& m_messages;
  QTimer m_step;
  bool m_polling = false;
  std::unique_ptr<pmline::LinePoller> m_poller;
  std::unique_ptr<ReadRecorder> m_recorder;
  std::vector<int> m_chosen;  // addresses sent to the trend together
};
