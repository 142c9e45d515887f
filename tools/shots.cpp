// Screenshots of the main window after a read of each instrument model,
// of the trend after a minute of polling the ЗЕТ-ТП and of the range dialog
// after a calculation, and those of the user's guide (GuideShots.cpp),
// against the bundled simulator on a pseudo-terminal.  Run it on a real X
// server (tools/screenshots.sh starts one under Xvfb) so that the fonts and
// the style are those an operator sees.
//
//   pm_shots OUTDIR     writes OUTDIR/<model>.png, trend.png, range.png,
//                       guide-*.png and the wiring pictures wiring-*.png,
//                       prints what may be clipped
//
// It fails when a read shows a message box or when a model's layout needs
// more room than the window's design size (and names the layouts that do).
//
// Message boxes are scripted; one that a read would have shown is printed.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "GuideShots.h"
#include "Line.h"
#include "Obr_pm.h"
#include "PtyServer.h"
#include "ScriptedMessageService.h"
#include "ShotInput.h"
#include "TermiosPort.h"
#include "TrendView.h"
#include "Wiring.h"
#include "obrAppr.h"

namespace {

struct Shot {
  int address;
  const char* file;
};
// The simulator's default set: one instrument of each model.
// The window's design size; every model's layout must fit it.
constexpr QSize kDesign(834, 713);
constexpr Shot kShots[] = {{1, "kard"}, {2, "zet-ts"}, {3, "zet-tp"}, {4, "lunt"}};

void Settle() {
  for (int i = 0; i < 5; ++i) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Visible controls whose text needs more room than they were given.
int ReportTight(const QWidget& window, const char* file) {
  int tight = 0;
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window) || w->width() <= 0) continue;
    QString text;
    if (auto* l = qobject_cast<QLabel*>(w)) {
      if (l->wordWrap() || l->text().isEmpty()) continue;
      text = l->text();
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (b->text().isEmpty()) continue;
      text = b->text();
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
      text = c->currentText();
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
      text = g->title();
      if (g->width() < g->minimumSizeHint().width() || g->height() < g->minimumSizeHint().height()) {
        std::printf("%s: group %s is %dx%d, needs %dx%d\n", file, qPrintable(w->objectName()), g->width(),
                    g->height(), g->minimumSizeHint().width(), g->minimumSizeHint().height());
        ++tight;
      }
      continue;
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
      text = e->text();
      const int need = e->fontMetrics().horizontalAdvance(text) + 8;
      if (!text.isEmpty() && e->width() < need) {
        std::printf("%s: edit %s '%s' is %d wide, text needs %d\n", file, qPrintable(w->objectName()),
                    qPrintable(text), e->width(), need);
        ++tight;
      }
      continue;
    } else {
      continue;
    }
    const QSize hint = w->sizeHint();
    if (w->width() < hint.width() || w->height() < hint.height()) {
      std::printf("%s: %s %s '%s' is %dx%d, wants %dx%d\n", file, w->metaObject()->className(),
                  qPrintable(w->objectName()), qPrintable(text.simplified()), w->width(), w->height(),
                  hint.width(), hint.height());
      ++tight;
    }
  }
  return tight;
}

