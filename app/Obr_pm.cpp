#include "Obr_pm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>

#include "HandlerGuard.h"
#include "KeyAdapter.h"
#include "ModalRunner.h"
#include "obrAppr.h"
#include "obrListDevice.h"
#include "obrNastr.h"
#include "obrpar_mb.h"
#include "obrport.h"
#include "HelpWindow.h"
#include "TrafficView.h"
#include "ReadRecorder.h"
#include "TrendView.h"
#include "LineOverview.h"
#include "VerifyView.h"

namespace {

// Keeps the busy count right even when a handler throws.
class BusyCount {
 public:
  explicit BusyCount(int& count) : m_count(count) { ++m_count; }
  ~BusyCount() { --m_count; }
  BusyCount(const BusyCount&) = delete;
  BusyCount& operator=(const BusyCount&) = delete;

 private:
  int& m_count;
};

}  // namespace

TForm1::TForm1(ui::MessageService& messages, pmlink::SerialPort& port, QWidget* parent)
    : QMainWindow(parent),
      // After a port failure the link asks for the window to close; it closes
      // once the command (and any box it opened) has finished.
      Link(port, messages, [this] { RequestClose(); }),
      m_messages(messages) {
  ui.setupUi(this);
  // A command takes the line at its first request and keeps it until it
  // ends; a request outside a command gives it back at once.
  Link.SetRequestHooks([this] { m_line.Take(); }, [this] { m_line.ReleaseUnlessCommand(); });

  // The password menu, its item and its tool button are hidden; the command
  // stays reachable with F8 through AParol, which the window itself holds.
  ui.Parol->menuAction()->setVisible(false);
  ui.AInPort->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  ui.AOutPort->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
  ui.APort->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
  ui.AListDevice->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  ui.ToolButton6->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));

  // The output-control label breaks once, after "управления".
  ui.Label24->setMinimumWidth(
      ui.Label24->fontMetrics().horizontalAdvance(QStringLiteral("вкл. режима управления")) + 2);

  Timer1.setInterval(3000);
  Timer1.setSingleShot(false);

  resize(834, 713);
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());

  WireControls();
  FormCreate();
  CreateDialogs();
  StartJournalSync();
}

TForm1::~TForm1() {
  m_sync.reset();  // its last round ends before the window goes
  Timer1.stop();
  m_line.StopPoller(pmline::LineOwner::Why::Closing);
  Link.ClosePort();
}

void TForm1::CreateDialogs() {
  // Created once, in this order, each running its creation handler now.
  m_fpsw = std::make_unique<TFPSW>(m_messages, this);
  m_formNewRange = std::make_unique<TFormNewRange>(m_messages, this);
  m_formDevice = std::make_unique<TFormDevice>(Link, m_messages, this);
  ListDeviceHook = [this] { ui::ExecModal(*m_formDevice); };
  m_formNastr = std::make_unique<TFormNastr>(Link, m_messages, this);
  m_formPort = std::make_unique<TFormPort>(Link, *m_formNastr, m_messages, this);
  // traffic view
  m_trafficView = std::make_unique<TrafficView>(Link, m_messages, this);
  connect(ui.ATraffic, &QAction::triggered, this, [this] { Guarded([this] { TrafficClick(); }); });
  CreateTrend();
  // line overview
  LineOverview::Actions overview;
  overview.listedAddresses = [this] {
    std::vector<int> found;
    for (int row = 1; row <= 32; ++row) {
      bool ok = false;
      const int address = FormDevice().Cell(0, row).toInt(&ok);
      if (ok) found.push_back(address);
    }
    return found;
  };
  overview.showInstrument = [this](int address) {
    // As the operator's pick in "Устр. №" and F9: the save prompt for
    // edited data may keep the instrument shown, and then nothing is read.
    ui.CBoxUstr->setCurrentIndex(address - 1);
    CBoxUstrClick();
    if (Serv.DeviceIndex == address - 1) InPortClick();
    else ui.CBoxUstr->setCurrentIndex(Serv.DeviceIndex);
    raise();
    activateWindow();
  };
  overview.takeTogether = [this](const pmtrend::ReadOutcome& outcome) { Trend().TakeTogether(outcome); };
  overview.showTogether = [this](const std::vector<pmtrend::Source>& sources) {
    Trend().ShowTogether(sources);
    GraphClick();
  };
  overview.guard = [this](const std::function<void()>& handler) { Guarded(handler); };
  m_overview = std::make_unique<LineOverview>(m_line, Link, m_messages, std::move(overview), this);
  ui.AOverview->setIcon(style()->standardIcon(QStyle::SP_FileDialogListView));
  connect(ui.AOverview, &QAction::triggered, this, [this] { Guarded([this] { OverviewClick(); }); });
  // accuracy check
  m_verifyView = std::make_unique<VerifyView>(*this, this);
  connect(ui.AVerify, &QAction::triggered, this, [this] { Guarded([this] { VerifyClick(); }); });
  // help menu
  connect(ui.AHelpGuide, &QAction::triggered, this, [this] { Guarded([this] { HelpGuideClick(); }); });
  connect(ui.AHelpAbout, &QAction::triggered, this, [this] { Guarded([this] { HelpAboutClick(); }); });
}

