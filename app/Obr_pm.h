#pragma once
// The main window: menu, toolbar, instrument selector, polling timer and the
// three panels that show one instrument at a time. It owns the link, the
// serial port it drives (given by the caller), the device record and the
// device-number holder for the whole run, and creates the dialogs once.
//
// Every signal of a control reaches its handler through Guarded(): an
// exception that escapes a handler is shown in the application's error box
// and the program goes on, and a polling tick never starts a read while a
// command (or a message box opened by one) is running.
//
// Handlers are public so that tests run exactly what the operator's actions
// run; the controls are reachable through `ui`.

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Comportclass.h"
#include "Apply.h"
#include "Help.h"
#include "Journal.h"
#include "LineOwner.h"
#include "TeamSync.h"
#include "MessageService.h"
#include "ProgPM.h"
#include "Reading.h"
#include "SerialPort.h"
#include "Servclass.h"
#include "ui_Obr_pm.h"

class QAbstractButton;
class QLabel;
class QComboBox;
class QLineEdit;
class TFPSW;
class TFormDevice;
class TFormNewRange;
class TFormNastr;
class TFormPort;
class TrafficView;
class HelpWindow;
class TrendView;
class ReadRecorder;
class LineOverview;
class VerifyView;
namespace pmops {
struct ReadOutcome;
struct WriteEnd;
}

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window, runs FormCreate and creates the dialogs in start-up
  // order. The port stays closed until the operator confirms the port
  // settings dialog.
  TForm1(ui::MessageService& messages, pmlink::SerialPort& port, QWidget* parent = nullptr);
  ~TForm1() override;

  Ui::TForm1 ui;

  // --- objects owned for the whole run ------------------------------------
  TComPortClass Link;
  TProgPMClass Pm;
  TServClass Serv;
  // 1 while the polling timer is stopped: failed exchanges are reported.
  int ReportErrors = 1;
  QTimer Timer1;

  // The control that last started an operation; a write returns the focus
  // there. Each handler that starts an operation sets its own reference and
  // clears the other two (SetEditRef / SetButtonRef / SetComboRef).
  QPointer<QLineEdit> EditRef;
  QPointer<QAbstractButton> ButtonRef;
  QPointer<QComboBox> ComboRef;
  void SetEditRef(QLineEdit* edit);
  void SetButtonRef(QAbstractButton* button);
  void SetComboRef(QComboBox* combo);

  // --- dialogs, created once at start-up ----------------------------------
  TFPSW& FPSW() { return *m_fpsw; }
  TFormNewRange& FormNewRange() { return *m_formNewRange; }
  TFormDevice& FormDevice() { return *m_formDevice; }
  TFormNastr& FormNastr() { return *m_formNastr; }
  TFormPort& FormPort() { return *m_formPort; }

  // --- start-up, selector, timer, close (app/Obr_pm.cpp) -------------------
  void FormCreate();
  void FormClose();
  void BtnPuskTimerClick();
  void Timer1Timer();
  void CBoxUstrClick();
  void PortClick();
  void N4ParolClick();
  void ListDeviceClick();
  // Runs the device list dialog; installed where that dialog is created.
  std::function<void()> ListDeviceHook;

  // traffic view
  // "Обмен по линии": shows the non-modal traffic window (created at start-up,
  // attached to the link only while it is shown).
  void TrafficClick();
  TrafficView& Traffic() { return *m_trafficView; }
  // end of traffic view

  // trend and recording (app/Trend.cpp)
  // "График": shows the non-modal trend window, which hears ReadFinished
  // only while it is shown.
  void GraphClick();
  // "Запись в файл…": asks for a file and starts recording every read, or
  // stops the recording running.
  void RecordClick();
  TrendView& Trend() { return *m_trendView; }
  ReadRecorder& Recorder() { return *m_recorder; }
  // Asks for the file to record to ("" when the operator cancels); a file
  // dialog unless a test replaces it.
  std::function<QString()> AskRecordPath;
  // The time a read is stamped with; a simulated clock can replace it.
  std::function<pmtrend::Millis()> ReadClock = pmtrend::NowMillis;
  // Spans one read: when the read ends, by any return or an exception,
  // ReadFinished tells whether it completed (DataRead set again).
  class ReadNotice {
   public:
    explicit ReadNotice(TForm1& form) : m_form(form) {}
    ~ReadNotice();
    ReadNotice(const ReadNotice&) = delete;
    ReadNotice& operator=(const ReadNotice&) = delete;

   private:
    TForm1& m_form;
  };
  // end of trend and recording

  // line overview (app/LineOverview.cpp)
  // "Обзор линии": shows the non-modal overview, which polls every
  // instrument of the line in turn while it is started.
  void OverviewClick();
  LineOverview& Overview() { return *m_overview; }
  // Who may send on the line now: this window's commands or the overview.
  pmline::LineOwner& Line() { return m_line; }
  // end of line overview

  // accuracy check (app/VerifyView.cpp)
  // "Проверка погрешности…": shows the non-modal check of the instrument
  // shown, its settings prepared for it.
  void VerifyClick();
  VerifyView& Verify() { return *m_verifyView; }
  // end of accuracy check

  // help menu (app/Help.cpp)
  // "Руководство пользователя" (F1): the guide in the help window, one for
  // the whole run, created on first use; F1 again brings it up as it is.
  void HelpGuideClick();
  HelpWindow* Help() const { return m_helpWindow.get(); }
  // "О программе": name, version, Qt, licence, the tables' folder.
  void HelpAboutClick();
  // Where the guide and the tables are looked for, and how pages and links
  // leave the help window for the desktop.
  pmhelp::Places HelpPlaces = pmhelp::DefaultPlaces();
  // end of help menu

  // Forgets the instrument shown: type, version, panel text, read and layout
  // flags; hides the three panels. The next read lays the window out anew.
  void ForgetDevice();
  // True while the polling timer runs.
  bool TimerRunning() const { return Timer1.isActive(); }

  // --- read and write (app/Read.cpp, app/Write.cpp) -----------------------
  void InPortClick();
  void OutPortClick();
  // Shows a read's outcome: its failure, or the instrument read; true when
  // the read completed.
  bool ShowRead(const pmops::ReadOutcome& read);

  // --- settings files (app/FileMenu.cpp) ----------------------------------
  void SaveFileClick();
  void LoadFileClick();
  void RestoreFileClick();
  void CompareFileClick();
  // Shows the image as it stands (after a file was put into it).
  void ShowImage();
  // Puts a settings file into the image as "Загрузить" does (settings) or
  // "Восстановить всё" does (everything), with the same checks; false when
  // it was refused.
  bool PutIntoImage(const pmset::Snapshot& file, pmset::Scope scope);

  // --- change journal (app/ChangeJournal.cpp, app/JournalView.cpp) -------
  // "Журнал изменений…": the entries, an entry's before and after, putting
  // the before back, saving it as a settings file, CSV and the printed record.
  void JournalClick();
  // "Файл журнала изменений…": another journal file on this computer,
  // remembered for the next start once it has opened; a new file receives
  // the entries of the old one.
  void JournalFileClick();
  // The journal file every write is recorded in: the one chosen in the
  // window, else $PMSERVICE_JOURNAL, else the user's own (as pmctl does).
  std::string JournalPath = RememberedJournalPath();
  static std::string RememberedJournalPath();
  // The block as the last completed read brought it: a write's "before",
  // and when that read was (milliseconds since 1970).
  std::vector<std::uint8_t> ReadBlock;
  std::int64_t ReadBlockAtMs = 0;
  // What the next write is in the journal when it is more than an F10 of
  // edits (a calibration step, a loaded file ...), with its detail; a read
  // or a write clears them.
  std::string PendingOperation;
  std::string PendingDetail;
  // Records an entry as begun before a write; 0 when the journal cannot be
  // written and the operator chose to write without a record, nothing when
  // he declined (then nothing may be sent).
  std::optional<std::int64_t> JournalBegin(const pmjournal::Entry& entry);
  // Completes it with the block sent and the block read back (a failure to
  // do so is reported, the write stands).
  void JournalFinish(std::int64_t id, const std::vector<std::uint8_t>& sent, const std::vector<std::uint8_t>& after,
                     const pmops::WriteEnd& end);
  // Output control: begun before it is sent, finished with
  // JournalFinish once it has been sent or has failed.
  std::optional<std::int64_t> JournalCommand(const std::string& detail);
  // The journal, opened on first use; throws pmjournal::JournalError.
  pmjournal::Journal& OpenJournal();
  // Tells the operator of a damaged journal file moved aside during a write.
  void ShowJournalNotice();
  // Asks for the journal file ("" when the operator cancels).
  std::function<std::string()> AskJournalPath;

  // --- the team's journal server (app/JournalServer.cpp) ------------------
  // "Сервер журнала изменений…": the PostgreSQL server the entries are sent
  // to ("" none), remembered for the next start once it is accepted.
  void JournalServerClick();
  // Asks for its address, showing `current`; nothing when cancelled.
  std::function<std::optional<std::string>(const std::string& current)> AskJournalServer;
  // The server's address as configured; "" when none is.
  std::string JournalServer = RememberedJournalServer();
  static std::string RememberedJournalServer();
  // (Re)starts sending the journal's entries to JournalServer on a thread
  // of its own; stops it when none is configured.
  void StartJournalSync();
  // A round's result in the status bar: entries waiting, last contact.
  void ShowSyncReport(const pmjournal::SyncReport& report);
  // The status bar's text; none while no server is configured.
  QLabel* JournalSyncLabel = nullptr;

  // --- alarm, sensor and range editors; change tracking (app/Editors.cpp) ---
  void CBoxTipSignClick();
  void CBoxTipKClick();
  void CBoxBreakClick();
  void CBoxConnectClick();
  void CBoxTipDClick();
  void CBoxMinClick();
  void CBoxMaxClick();
  void CBoxUstrZClick();
  void UstKod1Change();
  void CBoxTipDChange();
  // Focus left UstProc1, UstProc2, KTxc or Edit1 (the field is `sender`).
  void UstProc1Exit(QLineEdit* sender);
  // Key pressed in UstProc1, UstProc2 or Edit1; `key` is the virtual-key
  // code (0 for a key the tables do not list). Returns true when the key
  // must not reach the field.
  bool UstProc1KeyDown(QLineEdit* sender, int key, bool shift);
  // Key pressed in KTxc, as above.
  bool KTxcKeyDown(int key, bool shift);

  // --- calibration, output current, output control (app/Calibration.cpp) --
  void Button1Click();
  void Button2Click();
  void KalibrBegSkClick();
  void KalibrEndSkClick();
  void CBoxCurrentClick();
  void CBoxCurrentEndClick();
  void ButSwitchClick();

  // editor helpers (app/Editors.cpp, app/Calibration.cpp)
  // The message service the window reports through.
  ui::MessageService& Messages() { return m_messages; }
  // The rejection signal of a typed number: the field turns red, a beep,
  // the plain message " Ошибка ввода ", the field white again and emptied.
  void InputError(QLineEdit* field);
  // Checks the field's text with the entry check of range kind `kind`;
  // gives the rejection signal and returns false when it is refused.
  bool CheckEntry(QLineEdit* field, int kind);
  // Edit1 (ЛУНТ output value) left: sends the value and reads back.
  void Edit1Exit();
  // end of editor helpers

  // --- non-standard range (app/NonStandard.cpp) ---------------------------
  void ChBoxNonStandClick();
  void ButNonStandClick();

  // --- handler plumbing ---------------------------------------------------
  // Runs a handler as a command: marks the window busy meanwhile and runs it
  // through the handler guard every window uses (ui/HandlerGuard.h).
  void Guarded(const std::function<void()>& handler);
  // True while a command handler runs (the polling tick is then skipped).
  bool Busy() const { return m_busy > 0; }

  // While a FillScope lives, values put into controls run no handler: a read
  // filling the window is not an edit.
  class FillScope {
   public:
    explicit FillScope(TForm1& form) : m_form(form) { ++m_form.m_filling; }
    ~FillScope() { --m_form.m_filling; }
    FillScope(const FillScope&) = delete;
    FillScope& operator=(const FillScope&) = delete;

   private:
    TForm1& m_form;
  };
  bool Filling() const { return m_filling > 0; }

 signals:
  // Every read of the instrument shown, as it completes or fails.
  void ReadFinished(const pmtrend::ReadOutcome& outcome);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void WireControls();
  void CreateDialogs();
  // The link's request to close the window (port lost): carried out once no
  // command runs, so never on top of an open message box.
  void RequestClose();
  void CloseIfRequested();

  // read/write helpers (app/Write.cpp): the save prompts, shown
  // only while Changed is 1. The first two return false when the operator
  // cancelled; the caller then ends its command.
  bool SaveBeforeDeviceChange(int picked);  // CBoxUstrClick, number picked
  bool SaveBeforePortChange();              // PortClick, new port confirmed
  void SaveBeforeClose();                   // FormClose
  // end of read/write helpers

  ui::MessageService& m_messages;
  pmline::LineOwner m_line;  // outlives the overview, which polls through it
  int m_busy = 0;
  int m_filling = 0;
  bool m_closed = false;
  bool m_closeRequested = false;

  std::unique_ptr<TFPSW> m_fpsw;
  std::unique_ptr<TFormNewRange> m_formNewRange;
  std::unique_ptr<TFormDevice> m_formDevice;
  std::unique_ptr<TFormNastr> m_formNastr;
  std::unique_ptr<TFormPort> m_formPort;
  std::unique_ptr<TrafficView> m_trafficView;  // traffic view
  std::unique_ptr<pmjournal::Journal> m_journal;  // change journal, at m_journal->Path()
  std::unique_ptr<pmjournal::SyncLoop> m_sync;     // sends it to the team server
  // trend and recording
  void CreateTrend();
  std::unique_ptr<TrendView> m_trendView;
  std::unique_ptr<ReadRecorder> m_recorder;
  QMetaObject::Connection m_trendConnection;
  // end of trend and recording
  std::unique_ptr<LineOverview> m_overview;  // line overview
  std::unique_ptr<VerifyView> m_verifyView;  // accuracy check
  std::unique_ptr<HelpWindow> m_helpWindow;  // help menu
};
