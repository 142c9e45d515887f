// Screenshots of the main window after a read of each instrument model,
// against the bundled simulator on a pseudo-terminal.  Run it on a real X
// server (tools/screenshots.sh starts one under Xvfb) so that the fonts and
// the style are those an operator sees.
//
//   pm_shots OUTDIR     writes OUTDIR/<model>.png, prints what may be clipped
//
// It fails when a read shows a message box or when a model's layout needs
// more room than the window's design size (and names the layouts that do).
//
// Message boxes are scripted; one that a read would have shown is printed.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "Line.h"
#include "Obr_pm.h"
#include "PtyServer.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"

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

  form->Link.ClosePort();
  form.reset();
  server.Stop();
  return failed ? 1 : 0;
}