// ---------------------------------------------------------------------------
// Wiring

void TForm1::WireControls() {
  using Handler = void (TForm1::*)();
  auto run = [this](Handler h) { Guarded([this, h] { (this->*h)(); }); };

  auto action = [this, run](QAction* a, Handler h) {
    connect(a, &QAction::triggered, this, [run, h] { run(h); });
  };
  action(ui.AInPort, &TForm1::InPortClick);
  action(ui.AOutPort, &TForm1::OutPortClick);
  action(ui.APort, &TForm1::PortClick);
  action(ui.AListDevice, &TForm1::ListDeviceClick);
  action(ui.AParol, &TForm1::N4ParolClick);
  action(ui.ASaveFile, &TForm1::SaveFileClick);
  action(ui.ALoadFile, &TForm1::LoadFileClick);
  action(ui.ARestoreFile, &TForm1::RestoreFileClick);
  action(ui.ACompareFile, &TForm1::CompareFileClick);
  action(ui.AJournal, &TForm1::JournalClick);
  action(ui.AJournalFile, &TForm1::JournalFileClick);
  action(ui.AJournalServer, &TForm1::JournalServerClick);
  connect(ui.N4, &QAction::triggered, ui.AParol, &QAction::trigger);
  connect(ui.ToolButton6, &QAction::triggered, ui.AParol, &QAction::trigger);

  auto button = [this, run](QAbstractButton* b, Handler h) {
    connect(b, &QAbstractButton::clicked, this, [run, h] { run(h); });
  };
  button(ui.BtnPuskTimer, &TForm1::BtnPuskTimerClick);
  button(ui.Button1, &TForm1::Button1Click);
  button(ui.Button2, &TForm1::Button2Click);
  button(ui.KalibrBegSk, &TForm1::KalibrBegSkClick);
  button(ui.KalibrEndSk, &TForm1::KalibrEndSkClick);
  button(ui.ButSwitch, &TForm1::ButSwitchClick);
  button(ui.ButNonStand, &TForm1::ButNonStandClick);

  // A combo box runs its handlers only on the operator's pick: first the
  // pick handler, then the change handler.
  auto combo = [this, run](QComboBox* c, Handler pick, Handler change) {
    connect(c, &QComboBox::activated, this, [this, run, pick, change] {
      if (Filling()) return;
      run(pick);
      if (change) run(change);
    });
  };
  combo(ui.CBoxUstr, &TForm1::CBoxUstrClick, nullptr);
  combo(ui.CBoxUstrZ, &TForm1::CBoxUstrZClick, &TForm1::UstKod1Change);
  combo(ui.CBoxTipSign, &TForm1::CBoxTipSignClick, &TForm1::UstKod1Change);
  combo(ui.CBoxTipK, &TForm1::CBoxTipKClick, &TForm1::UstKod1Change);
  combo(ui.CBoxBreak, &TForm1::CBoxBreakClick, &TForm1::UstKod1Change);
  combo(ui.CBoxConnect, &TForm1::CBoxConnectClick, &TForm1::UstKod1Change);
  combo(ui.CBoxTipD, &TForm1::CBoxTipDClick, &TForm1::CBoxTipDChange);
  combo(ui.CBoxMin, &TForm1::CBoxMinClick, &TForm1::UstKod1Change);
  combo(ui.CBoxMax, &TForm1::CBoxMaxClick, &TForm1::UstKod1Change);
  combo(ui.CBoxCurrent, &TForm1::CBoxCurrentClick, &TForm1::UstKod1Change);
  combo(ui.CBoxCurrentEnd, &TForm1::CBoxCurrentEndClick, &TForm1::UstKod1Change);

  // Edit fields and the check box run their handlers on every change, typed
  // or set by the program, except while a read fills the window.
  for (QLineEdit* e : {ui.UstProc1, ui.UstProc2, ui.KTxc}) {
    connect(e, &QLineEdit::textChanged, this, [this, run] {
      if (!Filling()) run(&TForm1::UstKod1Change);
    });
  }
  connect(ui.ChBoxNonStand, &QCheckBox::toggled, this, [this, run] {
    if (!Filling()) run(&TForm1::ChBoxNonStandClick);
  });

  // Exit checks and key filters of the numeric fields.
  for (QLineEdit* e : {ui.UstProc1, ui.UstProc2, ui.KTxc, ui.Edit1}) e->installEventFilter(this);

  // The polling tick decides itself whether it may start a read.
  connect(&Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  auto* field = qobject_cast<QLineEdit*>(watched);
  if (!field) return QMainWindow::eventFilter(watched, event);

  if (event->type() == QEvent::FocusOut) {
    // Only a move to another control of this window is leaving the field; a
    // message box or a menu taking the focus is not.
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      Guarded([this, field] { UstProc1Exit(field); });
    return false;
  }
  if (event->type() == QEvent::KeyPress) {
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    // Tab moves the focus; the window handles it before the field.
    if (keyEvent->key() == Qt::Key_Tab || keyEvent->key() == Qt::Key_Backtab) return false;
    const ui::VirtualKey vkey = ui::ToVirtualKey(*keyEvent);
    bool swallow = false;
    Guarded([&] {
      swallow = field == ui.KTxc ? KTxcKeyDown(vkey.code, vkey.shift)
                                 : UstProc1KeyDown(field, vkey.code, vkey.shift);
    });
    return swallow;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::Guarded(const std::function<void()>& handler) {
  {
    BusyCount busy(m_busy);
    m_line.BeginCommand();
    ui::RunGuarded(m_messages, handler);
    m_line.EndCommand();
  }
  if (m_closeRequested && !Busy())
    QMetaObject::invokeMethod(this, [this] { CloseIfRequested(); }, Qt::QueuedConnection);
}

void TForm1::RequestClose() {
  m_closeRequested = true;
  // Queued: a request from inside an exchange or a message box's event loop
  // must not close the window under the command that is still running.
  QMetaObject::invokeMethod(this, [this] { CloseIfRequested(); }, Qt::QueuedConnection);
}

void TForm1::CloseIfRequested() {
  // Inside a command the request waits; Guarded asks again when it ends.
  if (!m_closeRequested || Busy()) return;
  m_closeRequested = false;
  if (!m_closed) close();
}

void TForm1::SetEditRef(QLineEdit* edit) {
  EditRef = edit;
  ButtonRef = nullptr;
  ComboRef = nullptr;
}

void TForm1::SetButtonRef(QAbstractButton* button) {
  EditRef = nullptr;
  ButtonRef = button;
  ComboRef = nullptr;
}

void TForm1::SetComboRef(QComboBox* combo) {
  EditRef = nullptr;
  ButtonRef = nullptr;
  ComboRef = combo;
}

// ---------------------------------------------------------------------------
// Start-up, timer, selector, close

void TForm1::FormCreate() {
  ui.CBoxUstr->setCurrentIndex(0);
  Serv.DeviceIndex = 0;
  ui.CBoxUstrZ->setCurrentIndex(0);
  Serv.NewDeviceIndex = 0;
  ReportErrors = 1;
  ui.ButSwitch->setChecked(false);
  ui.Label27->clear();
}

void TForm1::BtnPuskTimerClick() {
  // Three independent toggles; from the start state they move together.
  if (Timer1.isActive())
    Timer1.stop();
  else
    Timer1.start();
  ReportErrors = ReportErrors ? 0 : 1;
  ui.LabTimer->setHidden(!ui.LabTimer->isHidden());
}

void TForm1::Timer1Timer() {
  // A tick never starts a read inside a running command or while one of its
  // message boxes is open; the next tick tries again.
  if (Busy()) return;
  Guarded([this] { InPortClick(); });
}

void TForm1::ForgetDevice() {
  Pm.DevType = 0;
  Pm.Version = 0;
  ui.Panel1->clear();
  Pm.DataRead = 0;
  Pm.LayoutDone = 0;
  ui.GBoxKanal->hide();
  ui.GBoxSign->hide();
  ui.GBoxZETTP->hide();
}

void TForm1::CBoxUstrClick() {
  const int picked = ui.CBoxUstr->currentIndex() + 1;
  if (picked - 1 == Serv.DeviceIndex) return;
  if (TimerRunning()) BtnPuskTimerClick();
  if (!SaveBeforeDeviceChange(picked)) return;
  ForgetDevice();
  Serv.DeviceIndex = picked - 1;
  Serv.NewDeviceIndex = picked - 1;
}

void TForm1::closeEvent(QCloseEvent* event) {
  Guarded([this] { FormClose(); });
  event->accept();  // closing cannot be cancelled
}

void TForm1::FormClose() {
  if (m_closed) return;  // the link may ask again after a port failure
  m_closed = true;
  // The overview's polling ends first: nothing more goes out on the line.
  m_line.StopPoller(pmline::LineOwner::Why::Closing);
  // Stopping the timer the usual way also turns error reports back on, so a
  // write started by the close prompt reports its failures.
  if (TimerRunning()) BtnPuskTimerClick();
  // The write the question may start can fail or throw; closing goes on.
  ui::RunGuarded(m_messages, [this] { SaveBeforeClose(); });
  m_messages.Information("Работа закончена", "Подтверждение");
  Link.ClosePort();
}

// ---------------------------------------------------------------------------
// Commands

void TForm1::PortClick() {
  // The dialog closes the port: the overview's attempt under way ends first.
  m_line.Take();
  TFormPort& dialog = FormPort();
  // Restored when the save prompt for changed data is cancelled.
  const int rememberedPort = dialog.ui.CBoxPort->currentIndex();

  for (;;) {
    const int result = dialog.Execute();
    if (result == QDialog::Accepted) break;
    if (result == TFormPort::Refused &&
        m_messages.Show({"Ошибочные данные ", "Ошибка", ui::Icon::Error, ui::Buttons::RetryCancel,
                         ui::Answer::Retry}) == ui::Answer::Retry)
      continue;
    return;
  }

  const std::string chosenPort = dialog.ChosenPort().toStdString();
  if (chosenPort != Link.Port) {
    if (TimerRunning()) BtnPuskTimerClick();
    // The overview's rows and recording belong to the line they started on.
    m_line.StopPoller(pmline::LineOwner::Why::PortChange);
    // The save prompt for changed data; its Cancel selects rememberedPort
    // in CBoxPort again and ends the command.
    if (!SaveBeforePortChange()) {
      dialog.ui.CBoxPort->setCurrentIndex(rememberedPort);
      return;
    }
    ForgetDevice();
  }

  // Applied whether or not the port changed, so that a new speed alone
  // reopens the same port with it.
  Link.Parity = dialog.ChosenParity().toStdString();
  Link.Baud = dialog.ChosenBaud().toStdString();
  Link.StopBits = dialog.ChosenStopBits().toStdString();
  Link.Port = chosenPort;
  if (Link.Configure() == -1) Link.ReportError(Serv.DeviceIndex, rc::CannotOpen);
}

void TForm1::N4ParolClick() {
  if (Pm.Access == 0) m_messages.Warning("Ваш уровень доступа не позволяет\nменять пароль");
}

void TForm1::ListDeviceClick() {
  if (ListDeviceHook) ListDeviceHook();
}

// line overview
void TForm1::OverviewClick() {
  m_overview->show();
  m_overview->raise();
  m_overview->activateWindow();
}

// traffic view
void TForm1::TrafficClick() {
  m_trafficView->show();
  m_trafficView->raise();
  m_trafficView->activateWindow();
}
