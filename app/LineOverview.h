#pragma once
// "Обзор линии": every instrument of the line in one table, polled in turn,
// continuously, with the window link's exchange settings (ops/Poll.h,
// line/). The polling schedule is plain C++ (line/LinePoller.h) and stays
// on this window's thread; each poll runs on the poll worker's thread
// (line/PollWorker.h), so the window answers whatever the line does, and
// its outcome comes back here to be shown, recorded and drawn.
//
// The line has one owner at a time (line/LineOwner.h): a turn in which a
// command of the main window runs, or holds the line, starts no poll; a
// command that needs the line while a poll is under way gets it once the
// attempt on the line has ended, and that poll comes again after it. The
// main window stops the polling through the owner when the port changes or
// the program closes. This window knows the main window only through the
// few actions it is given (Actions).

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Comportclass.h"
#include "LineOwner.h"
#include "LinePoll.h"
#include "LinePoller.h"
#include "MessageService.h"
#include "PollWorker.h"
#include "QueuedFrames.h"
#include "ui_LineOverview.h"

class QCloseEvent;
class QHideEvent;
class ReadRecorder;

class LineOverview : public QDialog {
  Q_OBJECT

 public:
  // Table columns, in the order of the .ui file.
  enum Column { ColAddress, ColModel, ColSensor, ColRange, ColResult, ColPercent, ColState, ColSetpoint2,
                ColSetpoint1, ColAlarm, ColLastGood, ColFailures };
  // A turn that finds the line taken tries again this much later, ms.
  static constexpr int kBusyRetryMs = 50;

  // What the overview asks of the rest of the program.
  struct Actions {
    // The addresses the device list's last scan found.
    std::function<std::vector<int>()> listedAddresses;
    // The instrument at this address in the main window, read.
    std::function<void(int address)> showInstrument;
    // A poll of an instrument chosen for the trend.
    std::function<void(const pmtrend::ReadOutcome&)> takeTogether;
    // The chosen instruments together on the trend, shown.
    std::function<void(const std::vector<pmtrend::Source>&)> showTogether;
    // Runs a handler of this window as a command (guarded, the line marked).
    std::function<void(const std::function<void()>&)> guard;
  };

  LineOverview(pmline::LineOwner& line, TComPortClass& link, ui::MessageService& messages, Actions actions,
               QWidget* parent = nullptr);
  ~LineOverview() override;

  Ui::LineOverview ui;

  // Handlers.
  // "Из списка устройств": the instruments the device list's last scan found.
  void ButFromListClick();
  // "Пуск" / "Стоп": polls the instruments typed in EditAddr, or stops.
  void ButStartClick();
  // One turn of the polling loop (the step timer): posts the next poll.
  void StepTimerTimeout();
  // Double-click on a row: that instrument in the main window, read.
  void TableLineDoubleClick(int row);
  // "Запись в файл…": every poll as a row of a CSV file, or stops it.
  void ButRecordClick();
  // "На график": the instruments checked in the address column together on
  // the main window's "График".
  void ButGraphClick();

  // Stops polling (closing the window, closing the program, a lost port);
  // when it returns nothing more of the poll under way goes out.
  void StopPolling();
  bool Polling() const { return m_polling; }
  // A poll is on the worker's thread.
  bool PollUnderWay() const { return m_pending.has_value(); }
  // The poller of the last start; null before the first.
  const pmline::LinePoller* Poller() const { return m_poller.get(); }
  ReadRecorder& Recorder() { return *m_recorder; }

  // Asks for the CSV file ("" when cancelled); a file dialog unless a test
  // replaces it.
  std::function<QString()> AskRecordPath;
  // The clocks a poll is timed and stamped with.
  std::function<pmline::Clocks()> Clock = pmline::Now;
  // Polling pauses once this cycle is complete, until it is raised (0: no
  // limit).
  long CycleLimit = 0;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // The worker's end of a poll, on this window's thread.
  void Polled(pmline::PollWorker::Result result);
  // The line changes or closes under the polling.
  void LineStops(pmline::LineOwner::Why why);
  void ShowRow(std::size_t index);
  void ShowStatus();
  void Run(const std::function<void()>& handler);

  pmline::LineOwner& m_line;
  TComPortClass& m_link;
  ui::MessageService& m_messages;
  Actions m_actions;
  QTimer m_step;
  bool m_polling = false;
  std::unique_ptr<pmline::LinePoller> m_poller;
  std::unique_ptr<ReadRecorder> m_recorder;
  std::vector<int> m_chosen;  // addresses sent to the trend together
  std::optional<pmline::Step> m_pending;  // the step on the worker
  long m_serial = 0;                      // of the last poll posted
  QueuedFrames m_frames;
  std::unique_ptr<pmline::PollWorker> m_worker;  // last: its thread ends first
};
