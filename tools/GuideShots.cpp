#include "GuideShots.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Line.h"
#include "FileDialogs.h"
#include "Journal.h"
#include "JournalView.h"
#include "Help.h"
#include "LineOverview.h"
#include "ModalRunner.h"
#include "Obr_pm.h"
#include "QtMessageService.h"
#include "RecordShot.h"
#include "ScriptedMessageService.h"
#include "ShotInput.h"
#include "TrafficView.h"
#include "obrAppr.h"
#include "obrNastr.h"
#include "obrListDevice.h"
#include "obrport.h"

namespace {

void Settle() {
  for (int i = 0; i < 5; ++i) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

class Shots {
 public:
  Shots(TForm1& form, ui::ScriptedMessageService& messages, const QString& outDir)
      : m_form(form), m_messages(messages), m_dir(outDir) {}

  int failed = 0;
  std::vector<std::string> grabbed;  // texts of the boxes drawn

  // `area`: the part of the widget to keep; empty, all of it.
  void Save(QWidget& w, const char* name, const QRect& area = {}) {
    Settle();
    const QString path = m_dir.filePath(QStringLiteral("guide-%1.png").arg(QLatin1String(name)));
    if (!w.grab(area.isEmpty() ? QRect(QPoint(0, 0), QSize(-1, -1)) : area).save(path, "PNG", 0)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ++failed;
      return;
    }
    std::printf("%s\n", qPrintable(path));
  }

  // The next message box the program shows is drawn as the operator sees it
  // and saved; the scripted service answers it with `answer`.
  void GrabNextBox(const char* name, ui::Answer answer) {
    m_messages.answers.push_back(answer);
    m_messages.onShow = [this, name](const ui::Message& m) {
      m_messages.onShow = nullptr;
      grabbed.push_back(m.text);
      const auto box = ui::QtMessageService::Build(m, &m_form);
      box->show();
      Save(*box, name);
    };
  }

  // The next modal dialog is shown, `act` runs on it, it is saved and ends
  // with the result `act` returns.
  void OnNextDialog(const char* name, std::function<int(QDialog&)> act) {
    ui::SetDialogRunner([this, name, act](QDialog& d) {
      // Resetting the runner destroys this closure: work on copies.
      Shots* self = this;
      const char* file = name;
      const auto run = act;
      ui::SetDialogRunner(nullptr);
      d.show();
      Settle();
      const int result = run(d);
      self->Save(d, file);
      d.hide();
      return result;
    });
  }

  // The dialog widened until the port box shows the whole name typed into it
  // (the operator widens it the same way).
  static void ShowWholePortName(QDialog& d, QComboBox* box) {
    QLineEdit* edit = box->lineEdit();
    for (int i = 0; i < 8; ++i) {
      Settle();
      const int missing = edit->fontMetrics().horizontalAdvance(edit->text()) + 16 - edit->width();
      if (missing <= 0) break;
      d.resize(d.width() + missing, d.height());
    }
    edit->setCursorPosition(0);
    if (d.layout()) d.resize(d.width(), d.layout()->totalHeightForWidth(d.width()));
  }

  void Read(int address) {
    m_form.ui.CBoxUstr->setCurrentIndex(address - 1);
    m_form.CBoxUstrClick();
    m_form.InPortClick();
    Settle();
  }

 private:
  TForm1& m_form;
  ui::ScriptedMessageService& m_messages;
  QDir m_dir;
};

// The journal window over the entries the steps before made, copied into a
// journal of its own with a bench's port, login, host and times a few
// minutes apart, so that the picture does not depend on who takes it.
int JournalShot(Shots& shots, TForm1& form, const std::string& path) {
  std::vector<pmjournal::Entry> entries;
  try {
    pmjournal::Filter oldestFirst;
    oldestFirst.oldestFirst = true;
    entries = form.OpenJournal().Query(oldestFirst);
    auto copy = pmjournal::Journal::Open(path);
    std::int64_t at = QDateTime(QDate(2026, 12, 8), QTime(14, 5, 0)).toMSecsSinceEpoch();
    for (pmjournal::Entry e : entries) {
      e.id = 0;
      e.atMs = at;
      e.at = pmjournal::LocalTimeText(at);
      e.beforeReadMs = 0;
      e.port = "/dev/ttyUSB0";
      e.user = "ivanov";
      e.host = "stend-1";
      copy.journal->Record(e);
      at += 4 * 60 * 1000;
    }
  } catch (const pmjournal::JournalError& e) {
    std::fprintf(stderr, "journal: %s\n", e.what());
    return 1;
  }
  if (entries.size() < 3) {
    std::fprintf(stderr, "journal: only %zu entries\n", entries.size());
    return 1;
  }
  const std::string kept = form.JournalPath;
  form.JournalPath = path;
  shots.OnNextDialog("journal", [](QDialog& d) {
    auto& view = static_cast<JournalView&>(d);
    // Every instrument of the line; the file and the days as on that bench.
    view.ui.EditJPort->clear();
    view.ui.SpinJAddress->setValue(0);
    const QDateTime until(QDate(2026, 12, 8), QTime(14, 30));
    view.ui.DateJSince->setDateTime(until.addMonths(-1));
    view.ui.DateJUntil->setDateTime(until);
    view.ButJFilterClick();
    view.ui.LabJournalFile->setText(
        view.ui.LabJournalFile->text().section(QLatin1Char(' '), 0, 1) +
        QStringLiteral(" /home/ivanov/.local/share/pmservice/journal.sqlite"));
    d.resize(d.size().expandedTo(QSize(1120, 440)));
    return int(QDialog::Rejected);
  });
  form.JournalClick();
  form.JournalPath = kept;
  return 0;
}

}  // namespace

int GuideShots(TForm1& form, sim::Line& line, ui::ScriptedMessageService& messages, const QString& outDir) {
  Shots shots(form, messages, outDir);
  form.FormNewRange().Calculator().tableDirs = {PM_SOURCE_DATA};
  // The writes below go on record in a journal of their own, not in the
  // journal of whoever takes the pictures.
  QTemporaryDir scratch;
  const std::string journal = form.JournalPath;
  form.JournalPath = scratch.filePath(QStringLiteral("journal.sqlite")).toStdString();

  // Port settings, with the simulator's line as scripts/run.sh publishes it.
  shots.OnNextDialog("port", [](QDialog& d) {
    auto& port = static_cast<TFormPort&>(d);
    port.ui.CBoxPort->setEditText(QStringLiteral("/run/user/1000/pmsim/line1"));
    Shots::ShowWholePortName(d, port.ui.CBoxPort);
    return int(QDialog::Rejected);
  });
  form.PortClick();

  // A network line typed into the port box: the note under the settings.
  shots.OnNextDialog("port-tcp", [](QDialog& d) {
    auto& port = static_cast<TFormPort&>(d);
    port.ui.CBoxPort->setEditText(QStringLiteral("tcp://192.168.1.50:4001"));
    Shots::ShowWholePortName(d, port.ui.CBoxPort);
    return int(QDialog::Rejected);
  });
  form.PortClick();

  // The toolbar while a recording runs: its status at the toolbar's end.
  form.AskRecordPath = [&scratch] { return scratch.filePath(QStringLiteral("pokazaniya.csv")); };
  form.ui.ARecord->trigger();
  shots.Read(1);
  shots.Read(1);
  shots.Read(1);
  {
    QToolBar* bar = form.ui.ToolBar1;
    QRect used;
    for (QWidget* w : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (w->isVisible()) used |= w->geometry();
    shots.Save(*bar, "toolbar", QRect(0, 0, used.right() + 8, bar->height()));
  }
  form.ui.ARecord->trigger();

  // An edited setpoint, then another device number: the save prompt.
  shots.Read(1);
  form.ui.UstProc1->setText(QStringLiteral("60"));
  form.UstProc1Exit(form.ui.UstProc1);
  shots.GrabNextBox("save-prompt", ui::Answer::No);
  form.ui.CBoxUstr->setCurrentIndex(1);
  form.CBoxUstrClick();

  // Calibration of the scale start: the question before the code is taken.
  shots.Read(1);
  shots.GrabNextBox("calibration", ui::Answer::No);
  form.Button1Click();

  // A settings file: the КАРД saved, a setpoint edited, the compare table;
  // then the question before everything is restored from the file.
  {
    const QString file = QDir::temp().filePath(QStringLiteral("guide-kard.json"));
    ui::SetFileDialogRunner([file](ui::FileDialogKind, const std::string&) { return file.toStdString(); });
    shots.Read(1);
    form.SaveFileClick();
    form.ui.UstProc1->setText(QStringLiteral("60"));
    form.UstProc1Exit(form.ui.UstProc1);
    shots.OnNextDialog("compare", [](QDialog& d) {
      d.resize(560, 520);
      return int(QDialog::Rejected);
    });
    form.CompareFileClick();
    shots.GrabNextBox("restore", ui::Answer::No);
    form.RestoreFileClick();
    ui::SetFileDialogRunner(nullptr);
    QFile::remove(file);
    form.InPortClick();
  }

  // The ЛУНТ with its output driven by hand at 12 mA (its measurement
  // follows the output again).
  line.Find(4)->ResumeMeasurement();
  shots.Read(4);
  form.ui.ButSwitch->setChecked(true);
  form.ButSwitchClick();
  form.ui.Edit1->setText(QStringLiteral("12"));
  form.Edit1Exit();
  shots.Save(form, "lunt-output");
  form.ui.ButSwitch->setChecked(false);
  form.ButSwitchClick();

  // A non-standard range of the ЗЕТ-ТС on Pt100: the calculation, then the
  // window once the range is written and read back (until then the result
  // fields still show the old scale).
  shots.Read(2);
  form.ui.CBoxTipD->setCurrentIndex(form.ui.CBoxTipD->findText(QStringLiteral("Pt100")));
  form.CBoxTipDClick();
  form.CBoxTipDChange();
  form.ui.ChBoxNonStand->setChecked(true);
  shots.OnNextDialog("range", [](QDialog& d) {
    auto& range = static_cast<TFormNewRange&>(d);
    range.EditTN->setText(QStringLiteral("0"));
    range.EditTNExit(range.EditTN);
    range.EditTK->setText(QStringLiteral("310"));
    range.EditTNExit(range.EditTK);
    range.Button1Click();
    // The table as the installed package names it.
    range.ShowTableFile("/usr/share/pmservice/PT100.txt");
    return range.CloseResult();
  });
  form.ButNonStandClick();
  form.OutPortClick();
  // Read again with the input the new scale's result stands for.
  if (MatchInput(*line.Find(2), form.Pm, {PM_SOURCE_DATA})) form.InPortClick();
  shots.Save(form, "nonstandard");

  // The device list after a scan of addresses 1 to 6.
  shots.OnNextDialog("devices", [](QDialog& d) {
    auto& list = static_cast<TFormDevice&>(d);
    list.CBoxUstr->setCurrentIndex(5);
    list.Button1Click();
    return int(QDialog::Rejected);
  });
  form.ListDeviceClick();

  // The line overview after a few cycles: the instruments the list
  // found and the silent address 7, tried with a single attempt.
  {
    const int retries = form.Link.Retries1;
    form.Link.Retries1 = 1;
    form.OverviewClick();
    LineOverview& overview = form.Overview();
    overview.ButFromListClick();
    overview.ui.EditAddr->setText(overview.ui.EditAddr->text() + QStringLiteral(", 7"));
    overview.ButStartClick();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (std::chrono::steady_clock::now() < until) Settle();
    overview.resize(overview.sizeHint().expandedTo(QSize(1100, 330)));
    shots.Save(overview, "overview");
    overview.close();
    form.Link.Retries1 = retries;
  }

  // The traffic of one read.
  form.TrafficClick();
  form.Traffic().ClearClick();
  shots.Read(3);
  shots.Save(form.Traffic(), "traffic");
  form.Traffic().hide();

  // No instrument at address 7.
  const int retries = form.Link.Retries1;
  form.Link.Retries1 = 1;
  shots.GrabNextBox("no-reply", ui::Answer::Ok);
  shots.Read(7);
  form.Link.Retries1 = retries;

  // The exchange settings the port dialog's "Настройка обмена" opens.
  shots.OnNextDialog("exchange", [](QDialog&) { return int(QDialog::Rejected); });
  form.FormNastr().Execute();

  // Two more writes: a setpoint of the КАРД, the alarm type of the ЗЕТ-ТП.
  shots.Read(1);
  form.ui.UstProc1->setText(QStringLiteral("25"));
  form.UstProc1Exit(form.ui.UstProc1);
  form.OutPortClick();
  shots.Read(3);
  form.ui.CBoxTipSign->setCurrentIndex(2);  // HH
  form.CBoxTipSignClick();
  form.OutPortClick();
  shots.failed += JournalShot(shots, form, scratch.filePath(QStringLiteral("journal-shot.sqlite")).toStdString());

  // The printed record of an accuracy check.
  shots.failed += RecordShot(form, line, outDir);

  // The version box as the installed package shows it: the tables of the
  // machine that takes the pictures lie elsewhere.
  shots.GrabNextBox("about", ui::Answer::Ok);
  messages.Information(pmhelp::AboutText(std::string("/usr/share/pmservice"), {}), "О программе");
  form.JournalPath = journal;

  // Boxes not meant for a picture mean that a step went wrong.
  for (const auto& text : messages.Texts())
    if (std::find(shots.grabbed.begin(), shots.grabbed.end(), text) == shots.grabbed.end())
      std::printf("guide: message box: %s\n", text.c_str());
  messages.shown.clear();
  messages.answers.clear();
  messages.onShow = nullptr;
  return shots.failed;
}