bool Save(QWidget& w, const QString& dir, const char* file) {
  const QString path = QDir(dir).filePath(QString::fromLatin1(file));
  const QPixmap shot = w.grab();
  if (!shot.save(path, "PNG", 0)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s: %dx%d\n", qPrintable(path), shot.width(), shot.height());
  return true;
}

// Twenty reads of the ЗЕТ-ТП three seconds apart on a simulated clock: a slow
// rise through the setpoint of «Уставка 1» (alarm marks where the instrument
// reports the value beyond it), one read with no answer (a gap) and an
// overflow at the end.
int TrendShot(TForm1& form, sim::Line& line, ui::ScriptedMessageService& messages, const QString& dir) {
  constexpr int kAddress = 3;
  sim::Instrument& tp = line.At(kAddress - 1);
  pmtrend::Millis now = QDateTime(QDate(2026, 12, 8), QTime(14, 30, 0)).toMSecsSinceEpoch();
  form.ReadClock = [&now] { return now; };
  TrendView& view = form.Trend();
  view.Now = [&now] { return now; };
  form.ui.CBoxUstr->setCurrentIndex(kAddress - 1);
  form.CBoxUstrClick();
  form.ui.AGraph->trigger();
  view.resize(760, 440);
  QTemporaryDir scratch;
  form.AskRecordPath = [&scratch] { return scratch.filePath(QStringLiteral("pokazaniya.csv")); };
  form.ui.ARecord->trigger();
  const sim::Measurement before = tp.MeasurementAt(sim::Clock::now());
  for (int i = 0; i < 21; ++i) {
    const bool over = i == 20;
    const auto rez = static_cast<std::int16_t>(over ? 8192 : 5450 + 100 * i + 120 * std::sin(i / 2.5));
    tp.SetMeasurement({.rez = rez, .status = tp.StatusOf(rez), .kodAcp = 9000, .txc = 1802, .kodTxc = 3700});
    if (i == 12) tp.InjectFault(sim::Fault::Persistent(sim::FaultKind::Silence));
    form.InPortClick();
    tp.ClearFault();
    now += 3000;
  }
  messages.shown.clear();  // the box of the unanswered read
  tp.SetMeasurement(before);
  now -= 3000;
  view.Refresh();
  Settle();
  const bool ok = Save(view, dir, "trend.png");
  form.ui.ARecord->trigger();  // stops the recording
  view.close();
  form.ReadClock = pmtrend::NowMillis;
  return ok ? 0 : 1;
}

// The range dialog after "Расчет" for XA(K) 0..1000 °C.
int RangeShot(TForm1& form, const QString& dir) {
  TFormNewRange& dlg = form.FormNewRange();
  dlg.Calculator().tableDirs = {"", PM_SOURCE_DATA};
  dlg.SetSensorText(QStringLiteral("XA(K)"));
  dlg.SetRange(0, 1000);
  dlg.show();
  Settle();
  dlg.Button1Click();
  Settle();
  // The table as the installed package names it.
  dlg.ShowTableFile("/usr/share/pmservice/XAK.txt");
  const bool ok = dlg.NeedRecalc == 0 && Save(dlg, dir, "range.png");
  ReportTight(dlg, "range");
  dlg.hide();
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(outDir)) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }

  sim::Line line;
  line.AddDefaultSet();
  for (std::size_t i = 0; i < line.Count(); ++i) {
    // Fixed values, so that the pictures do not change from run to run.
    line.At(i).SetMeasurement({.rez = 4096, .status = 0, .kodAcp = 9000, .txc = 1802, .kodTxc = 3700});
  }
  sim::PtyServer server(line);

  ui::ScriptedMessageService messages;
  pmlink::TermiosPort port;
  auto form = std::make_unique<TForm1>(messages, port);
  form->show();
  Settle();

  form->Link.Port = server.SlavePath();
  if (form->Link.Configure() != 0) {
    std::fprintf(stderr, "cannot open the simulator line %s\n", server.SlavePath().c_str());
    return 1;
  }

  int failed = 0;
  for (const Shot& s : kShots) {
    form->ui.CBoxUstr->setCurrentIndex(s.address - 1);
    form->CBoxUstrClick();
    form->InPortClick();
    // Read again with the input that result stands for.
    if (MatchInput(line.At(static_cast<std::size_t>(s.address - 1)), form->Pm, {PM_SOURCE_DATA}))
      form->InPortClick();
    Settle();
    for (const auto& text : messages.Texts()) {
      std::printf("%s: message box: %s\n", s.file, text.c_str());
      ++failed;
    }
    messages.shown.clear();

    const QString path = QDir(outDir).filePath(QString::fromLatin1(s.file) + QStringLiteral(".png"));
    const QPixmap shot = form->grab();
    if (!shot.save(path, "PNG", 0)) {  // 0: smallest file
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ++failed;
      continue;
    }
    std::printf("%s: %dx%d, minimum %dx%d\n", qPrintable(path), shot.width(), shot.height(),
                form->minimumSizeHint().width(), form->minimumSizeHint().height());
    ReportTight(*form, s.file);
    const QSize need = form->minimumSizeHint();
    if (need.width() > kDesign.width() || need.height() > kDesign.height()) {
      // Which rows ask for the room: the layouts wider or taller than the window.
      std::printf("%s: the window needs %dx%d, more than %dx%d\n", s.file, need.width(), need.height(),
                  kDesign.width(), kDesign.height());
      for (QLayout* l : form->findChildren<QLayout*>()) {
        const QSize m = l->minimumSize();
        if (!l->objectName().isEmpty() && (m.width() > kDesign.width() * 3 / 4 || m.height() > kDesign.height() / 2))
          std::printf("  layout %s needs %dx%d\n", qPrintable(l->objectName()), m.width(), m.height());
      }
      ++failed;
    }
  }

  failed += TrendShot(*form, line, messages, outDir);
  failed += RangeShot(*form, outDir);
  for (const auto& text : messages.Texts()) {
    std::printf("message box: %s\n", text.c_str());
    ++failed;
  }
  failed += GuideShots(*form, line, messages, outDir);
  for (const auto& [picture, file] : {std::pair{LineWiring(), "wiring-line.png"},
                                      std::pair{CalibratorWiring(), "wiring-calibrator.png"}}) {
    const QString path = QDir(outDir).filePath(QString::fromLatin1(file));
    if (!picture.save(path, "PNG", 0)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ++failed;
      continue;
    }
    std::printf("%s: %dx%d\n", qPrintable(path), picture.width(), picture.height());
  }

  form->Link.ClosePort();
  form.reset();
  server.Stop();
  return failed ? 1 : 0;
}
