#include "GuideShots.h"

#include <QApplication>
#include <QComboBox>
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
#include "Help.h"
#include "LineOverview.h"
#include "ModalRunner.h"
#include "Obr_pm.h"
#include "QtMessageService.h"
#include "ScriptedMessageService.h"
#include "TrafficView.h"
#include "obrAppr.h"
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
    return range.CloseResult();
  });
  form.ButNonStandClick();
  form.OutPortClick();
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
